#include "CUnsharpMaskRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace UnsharpMaskRows {
namespace {

#define KV_AVX2 __attribute__((target("avx2")))
#define KV_INLINE inline __attribute__((always_inline))

std::atomic<int> g_exactOverrides{0};

// The separable blur: the column sums of the window's rows into the first line (count + 2 reachX values),
// then the row sums of that line into the second (count values), each weight pair times the sum of the
// two values it stands for, the centre first. Both sets add in this order and agree bit for bit; the sums
// are rounded to a whole unit (they are not negative), so that a flat area blurs to its own value whatever
// the single-precision sums left over.

KV_INLINE void SharpenBody(const WORD* __restrict centre, const double* __restrict blur, LONG count,
                           double power, WORD* __restrict out) {
    for (LONG x = 0; x < count; ++x) {
        const double u = centre[x];
        const double result = std::min(std::max(u + power * (u - blur[x]), 0.0), 65535.0);
        out[x] = static_cast<WORD>(static_cast<std::int32_t>(result));
    }
}

// The plain separable blur in SSE2, which every x86-64 processor has: sixteen columns or outputs held in
// four registers over all the weights, as the AVX2 routine holds them in two, and summed in the same order.
inline __m128 Sse2Widen(__m128i words, bool high) {
    const __m128i zero = _mm_setzero_si128();
    return _mm_cvtepi32_ps(high ? _mm_unpackhi_epi16(words, zero) : _mm_unpacklo_epi16(words, zero));
}

inline __m128 Sse2PairSum(__m128i a, __m128i b, bool high) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i x = high ? _mm_unpackhi_epi16(a, zero) : _mm_unpacklo_epi16(a, zero);
    const __m128i y = high ? _mm_unpackhi_epi16(b, zero) : _mm_unpacklo_epi16(b, zero);
    return _mm_cvtepi32_ps(_mm_add_epi32(x, y));
}

inline __m128i LoadWords(const WORD* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

void PlainSeparable(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                    float* lines) {
    constexpr LONG kLanes = 4;
    constexpr LONG kHeld = 4 * kLanes;
    const LONG rx = kernel.GetReachX();
    const LONG ry = kernel.GetReachY();
    const LONG span = count + 2 * rx;
    const float* gx = kernel.AxisX();
    const float* gy = kernel.AxisY();
    float* columns = lines;
    const WORD* centre = rows[ry];
    const __m128 gy0 = _mm_set1_ps(gy[0]);
    LONG c = 0;
    for (; c + kHeld <= span; c += kHeld) {
        __m128 acc[4];
        for (int h = 0; h < 2; ++h) {
            const __m128i words = LoadWords(centre + c + 8 * h);
            acc[2 * h] = _mm_mul_ps(gy0, Sse2Widen(words, false));
            acc[2 * h + 1] = _mm_mul_ps(gy0, Sse2Widen(words, true));
        }
        for (LONG j = 1; j <= ry; ++j) {
            const __m128 g = _mm_set1_ps(gy[j]);
            for (int h = 0; h < 2; ++h) {
                const __m128i above = LoadWords(rows[ry - j] + c + 8 * h);
                const __m128i below = LoadWords(rows[ry + j] + c + 8 * h);
                acc[2 * h] = _mm_add_ps(acc[2 * h], _mm_mul_ps(g, Sse2PairSum(above, below, false)));
                acc[2 * h + 1] = _mm_add_ps(acc[2 * h + 1], _mm_mul_ps(g, Sse2PairSum(above, below, true)));
            }
        }
        for (int k = 0; k < 4; ++k)
            _mm_storeu_ps(columns + c + kLanes * k, acc[k]);
    }
    for (; c < span; ++c) {
        float a = gy[0] * static_cast<float>(centre[c]);
        for (LONG j = 1; j <= ry; ++j)
            a += gy[j] * static_cast<float>(std::int32_t{rows[ry - j][c]} + std::int32_t{rows[ry + j][c]});
        columns[c] = a;
    }
    const float* middle = columns + rx;
    const __m128 gx0 = _mm_set1_ps(gx[0]);
    const __m128 half = _mm_set1_ps(0.5f);
    LONG x = 0;
    for (; x + kHeld <= count; x += kHeld) {
        __m128 acc[4];
        for (int k = 0; k < 4; ++k)
            acc[k] = _mm_mul_ps(gx0, _mm_loadu_ps(middle + x + kLanes * k));
        for (LONG i = 1; i <= rx; ++i) {
            const __m128 g = _mm_set1_ps(gx[i]);
            for (int k = 0; k < 4; ++k) {
                const float* at = middle + x + kLanes * k;
                acc[k] =
                    _mm_add_ps(acc[k], _mm_mul_ps(g, _mm_add_ps(_mm_loadu_ps(at - i), _mm_loadu_ps(at + i))));
            }
        }
        for (int k = 0; k < 4; ++k) {
            const __m128i whole = _mm_cvttps_epi32(_mm_add_ps(acc[k], half));
            _mm_storeu_pd(out + x + kLanes * k, _mm_cvtepi32_pd(whole));
            _mm_storeu_pd(out + x + kLanes * k + 2, _mm_cvtepi32_pd(_mm_unpackhi_epi64(whole, whole)));
        }
    }
    for (; x < count; ++x) {
        float a = gx[0] * middle[x];
        for (LONG i = 1; i <= rx; ++i)
            a += gx[i] * (middle[x - i] + middle[x + i]);
        out[x] = static_cast<double>(static_cast<std::int32_t>(a + 0.5f));
    }
}

// The separable blur with the sums of sixteen columns or outputs held in registers over all the weights;
// every value is summed in the plain body's order.
KV_AVX2 inline __m256 Avx2PairSum(const WORD* a, const WORD* b) {
    const __m256i x = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
    const __m256i y = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
    return _mm256_cvtepi32_ps(_mm256_add_epi32(x, y));
}

KV_AVX2 inline __m256 Avx2Widen(const WORD* a) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))));
}

