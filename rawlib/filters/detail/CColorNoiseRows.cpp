#include "CColorNoiseRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <cstdint>
#include <cstdlib>

namespace ColorNoiseRows {

namespace {

// The sums stay exact in 32 unsigned bits: 49 taps of at most kMaxWeight x 65535.
void ScalarWeighted(const WeightedRow& row, LONG x) {
    const LONG r = row.radius;
    const LONG side = 2 * r + 1;
    const LONG c = row.rows[r][x + r];
    std::uint32_t sumW = 0;
    std::uint32_t sumWV = 0;
    for (LONG dy = 0; dy < side; ++dy) {
        const WORD* p = row.rows[dy] + x;
        for (LONG dx = 0; dx < side; ++dx) {
            const LONG v = p[dx];
            const std::uint32_t w = row.weights[std::abs(c - v) >> 4];
            sumW += w;
            sumWV += w * static_cast<std::uint32_t>(v);
        }
    }
    row.out[x] = static_cast<WORD>(sumW ? sumWV / sumW : static_cast<std::uint32_t>(c));
}

// Outputs are worked out in blocks of eight (sixteen on the AVX2 path) that cover the row, the last one
// ending at its end and done again where it overlaps the block before: each output depends on the input
// rows only. Rows shorter than a block take the scalar routine.
template <LONG Block, class BlockRoutine>
inline __attribute__((always_inline)) void ByBlocks(const WeightedRow& row, BlockRoutine&& block) {
    if (row.count < Block) {
        for (LONG x = 0; x < row.count; ++x)
            ScalarWeighted(row, x);
        return;
    }
    LONG x = 0;
    for (; x + Block <= row.count; x += Block)
        block(x);
    if (x < row.count)
        block(row.count - Block);
}

// The weights are looked up one by one: on the processors measured, eight separate loads beat a gathered
// load by about half. The weight sums stay below 2^16 (49 taps of at most kMaxWeight), so they add up in
// 16-bit lanes; each weighted value, below 2^27, comes from the low and high halves of its 16-bit product.
constexpr LONG kLanes = 8;

// The plain path: eight outputs at a time in the 16-bit lanes of the SSE2 registers every x86-64 processor
// has, the same sums as the scalar routine.
void Sse2Block(const WeightedRow& row, LONG x) {
    const LONG r = row.radius;
    const LONG side = 2 * r + 1;
    const WORD* weights = row.weights;
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.rows[r] + x + r));
    __m128i sumW = _mm_setzero_si128();
    __m128i sumLow = _mm_setzero_si128();
    __m128i sumHigh = _mm_setzero_si128();
    alignas(16) WORD at[kLanes];
    for (LONG dy = 0; dy < side; ++dy) {
        const WORD* p = row.rows[dy] + x;
        for (LONG dx = 0; dx < side; ++dx) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + dx));
            const __m128i difference = _mm_or_si128(_mm_subs_epu16(c, v), _mm_subs_epu16(v, c));
            _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_srli_epi16(difference, 4));
            const __m128i w =
                _mm_setr_epi16(static_cast<short>(weights[at[0]]), static_cast<short>(weights[at[1]]),
                               static_cast<short>(weights[at[2]]), static_cast<short>(weights[at[3]]),
                               static_cast<short>(weights[at[4]]), static_cast<short>(weights[at[5]]),
                               static_cast<short>(weights[at[6]]), static_cast<short>(weights[at[7]]));
            sumW = _mm_add_epi16(sumW, w);
            const __m128i low = _mm_mullo_epi16(w, v), high = _mm_mulhi_epu16(w, v);
            sumLow = _mm_add_epi32(sumLow, _mm_unpacklo_epi16(low, high));
            sumHigh = _mm_add_epi32(sumHigh, _mm_unpackhi_epi16(low, high));
        }
    }
    alignas(16) WORD weightSums[kLanes];
    alignas(16) std::uint32_t valueSums[kLanes];
    _mm_store_si128(reinterpret_cast<__m128i*>(weightSums), sumW);
    _mm_store_si128(reinterpret_cast<__m128i*>(valueSums), sumLow);
    _mm_store_si128(reinterpret_cast<__m128i*>(valueSums + 4), sumHigh);
    const WORD* centres = row.rows[r] + x + r;
    for (LONG k = 0; k < kLanes; ++k)
        row.out[x + k] = static_cast<WORD>(weightSums[k] ? valueSums[k] / weightSums[k] : centres[k]);
}

void PlainWeighted(const WeightedRow& row) {
    ByBlocks<kLanes>(row, [&](LONG x) { Sse2Block(row, x); });
}

#define KV_AVX2 __attribute__((target("avx2")))

// Eight unsigned 32-bit sums over eight positive divisors, truncated: in doubles, which hold both exactly
// and whose correctly rounded quotient never reaches the next integer for numbers of this size.
KV_AVX2 inline __m256i Avx2Quotient(__m256i sums, __m256i divisors) {
    const __m256i bias = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256d offset = _mm256_set1_pd(2147483648.0);
    const __m256i biased = _mm256_xor_si256(sums, bias);
    const __m256d lowSums = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(biased)), offset);
    const __m256d highSums = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(biased, 1)), offset);
    const __m128i low =
        _mm256_cvttpd_epi32(_mm256_div_pd(lowSums, _mm256_cvtepi32_pd(_mm256_castsi256_si128(divisors))));
    const __m128i high = _mm256_cvttpd_epi32(
        _mm256_div_pd(highSums, _mm256_cvtepi32_pd(_mm256_extracti128_si256(divisors, 1))));
    return _mm256_set_m128i(high, low);
}

