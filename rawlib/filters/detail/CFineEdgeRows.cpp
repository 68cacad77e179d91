#include "CFineEdgeRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace FineEdgeRows {

namespace {

// The four directions of the rebuild, in the order horizontal, vertical, NW-SE and NE-SW; the two
// neighbours of the centre along each.
constexpr int kNeighbours[4][2][2] = {
    {{-1, 0}, {1, 0}}, {{0, -1}, {0, 1}}, {{-1, -1}, {1, 1}}, {{1, -1}, {-1, 1}}};

void ScalarSharpen(const SharpenRow& row) {
    const LONG* const* g = row.green;
    for (LONG k = 0; k < row.count; ++k) {
        const LONG c = g[1][k + 1];
        const LONG b = g[0][k] + 2 * g[0][k + 1] + g[0][k + 2] + 2 * (g[1][k] + 2 * c + g[1][k + 2]) +
                       g[2][k] + 2 * g[2][k + 1] + g[2][k + 2];
        LONG low = g[0][k];
        LONG high = g[0][k];
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 3; ++dx)
                if (dy != 1 || dx != 1) {
                    low = std::min(low, g[dy][k + dx]);
                    high = std::max(high, g[dy][k + dx]);
                }
        row.out[k] = std::clamp((80 * c - 3 * b) / 32, low, high);
    }
}

void ScalarSmooth(const SmoothRow& row) {
    for (LONG k = 0; k < row.count; ++k) {
        const LONG centre = row.green[2][k + 2];
        LONG activity = 0;
        for (int dy = 0; dy < 5; ++dy)
            for (int dx = 0; dx < 5; ++dx)
                activity += std::abs(row.green[dy][k + dx] - centre);
        if (activity <= kSmoothingActivity) {
            row.outRed[k] = row.red[2][k + 2];
            row.outBlue[k] = row.blue[2][k + 2];
            continue;
        }
        const LONG mean = activity / 25;
        const LONG divisor = activity / 32768 + 1;
        LONG weights = 0;
        LONG red = 0;
        LONG blue = 0;
        for (int dy = 0; dy < 5; ++dy)
            for (int dx = 0; dx < 5; ++dx) {
                const LONG w = std::max<LONG>(0, mean - std::abs(row.green[dy][k + dx] - centre)) / divisor;
                weights += w;
                red += w * row.red[dy][k + dx];
                blue += w * row.blue[dy][k + dx];
            }
        row.outRed[k] = red / weights;
        row.outBlue[k] = blue / weights;
    }
}

// The activities of the horizontal, vertical and two diagonal directions at the centre of a 5 x 5 window;
// g(dx, dy) is the value dx columns right and dy rows down of the centre.
template <class G>
void Activities(const G& g, LONG a[4]) {
    const LONG c = g(0, 0);
    const LONG n = g(0, -1);
    const LONG s = g(0, 1);
    const LONG w = g(-1, 0);
    const LONG e = g(1, 0);
    a[0] = 2 * (std::abs(n - g(-2, -1)) + std::abs(n - g(2, -1)) + std::abs(w - e)) +
           3 * (std::abs(c - w) + std::abs(c - e));
    a[1] = 2 * (std::abs(w - g(-1, -2)) + std::abs(w - g(-1, 2)) + std::abs(n - s)) +
           3 * (std::abs(c - n) + std::abs(c - s));
    a[2] = 2 * (std::abs(s - g(1, 2)) + std::abs(w - s) + std::abs(g(-2, -1) - w)) +
           3 * (std::abs(c - g(-1, -1)) + std::abs(c - g(1, 1)));
    a[3] = 2 * (std::abs(n - g(1, -2)) + std::abs(g(-2, 1) - w) + std::abs(w - n)) +
           3 * (std::abs(c - g(1, -1)) + std::abs(c - g(-1, 1)));
}

