#include "CMoireRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

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

constexpr int kMaskLanes = 16;

// The walks of sixteen pixels with the lanes still walking and those taking a point held in mask
// registers: each test narrows a mask in one instruction where the vector form makes a vector of each
// result first and tests it again. The same steps and decisions as WalkGroup; the arithmetic stays in
// vector types, as some AVX-512 intrinsics of this compiler warn of their own undefined operands.
KV_INLINE void MaskWalkGroup(const WalkRow& row, LONG x, const RatioBounds<kMaskLanes>& ratios) {
    using V = Lanes<kMaskLanes>::V;
    using F = Lanes<kMaskLanes>::F;
    using Unsigned = unsigned __attribute__((vector_size(kMaskLanes * sizeof(unsigned))));
    const auto wide = [](V v) KV_INLINE_LAMBDA { return reinterpret_cast<__m512i>(v); };
    const LONG c = x + kSteps;
    const V luma = Load<V>(row.luma[kSteps] + c);
    const V red = Load<V>(row.red[kSteps] + c);
    const V blue = Load<V>(row.blue[kSteps] + c);
    const V t1 = Load<V>(row.t1 + x);
    const V t2 = Load<V>(row.t2 + x);
    const V t3 = Load<V>(row.t3 + x);
    // A point's colour change e + f is small enough when below t3 and f is not zero: when e + f - 1 and
    // f - 1, as unsigned, lie below t3 - 1 (f - 1 wraps to the greatest unsigned value for f zero), their
    // greater compared once.
    const __m512i changeSpan = wide(Select<V>(t3 > Splat<V>(0), t3 - 1, Splat<V>(0)));
    // Luminance and thresholds stay within 2^22 and 2^30: these bounds do not overflow.
    const V low = luma - t1;
    const V high = luma + t1;
    // A point is near in luminance when it lies strictly between luma - t2 and luma + t2: when its
    // distance above the least such value, as unsigned, lies below the span of those values (none when t2
    // is not positive). One comparison where two each narrowed the mask.
    const __m512i nearLeast = wide(luma - t2 + 1);
    // The span 2 t2 - 1 reaches 2^31 - 1, worked out in unsigned lanes.
    const Unsigned halfSpan = reinterpret_cast<Unsigned>(t2);
    const __m512i nearSpan =
        wide(Select<V>(t2 > Splat<V>(0), reinterpret_cast<V>(halfSpan + halfSpan - 1u), Splat<V>(0)));
    const __m512i one = _mm512_set1_epi32(1);
    __m512i found = _mm512_setzero_si512();
    __m512i sumRed = found;
    __m512i sumBlue = found;
#pragma GCC unroll 8
    for (const Direction& along : kAlong) {
        const int dx = kAxisSteps[along.axis][0] * along.sense;
        const int dy = kAxisSteps[along.axis][1] * along.sense;
        __mmask16 walking = 0xFFFF;
#pragma GCC unroll 4
        for (LONG k = kBlock; k <= kSteps; k += kBlock) {
            const LONG from = along.sense > 0 ? k - kBlock + 1 : -k;
            const LONG r = kSteps + from * kAxisSteps[along.axis][1];
            const LONG p = c + from * kAxisSteps[along.axis][0];
            // A lane walks on while its block's least luminance is at least low and its greatest at most
            // high.
            const V over = Max(Load<V>(row.greatest[along.axis][r] + p) - high,
                               low - Load<V>(row.least[along.axis][r] + p));
            walking = _mm512_mask_cmple_epi32_mask(walking, wide(over), _mm512_setzero_si512());
            if (!walking)
                break;
            const LONG pr = kSteps + k * dy;
            const LONG pc = c + k * dx;
            const V e = Abs(blue - Load<V>(row.blue[pr] + pc));
            const V f = Abs(red - Load<V>(row.red[pr] + pc));
            const __m512i point = _mm512_loadu_si512(row.luma[pr] + pc);
            __mmask16 taken =
                _mm512_mask_cmplt_epu32_mask(walking, _mm512_sub_epi32(point, nearLeast), nearSpan);
            const Unsigned fLess = reinterpret_cast<Unsigned>(f - 1);
            const __m512i change =
                reinterpret_cast<__m512i>(Max(reinterpret_cast<Unsigned>(e) + fLess, fLess));
            taken = _mm512_mask_cmplt_epu32_mask(taken, change, changeSpan);
            if (!taken)
                continue;
            const F ef = __builtin_convertvector(e, F);
            const F ff = __builtin_convertvector(f, F);
            const F overLower = ef - ff * ratios.lower;
            const F underUpper = ff * ratios.upper - ef;
            const __m512 least = reinterpret_cast<__m512>(overLower < underUpper ? overLower : underUpper);
            const __m512 margin = reinterpret_cast<__m512>(ff * ratios.margin);
            // Within the margin of a bound the float test may err: those lanes take the quotient test.
            const __m512 magnitude =
                reinterpret_cast<__m512>(reinterpret_cast<V>(least) & Splat<V>(0x7FFFFFFF));
            const __mmask16 near = _mm512_mask_cmp_ps_mask(taken, magnitude, margin, _CMP_LE_OQ);
            if (near) [[unlikely]] {
                const V exact = ExactInside<kMaskLanes>(e, f, ratios.exactLower, ratios.exactUpper);
                taken = _mm512_mask_test_epi32_mask(taken, wide(exact), wide(exact));
            } else {
                taken = _mm512_mask_cmp_ps_mask(taken, least, margin, _CMP_GT_OQ);
            }
            sumRed = _mm512_mask_add_epi32(sumRed, taken, sumRed, _mm512_loadu_si512(row.ownRed[pr] + pc));
            sumBlue =
                _mm512_mask_add_epi32(sumBlue, taken, sumBlue, _mm512_loadu_si512(row.ownBlue[pr] + pc));
            found = _mm512_mask_add_epi32(found, taken, found, one);
        }
    }
    const V ownRed = Load<V>(row.ownRed[kSteps] + c);
    const V ownBlue = Load<V>(row.ownBlue[kSteps] + c);
    const V count = reinterpret_cast<V>(found);
    const __mmask16 many = _mm512_cmpgt_epi32_mask(found, _mm512_set1_epi32(3));
    const V redMean = Quotient<kMaskLanes>(ownRed + reinterpret_cast<V>(sumRed), count + 1);
    const V blueMean = Quotient<kMaskLanes>(ownBlue + reinterpret_cast<V>(sumBlue), count + 1);
    _mm512_storeu_si512(row.outRed + x, _mm512_mask_mov_epi32(wide(ownRed), many, wide(redMean)));
    _mm512_storeu_si512(row.outBlue + x, _mm512_mask_mov_epi32(wide(ownBlue), many, wide(blueMean)));
}

