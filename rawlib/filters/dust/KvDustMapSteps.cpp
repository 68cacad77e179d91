#include "KvDustMapSteps.h"

#include "KvDustFormat.h"

#include "rawlib/filters/HQ4Tuning.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace KvDust {

template <class T>
IPravonError* DustPlane<T>::Allocate(LONG w, LONG h, std::size_t rowStride) {
    const std::size_t s = rowStride ? rowStride : static_cast<std::size_t>(w);
    try {
        data.assign(s * static_cast<std::size_t>(h), T{});
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a plane of the dust map");
    }
    width = w;
    height = h;
    stride = s;
    return nullptr;
}
template struct DustPlane<BYTE>;
template struct DustPlane<WORD>;

namespace {

constexpr LONG kBand = 7; // the classes' search reaches 7 columns and 7 rows around a pixel

// A 0/1 indicator summed over rectangles in constant time: counts of `hit` in any window of a region.
class CIndicatorSums {
public:
    // The region's origin and size; `hit(x, y)` for every position in it.
    template <class Hit>
    void Build(LONG left, LONG top, LONG width, LONG height, Hit hit) {
        m_left = left;
        m_top = top;
        m_width = width + 1;
        m_sums.assign(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(height + 1), 0);
        for (LONG y = 0; y < height; ++y) {
            LONG run = 0;
            for (LONG x = 0; x < width; ++x) {
                run += hit(left + x, top + y) ? 1 : 0;
                At(x + 1, y + 1) = At(x + 1, y) + run;
            }
        }
    }
    // Hits in the window [x0, x1) x [y0, y1), which must lie in the region.
    LONG Count(LONG x0, LONG y0, LONG x1, LONG y1) const {
        x0 -= m_left;
        x1 -= m_left;
        y0 -= m_top;
        y1 -= m_top;
        return Get(x1, y1) - Get(x0, y1) - Get(x1, y0) + Get(x0, y0);
    }

private:
    LONG& At(LONG x, LONG y) { return m_sums[static_cast<std::size_t>(y) * m_width + x]; }
    LONG Get(LONG x, LONG y) const { return m_sums[static_cast<std::size_t>(y) * m_width + x]; }
    LONG m_left = 0;
    LONG m_top = 0;
    LONG m_width = 0;
    std::vector<LONG> m_sums;
};

LONG Clamp(LONG v, LONG n) {
    return std::clamp(v, LONG{0}, n - 1);
}

// A position outside 0..n-1 mirrored about the edge pixel (-1 reads 1, n reads n - 2), then kept inside
// for planes narrower than the reach.
LONG Mirror(LONG v, LONG n) {
    if (v < 0)
        v = -v;
    if (v >= n)
        v = 2 * (n - 1) - v;
    return Clamp(v, n);
}

BYTE ReferenceClass(BYTE value) {
    if (value >= 124)
        return 0;
    if (value >= 120)
        return 1;
    if (value >= 112)
        return 2;
    if (value >= 96)
        return 3;
    if (value >= 64)
        return 4;
    return 5;
}

// The luminance a pixel must exceed to keep its class: dust only shows on what is bright enough.
constexpr LONG kClassThreshold[6] = {65535, 6682, 2570, 2056, 1028, 514};

// The row reach of the search for a class at column distance |d| (-1: not searched there).
constexpr std::array<std::array<signed char, 8>, 6> kReach = {{
    {-1, -1, -1, -1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1},
    {1, 1, -1, -1, -1, -1, -1, -1},
    {3, 3, 2, 1, -1, -1, -1, -1},
    {5, 5, 5, 4, 3, 2, -1, -1},
    {7, 7, 7, 6, 6, 5, 4, 2},
}};

BYTE SampleReference(const DustPlane8& reference, LONG cx, LONG ry) {
    const LONG x0 = cx >> 12; // floor, also for positions left of the reference
    const LONG y0 = ry >> 12;
    const LONG fx = cx & 4095;
    const LONG fy = ry & 4095;
    const auto at = [&](LONG x, LONG y) -> LONG {
        if (x < 0 || y < 0 || x >= reference.width || y >= reference.height)
            return kNoDust;
        return reference.At(x, y);
    };
    const std::int64_t upper = std::int64_t{at(x0, y0)} * (4096 - fx) + std::int64_t{at(x0 + 1, y0)} * fx;
    const std::int64_t lower =
        std::int64_t{at(x0, y0 + 1)} * (4096 - fx) + std::int64_t{at(x0 + 1, y0 + 1)} * fx;
    return static_cast<BYTE>((upper * (4096 - fy) + lower * fy) >> 24);
}

} // namespace