void ScalarRebuild(const RebuildRow& row) {
    for (LONG x = 0; x < row.count; ++x) {
        auto g = [&](int dx, int dy) { return row.green[2 + dy][x + 2 + dx]; };
        LONG a[4];
        Activities(g, a);
        const LONG total = a[0] + a[1] + a[2] + a[3];
        LONG weight[4];
        LONG sum = 0;
        for (int d = 0; d < 4; ++d) {
            weight[d] = std::max<LONG>(0, total - 4 * a[d]);
            sum += weight[d];
        }
        if (sum == 0) {
            row.outGreen[x] = g(0, 0);
            row.outRed[x] = row.red[1][x + 1];
            row.outBlue[x] = row.blue[1][x + 1];
            continue;
        }
        const LONG q = sum / 32768 + 1;
        for (LONG& w : weight)
            w /= q;
        sum /= q;
        // Each direction's average of centre and neighbours, weighted.
        auto rebuilt = [&](auto value) {
            std::int64_t total = 0;
            for (int d = 0; d < 4; ++d) {
                const LONG along = 2 * value(0, 0) + value(kNeighbours[d][0][0], kNeighbours[d][0][1]) +
                                   value(kNeighbours[d][1][0], kNeighbours[d][1][1]);
                total += static_cast<std::int64_t>(weight[d]) * (along / 4);
            }
            return static_cast<LONG>(total / sum);
        };
        row.outGreen[x] = rebuilt(g);
        row.outRed[x] = rebuilt([&](int dx, int dy) { return row.red[1 + dy][x + 1 + dx]; });
        row.outBlue[x] = rebuilt([&](int dx, int dy) { return row.blue[1 + dy][x + 1 + dx]; });
    }
}

// The SIMD routines compute a block of positions at a time (four on the plain path, eight on the AVX2
// path), the last block ending at the row's end and done again where it overlaps the block before; rows
// shorter than a block take the scalar routine. Their divisions go through floating point where that is
// exact: a float quotient of integers below 2^24 truncates to the integer quotient, and so does a double
// quotient of 32-bit integers. Both paths take the same steps lane by lane, so they agree bit for bit.

template <class Block>
inline void ForEachBlockOf4(LONG count, Block block) {
    LONG t = 0;
    for (; t + 4 <= count; t += 4)
        block(t);
    if (t < count)
        block(count - 4);
}

// The plain path: four positions at a time in the SSE2 registers every x86-64 processor has. SSE2 lacks
// 32-bit absolute values, minima, maxima and products; where the values allow, the 16-bit halves of the
// lanes stand in (green stays within 0 .. 65535, so a lane's high half is zero), and products add up as
// 64-bit lanes whose low halves are the 32-bit sums.

inline __m128i Load4(const LONG* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void Store4(LONG* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// |a - b| for lanes within 0 .. 65535.
inline __m128i Sse2Distance(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu16(a, b), _mm_subs_epu16(b, a));
}

// mask ? b : a, mask lanes all ones or all zeros.
inline __m128i Sse2Select(__m128i a, __m128i b, __m128i mask) {
    return _mm_or_si128(_mm_and_si128(mask, b), _mm_andnot_si128(mask, a));
}

inline __m128i Sse2Min(__m128i a, __m128i b) {
    return Sse2Select(a, b, _mm_cmpgt_epi32(a, b));
}

inline __m128i Sse2Max(__m128i a, __m128i b) {
    return Sse2Select(a, b, _mm_cmpgt_epi32(b, a));
}

inline __m128i Sse2NotBelowZero(__m128i v) {
    return _mm_andnot_si128(_mm_srai_epi32(v, 31), v);
}

inline __m128i Sse2Times3(__m128i v) {
    return _mm_add_epi32(_mm_slli_epi32(v, 1), v);
}

// Sums of 32-bit products kept in the 64-bit lanes of the even and of the odd positions; the low 32 bits
// of a product or a sum are the same whether the lanes count as signed or unsigned.
struct Sse2ProductSum {
    __m128i even = _mm_setzero_si128();
    __m128i odd = _mm_setzero_si128();

    // a's odd positions already moved down into the even ones.
    void Add(__m128i a, __m128i aOdd, __m128i b) {
        even = _mm_add_epi64(even, _mm_mul_epu32(a, b));
        odd = _mm_add_epi64(odd, _mm_mul_epu32(aOdd, _mm_srli_epi64(b, 32)));
    }

    __m128i Lanes() const {
        return _mm_or_si128(_mm_and_si128(even, _mm_set_epi32(0, -1, 0, -1)), _mm_slli_epi64(odd, 32));
    }
};

template <int N>
inline __m128i Sse2DivPow2(__m128i v) {
    const __m128i bias = _mm_srli_epi32(_mm_srai_epi32(v, 31), 32 - N);
    return _mm_srai_epi32(_mm_add_epi32(v, bias), N);
}

inline __m128i Sse2FloatQuotient(__m128i a, __m128i b) {
    return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(a), _mm_cvtepi32_ps(b)));
}