KV_AVX2 void Avx2Separable(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                           float* lines) {
    const LONG rx = kernel.GetReachX();
    const LONG ry = kernel.GetReachY();
    const LONG span = count + 2 * rx;
    const float* gx = kernel.AxisX();
    const float* gy = kernel.AxisY();
    float* columns = lines;
    const WORD* centre = rows[ry];
    const __m256 gy0 = _mm256_set1_ps(gy[0]);
    LONG c = 0;
    for (; c + 16 <= span; c += 16) {
        __m256 a = _mm256_mul_ps(gy0, Avx2Widen(centre + c));
        __m256 b = _mm256_mul_ps(gy0, Avx2Widen(centre + c + 8));
        for (LONG j = 1; j <= ry; ++j) {
            const __m256 g = _mm256_set1_ps(gy[j]);
            a = _mm256_add_ps(a, _mm256_mul_ps(g, Avx2PairSum(rows[ry - j] + c, rows[ry + j] + c)));
            b = _mm256_add_ps(b, _mm256_mul_ps(g, Avx2PairSum(rows[ry - j] + c + 8, rows[ry + j] + c + 8)));
        }
        _mm256_storeu_ps(columns + c, a);
        _mm256_storeu_ps(columns + c + 8, b);
    }
    for (; c < span; ++c) {
        float a = gy[0] * static_cast<float>(centre[c]);
        for (LONG j = 1; j <= ry; ++j)
            a += gy[j] * static_cast<float>(std::int32_t{rows[ry - j][c]} + std::int32_t{rows[ry + j][c]});
        columns[c] = a;
    }
    const float* middle = columns + rx;
    const __m256 gx0 = _mm256_set1_ps(gx[0]);
    const __m256 half = _mm256_set1_ps(0.5f);
    LONG x = 0;
    for (; x + 16 <= count; x += 16) {
        __m256 a = _mm256_mul_ps(gx0, _mm256_loadu_ps(middle + x));
        __m256 b = _mm256_mul_ps(gx0, _mm256_loadu_ps(middle + x + 8));
        for (LONG i = 1; i <= rx; ++i) {
            const __m256 g = _mm256_set1_ps(gx[i]);
            a = _mm256_add_ps(a, _mm256_mul_ps(g, _mm256_add_ps(_mm256_loadu_ps(middle + x - i),
                                                                _mm256_loadu_ps(middle + x + i))));
            b = _mm256_add_ps(b, _mm256_mul_ps(g, _mm256_add_ps(_mm256_loadu_ps(middle + x + 8 - i),
                                                                _mm256_loadu_ps(middle + x + 8 + i))));
        }
        const __m256i wholeA = _mm256_cvttps_epi32(_mm256_add_ps(a, half));
        const __m256i wholeB = _mm256_cvttps_epi32(_mm256_add_ps(b, half));
        _mm256_storeu_pd(out + x, _mm256_cvtepi32_pd(_mm256_castsi256_si128(wholeA)));
        _mm256_storeu_pd(out + x + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(wholeA, 1)));
        _mm256_storeu_pd(out + x + 8, _mm256_cvtepi32_pd(_mm256_castsi256_si128(wholeB)));
        _mm256_storeu_pd(out + x + 12, _mm256_cvtepi32_pd(_mm256_extracti128_si256(wholeB, 1)));
    }
    for (; x < count; ++x) {
        float a = gx[0] * middle[x];
        for (LONG i = 1; i <= rx; ++i)
            a += gx[i] * (middle[x - i] + middle[x + i]);
        out[x] = static_cast<double>(static_cast<std::int32_t>(a + 0.5f));
    }
}