void LuminanceRow(const BYTE* pixels, bool sixteen, LONG count, const WORD* forward, WORD* out) {
    for (LONG i = 0; i < count; ++i) {
        ULONG s[3];
        for (int c = 0; c < 3; ++c) {
            ULONG v = 0;
            if (sixteen) {
                WORD w;
                std::memcpy(&w, pixels + (static_cast<std::size_t>(i) * 3 + c) * 2, 2);
                v = w;
            } else {
                v = pixels[static_cast<std::size_t>(i) * 3 + c];
            }
            s[c] = forward ? forward[v] : sixteen ? v : v * 257;
        }
        out[i] = static_cast<WORD>((s[0] + 2 * s[1] + s[2]) / 4);
    }
}

const BYTE* LuminanceEncoding() {
    static const auto kTable = [] {
        std::array<BYTE, 65536> table{};
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i] = static_cast<BYTE>(std::floor(std::sqrt(i / 65535.0) * 255.0 + 0.5));
        return table;
    }();
    return kTable.data();
}

void SamplingScale(LONG width, LONG height, LONG referenceWidth, LONG referenceHeight, double* sx,
                   double* sy) {
    const double u = static_cast<double>(width) / height;
    const double v = static_cast<double>(width) / referenceWidth;
    const double b = static_cast<double>(referenceWidth) / referenceHeight;
    const auto closerTo3 = [](double r) { return std::abs(r - 3) < std::abs(r - 1.5); };
    const bool nearOne = std::abs(v - 1) <= std::abs(v - 4.0 / 3);
    double x = 1;
    double y = 1;
    if (closerTo3(u)) {
        if (!closerTo3(b)) {
            x = nearOne ? 1 : 0.75;
            y = nearOne ? 2 : 1.5;
        }
    } else if (closerTo3(b)) {
        const bool threeQuarters = std::abs(v - 0.75) < std::abs(v - 1);
        x = threeQuarters ? 4.0 / 3 : 1;
        y = threeQuarters ? 2.0 / 3 : 0.5;
    } else if (nearOne) {
        x = y = std::abs(v - 0.75) < std::abs(v - 1) ? 4.0 / 3 : 1;
    } else {
        x = y = std::abs(v - 0.75) < std::abs(v - 4.0 / 3) ? 4.0 / 3 : 0.75;
    }
    *sx = x;
    *sy = y;
}

std::vector<LONG> SamplingMap(LONG count, LONG referenceSide, double scale) {
    std::vector<LONG> map(static_cast<std::size_t>(count));
    // The centre is taken in halves, so that an image of the reference's size samples it pixel for pixel.
    const double centre = (count - 1) / 2.0;
    for (LONG i = 0; i < count; ++i)
        map[i] =
            static_cast<LONG>(std::floor(((referenceSide - 1) / 2.0 + scale * (i - centre)) * 4096 + 0.5));
    return map;
}