inline __m128i Sse2DoubleQuotient(__m128i a, __m128i b) {
    const __m128i low = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(a), _mm_cvtepi32_pd(b)));
    const __m128i high = _mm_cvttpd_epi32(
        _mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(a, 8)), _mm_cvtepi32_pd(_mm_srli_si128(b, 8))));
    return _mm_unpacklo_epi64(low, high);
}

inline __m128i Sse2SideSum(__m128i a, __m128i m, __m128i b) {
    return _mm_add_epi32(_mm_add_epi32(a, b), _mm_slli_epi32(m, 1));
}

inline __m128i Sse2Sum3(__m128i a, __m128i b, __m128i c) {
    return _mm_add_epi32(_mm_add_epi32(a, b), c);
}

inline __m128i Sse2Activity(__m128i twice, __m128i thrice) {
    return _mm_add_epi32(_mm_slli_epi32(twice, 1), Sse2Times3(thrice));
}

void Sse2Sharpen(const SharpenRow& row) {
    if (row.count < 4) {
        ScalarSharpen(row);
        return;
    }
    const LONG* const* g = row.green;
    // Green moved to the signed 16-bit range in the low halves so that their minima and maxima hold.
    const __m128i flip = _mm_set1_epi32(0x8000);
    ForEachBlockOf4(row.count, [&](LONG k) {
        __m128i v[3][3];
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 3; ++dx)
                v[dy][dx] = Load4(g[dy] + k + dx);
        const __m128i c = v[1][1];
        const __m128i b = _mm_add_epi32(
            _mm_add_epi32(Sse2SideSum(v[0][0], v[0][1], v[0][2]), Sse2SideSum(v[2][0], v[2][1], v[2][2])),
            _mm_slli_epi32(Sse2SideSum(v[1][0], c, v[1][2]), 1));
        // 80 c = 64 c + 16 c.
        const __m128i c80 = _mm_add_epi32(_mm_slli_epi32(c, 6), _mm_slli_epi32(c, 4));
        const __m128i e = Sse2DivPow2<5>(_mm_sub_epi32(c80, Sse2Times3(b)));
        __m128i low = _mm_xor_si128(v[0][0], flip);
        __m128i high = low;
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 3; ++dx)
                if ((dy != 1 || dx != 1) && (dy != 0 || dx != 0)) {
                    const __m128i flipped = _mm_xor_si128(v[dy][dx], flip);
                    low = _mm_min_epi16(low, flipped);
                    high = _mm_max_epi16(high, flipped);
                }
        low = _mm_xor_si128(low, flip);
        high = _mm_xor_si128(high, flip);
        Store4(row.out + k, Sse2Min(Sse2Max(e, low), high));
    });
}

