#include "CMoireRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace MoireRows {

namespace {

// The eight directions, in the order up-left, up, up-right, right, down-right, down, down-left, left.
constexpr int kDirections[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
constexpr std::int64_t kHeld = std::int64_t{1} << 30;

LONG Held(std::int64_t v) {
    return static_cast<LONG>(std::clamp(v, -kHeld, kHeld));
}

void PlainWalk(const WalkRow& row) {
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

#define KV_AVX2 __attribute__((target("avx2")))

KV_AVX2 inline __m256i Load8(const LONG* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KV_AVX2 inline bool None(__m256i mask) {
    return _mm256_testz_si256(mask, mask) != 0;
}

// The lanes whose e / f lies strictly between the bounds, tested as e against f times each bound in double
// precision: for e and f below 2^22 (the colour differences stay below 2^21) this gives the plain routine's
// quotient test exactly, at a fraction of a division's cost.
KV_AVX2 inline __m256i RatioInside(__m256i e, __m256i f, __m256d lower, __m256d upper) {
    auto inside = [&](__m128i e4, __m128i f4) KV_AVX2 {
        const __m256d ed = _mm256_cvtepi32_pd(e4);
        const __m256d fd = _mm256_cvtepi32_pd(f4);
        return _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(ed, _mm256_mul_pd(fd, lower), _CMP_GT_OQ),
                                                _mm256_cmp_pd(ed, _mm256_mul_pd(fd, upper), _CMP_LT_OQ)));
    };
    const int bits = inside(_mm256_castsi256_si128(e), _mm256_castsi256_si128(f)) |
                     (inside(_mm256_extracti128_si256(e, 1), _mm256_extracti128_si256(f, 1)) << 4);
    const __m256i lanes = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(bits), lanes), lanes);
}

// (a / b) truncated, for |a| below 2^24 and b at least 1: a float quotient of such integers truncates to
// the integer quotient.
KV_AVX2 inline __m256i FloatQuotient(__m256i a, __m256i b) {
    return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a), _mm256_cvtepi32_ps(b)));
}

// Eight pixels from x on, each lane walking on its own: a lane whose walk has ended is masked off, and a
// direction ends when every lane's walk has. A walk reaches the end of a block when every luminance up to
// there lies within t1 of the pixel's, so each block's four values are taken as their least and greatest.
KV_AVX2 inline void Avx2WalkBlock(const WalkRow& row, LONG x, __m256d lower, __m256d upper) {
    const LONG c = x + kSteps;
    const __m256i luma = Load8(row.luma[kSteps] + c);
    const __m256i red = Load8(row.red[kSteps] + c);
    const __m256i blue = Load8(row.blue[kSteps] + c);
    const __m256i t1 = Load8(row.t1 + x);
    const __m256i t2 = Load8(row.t2 + x);
    const __m256i t3 = Load8(row.t3 + x);
    // Luminance and thresholds stay within 2^22 and 2^30: these bounds do not overflow.
    const __m256i low = _mm256_sub_epi32(luma, t1);
    const __m256i high = _mm256_add_epi32(luma, t1);
    const __m256i zero = _mm256_setzero_si256();
    __m256i found = zero;
    __m256i sumRed = zero;
    __m256i sumBlue = zero;
    for (const auto& direction : kDirections) {
        __m256i walking = _mm256_set1_epi32(-1);
        for (LONG k = kBlock; k <= kSteps; k += kBlock) {
            __m256i least = Load8(row.luma[kSteps + (k - kBlock + 1) * direction[1]] + c +
                                  (k - kBlock + 1) * direction[0]);
            __m256i greatest = least;
            __m256i last = least;
            for (LONG j = k - kBlock + 2; j <= k; ++j) {
                last = Load8(row.luma[kSteps + j * direction[1]] + c + j * direction[0]);
                least = _mm256_min_epi32(least, last);
                greatest = _mm256_max_epi32(greatest, last);
            }
            const __m256i outside =
                _mm256_or_si256(_mm256_cmpgt_epi32(low, least), _mm256_cmpgt_epi32(greatest, high));
            walking = _mm256_andnot_si256(outside, walking);
            if (None(walking))
                break;
            const __m256i d = _mm256_abs_epi32(_mm256_sub_epi32(luma, last));
            __m256i taken = _mm256_and_si256(walking, _mm256_cmpgt_epi32(t2, d));
            if (None(taken))
                continue;
            const LONG r = kSteps + k * direction[1];
            const LONG p = c + k * direction[0];
            const __m256i e = _mm256_abs_epi32(_mm256_sub_epi32(blue, Load8(row.blue[r] + p)));
            const __m256i f = _mm256_abs_epi32(_mm256_sub_epi32(red, Load8(row.red[r] + p)));
            taken = _mm256_and_si256(taken, _mm256_cmpgt_epi32(t3, _mm256_add_epi32(e, f)));
            taken = _mm256_andnot_si256(_mm256_cmpeq_epi32(f, zero), taken);
            if (None(taken))
                continue;
            taken = _mm256_and_si256(taken, RatioInside(e, f, lower, upper));
            sumRed = _mm256_add_epi32(sumRed, _mm256_and_si256(taken, Load8(row.ownRed[r] + p)));
            sumBlue = _mm256_add_epi32(sumBlue, _mm256_and_si256(taken, Load8(row.ownBlue[r] + p)));
            found = _mm256_sub_epi32(found, taken);
        }
    }
    const __m256i ownRed = Load8(row.ownRed[kSteps] + c);
    const __m256i ownBlue = Load8(row.ownBlue[kSteps] + c);
    const __m256i many = _mm256_cmpgt_epi32(found, _mm256_set1_epi32(3));
    const __m256i divisor = _mm256_add_epi32(found, _mm256_set1_epi32(1));
    const __m256i meanRed = FloatQuotient(_mm256_add_epi32(ownRed, sumRed), divisor);
    const __m256i meanBlue = FloatQuotient(_mm256_add_epi32(ownBlue, sumBlue), divisor);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row.outRed + x),
                        _mm256_blendv_epi8(ownRed, meanRed, many));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row.outBlue + x),
                        _mm256_blendv_epi8(ownBlue, meanBlue, many));
}

// Blocks of eight cover the row, the last one ending at its end and done again where it overlaps the block
// before; rows shorter than a block take the plain routine.
KV_AVX2 void Avx2Walk(const WalkRow& row) {
    if (row.count < 8) {
        PlainWalk(row);
        return;
    }
    const __m256d lower = _mm256_set1_pd(LowerRatio());
    const __m256d upper = _mm256_set1_pd(UpperRatio());
    LONG x = 0;
    for (; x + 8 <= row.count; x += 8)
        Avx2WalkBlock(row, x, lower, upper);
    if (x < row.count)
        Avx2WalkBlock(row, row.count - 8, lower, upper);
}

const Kernels kPlain = {PlainWalk};
const Kernels kAvx2 = {Avx2Walk};

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

const Kernels& Choose() {
    return CpuHas(CpuFeature::kAVX2) ? kAvx2 : kPlain;
}

} // namespace MoireRows
