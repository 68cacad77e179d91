#include "CFltColorNoise.h"

#include "rawlib/filters/detail/KvAnnounce.h"
#include "rawlib/filters/detail/KvSourceRow.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

using namespace ColorNoiseRows;

static_assert(CFltColorNoise::kCentreWeight <= kMaxWeight,
              "the row routines add a window's weights in 16 bits");

// The cursor holds at least this many tiles.
constexpr LONG kCursorTiles = 4;
// Strengths from which the box mean, and the widest window with the widest Gaussian, apply.
constexpr double kBoxStrength = 0.9;
constexpr double kWideStrength = 0.91;
constexpr double kMiddleStrength = 0.5;

// The rows of one channel's window, from its first row on, each from column offset on.
void WindowRows(const TRowWindow<WORD>& window, std::size_t first, LONG offset, LONG radius,
                const WORD** rows) {
    for (LONG k = 0; k <= 2 * radius; ++k)
        rows[k] = window.Row(first + static_cast<std::size_t>(k)) + offset;
}

} // namespace

CFltColorNoise::CFltColorNoise(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

double CFltColorNoise::Sigma(double strength) {
    if (strength < kMiddleStrength)
        return strength * 0.1 + 1;
    if (strength < kWideStrength)
        return (strength - 0.5) * 0.375 + 5;
    return 20;
}

LONG CFltColorNoise::Radius(double strength) {
    if (strength < kMiddleStrength)
        return 1;
    if (strength < kWideStrength)
        return 2;
    return 3;
}

bool CFltColorNoise::UsesBoxMean(double strength) {
    return strength >= kBoxStrength;
}

void CFltColorNoise::FillWeightTable(double strength, WORD* table) {
    const double sigma = Sigma(strength);
    const double k = -1 / (sigma * sigma);
    for (LONG i = 0; i < kWeightCount; ++i) {
        // A sigma of 0 makes k infinite and k x 0 not a number; the centre keeps its full weight, as it
        // does for every other sigma, and every other difference has none.
        const double exponent = k * (static_cast<double>(i) * i) / 256;
        table[i] = std::isnan(exponent)
                       ? kCentreWeight
                       : static_cast<WORD>(std::trunc(kCentreWeight * std::exp(exponent) + 0.5));
    }
}

IPravonError* CFltColorNoise::SetStrength(double strength, bool notify) {
    if (strength == m_strength)
        return nullptr;
    m_strength = strength;
    m_weightsStale = true;
    SetCacheCheck();
    return AnnounceWholeOutput(*this, notify);
}

CPravonFilterBase::CHalo CFltColorNoise::GetHalo(IPravonDataSource* const*, LONG) {
    const LONG reach = Radius(m_strength) + (UsesBoxMean(m_strength) ? kBoxReach : 0);
    return CHalo{reach, reach, reach, reach};
}

IPravonError* CFltColorNoise::PrepareWeights() {
    if (!m_weights) {
        m_weights.reset(new (std::nothrow) WORD[kWeightTableSize]);
        if (!m_weights)
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the weight table");
        m_weights[kWeightCount] = 0;
    }
    if (m_weightsStale) {
        FillWeightTable(m_strength, m_weights.get());
        m_weightsStale = false;
    }
    return nullptr;
}

IPravonError* CFltColorNoise::PrepareRows(LONG width, LONG radius, bool box) {
    const LONG reach = radius + (box ? kBoxReach : 0);
    const std::size_t sourceWidth = static_cast<std::size_t>(width + 2 * reach);
    const std::size_t windowRows = static_cast<std::size_t>(box ? kBoxSide : 2 * radius + 1);
    const std::size_t boxedWidth = static_cast<std::size_t>(width + 2 * radius);
    try {
        m_readRow.assign(sourceWidth * 3 * sizeof(WORD), 0);
        for (auto& window : m_source)
            window.Reset(windowRows, sourceWidth);
        for (int c = 0; c < 2; ++c) {
            m_boxed[c].Reset(box ? static_cast<std::size_t>(2 * radius + 1) : 0, boxedWidth);
            m_columnSums[c].assign(box ? sourceWidth : 0, 0);
        }
        for (auto& row : m_outRows)
            row.assign(static_cast<std::size_t>(width), 0);
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the row buffers");
    }
    return nullptr;
}

IPravonError* CFltColorNoise::RowStep(CSourceTileCursor& cursor, LONG firstColumn, LONG y, bool box) {
    const LONG width = static_cast<LONG>(m_source[0].Width());
    if (IPravonError* e = ReadSourceRow(cursor, firstColumn, width, y, m_readRow.data()))
        return PravonContext(e, kCode, "cannot read a source row");
    if (box)
        for (int c = 0; c < 2; ++c)
            if (m_source[c + 1].Full())
                SubtractFromColumnSums(m_columnSums[c].data(), m_source[c + 1].Row(0), width);
    WORD* split[3] = {m_source[0].Push(), m_source[1].Push(), m_source[2].Push()};
    for (LONG x = 0; x < width; ++x) {
        WORD lab[3];
        std::memcpy(lab, m_readRow.data() + static_cast<std::size_t>(x) * sizeof lab, sizeof lab);
        split[0][x] = lab[0];
        split[1][x] = lab[1];
        split[2][x] = lab[2];
    }
    if (!box)
        return nullptr;
    for (int c = 0; c < 2; ++c) {
        AddToColumnSums(m_columnSums[c].data(), split[c + 1], width);
        if (m_source[c + 1].Full())
            BoxMeanRow(m_columnSums[c].data(), static_cast<LONG>(m_boxed[c].Width()), m_boxed[c].Push());
    }
    return nullptr;
}

void CFltColorNoise::OutputRow(LONG width, LONG radius, BYTE* out) {
    const bool box = m_boxed[0].Count() > 0;
    const Kernels& kernels = Choose();
    for (int c = 0; c < 3; ++c) {
        WeightedRow row{};
        row.radius = radius;
        row.count = width;
        row.weights = m_weights.get();
        row.out = m_outRows[c].data();
        if (!box)
            WindowRows(m_source[c], 0, 0, radius, row.rows);
        else if (c == 0) // lightness from the source rows around the box mean's centre row
            WindowRows(m_source[0], static_cast<std::size_t>(kBoxReach - 2 * radius), kBoxReach, radius,
                       row.rows);
        else
            WindowRows(m_boxed[c - 1], 0, 0, radius, row.rows);
        kernels.weighted(row);
    }
    for (LONG x = 0; x < width; ++x) {
        const WORD lab[3] = {m_outRows[0][x], m_outRows[1][x], m_outRows[2][x]};
        std::memcpy(out + static_cast<std::size_t>(x) * sizeof lab, lab, sizeof lab);
    }
}

IPravonError* CFltColorNoise::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (colorSpace != PravonColorSpace::kLab16)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (IPravonError* e = PrepareWeights())
            return e;

        const CPravonRect& area = out.invalid;
        const LONG width = area.right - area.left;
        const LONG radius = Radius(m_strength);
        const bool box = UsesBoxMean(m_strength);
        const LONG reach = radius + (box ? kBoxReach : 0);
        if (IPravonError* e = PrepareRows(width, radius, box))
            return e;
        const std::size_t outOffset = static_cast<std::size_t>(area.left - out.rect.left) * 3 * sizeof(WORD);
        // An output row follows once the rows its window reads are in: reach rows after it.
        CSourceTileCursor cursor(source, RowCursorCapacity(source, width + 2 * reach, kCursorTiles));
        IPravonError* err = nullptr;
        for (LONG y = area.top - reach; !err && y < area.bottom + reach; ++y) {
            err = RowStep(cursor, area.left - reach, y, box);
            const LONG row = y - reach;
            if (!err && row >= area.top)
                OutputRow(width, radius, out.Row(row) + outOffset);
        }
        cursor.UnlockAll();
        return err;
    });
}