void Sse2Smooth(const SmoothRow& row) {
    if (row.count < 4) {
        ScalarSmooth(row);
        return;
    }
    ForEachBlockOf4(row.count, [&](LONG k) {
        const __m128i centre = Load4(row.green[2] + k + 2);
        // The distances to the centre, kept for the weights.
        __m128i distances[5][5];
        __m128i activity = _mm_setzero_si128();
        for (int dy = 0; dy < 5; ++dy)
            for (int dx = 0; dx < 5; ++dx) {
                distances[dy][dx] = Sse2Distance(Load4(row.green[dy] + k + dx), centre);
                activity = _mm_add_epi32(activity, distances[dy][dx]);
            }
        const __m128i keepRed = Load4(row.red[2] + k + 2);
        const __m128i keepBlue = Load4(row.blue[2] + k + 2);
        const __m128i smooth = _mm_cmpgt_epi32(activity, _mm_set1_epi32(kSmoothingActivity));
        if (_mm_movemask_epi8(smooth) == 0) {
            Store4(row.outRed + k, keepRed);
            Store4(row.outBlue + k, keepBlue);
            return;
        }
        // The room below the mean in floats, which hold these integers exactly; the quotient is the
        // AVX2 path's.
        const __m128 mean = _mm_cvtepi32_ps(Sse2FloatQuotient(activity, _mm_set1_epi32(25)));
        const __m128 divisor =
            _mm_cvtepi32_ps(_mm_add_epi32(_mm_srli_epi32(activity, 15), _mm_set1_epi32(1)));
        __m128i weights = _mm_setzero_si128();
        Sse2ProductSum red;
        Sse2ProductSum blue;
        for (int dy = 0; dy < 5; ++dy)
            for (int dx = 0; dx < 5; ++dx) {
                const __m128 distance = _mm_cvtepi32_ps(distances[dy][dx]);
                const __m128 room = _mm_max_ps(_mm_sub_ps(mean, distance), _mm_setzero_ps());
                const __m128i w = _mm_cvttps_epi32(_mm_div_ps(room, divisor));
                const __m128i wOdd = _mm_srli_epi64(w, 32);
                weights = _mm_add_epi32(weights, w);
                red.Add(w, wOdd, Load4(row.red[dy] + k + dx));
                blue.Add(w, wOdd, Load4(row.blue[dy] + k + dx));
            }
        Store4(row.outRed + k, Sse2Select(keepRed, Sse2DoubleQuotient(red.Lanes(), weights), smooth));
        Store4(row.outBlue + k, Sse2Select(keepBlue, Sse2DoubleQuotient(blue.Lanes(), weights), smooth));
    });
}

inline __m128i Sse2Along(__m128i c, __m128i a, __m128i b) {
    return Sse2DivPow2<2>(_mm_add_epi32(_mm_slli_epi32(c, 1), _mm_add_epi32(a, b)));
}