// The plain body's arithmetic in SSE2, eight values at a time as on the AVX2 road; SSE2 packs only signed
// words, so the results are shifted down by half the 16-bit range for the pack and back after it.
void PlainSharpen(const WORD* centre, const double* blur, LONG count, double power, WORD* out) {
    const __m128d p = _mm_set1_pd(power);
    const __m128d zero = _mm_setzero_pd();
    const __m128d top = _mm_set1_pd(65535);
    const __m128i half = _mm_set1_epi32(0x8000);
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    // Four values from their widened 32-bit units: two doubles from each half.
    const auto four = [&](__m128i u32, const double* b) {
        const auto two = [&](__m128i pair, const double* at) {
            const __m128d u = _mm_cvtepi32_pd(pair);
            const __m128d r = _mm_add_pd(u, _mm_mul_pd(p, _mm_sub_pd(u, _mm_loadu_pd(at))));
            return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(r, zero), top));
        };
        const __m128i whole = _mm_unpacklo_epi64(two(u32, b), two(_mm_unpackhi_epi64(u32, u32), b + 2));
        return _mm_sub_epi32(whole, half);
    };
    const __m128i none = _mm_setzero_si128();
    LONG x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m128i u = LoadWords(centre + x);
        const __m128i lo = four(_mm_unpacklo_epi16(u, none), blur + x);
        const __m128i hi = four(_mm_unpackhi_epi16(u, none), blur + x + 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_xor_si128(_mm_packs_epi32(lo, hi), flip));
    }
    SharpenBody(centre + x, blur + x, count - x, power, out + x);
}

// The plain body's arithmetic, eight values at a time; a result of -0 truncates to 0 as there.
KV_AVX2 void Avx2Sharpen(const WORD* centre, const double* blur, LONG count, double power, WORD* out) {
    const __m256d p = _mm256_set1_pd(power);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d top = _mm256_set1_pd(65535);
    const auto four = [&](__m128i u32, const double* b) KV_AVX2 {
        const __m256d u = _mm256_cvtepi32_pd(u32);
        const __m256d r = _mm256_add_pd(u, _mm256_mul_pd(p, _mm256_sub_pd(u, _mm256_loadu_pd(b))));
        return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(r, zero), top));
    };
    LONG x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i u =
            _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(centre + x)));
        const __m128i lo = four(_mm256_castsi256_si128(u), blur + x);
        const __m128i hi = four(_mm256_extracti128_si256(u, 1), blur + x + 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi32(lo, hi));
    }
    SharpenBody(centre + x, blur + x, count - x, power, out + x);
}

// The weighted mean cut to 15 fractional bits, the same steps in every routine; the mean of 16-bit values
// times 2^15 stays below 2^31, so the cut is a conversion to 32-bit integers, which the vectoriser takes.
KV_INLINE double CutBlur(double acc, double divisor) {
    return static_cast<double>(static_cast<std::int32_t>(acc * 0x1p15 / divisor)) * 0x1p-15;
}

// The plain weighted blur sums in integers: SSE2 adds and multiplies two doubles at a time, the AVX2 road
// four, and the double sums keep the few floating-point adders busy; 32-bit adds and 32 x 32 -> 64-bit
// products spread over more of the processor's units. A kernel the same about its diagonal also takes
// each weight off it once for the taps on both sides, which halves the products. A folded value is below
// 2^17, the at most four folded values one weight then stands for sum to below 2^19 and a weight is below
// 2^16, so every product and sum is exact and the same integer the double sums give.

