#include "platform/veruzoraz/CVerDemosaic.h"

#include "platform/veruzoraz/VERuzOraz.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::int32_t kUnit = CVerDemosaic::kUnit;
constexpr int kUnitShift = 4;
static_assert(kUnit == 1 << kUnitShift);
constexpr std::int64_t kOne = std::int64_t{1} << CVerDemosaic::kMultiplierShift;
constexpr std::int32_t kWhite = VER_MAX_SAMPLE * kUnit;
// Exposed sites are held at twice white: brighter is white anyway, and every sum of the interpolation
// stays well within 32 bits.
constexpr std::int32_t kCeiling = 2 * kWhite;
constexpr std::int32_t kExposureUnit = 256;

// Divisions by 2, 4 and 8 that round to nearest (halves up) for negative sums too.
std::int32_t Half(std::int32_t v) {
    return (v + 1) >> 1;
}
std::int32_t Quarter(std::int32_t v) {
    return (v + 2) >> 2;
}
std::int32_t Eighth(std::int32_t v) {
    return (v + 4) >> 3;
}

// v times a multiplier of 2^-(kMultiplierShift + extraShift), rounded and kept within +-kCeiling.
std::int32_t Scaled(std::int64_t v, std::int64_t multiplier, int extraShift) {
    const int shift = CVerDemosaic::kMultiplierShift + extraShift;
    const std::int64_t scaled = (v * multiplier + (std::int64_t{1} << (shift - 1))) >> shift;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(scaled, -kCeiling, kCeiling));
}

} // namespace

std::int64_t CVerDemosaic::ChannelMultiplier(std::int32_t gain, std::int32_t gainUnit,
                                             std::int32_t exposureFactor) {
    // A sample of 1 times this is twice white already, whatever the demosaicing makes of it.
    constexpr std::int64_t kWhitening = std::int64_t{kCeiling} * kOne;
    if (gain <= 0 || gainUnit <= 0 || exposureFactor <= 0)
        return 0;
    const double exact =
        static_cast<double>(gain) * exposureFactor * kOne / (static_cast<double>(gainUnit) * kExposureUnit);
    if (exact >= static_cast<double>(kWhitening))
        return kWhitening;
    // Below kWhitening the product fits; with the unit a divisor of kOne the division is exact.
    return std::int64_t{gain} * exposureFactor * (kOne / gainUnit) / kExposureUnit;
}

CVerDemosaic::CVerDemosaic(const std::uint16_t* mosaic, std::int64_t width, std::int32_t pattern,
                           std::int64_t left, std::int64_t top, const std::int64_t multipliers[3])
    : m_mosaic(mosaic), m_width(width), m_bayer(pattern == VER_PATTERN_BGGR), m_left(left),
      m_top(top), m_multipliers{multipliers[0], multipliers[1], multipliers[2]},
      m_ring(static_cast<std::size_t>(kWindow * width)),
      m_green(static_cast<std::size_t>(kGreenRows * width)) {
    std::fill(std::begin(m_ringRows), std::end(m_ringRows), -1);
    std::fill(std::begin(m_greenRows), std::end(m_greenRows), -1);
}

const std::int32_t* CVerDemosaic::Line(std::int64_t r) {
    const std::int64_t slot = r % kWindow;
    std::int32_t* line = m_ring.data() + slot * m_width;
    if (m_ringRows[slot] == r)
        return line;
    m_ringRows[slot] = r;
    const std::uint16_t* source = m_mosaic + r * m_width;
    if (!m_bayer) {
        for (std::int64_t x = 0; x < m_width; ++x)
            line[x] = std::min<std::int32_t>(source[x], VER_MAX_SAMPLE) * kUnit;
        return line;
    }
    // The gains go on before the interpolation: it takes its edges from all three colours, and they
    // agree only once a grey is grey in each. Blue rows: blue, green; red rows: green, red.
    const bool redRow = (r & 1) != 0;
    const std::int64_t even = m_multipliers[redRow ? 1 : 2];
    const std::int64_t odd = m_multipliers[redRow ? 0 : 1];
    for (std::int64_t x = 0; x < m_width; ++x) {
        const std::int64_t sample = std::min<std::int32_t>(source[x], VER_MAX_SAMPLE);
        line[x] = Scaled(sample, (x & 1) ? odd : even, -kUnitShift);
    }
    return line;
}