void Sse2Rebuild(const RebuildRow& row) {
    if (row.count < 4) {
        ScalarRebuild(row);
        return;
    }
    ForEachBlockOf4(row.count, [&](LONG x) {
        auto g = [&](int dx, int dy) { return Load4(row.green[2 + dy] + x + 2 + dx); };
        auto d = [](__m128i a, __m128i b) { return Sse2Distance(a, b); };
        const __m128i c = g(0, 0);
        const __m128i n = g(0, -1);
        const __m128i s = g(0, 1);
        const __m128i w = g(-1, 0);
        const __m128i e = g(1, 0);
        __m128i a[4];
        a[0] =
            Sse2Activity(Sse2Sum3(d(n, g(-2, -1)), d(n, g(2, -1)), d(w, e)), _mm_add_epi32(d(c, w), d(c, e)));
        a[1] =
            Sse2Activity(Sse2Sum3(d(w, g(-1, -2)), d(w, g(-1, 2)), d(n, s)), _mm_add_epi32(d(c, n), d(c, s)));
        a[2] = Sse2Activity(Sse2Sum3(d(s, g(1, 2)), d(w, s), d(g(-2, -1), w)),
                            _mm_add_epi32(d(c, g(-1, -1)), d(c, g(1, 1))));
        a[3] = Sse2Activity(Sse2Sum3(d(n, g(1, -2)), d(g(-2, 1), w), d(w, n)),
                            _mm_add_epi32(d(c, g(1, -1)), d(c, g(-1, 1))));
        const __m128i total = _mm_add_epi32(_mm_add_epi32(a[0], a[1]), _mm_add_epi32(a[2], a[3]));
        __m128i weight[4];
        __m128i sum = _mm_setzero_si128();
        for (int k = 0; k < 4; ++k) {
            weight[k] = Sse2NotBelowZero(_mm_sub_epi32(total, _mm_slli_epi32(a[k], 2)));
            sum = _mm_add_epi32(sum, weight[k]);
        }
        const __m128i none = _mm_cmpeq_epi32(sum, _mm_setzero_si128());
        const __m128i q = _mm_add_epi32(_mm_srli_epi32(sum, 15), _mm_set1_epi32(1));
        __m128i weightOdd[4];
        for (int k = 0; k < 4; ++k) {
            weight[k] = Sse2FloatQuotient(weight[k], q);
            weightOdd[k] = _mm_srli_epi64(weight[k], 32);
        }
        sum = Sse2FloatQuotient(sum, q);
        auto rebuilt = [&](auto value, __m128i keep) {
            const __m128i centre = value(0, 0);
            Sse2ProductSum total;
            for (int k = 0; k < 4; ++k)
                total.Add(weight[k], weightOdd[k],
                          Sse2Along(centre, value(kNeighbours[k][0][0], kNeighbours[k][0][1]),
                                    value(kNeighbours[k][1][0], kNeighbours[k][1][1])));
            return Sse2Select(Sse2DoubleQuotient(total.Lanes(), sum), keep, none);
        };
        Store4(row.outGreen + x, rebuilt(g, c));
        auto red = [&](int dx, int dy) { return Load4(row.red[1 + dy] + x + 1 + dx); };
        auto blue = [&](int dx, int dy) { return Load4(row.blue[1 + dy] + x + 1 + dx); };
        Store4(row.outRed + x, rebuilt(red, red(0, 0)));
        Store4(row.outBlue + x, rebuilt(blue, blue(0, 0)));
    });
}

#define KV_AVX2 __attribute__((target("avx2")))

template <class Block>
KV_AVX2 inline void ForEachBlockOf8(LONG count, Block block) {
    LONG t = 0;
    for (; t + 8 <= count; t += 8)
        block(t);
    if (t < count)
        block(count - 8);
}

KV_AVX2 inline __m256i Load8(const LONG* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KV_AVX2 inline void Store8(LONG* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

KV_AVX2 inline __m256i Abs(__m256i v) {
    return _mm256_abs_epi32(v);
}

// Signed division by 2^n truncating toward zero.
template <int N>
KV_AVX2 inline __m256i DivPow2(__m256i v) {
    const __m256i bias = _mm256_srli_epi32(_mm256_srai_epi32(v, 31), 32 - N);
    return _mm256_srai_epi32(_mm256_add_epi32(v, bias), N);
}

// Both below 2^24 in magnitude, b at least 1.
KV_AVX2 inline __m256i FloatQuotient(__m256i a, __m256i b) {
    return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a), _mm256_cvtepi32_ps(b)));
}

// Any 32-bit integers; lanes with b = 0 give an unspecified value.
KV_AVX2 inline __m256i DoubleQuotient(__m256i a, __m256i b) {
    const __m128i low = _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(a)),
                                                          _mm256_cvtepi32_pd(_mm256_castsi256_si128(b))));
    const __m128i high =
        _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)),
                                          _mm256_cvtepi32_pd(_mm256_extracti128_si256(b, 1))));
    return _mm256_set_m128i(high, low);
}

// a + 2 m + b.
KV_AVX2 inline __m256i SideSum(__m256i a, __m256i m, __m256i b) {
    return _mm256_add_epi32(_mm256_add_epi32(a, b), _mm256_slli_epi32(m, 1));
}

KV_AVX2 inline __m256i Diff(__m256i a, __m256i b) {
    return Abs(_mm256_sub_epi32(a, b));
}

KV_AVX2 inline __m256i Sum3(__m256i a, __m256i b, __m256i c) {
    return _mm256_add_epi32(_mm256_add_epi32(a, b), c);
}