// A folded value as the plain road keeps it, in the scratch rows the other roads fill with doubles: read
// and written only through this type, which may alias them.
using FoldedSum = std::int32_t __attribute__((may_alias));

// v[c] = a[c] + b[c] (b may be null) for span columns, as 32-bit integers.
void Sse2FoldWhole(const WORD* a, const WORD* b, LONG span, FoldedSum* v) {
    const __m128i zero = _mm_setzero_si128();
    LONG c = 0;
    for (; c + 8 <= span; c += 8) {
        const __m128i wa = LoadWords(a + c);
        __m128i lo = _mm_unpacklo_epi16(wa, zero);
        __m128i hi = _mm_unpackhi_epi16(wa, zero);
        if (b) {
            const __m128i wb = LoadWords(b + c);
            lo = _mm_add_epi32(lo, _mm_unpacklo_epi16(wb, zero));
            hi = _mm_add_epi32(hi, _mm_unpackhi_epi16(wb, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + c), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + c + 4), hi);
    }
    for (; c < span; ++c)
        v[c] = std::int32_t{a[c]} + (b ? std::int32_t{b[c]} : 0);
}

inline __m128i LoadWhole(const FoldedSum* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Two 64-bit sums below 2^53 as doubles, exactly: each 32-bit half through the exponent of 2^52.
inline __m128d Sse2WideToDouble(__m128i sums) {
    const __m128i exponent = _mm_set1_epi64x(0x4330000000000000);
    const __m128d bias = _mm_set1_pd(0x1p52);
    const __m128i lowBits = _mm_and_si128(sums, _mm_set1_epi64x(0xffffffff));
    const __m128d low = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(lowBits, exponent)), bias);
    const __m128d high = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(_mm_srli_epi64(sums, 32), exponent)), bias);
    return _mm_add_pd(_mm_mul_pd(high, _mm_set1_pd(0x1p32)), low);
}

// CutBlur's steps for Count pairs of sums, the cut a conversion to 32-bit integers and back. Division, two
// values at a time, is the slow step on SSE2: a product by the divisor's reciprocal is within 2^-51 of the
// quotient relatively, so where the product made 2^-50 smaller and larger cuts to the same integer, that is
// the quotient's cut; only a block where one does not (a quotient at or next to an integer) is divided.
template <int Count>
inline void Sse2Cut(const __m128d* acc, double divisor, double reciprocal, double* out) {
    const __m128d up = _mm_set1_pd(0x1p15);
    __m128d scaled[Count];
    __m128i cut[Count];
    __m128i differ = _mm_setzero_si128();
    for (int i = 0; i < Count; ++i) {
        scaled[i] = _mm_mul_pd(acc[i], up);
        const __m128d near = _mm_mul_pd(scaled[i], _mm_set1_pd(reciprocal));
        cut[i] = _mm_cvttpd_epi32(_mm_mul_pd(near, _mm_set1_pd(1 - 0x1p-50)));
        const __m128i above = _mm_cvttpd_epi32(_mm_mul_pd(near, _mm_set1_pd(1 + 0x1p-50)));
        differ = _mm_or_si128(differ, _mm_xor_si128(cut[i], above));
    }
    if (_mm_movemask_epi8(differ))
        for (int i = 0; i < Count; ++i)
            cut[i] = _mm_cvttpd_epi32(_mm_div_pd(scaled[i], _mm_set1_pd(divisor)));
    for (int i = 0; i < Count; ++i)
        _mm_storeu_pd(out + 2 * i, _mm_mul_pd(_mm_cvtepi32_pd(cut[i]), _mm_set1_pd(0x1p-15)));
}