void Classify(const DustClassInput& in, const PravonRect& rect, DustPlane8* classes) {
    const DustPlane16& lum = *in.luminance;
    const LONG bandLeft = rect.left - kBand;
    const LONG bandTop = rect.top - kBand;
    const LONG bandWidth = rect.Width() + 2 * kBand;
    const LONG bandHeight = rect.Height() + 2 * kBand;
    // First pass over the rectangle and the band around it: the reference's class where the image is
    // bright enough to show it.
    std::vector<BYTE> first(static_cast<std::size_t>(bandWidth) * bandHeight, 0);
    for (LONG j = 0; j < bandHeight; ++j) {
        const LONG y = bandTop + j;
        if (y < 0 || y >= lum.height)
            continue;
        const LONG ry = (*in.rows)[y + kBand];
        for (LONG i = 0; i < bandWidth; ++i) {
            const LONG x = bandLeft + i;
            if (x < 0 || x >= lum.width)
                continue;
            const BYTE c = ReferenceClass(SampleReference(*in.reference, (*in.columns)[x + kBand], ry));
            if (lum.At(x, y) > kClassThreshold[c])
                first[static_cast<std::size_t>(j) * bandWidth + i] = c;
        }
    }
    const auto firstAt = [&](LONG i, LONG j) { return first[static_cast<std::size_t>(j) * bandWidth + i]; };
    CIndicatorSums searched;
    searched.Build(0, 0, bandWidth, bandHeight, [&](LONG i, LONG j) { return firstAt(i, j) >= 2; });
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        BYTE* out = classes->Row(y);
        const LONG j = y - bandTop;
        for (LONG x = rect.left; x < rect.right; ++x) {
            const LONG i = x - bandLeft;
            const BYTE own = firstAt(i, j);
            if (searched.Count(i - kBand, j - kBand, i + kBand + 1, j + kBand + 1) == 0) {
                out[x] = own & 1;
                continue;
            }
            bool found[6] = {};
            for (LONG d = -kBand; d <= kBand; ++d) {
                const auto column = static_cast<std::size_t>(std::abs(d));
                for (LONG dy = -kBand; dy <= kBand; ++dy) {
                    const BYTE c = firstAt(i + d, j + dy);
                    if (c >= 2 && kReach[c][column] >= std::abs(dy))
                        found[c] = true;
                }
            }
            BYTE result = own & 1;
            if (found[5])
                result = found[4] ? 5 : 1;
            else if (found[4])
                result = 4;
            else if (found[3])
                result = 3;
            else if (found[2])
                result = 2;
            out[x] = result;
        }
    }
}

LONG ContrastGroup(bool mosaic, ULONG thresholdWord, LONG qualityFactor) {
    LONG group = 0;
    if (!mosaic) {
        switch (thresholdWord) {
        case 1:
        case 2:
        case 4:
            group = 1;
            break;
        case 3:
            group = 3;
            break;
        case 5:
            group = 2;
            break;
        default:
            group = 0;
            break;
        }
    }
    return group + (qualityFactor > 15 ? 4 : 0);
}

LONG ContrastThreshold(ULONG cameraType, LONG sensitivity, LONG group) {
    // Group 0 of each camera type; groups 1 to 3 share it, groups 4 to 7 ease off at the higher
    // sensitivities as the type-260 row does.
    static constexpr LONG kRow260[16] = {6, 6, 6, 7, 7, 7, 7, 8, 8, 8, 9, 9, 10, 12, 15, 7};
    static constexpr LONG kRow1025[16] = {4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7, 8, 10, 13, 5};
    static constexpr LONG kRowOther[16] = {3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 6, 6, 7, 9, 12, 4};
    static constexpr LONG kRow259[15] = {3, 3, 4, 4, 4, 4, 5, 5, 5, 6, 6, 7, 9, 12, 4};
    static constexpr LONG kEase[16] = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 1, 0};
    const bool base125 = cameraType == 259;
    const std::size_t index = HQ4SensitivityTables::IndexOf(
        base125 ? HQ4SensitivityTables::Base125() : HQ4SensitivityTables::Base200(), sensitivity);
    const LONG* row = cameraType == 260    ? kRow260
                      : cameraType == 1025 ? kRow1025
                      : base125            ? kRow259
                                           : kRowOther;
    LONG z = row[index];
    if (group >= 4)
        z = std::max(LONG{1}, z - kEase[index]);
    return z;
}