// Sixteen outputs from x on, the plain path's sums lane by lane: 16-bit lanes whose halves hold outputs
// x .. x + 7 and x + 8 .. x + 15, so that the weighted values unpack into 32-bit lanes in the same halves.
KV_AVX2 inline void Avx2Block(const WeightedRow& row, LONG x) {
    constexpr LONG kWide = 2 * kLanes;
    const LONG r = row.radius;
    const LONG side = 2 * r + 1;
    const WORD* weights = row.weights;
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.rows[r] + x + r));
    __m256i sumW = _mm256_setzero_si256();
    __m256i sumLow = _mm256_setzero_si256();
    __m256i sumHigh = _mm256_setzero_si256();
    alignas(32) WORD at[kWide];
    for (LONG dy = 0; dy < side; ++dy) {
        const WORD* p = row.rows[dy] + x;
        for (LONG dx = 0; dx < side; ++dx) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + dx));
            const __m256i difference = _mm256_or_si256(_mm256_subs_epu16(c, v), _mm256_subs_epu16(v, c));
            _mm256_store_si256(reinterpret_cast<__m256i*>(at), _mm256_srli_epi16(difference, 4));
            const __m256i w =
                _mm256_setr_epi16(static_cast<short>(weights[at[0]]), static_cast<short>(weights[at[1]]),
                                  static_cast<short>(weights[at[2]]), static_cast<short>(weights[at[3]]),
                                  static_cast<short>(weights[at[4]]), static_cast<short>(weights[at[5]]),
                                  static_cast<short>(weights[at[6]]), static_cast<short>(weights[at[7]]),
                                  static_cast<short>(weights[at[8]]), static_cast<short>(weights[at[9]]),
                                  static_cast<short>(weights[at[10]]), static_cast<short>(weights[at[11]]),
                                  static_cast<short>(weights[at[12]]), static_cast<short>(weights[at[13]]),
                                  static_cast<short>(weights[at[14]]), static_cast<short>(weights[at[15]]));
            sumW = _mm256_add_epi16(sumW, w);
            const __m256i low = _mm256_mullo_epi16(w, v), high = _mm256_mulhi_epu16(w, v);
            sumLow = _mm256_add_epi32(sumLow, _mm256_unpacklo_epi16(low, high));
            sumHigh = _mm256_add_epi32(sumHigh, _mm256_unpackhi_epi16(low, high));
        }
    }
    // The unpacks leave outputs 0-3 and 8-11 in sumLow, 4-7 and 12-15 in sumHigh.
    const __m256i weightLow = _mm256_unpacklo_epi16(sumW, _mm256_setzero_si256());
    const __m256i weightHigh = _mm256_unpackhi_epi16(sumW, _mm256_setzero_si256());
    const __m256i centreLow = _mm256_unpacklo_epi16(c, _mm256_setzero_si256());
    const __m256i centreHigh = _mm256_unpackhi_epi16(c, _mm256_setzero_si256());
    const __m256i zero = _mm256_setzero_si256();
    __m256i qLow = Avx2Quotient(sumLow, _mm256_max_epi32(weightLow, _mm256_set1_epi32(1)));
    __m256i qHigh = Avx2Quotient(sumHigh, _mm256_max_epi32(weightHigh, _mm256_set1_epi32(1)));
    qLow = _mm256_blendv_epi8(qLow, centreLow, _mm256_cmpeq_epi32(weightLow, zero));
    qHigh = _mm256_blendv_epi8(qHigh, centreHigh, _mm256_cmpeq_epi32(weightHigh, zero));
    // packus undoes the unpacks lane by lane.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row.out + x), _mm256_packus_epi32(qLow, qHigh));
}

KV_AVX2 void Avx2Weighted(const WeightedRow& row) {
    ByBlocks<2 * kLanes>(row, [&](LONG x) KV_AVX2 { Avx2Block(row, x); });
}

const Kernels kPlain = {PlainWeighted};
const Kernels kAvx2 = {Avx2Weighted};

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

void AddToColumnSums(LONG* columnSums, const WORD* row, LONG count) {
    for (LONG i = 0; i < count; ++i)
        columnSums[i] += row[i];
}

void SubtractFromColumnSums(LONG* columnSums, const WORD* row, LONG count) {
    for (LONG i = 0; i < count; ++i)
        columnSums[i] -= row[i];
}

void BoxMeanRow(const LONG* columnSums, LONG count, WORD* out) {
    constexpr LONG kArea = kBoxSide * kBoxSide;
    LONG sum = 0;
    for (LONG k = 0; k < kBoxSide; ++k)
        sum += columnSums[k];
    for (LONG i = 0; i < count; ++i) {
        out[i] = static_cast<WORD>(sum / kArea);
        if (i + 1 < count)
            sum += columnSums[i + kBoxSide] - columnSums[i];
    }
}

} // namespace ColorNoiseRows
