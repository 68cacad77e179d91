#include "rawlib/filters/tests/DeBayerHQ4TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace kvtest {

namespace {

using Int64 = std::int64_t;

constexpr Int64 kTopRoot = 262143; // sqrt-table[4095]

// 1 when a exceeds b by more than t, 2 when b exceeds a by more than t, else 0.
int DirectionCode(Int64 a, Int64 b, Int64 t) {
    return a - b > t ? 1 : b - a > t ? 2 : 0;
}

LONG Stored(Int64 v) {
    return static_cast<LONG>(std::clamp<Int64>(v, 0, kTopRoot) >> 2);
}

} // namespace

std::size_t ReferenceHQ4::Index(LONG x, LONG y) const {
    const LONG px = std::clamp<LONG>(x + kMargin, 0, m_width - 1);
    const LONG py = std::clamp<LONG>(y + kMargin, 0, m_height - 1);
    return static_cast<std::size_t>(py) * m_width + static_cast<std::size_t>(px);
}

bool ReferenceHQ4::IsGreen(LONG x, LONG y) const {
    return CfaChannel(m_layout.descriptor, x & 1, y & 1) == 1;
}

ReferenceHQ4::ReferenceHQ4(const TestPlane& mosaic, const BayerLayout& layout, const LONG* const luts[3],
                           const LONG levels[3])
    : m_layout(layout), m_imageWidth(mosaic.width), m_imageHeight(mosaic.height),
      m_width(mosaic.width + 2 * kMargin), m_height(mosaic.height + 2 * kMargin) {
    const LONG x0 = -kMargin;
    const LONG y0 = -kMargin;
    const LONG x1 = mosaic.width + kMargin;
    const LONG y1 = mosaic.height + kMargin;
    const auto everySite = [&](auto&& visit) {
        for (LONG y = y0; y < y1; ++y)
            for (LONG x = x0; x < x1; ++x)
                visit(x, y);
    };

    // The mosaic through the LUTs, extended beyond its edges by the nearest sample of the same phase.
    Resize(m_m);
    everySite([&](LONG x, LONG y) {
        const ULONG raw = std::min<ULONG>(
            mosaic.Sample(SamePhaseInside(x, mosaic.width), SamePhaseInside(y, mosaic.height), 0), 4095);
        const int lut = IsGreen(x, y) ? 1 : IsRedRow(y) ? 0 : 2;
        At(m_m, x, y) = luts[lut][raw];
    });

    // Directional activities at the red and blue sites.
    Plane<LONG> ah, av, anw, ane;
    Resize(ah), Resize(av), Resize(anw), Resize(ane);
    everySite([&](LONG x, LONG y) {
        if (IsGreen(x, y))
            return;
        const LONG C = M(x, y), W = M(x - 1, y), E = M(x + 1, y), N = M(x, y - 1), S = M(x, y + 1);
        const LONG NW = M(x - 1, y - 1), NE = M(x + 1, y - 1), SW = M(x - 1, y + 1), SE = M(x + 1, y + 1);
        At(ah, x, y) = std::abs(W - C) + std::abs(E - C);
        At(av, x, y) = std::abs(S - C) + std::abs(N - C);
        At(anw, x, y) =
            std::abs(W - S) + std::abs(NW - C) + std::abs(SE - C) + std::abs(N - E) + std::abs(NW - SE);
        At(ane, x, y) =
            std::abs(SW - C) + std::abs(E - S) + std::abs(NE - C) + std::abs(N - W) + std::abs(NE - SW);
    });

    // The nine red or blue sites around one, weights 4, 2 (diagonal) and 1 (two away): 16 in all.
    const auto smooth = [&](const Plane<LONG>& a, LONG x, LONG y) -> Int64 {
        return 4 * Int64{At(a, x, y)} +
               2 * (Int64{At(a, x - 1, y - 1)} + At(a, x + 1, y - 1) + At(a, x - 1, y + 1) +
                    At(a, x + 1, y + 1)) +
               At(a, x - 2, y) + At(a, x + 2, y) + At(a, x, y - 2) + At(a, x, y + 2);
    };
    const Int64 thresholdHV = ((levels[0] * (kTopRoot + 1)) / 256) * 32;
    const Int64 thresholdDiagonal = ((levels[2] * (kTopRoot + 1)) / 256) * 80;
    const Int64 thresholdSecond = (((kTopRoot + 1) * levels[1]) / 256) * 64;

    Resize(m_class);
    everySite([&](LONG x, LONG y) {
        if (IsGreen(x, y))
            return;
        const int hv = DirectionCode(smooth(ah, x, y), smooth(av, x, y), thresholdHV);
        const int diagonal = DirectionCode(smooth(anw, x, y), smooth(ane, x, y), thresholdDiagonal);
        At(m_class, x, y) = static_cast<BYTE>(hv * 4 + diagonal);
    });

    // 16 x (C - green estimate) at the red and blue sites, steered by the horizontal/vertical code.
    Plane<LONG> difference;
    Resize(difference);
    everySite([&](LONG x, LONG y) {
        if (IsGreen(x, y))
            return;
        const LONG C = M(x, y), W = M(x - 1, y), E = M(x + 1, y), N = M(x, y - 1), S = M(x, y + 1);
        const LONG twoRows = M(x - 1, y - 2) + M(x + 1, y - 2) + M(x - 1, y + 2) + M(x + 1, y + 2);
        const LONG twoColumns = M(x - 2, y - 1) + M(x + 2, y - 1) + M(x - 2, y + 1) + M(x + 2, y + 1);
        const int code = At(m_class, x, y) / 4;
        LONG d = 0;
        if (code == 1)
            d = 16 * C + 2 * twoRows - 4 * (W + E) - 8 * (N + S);
        else if (code == 2)
            d = 16 * C + 2 * twoColumns - 4 * (N + S) - 8 * (W + E);
        else
            d = 16 * C + twoRows + twoColumns - 6 * (N + S + W + E);
        At(difference, x, y) = d;
    });

    // Both differences at every site, times 4.
    Plane<LONG> red, blue;
    Resize(red), Resize(blue);
    everySite([&](LONG x, LONG y) {
        const auto D = [&](LONG px, LONG py) { return At(difference, px, py); };
        if (!IsGreen(x, y)) {
            const LONG own = D(x, y) * 4;
            const LONG other = D(x - 1, y - 1) + D(x + 1, y - 1) + D(x - 1, y + 1) + D(x + 1, y + 1);
            At(red, x, y) = IsRedRow(y) ? own : other;
            At(blue, x, y) = IsRedRow(y) ? other : own;
        } else {
            const LONG sideways = 2 * (D(x - 1, y) + D(x + 1, y));
            const LONG upDown = 2 * (D(x, y - 1) + D(x, y + 1));
            At(red, x, y) = IsRedRow(y) ? sideways : upDown;
            At(blue, x, y) = IsRedRow(y) ? upDown : sideways;
        }
    });

    // 1, 2, 1 down and across over the sites step apart.
    const auto binomial = [&](const Plane<LONG>& p, LONG x, LONG y, LONG step) -> Int64 {
        Int64 sum = 0;
        const Int64 w[3] = {1, 2, 1};
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                sum += w[i] * w[k] * At(p, x + (k - 1) * step, y + (i - 1) * step);
        return sum;
    };
    Plane<LONG> chroma;
    Resize(chroma);
    everySite([&](LONG x, LONG y) {
        const Int64 r = binomial(red, x, y, 2);
        const Int64 b = binomial(blue, x, y, 2);
        At(chroma, x, y) = static_cast<LONG>((std::abs(r) + std::abs(r - b) + std::abs(b)) / 16);
    });

    Resize(m_strength);
    everySite([&](LONG x, LONG y) {
        const auto c = [&](LONG dx, LONG dy) { return Int64{At(chroma, x + dx, y + dy)}; };
        const Int64 ring =
            8 * c(0, 0) + c(-4, 0) + c(4, 0) + c(0, -4) + c(0, 4) + c(-2, -2) + c(2, -2) + c(-2, 2) + c(2, 2);
        int flag = 0;
        if (ring > ((kTopRoot * 15 + 15) / 256) * 3072)
            flag |= 2;
        if (ring > ((kTopRoot * 6 + 6) / 256) * 3072)
            flag |= 1;
        At(m_strength, x, y) = static_cast<BYTE>(flag);
    });

    Plane<LONG> h2, v2;
    Resize(h2), Resize(v2);
    everySite([&](LONG x, LONG y) {
        if (IsGreen(x, y))
            return;
        const LONG W = M(x - 1, y), E = M(x + 1, y), N = M(x, y - 1), S = M(x, y + 1);
        const LONG NW = M(x - 1, y - 1), NE = M(x + 1, y - 1), SW = M(x - 1, y + 1), SE = M(x + 1, y + 1);
        At(h2, x, y) = std::abs(NW - NE) + 2 * std::abs(W - E) + std::abs(SW - SE);
        At(v2, x, y) = std::abs(NW - SW) + 2 * std::abs(N - S) + std::abs(NE - SE);
    });

    Resize(m_class2);
    everySite([&](LONG x, LONG y) {
        BYTE k = At(m_class, x, y);
        if (!IsGreen(x, y) && At(m_strength, x, y) != 0) {
            const int hv = DirectionCode(smooth(h2, x, y), smooth(v2, x, y), thresholdSecond);
            const BYTE replaced = static_cast<BYTE>((k & 3) | (hv << 2));
            const bool inside = x >= 0 && y >= 0 && x < m_imageWidth && y < m_imageHeight;
            reclassified += inside && replaced != k;
            k = replaced;
        }
        At(m_class2, x, y) = k;
    });

    // 16 x (R / 4 + G / 2 + B / 4), along the direction of the final class.
    Plane<LONG> luminance;
    Resize(luminance);
    everySite([&](LONG x, LONG y) {
        const LONG C = M(x, y), W = M(x - 1, y), E = M(x + 1, y), N = M(x, y - 1), S = M(x, y + 1);
        const LONG NW = M(x - 1, y - 1), NE = M(x + 1, y - 1), SW = M(x - 1, y + 1), SE = M(x + 1, y + 1);
        LONG l = 0;
        if (IsGreen(x, y)) {
            if (At(m_class2, x - 1, y) != 0)
                l = 2 * (4 * C + N + S + W + E);
            else
                l = (8 * (NW + SW + 14 * C)) / 16 + 2 * (N + S + W + E);
        } else {
            switch (At(m_class2, x, y)) {
            case 1:
                l = 2 * (NE + SW + N + S + 2 * C + W + E);
                break;
            case 2:
                l = 2 * (NW + SE + N + S + 2 * C + W + E);
                break;
            case 4:
                l = 4 * (N + S + C) + NW + NE + SW + SE;
                break;
            case 5:
                l = 2 * (NE + 2 * (N + S + C) + SW);
                break;
            case 6:
                l = 2 * (SE + 2 * (N + S + C) + NW);
                break;
            case 8:
                l = 4 * (W + E + C) + NW + NE + SW + SE;
                break;
            case 9:
                l = 2 * (NE + 2 * (W + E + C) + SW);
                break;
            case 10:
                l = 2 * (SE + 2 * (W + E + C) + NW);
                break;
            default:
                l = 2 * (N + S + 2 * C + W + E) + NW + NE + SW + SE;
                break;
            }
        }
        At(luminance, x, y) = l;
    });

    Resize(m_rgb);
    everySite([&](LONG x, LONG y) {
        Int64 block = 0;
        for (LONG dy = -1; dy <= 1; ++dy)
            for (LONG dx = -1; dx <= 1; ++dx)
                block += At(luminance, x + dx, y + dy);
        const Int64 i = 25 * Int64{At(luminance, x, y)} - block;
        const LONG step = (At(m_strength, x, y) & 2) ? 1 : 2;
        const Int64 dr = binomial(red, x, y, step) / 16;
        const Int64 db = binomial(blue, x, y, step) / 16;
        At(m_rgb, x, y) = Rgb{Stored((i - db + 3 * dr) / 256), Stored((i - db - dr) / 256),
                              Stored((i + 3 * db - dr) / 256)};
    });

    for (LONG y = 0; y < m_imageHeight; ++y)
        for (LONG x = 0; x < m_imageWidth; ++x) {
            ++strengthCounts[At(m_strength, x, y)];
            if (!IsGreen(x, y))
                ++classCounts[std::min<int>(At(m_class2, x, y), 10)];
        }
}

ReferenceHQ4::Rgb ReferenceHQ4::Output(LONG u, LONG v, bool nonSquare) const {
    return OutputPixel<Rgb>(u, v, nonSquare, [this](LONG x, LONG y) { return Pixel(x, y); });
}

} // namespace kvtest