void LocalContrast(const DustPlane8& luminance8, const DustPlane16& luminance, const DustPlane8& classes,
                   LONG threshold, const PravonRect& rect, DustPlane8* flags) {
    struct Offset {
        signed char dx, dy;
    };
    // Seven rings of eight samples: a diagonal pair pattern, then a square, alternating outwards.
    static const auto kRings = [] {
        std::array<std::array<Offset, 8>, 7> rings{};
        const auto pairs = [](LONG a, LONG b) {
            std::array<Offset, 8> r{};
            const LONG s[2] = {-1, 1};
            int k = 0;
            for (LONG sx : s)
                for (LONG sy : s) {
                    r[k++] = {static_cast<signed char>(sx * a), static_cast<signed char>(sy * b)};
                    r[k++] = {static_cast<signed char>(sx * b), static_cast<signed char>(sy * a)};
                }
            return r;
        };
        const auto square = [](LONG h) {
            std::array<Offset, 8> r{};
            int k = 0;
            for (LONG dy = -h; dy <= h; dy += h)
                for (LONG dx = -h; dx <= h; dx += h)
                    if (dx != 0 || dy != 0)
                        r[k++] = {static_cast<signed char>(dx), static_cast<signed char>(dy)};
            return r;
        };
        rings[0] = pairs(7, 13);
        rings[1] = square(21);
        rings[2] = pairs(16, 33);
        rings[3] = square(43);
        rings[4] = pairs(27, 53);
        rings[5] = square(63);
        rings[6] = pairs(36, 73);
        return rings;
    }();
    constexpr LONG kReachOut = 73;
    constexpr LONG kDark = 1800;
    const LONG w = luminance8.width;
    const LONG h = luminance8.height;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        BYTE* out = flags->Row(y);
        const bool innerRow = y >= kReachOut && y + kReachOut < h;
        for (LONG x = rect.left; x < rect.right; ++x) {
            const bool inner = innerRow && x >= kReachOut && x + kReachOut < w;
            const auto sample = [&](LONG dx, LONG dy) -> LONG {
                if (inner)
                    return luminance8.Row(y + dy)[x + dx];
                return luminance8.At(Mirror(x + dx, w), Mirror(y + dy, h));
            };
            const LONG j = luminance8.At(x, y);
            LONG f = 0;
            for (LONG dy = -2; dy <= 2; ++dy)
                for (LONG dx = -2; dx <= 2; ++dx)
                    f += std::abs(sample(dx, dy) - j);
            f /= 24;
            LONG a[3] = {};
            for (std::size_t r = 0; r < kRings.size(); ++r) {
                LONG sum = 0;
                for (const Offset& o : kRings[r])
                    sum += sample(o.dx, o.dy);
                a[r < 2 ? 0 : r < 4 ? 1 : 2] += std::abs(8 * j - sum) / 8;
            }
            BYTE flag = 0;
            if (a[0] + a[1] + a[2] > 7 * threshold + 6)
                flag |= 0x08;
            if (a[0] + a[1] > 4 * threshold + 3)
                flag |= 0x04;
            if (a[0] + f > 3 * threshold + 2)
                flag |= 0x02;
            if (f > threshold)
                flag |= 0x81;
            const BYTE measured = flag;
            if (luminance.At(x, y) < kDark)
                flag |= 0x0F;
            if (classes.At(x, y) >= 2)
                flag = measured & 0x80;
            out[x] = flag;
        }
    }
}

void Spread(const DustPlane8& classes, const DustPlane8& flags, ULONG cameraType, const PravonRect& rect,
            DustPlane8* spread) {
    LONG a = 3;
    LONG b = 3;
    if (cameraType == 259) {
        a = 5;
        b = 2;
    } else if (cameraType == 260) {
        a = b = 4;
    } else if (cameraType == 1026) {
        a = b = 5;
    }
    static constexpr BYTE kRadius[16] = {4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 2, 2, 1, 0};
    const LONG w = classes.width;
    const LONG h = classes.height;
    // Classes are never negative, so their window sum is non-zero exactly where one of them is.
    CIndicatorSums any;
    any.Build(rect.left - a, rect.top - b, rect.Width() + 2 * a, rect.Height() + 2 * b,
              [&](LONG x, LONG y) { return x >= 0 && y >= 0 && x < w && y < h && classes.At(x, y) != 0; });
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        BYTE* out = spread->Row(y);
        for (LONG x = rect.left; x < rect.right; ++x)
            out[x] = any.Count(x - a, y - b, x + a + 1, y + b + 1) ? kRadius[flags.At(x, y) & 0x0F] : 0;
    }
}

