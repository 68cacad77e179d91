#include "CFltFineEdge.h"

#include "rawlib/filters/detail/CFineEdgeRows.h"
#include "rawlib/filters/detail/KvSourceRow.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using namespace FineEdgeRows;

// Source rows and columns read beyond the output on each side, and the cursor's smallest tile count.
constexpr LONG kReach = 3;
constexpr LONG kCursorTiles = 6;
// An 8-bit sample at the 16-bit scale.
constexpr LONG kWiden = 257;

template <std::size_t N>
void RowsFrom(const TRowWindow<LONG>& window, std::size_t first, const LONG* (&rows)[N]) {
    for (std::size_t k = 0; k < N; ++k)
        rows[k] = window.Row(first + k);
}

} // namespace

CFltFineEdge::CFltFineEdge(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CPravonFilterBase::CHalo CFltFineEdge::GetHalo(IPravonDataSource* const*, LONG) {
    return CHalo{kReach, kReach, kReach, kReach};
}

IPravonError* CFltFineEdge::PrepareRows(LONG width) {
    // Rows as read reach kReach columns beyond the output, sharpened green two, smoothed differences one.
    const std::size_t w = static_cast<std::size_t>(width);
    try {
        m_readRow.assign((w + 2 * kReach) * 3 * sizeof(WORD), 0);
        m_green.Reset(5, w + 2 * kReach);
        m_red.Reset(5, w + 2 * kReach);
        m_blue.Reset(5, w + 2 * kReach);
        m_sharpened.Reset(5, w + 4);
        m_smoothRed.Reset(3, w + 2);
        m_smoothBlue.Reset(3, w + 2);
        for (auto& row : m_outRows)
            row.assign(w, 0);
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the row buffers");
    }
    return nullptr;
}

IPravonError* CFltFineEdge::RowStep(CSourceTileCursor& cursor, LONG firstColumn, LONG y, bool wide) {
    const LONG count = static_cast<LONG>(m_green.Width());
    if (IPravonError* e = ReadSourceRow(cursor, firstColumn, count, y, m_readRow.data()))
        return PravonContext(e, kCode, "cannot read a source row");
    LONG* green = m_green.Push();
    LONG* red = m_red.Push();
    LONG* blue = m_blue.Push();
    for (LONG x = 0; x < count; ++x) {
        LONG rgb[3];
        if (wide) {
            WORD samples[3];
            std::memcpy(samples, m_readRow.data() + static_cast<std::size_t>(x) * sizeof samples,
                        sizeof samples);
            std::copy(samples, samples + 3, rgb);
        } else {
            const BYTE* samples = m_readRow.data() + static_cast<std::size_t>(x) * 3;
            for (int c = 0; c < 3; ++c)
                rgb[c] = samples[c] * kWiden;
        }
        green[x] = rgb[1];
        red[x] = rgb[0] - rgb[1];
        blue[x] = rgb[2] - rgb[1];
    }
    // Sharpened green of the row above the one read once three rows are in, and smoothed differences of
    // the row two above once five are; each row's first column lies as far right of the read row's first
    // as its window reaches.
    const Kernels& kernels = Choose();
    if (m_green.Pushed() >= 3) {
        SharpenRow sharpen{};
        RowsFrom(m_green, 2, sharpen.green);
        sharpen.count = static_cast<LONG>(m_sharpened.Width());
        sharpen.out = m_sharpened.Push();
        kernels.sharpen(sharpen);
    }
    if (m_green.Full()) {
        SmoothRow smooth{};
        RowsFrom(m_green, 0, smooth.green);
        RowsFrom(m_red, 0, smooth.red);
        RowsFrom(m_blue, 0, smooth.blue);
        smooth.count = static_cast<LONG>(m_smoothRed.Width());
        smooth.outRed = m_smoothRed.Push();
        smooth.outBlue = m_smoothBlue.Push();
        kernels.smooth(smooth);
    }
    return nullptr;
}

void CFltFineEdge::OutputRow(LONG width, bool wide, BYTE* out) {
    RebuildRow rebuild{};
    RowsFrom(m_sharpened, 0, rebuild.green);
    RowsFrom(m_smoothRed, 0, rebuild.red);
    RowsFrom(m_smoothBlue, 0, rebuild.blue);
    rebuild.count = width;
    rebuild.outGreen = m_outRows[1].data();
    rebuild.outRed = m_outRows[0].data();
    rebuild.outBlue = m_outRows[2].data();
    Choose().rebuild(rebuild);
    for (LONG x = 0; x < width; ++x) {
        const LONG green = m_outRows[1][x];
        const LONG rgb[3] = {std::clamp<LONG>(green + m_outRows[0][x], 0, 65535),
                             std::clamp<LONG>(green, 0, 65535),
                             std::clamp<LONG>(green + m_outRows[2][x], 0, 65535)};
        if (wide) {
            const WORD samples[3] = {static_cast<WORD>(rgb[0]), static_cast<WORD>(rgb[1]),
                                     static_cast<WORD>(rgb[2])};
            std::memcpy(out + static_cast<std::size_t>(x) * sizeof samples, samples, sizeof samples);
        } else {
            for (int c = 0; c < 3; ++c)
                out[static_cast<std::size_t>(x) * 3 + c] = static_cast<BYTE>(rgb[c] >> 8);
        }
    }
}

IPravonError* CFltFineEdge::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (colorSpace != PravonColorSpace::kRGB8 && colorSpace != PravonColorSpace::kRGB16)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        const bool wide = colorSpace == PravonColorSpace::kRGB16;

        const CPravonRect& area = out.invalid;
        const LONG width = area.right - area.left;
        if (IPravonError* e = PrepareRows(width))
            return e;
        const std::size_t outOffset =
            static_cast<std::size_t>(area.left - out.rect.left) * 3 * (wide ? sizeof(WORD) : 1);
        CSourceTileCursor cursor(source, RowCursorCapacity(source, width + 2 * kReach, kCursorTiles));
        IPravonError* err = nullptr;
        // The step that reads row y completes output row y - kReach.
        for (LONG y = area.top - kReach; !err && y < area.bottom + kReach; ++y) {
            err = RowStep(cursor, area.left - kReach, y, wide);
            const LONG row = y - kReach;
            if (!err && row >= area.top)
                OutputRow(width, wide, out.Row(row) + outOffset);
        }
        cursor.UnlockAll();
        return err;
    });
}