// The weighted sums of four outputs per unit from x on: the even outputs' in one register, the odd ones'
// in another, as the 64-bit products fall.
template <int Units, bool Diagonal>
inline void Sse2WholeBlock(const CUnsharpMaskKernel& kernel, const FoldedSum* folded, LONG span, LONG x,
                           double reciprocal, double* out) {
    __m128i even[Units];
    __m128i odd[Units];
    for (int u = 0; u < Units; ++u)
        even[u] = odd[u] = _mm_setzero_si128();
    const LONG reachX = kernel.GetReachX();
    const auto add = [&](int u, __m128i sums, __m128i weight) {
        even[u] = _mm_add_epi64(even[u], _mm_mul_epu32(sums, weight));
        odd[u] = _mm_add_epi64(odd[u], _mm_mul_epu32(_mm_srli_epi64(sums, 32), weight));
    };
    // The folded row dy's values at dx to either side of four outputs.
    const auto pair = [&](LONG dy, LONG dx, int u) {
        const FoldedSum* v = folded + dy * span + reachX + x + 4 * u;
        return _mm_add_epi32(LoadWhole(v - dx), LoadWhole(v + dx));
    };
    // The folded row dy's own values at four outputs.
    const auto own = [&](LONG dy, int u) { return LoadWhole(folded + dy * span + reachX + x + 4 * u); };
    if constexpr (Diagonal) {
        // Weight (a, b), b >= a, for its taps in row a at b and in row b at a; every tap with a weight
        // lies within the reach of its row, so each is taken once. Row 0 first, whose centre is single.
        const WORD* w = kernel.Row(0) + reachX;
        const __m128i centre = _mm_set1_epi32(w[0]);
        for (int u = 0; u < Units; ++u)
            add(u, own(0, u), centre);
        for (LONG b = 1; b <= kernel.RowReach(0); ++b) {
            const __m128i weight = _mm_set1_epi32(w[b]);
            for (int u = 0; u < Units; ++u)
                add(u, _mm_add_epi32(pair(0, b, u), own(b, u)), weight);
        }
        for (LONG a = 1; a <= kernel.GetReachY(); ++a) {
            w = kernel.Row(a) + reachX;
            const LONG reach = kernel.RowReach(a);
            if (reach < a)
                continue;
            const __m128i diagonal = _mm_set1_epi32(w[a]);
            for (int u = 0; u < Units; ++u)
                add(u, pair(a, a, u), diagonal);
            for (LONG b = a + 1; b <= reach; ++b) {
                const __m128i weight = _mm_set1_epi32(w[b]);
                for (int u = 0; u < Units; ++u)
                    add(u, _mm_add_epi32(pair(a, b, u), pair(b, a, u)), weight);
            }
        }
    }
    for (LONG dy = 0; !Diagonal && dy <= kernel.GetReachY(); ++dy) {
        const LONG reach = kernel.RowReach(dy);
        if (reach < 0)
            continue;
        const WORD* w = kernel.Row(dy) + reachX;
        const FoldedSum* v = folded + dy * span + reachX + x;
        const __m128i centre = _mm_set1_epi32(w[0]);
        for (int u = 0; u < Units; ++u)
            add(u, LoadWhole(v + 4 * u), centre);
        for (LONG dx = 1; dx <= reach; ++dx) {
            const __m128i weight = _mm_set1_epi32(w[dx]);
            for (int u = 0; u < Units; ++u)
                add(u, _mm_add_epi32(LoadWhole(v + 4 * u - dx), LoadWhole(v + 4 * u + dx)), weight);
        }
    }
    __m128d sums[2 * Units];
    for (int u = 0; u < Units; ++u) {
        const __m128d e = Sse2WideToDouble(even[u]);
        const __m128d o = Sse2WideToDouble(odd[u]);
        sums[2 * u] = _mm_unpacklo_pd(e, o);
        sums[2 * u + 1] = _mm_unpackhi_pd(e, o);
    }
    Sse2Cut<2 * Units>(sums, kernel.GetDivisor(), reciprocal, out + x);
}