// 2 x twice + 3 x thrice.
KV_AVX2 inline __m256i Activity(__m256i twice, __m256i thrice) {
    return _mm256_add_epi32(_mm256_slli_epi32(twice, 1), _mm256_mullo_epi32(thrice, _mm256_set1_epi32(3)));
}

KV_AVX2 void Avx2Sharpen(const SharpenRow& row) {
    if (row.count < 8) {
        ScalarSharpen(row);
        return;
    }
    const LONG* const* g = row.green;
    ForEachBlockOf8(row.count, [&](LONG k) KV_AVX2 {
        __m256i v[3][3];
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 3; ++dx)
                v[dy][dx] = Load8(g[dy] + k + dx);
        const __m256i c = v[1][1];
        const __m256i b = _mm256_add_epi32(
            _mm256_add_epi32(SideSum(v[0][0], v[0][1], v[0][2]), SideSum(v[2][0], v[2][1], v[2][2])),
            _mm256_slli_epi32(SideSum(v[1][0], c, v[1][2]), 1));
        const __m256i e = DivPow2<5>(_mm256_sub_epi32(_mm256_mullo_epi32(c, _mm256_set1_epi32(80)),
                                                      _mm256_mullo_epi32(b, _mm256_set1_epi32(3))));
        __m256i low = v[0][0];
        __m256i high = v[0][0];
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 3; ++dx)
                if (dy != 1 || dx != 1) {
                    low = _mm256_min_epi32(low, v[dy][dx]);
                    high = _mm256_max_epi32(high, v[dy][dx]);
                }
        Store8(row.out + k, _mm256_min_epi32(_mm256_max_epi32(e, low), high));
    });
}

KV_AVX2 void Avx2Smooth(const SmoothRow& row) {
    if (row.count < 8) {
        ScalarSmooth(row);
        return;
    }
    ForEachBlockOf8(row.count, [&](LONG k) KV_AVX2 {
        const __m256i centre = Load8(row.green[2] + k + 2);
        __m256i activity = _mm256_setzero_si256();
        for (int dy = 0; dy < 5; ++dy)
            for (int dx = 0; dx < 5; ++dx)
                activity =
                    _mm256_add_epi32(activity, Abs(_mm256_sub_epi32(Load8(row.green[dy] + k + dx), centre)));
        const __m256i keepRed = Load8(row.red[2] + k + 2);
        const __m256i keepBlue = Load8(row.blue[2] + k + 2);
        const __m256i smooth = _mm256_cmpgt_epi32(activity, _mm256_set1_epi32(kSmoothingActivity));
        if (_mm256_testz_si256(smooth, smooth)) {
            Store8(row.outRed + k, keepRed);
            Store8(row.outBlue + k, keepBlue);
            return;
        }
        const __m256i mean = FloatQuotient(activity, _mm256_set1_epi32(25));
        const __m256 divisor =
            _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_srli_epi32(activity, 15), _mm256_set1_epi32(1)));
        __m256i weights = _mm256_setzero_si256();
        __m256i red = _mm256_setzero_si256();
        __m256i blue = _mm256_setzero_si256();
        for (int dy = 0; dy < 5; ++dy)
            for (int dx = 0; dx < 5; ++dx) {
                const __m256i distance = Abs(_mm256_sub_epi32(Load8(row.green[dy] + k + dx), centre));
                const __m256i room =
                    _mm256_max_epi32(_mm256_sub_epi32(mean, distance), _mm256_setzero_si256());
                const __m256i w = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(room), divisor));
                weights = _mm256_add_epi32(weights, w);
                red = _mm256_add_epi32(red, _mm256_mullo_epi32(w, Load8(row.red[dy] + k + dx)));
                blue = _mm256_add_epi32(blue, _mm256_mullo_epi32(w, Load8(row.blue[dy] + k + dx)));
            }
        Store8(row.outRed + k, _mm256_blendv_epi8(keepRed, DoubleQuotient(red, weights), smooth));
        Store8(row.outBlue + k, _mm256_blendv_epi8(keepBlue, DoubleQuotient(blue, weights), smooth));
    });
}