KV_INLINE void MaskWalkRows(const WalkRow& row) {
    if (row.count < kMaskLanes) {
        ScalarWalk(row);
        return;
    }
    const RatioBounds<kMaskLanes> ratios = MakeRatioBounds<kMaskLanes>();
    LONG x = 0;
    for (; x + kMaskLanes <= row.count; x += kMaskLanes)
        MaskWalkGroup(row, x, ratios);
    if (x < row.count)
        MaskWalkGroup(row, row.count - kMaskLanes, ratios);
}
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
    wide::MaskWalkRows(row);
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

// The AVX2 and AVX-512 split loops are left to the compiler's vectorizer, which this build level runs only
// where asked; on SSE2 registers its permutes of three-way interleaved samples are slower than the plain
// loop.
#define KV_VECTORIZE __attribute__((optimize("tree-vectorize")))

void PlainSplit(const BYTE* pixels, LONG count, LONG* luma, LONG* red, LONG* blue) {
    SplitOf(pixels, count, luma, red, blue);
}

KV_AVX2 KV_VECTORIZE void Avx2Split(const BYTE* pixels, LONG count, LONG* luma, LONG* red, LONG* blue) {
    SplitOf(pixels, count, luma, red, blue);
}

KV_AVX512 KV_VECTORIZE void Avx512Split(const BYTE* pixels, LONG count, LONG* luma, LONG* red, LONG* blue) {
    wide::SplitOf(pixels, count, luma, red, blue);
}

const Kernels kPlain = {PlainWalk, PlainBounds, PlainSmooth, PlainThresholds, PlainPixels, PlainSplit};
const Kernels kAvx2 = {Avx2Walk, Avx2Bounds, Avx2Smooth, Avx2Thresholds, Avx2Pixels, Avx2Split};
const Kernels kAvx512 = {Avx512Walk, Avx512Bounds, Avx512Smooth, Avx512Thresholds, Avx512Pixels, Avx512Split};

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