// The window folded as the AVX2 routine folds it (row dy: the rows dy above and below added), then the
// quadrant's weights over blocks of outputs held in registers; scratch holds the folded rows as integers.
void PlainWeighted(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                   double* scratch) {
    static_assert(sizeof(std::int32_t) <= sizeof(double));
    const LONG reachX = kernel.GetReachX();
    const LONG reachY = kernel.GetReachY();
    const LONG span = count + 2 * reachX;
    auto* folded = reinterpret_cast<FoldedSum*>(scratch);
    const double reciprocal = 1 / kernel.GetDivisor();
    for (LONG dy = 0; dy <= reachY; ++dy)
        Sse2FoldWhole(rows[reachY + dy], dy ? rows[reachY - dy] : nullptr, span, folded + dy * span);
    LONG x = 0;
    if (kernel.IsDiagonal()) {
        for (; x + 8 <= count; x += 8)
            Sse2WholeBlock<2, true>(kernel, folded, span, x, reciprocal, out);
        for (; x + 4 <= count; x += 4)
            Sse2WholeBlock<1, true>(kernel, folded, span, x, reciprocal, out);
    } else {
        for (; x + 8 <= count; x += 8)
            Sse2WholeBlock<2, false>(kernel, folded, span, x, reciprocal, out);
        for (; x + 4 <= count; x += 4)
            Sse2WholeBlock<1, false>(kernel, folded, span, x, reciprocal, out);
    }
    for (; x < count; ++x) {
        std::int64_t acc = 0;
        for (LONG dy = 0; dy <= reachY; ++dy) {
            const WORD* w = kernel.Row(dy) + reachX;
            const FoldedSum* v = folded + dy * span + reachX + x;
            if (kernel.RowReach(dy) < 0)
                continue;
            acc += std::int64_t{w[0]} * v[0];
            for (LONG dx = 1; dx <= kernel.RowReach(dy); ++dx)
                acc += std::int64_t{w[dx]} * (v[-dx] + v[dx]);
        }
        out[x] = CutBlur(static_cast<double>(acc), kernel.GetDivisor());
    }
}

void PlainBox(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out, double*) {
    const LONG side = 2 * kernel.GetHalfSize() + 1;
    for (LONG x = 0; x < count; ++x) {
        std::uint64_t sum = 0;
        for (LONG j = 0; j < side; ++j)
            for (LONG i = 0; i < side; ++i)
                sum += rows[j][x + i];
        out[x] = static_cast<double>(sum) / kernel.GetDivisor();
    }
}

// v[c] = a[c] + b[c] (b may be null) for span columns, as doubles.
KV_AVX2 void Avx2Fold(const WORD* a, const WORD* b, LONG span, double* v) {
    LONG c = 0;
    for (; c + 8 <= span; c += 8) {
        __m256i sum = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + c)));
        if (b)
            sum = _mm256_add_epi32(
                sum, _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + c))));
        _mm256_storeu_pd(v + c, _mm256_cvtepi32_pd(_mm256_castsi256_si128(sum)));
        _mm256_storeu_pd(v + c + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(sum, 1)));
    }
    for (; c < span; ++c)
        v[c] = a[c] + (b ? b[c] : 0);
}

// The weighted sum at the folded column v (the output pixel's own), four pixels from v on.
template <int Blocks>
KV_AVX2 inline void Avx2Accumulate(const double* weights, LONG reach, const double* v, __m256d* acc) {
    const __m256d centre = _mm256_broadcast_sd(weights);
    for (int b = 0; b < Blocks; ++b)
        acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(centre, _mm256_loadu_pd(v + 4 * b)));
    for (LONG dx = 1; dx <= reach; ++dx) {
        const __m256d w = _mm256_broadcast_sd(weights + dx);
        for (int b = 0; b < Blocks; ++b) {
            const __m256d pair =
                _mm256_add_pd(_mm256_loadu_pd(v + 4 * b - dx), _mm256_loadu_pd(v + 4 * b + dx));
            acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(w, pair));
        }
    }
}