// (2 c + a + b) / 4 truncated toward zero.
KV_AVX2 inline __m256i Along(__m256i c, __m256i a, __m256i b) {
    return DivPow2<2>(_mm256_add_epi32(_mm256_slli_epi32(c, 1), _mm256_add_epi32(a, b)));
}

KV_AVX2 void Avx2Rebuild(const RebuildRow& row) {
    if (row.count < 8) {
        ScalarRebuild(row);
        return;
    }
    ForEachBlockOf8(row.count, [&](LONG x) KV_AVX2 {
        auto g = [&](int dx, int dy) KV_AVX2 { return Load8(row.green[2 + dy] + x + 2 + dx); };
        const __m256i c = g(0, 0);
        const __m256i n = g(0, -1);
        const __m256i s = g(0, 1);
        const __m256i w = g(-1, 0);
        const __m256i e = g(1, 0);
        __m256i a[4];
        a[0] = Activity(Sum3(Diff(n, g(-2, -1)), Diff(n, g(2, -1)), Diff(w, e)),
                        _mm256_add_epi32(Diff(c, w), Diff(c, e)));
        a[1] = Activity(Sum3(Diff(w, g(-1, -2)), Diff(w, g(-1, 2)), Diff(n, s)),
                        _mm256_add_epi32(Diff(c, n), Diff(c, s)));
        a[2] = Activity(Sum3(Diff(s, g(1, 2)), Diff(w, s), Diff(g(-2, -1), w)),
                        _mm256_add_epi32(Diff(c, g(-1, -1)), Diff(c, g(1, 1))));
        a[3] = Activity(Sum3(Diff(n, g(1, -2)), Diff(g(-2, 1), w), Diff(w, n)),
                        _mm256_add_epi32(Diff(c, g(1, -1)), Diff(c, g(-1, 1))));
        const __m256i total = _mm256_add_epi32(_mm256_add_epi32(a[0], a[1]), _mm256_add_epi32(a[2], a[3]));
        __m256i weight[4];
        __m256i sum = _mm256_setzero_si256();
        for (int d = 0; d < 4; ++d) {
            weight[d] =
                _mm256_max_epi32(_mm256_sub_epi32(total, _mm256_slli_epi32(a[d], 2)), _mm256_setzero_si256());
            sum = _mm256_add_epi32(sum, weight[d]);
        }
        const __m256i none = _mm256_cmpeq_epi32(sum, _mm256_setzero_si256());
        const __m256i q = _mm256_add_epi32(_mm256_srli_epi32(sum, 15), _mm256_set1_epi32(1));
        for (__m256i& wd : weight)
            wd = FloatQuotient(wd, q);
        sum = FloatQuotient(sum, q);
        auto rebuilt = [&](auto value, __m256i keep) KV_AVX2 {
            const __m256i centre = value(0, 0);
            __m256i total = _mm256_setzero_si256();
            for (int d = 0; d < 4; ++d) {
                const __m256i along = Along(centre, value(kNeighbours[d][0][0], kNeighbours[d][0][1]),
                                            value(kNeighbours[d][1][0], kNeighbours[d][1][1]));
                total = _mm256_add_epi32(total, _mm256_mullo_epi32(weight[d], along));
            }
            return _mm256_blendv_epi8(DoubleQuotient(total, sum), keep, none);
        };
        Store8(row.outGreen + x, rebuilt(g, c));
        auto red = [&](int dx, int dy) KV_AVX2 { return Load8(row.red[1 + dy] + x + 1 + dx); };
        auto blue = [&](int dx, int dy) KV_AVX2 { return Load8(row.blue[1 + dy] + x + 1 + dx); };
        Store8(row.outRed + x, rebuilt(red, red(0, 0)));
        Store8(row.outBlue + x, rebuilt(blue, blue(0, 0)));
    });
}

const Kernels kPlain = {Sse2Sharpen, Sse2Smooth, Sse2Rebuild};
const Kernels kAvx2 = {Avx2Sharpen, Avx2Smooth, Avx2Rebuild};

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

} // namespace FineEdgeRows
