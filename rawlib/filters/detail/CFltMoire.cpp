#include "CFltMoire.h"

#include "rawlib/filters/detail/CMoireRows.h"
#include "rawlib/filters/detail/KvAnnounce.h"
#include "rawlib/filters/detail/KvSourceRow.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using namespace MoireRows;

// Source rows and columns read beyond the output on each side, and the cursor's smallest tile count.
constexpr LONG kReach = kSteps + 1;
constexpr LONG kCursorTiles = 6;
// The rows of luminance and differences kept: the walks' rows and one on either side, which the smoothing
// of the outer ones reads. The walks take the pixels' own values from these rows as they are.
constexpr LONG kSplitRows = kWindowRows + 2;

// The 3 x 3 binomial sums of the three newest rows (count values, from the second column of the rows on).
void SmoothRows(const TRowWindow<LONG>& rows, LONG count, LONG* out) {
    const std::size_t n = rows.Count();
    const LONG* three[3] = {rows.Row(n - 3), rows.Row(n - 2), rows.Row(n - 1)};
    Choose().smooth(three, count, out);
}

void WindowRows(const TRowWindow<LONG>& window, const LONG** rows) {
    for (LONG r = 0; r < kWindowRows; ++r)
        rows[r] = window.Row(static_cast<std::size_t>(r));
}

// The pixels' own values of the walks' rows: the split rows less the outer two, from their second column
// on, where the smoothed rows start.
void OwnRows(const TRowWindow<LONG>& split, const LONG** rows) {
    for (LONG r = 0; r < kWindowRows; ++r)
        rows[r] = split.Row(static_cast<std::size_t>(r + 1)) + 1;
}

} // namespace