// The folded rows: row dy holds the window rows dy above and below the output row added (dy = 0: the
// output row's own), so each weight of a quadrant multiplies the sum of the four values it stands for.
template <int Blocks>
KV_AVX2 inline void Avx2WeightedBlock(const CUnsharpMaskKernel& kernel, const double* folded, LONG span,
                                      LONG x, double* out) {
    __m256d acc[Blocks];
    for (int b = 0; b < Blocks; ++b)
        acc[b] = _mm256_setzero_pd();
    for (LONG dy = 0; dy <= kernel.GetReachY(); ++dy)
        if (kernel.RowReach(dy) >= 0)
            Avx2Accumulate<Blocks>(kernel.HalfRow(dy), kernel.RowReach(dy),
                                   folded + dy * span + kernel.GetReachX() + x, acc);
    const __m256d up = _mm256_set1_pd(0x1p15);
    const __m256d divisor = _mm256_set1_pd(kernel.GetDivisor());
    const __m256d down = _mm256_set1_pd(0x1p-15);
    for (int b = 0; b < Blocks; ++b) {
        const __m256d mean = _mm256_div_pd(_mm256_mul_pd(acc[b], up), divisor);
        const __m256d cut = _mm256_round_pd(mean, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        _mm256_storeu_pd(out + x + 4 * b, _mm256_mul_pd(cut, down));
    }
}

KV_AVX2 void Avx2Weighted(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                          double* scratch) {
    const LONG reachX = kernel.GetReachX();
    const LONG reachY = kernel.GetReachY();
    const LONG span = count + 2 * reachX;
    for (LONG dy = 0; dy <= reachY; ++dy)
        Avx2Fold(rows[reachY + dy], dy ? rows[reachY - dy] : nullptr, span, scratch + dy * span);
    LONG x = 0;
    for (; x + 16 <= count; x += 16)
        Avx2WeightedBlock<4>(kernel, scratch, span, x, out);
    for (; x + 4 <= count; x += 4)
        Avx2WeightedBlock<1>(kernel, scratch, span, x, out);
    for (; x < count; ++x) {
        double acc = 0;
        for (LONG dy = 0; dy <= reachY; ++dy) {
            const double* w = kernel.HalfRow(dy);
            const double* v = scratch + dy * span + reachX + x;
            if (kernel.RowReach(dy) < 0)
                continue;
            acc += w[0] * v[0];
            for (LONG dx = 1; dx <= kernel.RowReach(dy); ++dx)
                acc += w[dx] * (v[-dx] + v[dx]);
        }
        out[x] = CutBlur(acc, kernel.GetDivisor());
    }
}

// Column sums over the window's rows (at most 2049 values of 16 bits: they fit 32 bits), then a running
// sum along the row.
KV_AVX2 void Avx2Box(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                     double* scratch) {
    const LONG n = kernel.GetHalfSize();
    const LONG side = 2 * n + 1;
    const LONG span = count + 2 * n;
    LONG c = 0;
    for (; c + 8 <= span; c += 8) {
        __m256i sum = _mm256_setzero_si256();
        for (LONG j = 0; j < side; ++j)
            sum = _mm256_add_epi32(
                sum, _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + c))));
        _mm256_storeu_pd(scratch + c, _mm256_cvtepi32_pd(_mm256_castsi256_si128(sum)));
        _mm256_storeu_pd(scratch + c + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(sum, 1)));
    }
    for (; c < span; ++c) {
        std::uint32_t sum = 0;
        for (LONG j = 0; j < side; ++j)
            sum += rows[j][c];
        scratch[c] = sum;
    }
    double running = 0;
    for (LONG i = 0; i < side; ++i)
        running += scratch[i];
    for (LONG x = 0; x < count; ++x) {
        if (x > 0)
            running += scratch[x + 2 * n] - scratch[x - 1];
        out[x] = running / kernel.GetDivisor();
    }
}

KV_INLINE void SplitBody(const WORD* __restrict pixels, LONG count, WORD* __restrict first,
                         WORD* __restrict second, WORD* __restrict third) {
    for (LONG x = 0; x < count; ++x) {
        first[x] = pixels[3 * x];
        second[x] = pixels[3 * x + 1];
        third[x] = pixels[3 * x + 2];
    }
}

KV_INLINE void MergeBody(const WORD* __restrict first, const WORD* __restrict second,
                         const WORD* __restrict third, LONG count, WORD* __restrict pixels) {
    for (LONG x = 0; x < count; ++x) {
        pixels[3 * x] = first[x];
        pixels[3 * x + 1] = second[x];
        pixels[3 * x + 2] = third[x];
    }
}

void PlainSplit(const WORD* pixels, LONG count, WORD* first, WORD* second, WORD* third) {
    SplitBody(pixels, count, first, second, third);
}

void PlainMerge(const WORD* first, const WORD* second, const WORD* third, LONG count, WORD* pixels) {
    MergeBody(first, second, third, count, pixels);
}

// Eight pixels (24 samples, three 16-byte blocks) at a time. Sample s of the pixels is sample s % 8 of
// block s / 8, and pixel j's channel p is sample 3 j + p: each block gives a plane the samples it holds
// through one byte shuffle (index 0x80 writes 0), and the three results are or-ed.
struct CShuffle {
    alignas(16) BYTE bytes[16];
};

// The shuffle that takes plane p's samples out of block k.
constexpr CShuffle SplitShuffle(int p, int k) {
    CShuffle m{};
    for (int j = 0; j < 8; ++j) {
        const int s = 3 * j + p;
        const bool here = s / 8 == k;
        m.bytes[2 * j] = here ? static_cast<BYTE>(2 * (s % 8)) : 0x80;
        m.bytes[2 * j + 1] = here ? static_cast<BYTE>(2 * (s % 8) + 1) : 0x80;
    }
    return m;
}

