#include "CMoireRows.h"

#include "platform/win/CpuFeatures.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace MoireRows {

namespace {

// The eight directions, in the order up-left, up, up-right, right, down-right, down, down-left, left.
constexpr int kDirections[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
constexpr std::int64_t kHeld = std::int64_t{1} << 30;

LONG Held(std::int64_t v) {
    return static_cast<LONG>(std::clamp(v, -kHeld, kHeld));
}

// Pixel by pixel, for rows narrower than a group of lanes.
void ScalarWalk(const WalkRow& row) {
    const double lower = LowerRatio();
    const double upper = UpperRatio();
    for (LONG x = 0; x < row.count; ++x) {
        const LONG c = x + kSteps;
        const LONG luma = row.luma[kSteps][c];
        const LONG red = row.red[kSteps][c];
        const LONG blue = row.blue[kSteps][c];
        LONG found = 0;
        LONG sumRed = 0;
        LONG sumBlue = 0;
        for (const auto& direction : kDirections) {
            for (LONG k = 1; k <= kSteps; ++k) {
                const LONG r = kSteps + k * direction[1];
                const LONG p = c + k * direction[0];
                const LONG d = std::abs(luma - row.luma[r][p]);
                if (d > row.t1[x])
                    break;
                if (k % kBlock != 0 || d >= row.t2[x])
                    continue;
                const LONG e = std::abs(blue - row.blue[r][p]);
                const LONG f = std::abs(red - row.red[r][p]);
                if (e + f >= row.t3[x] || f == 0)
                    continue;
                const double ratio = static_cast<double>(e) / f;
                if (ratio > lower && ratio < upper) {
                    sumRed += row.ownRed[r][p];
                    sumBlue += row.ownBlue[r][p];
                    ++found;
                }
            }
        }
        LONG outRed = row.ownRed[kSteps][c];
        LONG outBlue = row.ownBlue[kSteps][c];
        if (found > 3) {
            outRed = (outRed + sumRed) / (found + 1);
            outBlue = (outBlue + sumBlue) / (found + 1);
        }
        row.outRed[x] = outRed;
        row.outBlue[x] = outBlue;
    }
}

// The walks, bounds and sums are written once over GCC vector types of N lanes (MoireRowsLanes.inl) and
// built three times: for the baseline processor (SSE2 registers), inside AVX2 routines and for AVX-512, so
// every path takes the same steps. Vectors wider than the baseline's registers are only handed between
// routines inlined into AVX2 or AVX-512 ones.
#pragma GCC diagnostic ignored "-Wpsabi"

#define KV_AVX2 __attribute__((target("avx2")))
#define KV_AVX512 __attribute__((target("avx512f,avx2")))
#define KV_INLINE [[gnu::always_inline]] inline
#define KV_INLINE_LAMBDA __attribute__((always_inline))

#include "rawlib/filters/detail/MoireRowsLanes.inl"

// The same routines again for sixteen lanes, built for AVX-512 throughout.
#pragma GCC push_options
#pragma GCC target("avx512f,avx2")
namespace wide {
#include "rawlib/filters/detail/MoireRowsLanes.inl"
} // namespace wide
#pragma GCC pop_options

constexpr int kPlainLanes = 4;
constexpr int kAvx2Lanes = 8;
constexpr int kAvx512Lanes = 16;

void PlainWalk(const WalkRow& row) {
    WalkRows<kPlainLanes>(row);
}

void PlainBounds(const LONG* const* rows, LONG count, LONG* const* least, LONG* const* greatest) {
    BoundsOf<kPlainLanes>(rows, count, least, greatest);
}

void PlainSmooth(const LONG* const* rows, LONG count, LONG* out) {
    SmoothOf<kPlainLanes>(rows, count, out);
}

KV_AVX2 void Avx2Smooth(const LONG* const* rows, LONG count, LONG* out) {
    SmoothOf<kAvx2Lanes>(rows, count, out);
}

KV_AVX2 void Avx2Walk(const WalkRow& row) {
    WalkRows<kAvx2Lanes>(row);
}

KV_AVX2 void Avx2Bounds(const LONG* const* rows, LONG count, LONG* const* least, LONG* const* greatest) {
    BoundsOf<kAvx2Lanes>(rows, count, least, greatest);
}

void PlainThresholds(const LONG* luma, LONG count, LONG level, LONG* t1, LONG* t2, LONG* t3) {
    ThresholdsOf<kPlainLanes>(luma, count, level, t1, t2, t3);
}

KV_AVX2 void Avx2Thresholds(const LONG* luma, LONG count, LONG level, LONG* t1, LONG* t2, LONG* t3) {
    ThresholdsOf<kAvx2Lanes>(luma, count, level, t1, t2, t3);
}

void PlainPixels(const LONG* luma, LONG* red, LONG* blue, LONG* green, LONG count, BYTE* out) {
    PixelsOf<kPlainLanes>(luma, red, blue, green, count, out);
}

KV_AVX2 void Avx2Pixels(const LONG* luma, LONG* red, LONG* blue, LONG* green, LONG count, BYTE* out) {
    PixelsOf<kAvx2Lanes>(luma, red, blue, green, count, out);
}

KV_AVX512 void Avx512Walk(const WalkRow& row) {
    wide::WalkRows<kAvx512Lanes>(row);
}

KV_AVX512 void Avx512Bounds(const LONG* const* rows, LONG count, LONG* const* least, LONG* const* greatest) {
    wide::BoundsOf<kAvx512Lanes>(rows, count, least, greatest);
}

KV_AVX512 void Avx512Smooth(const LONG* const* rows, LONG count, LONG* out) {
    wide::SmoothOf<kAvx512Lanes>(rows, count, out);
}

KV_AVX512 void Avx512Thresholds(const LONG* luma, LONG count, LONG level, LONG* t1, LONG* t2, LONG* t3) {
    wide::ThresholdsOf<kAvx512Lanes>(luma, count, level, t1, t2, t3);
}

KV_AVX512 void Avx512Pixels(const LONG* luma, LONG* red, LONG* blue, LONG* green, LONG count, BYTE* out) {
    wide::PixelsOf<kAvx512Lanes>(luma, red, blue, green, count, out);
}

const Kernels kPlain = {PlainWalk, PlainBounds, PlainSmooth, PlainThresholds, PlainPixels};
const Kernels kAvx2 = {Avx2Walk, Avx2Bounds, Avx2Smooth, Avx2Thresholds, Avx2Pixels};
const Kernels kAvx512 = {Avx512Walk, Avx512Bounds, Avx512Smooth, Avx512Thresholds, Avx512Pixels};

} // namespace

double LowerRatio() {
    static const double ratio = std::tan(0.4363323129985824);
    return ratio;
}

double UpperRatio() {
    static const double ratio = std::tan(1.1344640137963142);
    return ratio;
}

void Thresholds(const LONG* luma, LONG count, LONG level, LONG* t1, LONG* t2, LONG* t3) {
    const std::int64_t v = level;
    for (LONG x = 0; x < count; ++x) {
        std::int64_t first = 0;
        std::int64_t third = 0;
        if (luma[x] >= kBrightLuminance) {
            first = v * 16384;
            third = ((4 * first) / 3) / 4;
        } else {
            const std::int64_t c = luma[x] * (v - 10);
            first = c / 120 + 163840;
            third = (((4 * c) / 120) / 3) / 4 + 40960;
        }
        t1[x] = Held(first);
        t2[x] = Held(first / 5);
        t3[x] = Held(third);
    }
}

const Kernels& Plain() {
    return kPlain;
}

const Kernels& Simd() {
    return kAvx2;
}

const Kernels& Wide() {
    return kAvx512;
}

const Kernels& Choose() {
    if (CpuHas(CpuFeature::kAVX512F | CpuFeature::kAVX2))
        return kAvx512;
    return CpuChoose(kPlain, kAvx2);
}

} // namespace MoireRows