CFltMoire::CFltMoire(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

IPravonError* CFltMoire::SetLevel(LONG level, bool notify) {
    if (level == m_level)
        return nullptr;
    m_level = level;
    SetCacheCheck();
    return AnnounceWholeOutput(*this, notify);
}

CPravonFilterBase::CHalo CFltMoire::GetHalo(IPravonDataSource* const*, LONG) {
    return CHalo{kReach, kReach, kReach, kReach};
}

IPravonError* CFltMoire::PrepareRows(LONG width) {
    // Every row is written before it is read, so the buffers of a tile as wide as the last one serve again
    // as they are; clearing them took as long as a quarter of the walks.
    if (width == m_preparedWidth) {
        for (TRowWindow<LONG>* window :
             {&m_luma, &m_red, &m_blue, &m_smoothLuma, &m_smoothRed, &m_smoothBlue})
            window->Restart();
        for (int a = 0; a < kAxes; ++a) {
            m_least[a].Restart();
            m_greatest[a].Restart();
        }
        return nullptr;
    }
    m_preparedWidth = -1;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t read = w + 2 * kReach;
    const std::size_t walked = w + 2 * kSteps;
    try {
        m_readRow.assign(read * 3 * sizeof(WORD), 0);
        m_writeRow.assign(w * 3 * sizeof(WORD), 0);
        // The walks read the split rows' own values from their second column on, where the smoothed rows
        // start; all are read in lanes at the same columns.
        for (TRowWindow<LONG>* window : {&m_luma, &m_red, &m_blue})
            window->Reset(kSplitRows, read, 1);
        for (TRowWindow<LONG>* window : {&m_smoothLuma, &m_smoothRed, &m_smoothBlue})
            window->Reset(kWindowRows, walked);
        for (int a = 0; a < kAxes; ++a) {
            m_least[a].Reset(kWindowRows, walked);
            m_greatest[a].Reset(kWindowRows, walked);
        }
        for (auto& row : m_thresholds)
            row.assign(w, 0);
        m_outRed.assign(w, 0);
        m_outBlue.assign(w, 0);
        m_outGreen.assign(w, 0);
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the row buffers");
    }
    m_preparedWidth = width;
    return nullptr;
}

IPravonError* CFltMoire::RowStep(CSourceTileCursor& cursor, LONG firstColumn, LONG y) {
    const LONG count = static_cast<LONG>(m_luma.Width());
    if (IPravonError* e = ReadSourceRow(cursor, firstColumn, count, y, m_readRow.data()))
        return PravonContext(e, kCode, "cannot read a source row");
    LONG* luma = m_luma.Push();
    LONG* red = m_red.Push();
    LONG* blue = m_blue.Push();
    Choose().split(m_readRow.data(), count, luma, red, blue);
    if (m_luma.Pushed() < 3)
        return nullptr;
    // The smoothed and own values of the row above the one read.
    const LONG walked = static_cast<LONG>(m_smoothLuma.Width());
    SmoothRows(m_luma, walked, m_smoothLuma.Push());
    SmoothRows(m_red, walked, m_smoothRed.Push());
    SmoothRows(m_blue, walked, m_smoothBlue.Push());
    if (m_smoothLuma.Pushed() < static_cast<std::size_t>(kBlock))
        return nullptr;
    // The blocks that start kBoundsLag rows above the newest smoothed row.
    const LONG* rows[kBlock];
    for (LONG i = 0; i < kBlock; ++i)
        rows[i] = m_smoothLuma.Row(static_cast<std::size_t>(kWindowRows - kBlock + i));
    LONG* least[kAxes];
    LONG* greatest[kAxes];
    for (int a = 0; a < kAxes; ++a) {
        least[a] = m_least[a].Push();
        greatest[a] = m_greatest[a].Push();
    }
    Choose().bounds(rows, walked, least, greatest);
    return nullptr;
}

void CFltMoire::OutputRow(LONG width, BYTE* out) {
    const Kernels& kernels = Choose();
    kernels.thresholds(m_smoothLuma.Row(kSteps) + kSteps, width, m_level, m_thresholds[0].data(),
                       m_thresholds[1].data(), m_thresholds[2].data());
    WalkRow walk{};
    WindowRows(m_smoothLuma, walk.luma);
    WindowRows(m_smoothRed, walk.red);
    WindowRows(m_smoothBlue, walk.blue);
    OwnRows(m_red, walk.ownRed);
    OwnRows(m_blue, walk.ownBlue);
    for (int a = 0; a < kAxes; ++a)
        for (LONG r = 0; r + kBoundsLag < kWindowRows; ++r) {
            walk.least[a][r] = m_least[a].Row(static_cast<std::size_t>(r + kBoundsLag));
            walk.greatest[a][r] = m_greatest[a].Row(static_cast<std::size_t>(r + kBoundsLag));
        }
    walk.t1 = m_thresholds[0].data();
    walk.t2 = m_thresholds[1].data();
    walk.t3 = m_thresholds[2].data();
    walk.count = width;
    walk.outRed = m_outRed.data();
    walk.outBlue = m_outBlue.data();
    kernels.walk(walk);
    // Luminance stays: green follows from it and the new differences. The row is made in the filter's own
    // buffer and copied out whole: stores of a few bytes each into a tile that is seldom in the cache
    // stall on every line.
    kernels.pixels(m_luma.Row(kSteps + 1) + 1 + kSteps, m_outRed.data(), m_outBlue.data(), m_outGreen.data(),
                   width, m_writeRow.data());
    std::memcpy(out, m_writeRow.data(), static_cast<std::size_t>(width) * 3 * sizeof(WORD));
}

IPravonError* CFltMoire::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (colorSpace != PravonColorSpace::kRGB16)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");

        const CPravonRect& area = out.invalid;
        const LONG width = area.right - area.left;
        if (IPravonError* e = PrepareRows(width))
            return e;
        const std::size_t outOffset = static_cast<std::size_t>(area.left - out.rect.left) * 3 * sizeof(WORD);
        CSourceTileCursor cursor(source, RowCursorCapacity(source, width + 2 * kReach, kCursorTiles));
        IPravonError* err = nullptr;
        // The step that reads row y completes the smoothed row y - 1, and with it the walks of row y -
        // kReach.
        for (LONG y = area.top - kReach; !err && y < area.bottom + kReach; ++y) {
            err = RowStep(cursor, area.left - kReach, y);
            const LONG row = y - kReach;
            if (!err && row >= area.top)
                OutputRow(width, out.Row(row) + outOffset);
        }
        cursor.UnlockAll();
        return err;
    });
}
