// The standard demosaicing as its definition reads, worked out over whole planes (no row buffers): what
// the filter's output is compared with, pixel for pixel and bit for bit.
#pragma once

#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace kvtest {

inline constexpr LONG kThreshold = 30717; // ((262143 x 10) / 256) x 3
inline constexpr LONG kMaxRoot = 0x3FFFF;

// The interpolation as its definition reads, on the mosaic extended beyond its edges by the nearest
// sample of the same colour-filter phase. Every site's green and colours are worked out once, over the
// image and a margin around it.
class ReferenceDemosaic {
public:
    struct Rgb {
        LONG r, g, b;
    };

    ReferenceDemosaic(const TestPlane& mosaic, const BayerLayout& layout, const LONG* const luts[3])
        : m_layout(layout), m_width(mosaic.width + 2 * kMargin), m_height(mosaic.height + 2 * kMargin) {
        const std::size_t sites = static_cast<std::size_t>(m_width) * m_height;
        m_m.resize(sites);
        m_g.resize(sites);
        m_rgb.resize(sites);
        for (LONG y = -kMargin; y < mosaic.height + kMargin; ++y)
            for (LONG x = -kMargin; x < mosaic.width + kMargin; ++x) {
                const ULONG raw = std::min<ULONG>(
                    mosaic.Sample(SamePhaseInside(x, mosaic.width), SamePhaseInside(y, mosaic.height), 0),
                    4095);
                const int lut = IsGreen(x, y) ? 1 : IsRedRow(y) ? 0 : 2;
                At(m_m, x, y) = luts[lut][raw];
            }
        for (LONG y = 2 - kMargin; y < mosaic.height + kMargin - 2; ++y)
            for (LONG x = 2 - kMargin; x < mosaic.width + kMargin - 2; ++x)
                At(m_g, x, y) = Green(x, y);
        for (LONG y = 3 - kMargin; y < mosaic.height + kMargin - 3; ++y)
            for (LONG x = 3 - kMargin; x < mosaic.width + kMargin - 3; ++x)
                At(m_rgb, x, y) = Colours(x, y);
    }

    // Sites where the two green activities differ by exactly the threshold, and by one more.
    LONG atThreshold = 0;
    LONG pastThreshold = 0;

    // Output pixel (u, v) in uncropped output coordinates.
    Rgb Output(LONG u, LONG v, bool nonSquare) const {
        return OutputPixel<Rgb>(u, v, nonSquare, [this](LONG x, LONG y) { return At(m_rgb, x, y); });
    }

private:
    static constexpr LONG kMargin = 8;

    bool IsGreen(LONG x, LONG y) const { return CfaChannel(m_layout.descriptor, x & 1, y & 1) == 1; }
    bool IsRedRow(LONG y) const { return ((y + m_layout.redRowPhase) & 1) != 0; }

    template <class T>
    T& At(std::vector<T>& table, LONG x, LONG y) const {
        return table[static_cast<std::size_t>(y + kMargin) * m_width + static_cast<std::size_t>(x + kMargin)];
    }
    template <class T>
    const T& At(const std::vector<T>& table, LONG x, LONG y) const {
        return table[static_cast<std::size_t>(y + kMargin) * m_width + static_cast<std::size_t>(x + kMargin)];
    }
    LONG M(LONG x, LONG y) const { return At(m_m, x, y); }

    LONG Green(LONG x, LONG y) {
        const LONG c = M(x, y);
        if (IsGreen(x, y))
            return c;
        const LONG l = M(x - 1, y), r = M(x + 1, y), u = M(x, y - 1), d = M(x, y + 1);
        const LONG v = std::abs(u - d) + std::abs(M(x - 1, y - 2) - l) + std::abs(l - M(x - 1, y + 2));
        const LONG h = std::abs(M(x - 2, y - 1) - u) + std::abs(u - M(x + 2, y - 1)) + std::abs(l - r);
        const LONG ev = 2 * (u + c + d) - M(x, y - 2) - M(x, y + 2);
        const LONG eh = 2 * (l + c + r) - M(x - 2, y) - M(x + 2, y);
        const LONG difference = std::abs(v - h);
        atThreshold += difference == kThreshold;
        pastThreshold += difference == kThreshold + 1;
        if (difference <= kThreshold)
            return ((eh + ev) / 2) / 4;
        return h < v ? eh / 4 : ev / 4;
    }

    // The stored 16-bit red, green and blue of a site: the site's own colour, the other two from the
    // differences to green of the neighbours that have them.
    Rgb Colours(LONG x, LONG y) const {
        const auto store = [](LONG v) { return std::clamp<LONG>(v, 0, kMaxRoot) >> 2; };
        const auto diff = [this](LONG px, LONG py) { return M(px, py) - At(m_g, px, py); };
        const LONG g = At(m_g, x, y);
        if (IsGreen(x, y)) {
            const LONG across = g + (diff(x - 1, y) + diff(x + 1, y)) / 2;
            const LONG down = g + (diff(x, y - 1) + diff(x, y + 1)) / 2;
            return IsRedRow(y) ? Rgb{store(across), store(g), store(down)}
                               : Rgb{store(down), store(g), store(across)};
        }
        const LONG own = M(x, y);
        const LONG other =
            g + (diff(x - 1, y - 1) + diff(x + 1, y - 1) + diff(x - 1, y + 1) + diff(x + 1, y + 1)) / 4;
        return IsRedRow(y) ? Rgb{store(own), store(g), store(other)}
                           : Rgb{store(other), store(g), store(own)};
    }

    const BayerLayout& m_layout;
    LONG m_width;
    LONG m_height;
    std::vector<LONG> m_m;
    std::vector<LONG> m_g;
    std::vector<Rgb> m_rgb;
};

} // namespace kvtest