const std::int32_t* CVerDemosaic::GreenLine(std::int64_t r, std::int64_t count) {
    const std::int64_t slot = r % kGreenRows;
    std::int32_t* green = m_green.data() + slot * m_width;
    if (m_greenRows[slot] == r)
        return green;
    m_greenRows[slot] = r;
    const std::int32_t* p[5];
    for (int i = 0; i < 5; ++i)
        p[i] = Line(r - 2 + i);
    const std::int32_t* row = p[2];
    // Green sites keep their sample. At the others green is interpolated along the quieter of the two
    // directions: the mean of the two greens that way, corrected by the curvature of the site's own colour
    // that way; when both are as quiet, the mean of both estimates. A line or an edge then keeps its place
    // and its sharpness instead of being averaged across.
    const std::int64_t from = m_left - 1, to = m_left + count + 1;
    for (std::int64_t c = from; c < to; ++c) {
        if (((r + c) & 1) != 0) {
            green[c] = row[c];
            continue;
        }
        const std::int32_t curveH = 2 * row[c] - row[c - 2] - row[c + 2];
        const std::int32_t curveV = 2 * row[c] - p[0][c] - p[4][c];
        const std::int32_t activityH = std::abs(row[c - 1] - row[c + 1]) + std::abs(curveH);
        const std::int32_t activityV = std::abs(p[1][c] - p[3][c]) + std::abs(curveV);
        const std::int32_t alongH = 2 * (row[c - 1] + row[c + 1]) + curveH; // four times the estimate
        const std::int32_t alongV = 2 * (p[1][c] + p[3][c]) + curveV;
        green[c] = activityH < activityV   ? Quarter(alongH)
                   : activityV < activityH ? Quarter(alongV)
                                           : Eighth(alongH + alongV);
    }
    return green;
}

void CVerDemosaic::Row(std::int64_t y, std::int64_t count, std::int32_t* rgb) {
    if (m_bayer)
        BayerRow(y + m_top, count, rgb);
    else
        ComplementaryRow(y + m_top, count, rgb);
}

void CVerDemosaic::BayerRow(std::int64_t r, std::int64_t count, std::int32_t* rgb) {
    // Red and blue follow green: the missing one is green plus the mean difference to green at the
    // nearest sites that measured it (beside, above and below, or the four diagonal ones). In a grey the
    // differences vanish, so a grey stays grey at every edge.
    const std::int32_t* above = GreenLine(r - 1, count);
    const std::int32_t* green = GreenLine(r, count);
    const std::int32_t* below = GreenLine(r + 1, count);
    const std::int32_t* mAbove = Line(r - 1);
    const std::int32_t* mosaic = Line(r);
    const std::int32_t* mBelow = Line(r + 1);
    const bool redRow = (r & 1) != 0;
    for (std::int64_t x = 0; x < count; ++x, rgb += 3) {
        const std::int64_t c = m_left + x;
        const std::int32_t g = green[c];
        const std::int32_t beside = g + Half(mosaic[c - 1] - green[c - 1] + mosaic[c + 1] - green[c + 1]);
        const std::int32_t aboveBelow = g + Half(mAbove[c] - above[c] + mBelow[c] - below[c]);
        const bool greenSite = ((r + c) & 1) != 0;
        if (greenSite) {
            rgb[0] = redRow ? beside : aboveBelow;
            rgb[1] = g;
            rgb[2] = redRow ? aboveBelow : beside;
            continue;
        }
        const std::int32_t diagonal =
            g + Quarter(mAbove[c - 1] - above[c - 1] + mAbove[c + 1] - above[c + 1] + mBelow[c - 1] -
                        below[c - 1] + mBelow[c + 1] - below[c + 1]);
        rgb[0] = redRow ? mosaic[c] : diagonal;
        rgb[1] = g;
        rgb[2] = redRow ? diagonal : mosaic[c];
    }
}

void CVerDemosaic::ComplementaryRow(std::int64_t r, std::int64_t count, std::int32_t* rgb) {
    // Each of yellow, cyan, green and magenta is measured at one site of four; the others come from the
    // nearest sites that measure them, in quarters: the site itself, the two beside, the two above and
    // below, or the four diagonal ones. Yellow is red + green, cyan green + blue and magenta red + blue;
    // green is the mean of the measured and the unmixed one. The gains follow the unmixing.
    const std::int32_t* up = Line(r - 1);
    const std::int32_t* row = Line(r);
    const std::int32_t* down = Line(r + 1);
    const bool greenRow = (r & 1) != 0;
    for (std::int64_t x = 0; x < count; ++x, rgb += 3) {
        const std::int64_t c = m_left + x;
        const bool even = (c & 1) == 0;
        const std::int64_t own = 4 * std::int64_t{row[c]};
        const std::int64_t beside = 2 * (std::int64_t{row[c - 1]} + row[c + 1]);
        const std::int64_t aboveBelow = 2 * (std::int64_t{up[c]} + down[c]);
        const std::int64_t diagonals = std::int64_t{up[c - 1]} + up[c + 1] + down[c - 1] + down[c + 1];
        // Yellow and cyan rows above, green and magenta rows below.
        std::int64_t ye, cy, gr, ma;
        if (!greenRow && even)
            ye = own, cy = beside, gr = aboveBelow, ma = diagonals;
        else if (!greenRow)
            cy = own, ye = beside, ma = aboveBelow, gr = diagonals;
        else if (even)
            gr = own, ma = beside, ye = aboveBelow, cy = diagonals;
        else
            ma = own, gr = beside, cy = aboveBelow, ye = diagonals;
        // In quarters: red and blue are halves of their sums, green a quarter.
        rgb[0] = Scaled(ye + ma - cy, m_multipliers[0], 3);
        rgb[1] = Scaled(ye + cy - ma + 2 * gr, m_multipliers[1], 4);
        rgb[2] = Scaled(cy + ma - ye, m_multipliers[2], 3);
    }
}