void SecondMap(const DustPlane8& flags, const PravonRect& rect, DustPlane8* second) {
    // The octagon of radius 8: per row offset, the column offsets on it.
    static const auto kRing = [] {
        std::vector<std::pair<signed char, signed char>> ring;
        for (int row = 0; row <= 16; ++row) {
            const auto dy = static_cast<signed char>(row - 8);
            if (row == 0 || row == 16) {
                for (int column = 5; column <= 11; ++column)
                    ring.emplace_back(static_cast<signed char>(column - 8), dy);
                continue;
            }
            // Rows 1 to 4 step out one column each, rows 12 to 15 step back in; rows 5 to 11 lie on the
            // sides.
            const int edge = row <= 4 ? 5 - row : row >= 12 ? row - 11 : 0;
            ring.emplace_back(static_cast<signed char>(edge - 8), dy);
            ring.emplace_back(static_cast<signed char>(8 - edge), dy);
        }
        return ring;
    }();
    constexpr BYTE kOutside = 0x8F;
    const LONG w = flags.width;
    const LONG h = flags.height;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        BYTE* out = second->Row(y);
        for (LONG x = rect.left; x < rect.right; ++x) {
            if (!(flags.At(x, y) & 0x80)) {
                out[x] = 0;
                continue;
            }
            int textured = 0;
            for (const auto& [dx, dy] : kRing) {
                const LONG px = x + dx;
                const LONG py = y + dy;
                const BYTE f = px >= 0 && py >= 0 && px < w && py < h ? flags.At(px, py) : kOutside;
                textured += f & 0x01;
            }
            out[x] = textured > 3 ? 255 : 0;
        }
    }
}

void Correction(const DustPlane8& spread, const DustPlane8& second, const DustPlane16& luminance,
                const PravonRect& rect, DustPlane8* correction) {
    const LONG w = luminance.width;
    const LONG h = luminance.height;
    const auto value = [&](LONG x, LONG y) -> BYTE {
        const LONG r = spread.At(x, y);
        if (r == 0 || second.At(x, y) != 0)
            return kNoDust;
        std::uint64_t sum = 0;
        for (LONG dy = -r; dy <= r; ++dy) {
            const WORD* row = luminance.Row(Clamp(y + dy, h));
            for (LONG dx = -r; dx <= r; ++dx)
                sum += row[Clamp(x + dx, w)];
        }
        const double n = (2.0 * r + 1) * (2.0 * r + 1);
        const double ratio = (n * luminance.At(x, y) + 0.001) / (sum + 0.001);
        return static_cast<BYTE>(std::min(128.0, std::floor(ratio * 128 + 0.5)));
    };
    // First values over the rectangle and one pixel around it (within the image), then the smoothing of
    // the light corrections from those first values.
    const LONG left = std::max(rect.left - 1, LONG{0});
    const LONG top = std::max(rect.top - 1, LONG{0});
    const LONG right = std::min(rect.right + 1, w);
    const LONG bottom = std::min(rect.bottom + 1, h);
    const LONG bw = right - left;
    std::vector<BYTE> first(static_cast<std::size_t>(bw) * (bottom - top));
    for (LONG y = top; y < bottom; ++y)
        for (LONG x = left; x < right; ++x)
            first[static_cast<std::size_t>(y - top) * bw + (x - left)] = value(x, y);
    const auto at = [&](LONG x, LONG y) {
        x = std::clamp(x, left, right - 1);
        y = std::clamp(y, top, bottom - 1);
        return first[static_cast<std::size_t>(y - top) * bw + (x - left)];
    };
    constexpr BYTE kSmoothAbove = 90;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        BYTE* out = correction->Row(y);
        for (LONG x = rect.left; x < rect.right; ++x) {
            const BYTE v = at(x, y);
            if (v <= kSmoothAbove) {
                out[x] = v;
                continue;
            }
            LONG sum = 0;
            for (LONG dy = -1; dy <= 1; ++dy)
                for (LONG dx = -1; dx <= 1; ++dx)
                    sum += at(x + dx, y + dy);
            out[x] = static_cast<BYTE>(sum / 9);
        }
    }
}

} // namespace KvDust
