// The LCh filters' chroma formula written out for the tests, with its own weights and the tangent taken
// for every pixel, and the hold-back values a 16-bit calibration table of 65,536 entries prepares to.
#pragma once

#include "platform/win/wintypes.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kvtest {

// The calibration value by hue (chroma samples at depth 8 or 16) of a 65,536-entry 16-bit table, 1.0 being
// 32768: at 8 bits every 257th entry to 8 bits, a half-range value worth 32; at 16 bits 8224.
inline std::vector<LONG> HoldBack(const std::vector<WORD>& table, LONG depth) {
    std::vector<LONG> g(std::size_t{1} << depth);
    for (std::size_t h = 0; h < g.size(); ++h)
        g[h] = depth == 8 ? static_cast<LONG>((table[h * 257] >> 8) / 256.0 * 64)
                          : static_cast<LONG>(table[h] / 65536.0 * 16448);
    return g;
}

// The new chroma of a pixel for a percent (-100..100); holdBack empty: nothing is held back.
inline LONG ReferenceChroma(LONG lightness, LONG chroma, LONG hue, LONG percent, LONG depth,
                            const std::vector<LONG>& holdBack) {
    const double weight = depth == 8 ? std::clamp(lightness * 0.03125 - 0.125, 0.0, 1.0)
                                     : std::clamp(lightness / 8192.0 - 0.125, 0.0, 1.0);
    const double h = std::floor(percent * weight) * 0.01;
    if (h == 0)
        return chroma;
    const double f = std::tan(h * (std::atan(4.0) - std::atan(1.0)) + std::atan(1.0));
    if (f == 1)
        return chroma;
    const double r = f * chroma;
    if (f < 1)
        return static_cast<LONG>(r);
    const LONG g = holdBack.empty() ? 0 : holdBack[static_cast<std::size_t>(hue)];
    if (g >= chroma)
        return chroma;
    const double top = depth == 8 ? 255 : 65535;
    return static_cast<LONG>(std::min({r, (chroma - g) * 1.25 * f + g, top}));
}

// A calibration table that varies over the hue circle: about 0.5 to 1.5 of the half-range value.
inline std::vector<WORD> WavyCalibration() {
    std::vector<WORD> table(65536);
    for (std::size_t h = 0; h < table.size(); ++h)
        table[h] = static_cast<WORD>(32768 + 16000 * std::sin(h * 6.283185307179586 / 65536));
    return table;
}

} // namespace kvtest