// The shuffle that puts plane p's samples into block k.
constexpr CShuffle MergeShuffle(int k, int p) {
    CShuffle m{};
    for (int local = 0; local < 8; ++local) {
        const int s = 8 * k + local;
        const bool here = s % 3 == p;
        m.bytes[2 * local] = here ? static_cast<BYTE>(2 * (s / 3)) : 0x80;
        m.bytes[2 * local + 1] = here ? static_cast<BYTE>(2 * (s / 3) + 1) : 0x80;
    }
    return m;
}

// Entry 3 o + i: what input block i gives output block o.
template <CShuffle (*Make)(int, int)>
constexpr std::array<CShuffle, 9> ShuffleTable() {
    std::array<CShuffle, 9> t{};
    for (int o = 0; o < 3; ++o)
        for (int i = 0; i < 3; ++i)
            t[3 * o + i] = Make(o, i);
    return t;
}

constexpr std::array<CShuffle, 9> kSplit = ShuffleTable<SplitShuffle>();
constexpr std::array<CShuffle, 9> kMerge = ShuffleTable<MergeShuffle>();

KV_AVX2 inline __m128i Shuffled(const std::array<CShuffle, 9>& table, int o, const __m128i* blocks) {
    __m128i v = _mm_setzero_si128();
    for (int i = 0; i < 3; ++i)
        v = _mm_or_si128(v, _mm_shuffle_epi8(blocks[i], _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                            table[3 * o + i].bytes))));
    return v;
}

KV_AVX2 void Avx2Split(const WORD* pixels, LONG count, WORD* first, WORD* second, WORD* third) {
    WORD* planes[3] = {first, second, third};
    LONG x = 0;
    for (; x + 8 <= count; x += 8) {
        __m128i blocks[3];
        for (int k = 0; k < 3; ++k)
            blocks[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 3 * x + 8 * k));
        for (int p = 0; p < 3; ++p)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(planes[p] + x), Shuffled(kSplit, p, blocks));
    }
    SplitBody(pixels + 3 * x, count - x, first + x, second + x, third + x);
}

KV_AVX2 void Avx2Merge(const WORD* first, const WORD* second, const WORD* third, LONG count, WORD* pixels) {
    const WORD* planes[3] = {first, second, third};
    LONG x = 0;
    for (; x + 8 <= count; x += 8) {
        __m128i blocks[3];
        for (int p = 0; p < 3; ++p)
            blocks[p] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(planes[p] + x));
        for (int k = 0; k < 3; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + 3 * x + 8 * k), Shuffled(kMerge, k, blocks));
    }
    MergeBody(first + x, second + x, third + x, count - x, pixels + 3 * x);
}

const Kernels kPlain = {PlainWeighted, PlainBox, PlainSeparable, PlainSharpen, PlainSplit, PlainMerge};
const Kernels kAvx2 = {Avx2Weighted, Avx2Box, Avx2Separable, Avx2Sharpen, Avx2Split, Avx2Merge};

} // namespace

const Kernels& Plain() {
    return kPlain;
}

const Kernels& Simd() {
    return kAvx2;
}

const Kernels& Choose() {
    return CpuChoose(kPlain, kAvx2);
}

std::size_t ScratchSize(const CUnsharpMaskKernel& kernel, LONG count) {
    const std::size_t span =
        static_cast<std::size_t>(count) + 2 * static_cast<std::size_t>(kernel.GetHalfSize());
    return span * (static_cast<std::size_t>(kernel.GetReachY()) + 1);
}

std::size_t SeparableScratchSize(const CUnsharpMaskKernel& kernel, LONG count) {
    return 2 * static_cast<std::size_t>(count) + 2 * static_cast<std::size_t>(kernel.GetReachX());
}

bool UsesSeparable(const CUnsharpMaskKernel& kernel) {
    return kernel.IsSeparable() && g_exactOverrides.load(std::memory_order_relaxed) == 0;
}

CExactBlurOverride::CExactBlurOverride() {
    ++g_exactOverrides;
}

CExactBlurOverride::~CExactBlurOverride() {
    --g_exactOverrides;
}

} // namespace UnsharpMaskRows
