#include "CColorNoiseRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <cstdint>
#include <cstdlib>

namespace ColorNoiseRows {

namespace {

// The sums stay exact in 32 unsigned bits: 49 taps of at most 1337 x 65535.
void PlainWeighted(const WeightedRow& row) {
    const LONG r = row.radius;
    const LONG side = 2 * r + 1;
    for (LONG x = 0; x < row.count; ++x) {
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

KV_AVX2 inline __m256i Load8Words(const WORD* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Eight output positions from x on. The weights are gathered as 32-bit words at byte offset 2 x index,
// so each read takes the entry and the next one (the table's extra entry covers the last).
KV_AVX2 inline void Avx2WeightedBlock(const WeightedRow& row, LONG x) {
    const LONG r = row.radius;
    const LONG side = 2 * r + 1;
    const int* table = reinterpret_cast<const int*>(row.weights);
    const __m256i entry = _mm256_set1_epi32(0xFFFF);
    const __m256i c = Load8Words(row.rows[r] + x + r);
    __m256i sumW = _mm256_setzero_si256();
    __m256i sumWV = _mm256_setzero_si256();
    for (LONG dy = 0; dy < side; ++dy) {
        const WORD* p = row.rows[dy] + x;
        for (LONG dx = 0; dx < side; ++dx) {
            const __m256i v = Load8Words(p + dx);
            const __m256i index = _mm256_srli_epi32(_mm256_abs_epi32(_mm256_sub_epi32(c, v)), 4);
            const __m256i w = _mm256_and_si256(_mm256_i32gather_epi32(table, index, 2), entry);
            sumW = _mm256_add_epi32(sumW, w);
            sumWV = _mm256_add_epi32(sumWV, _mm256_mullo_epi32(w, v));
        }
    }
    __m256i q = Avx2Quotient(sumWV, sumW);
    q = _mm256_blendv_epi8(q, c, _mm256_cmpeq_epi32(sumW, _mm256_setzero_si256()));
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(q, q), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row.out + x), _mm256_castsi256_si128(packed));
}

// Blocks of eight cover the row, the last one ending at its end and done again where it overlaps the block
// before: each output depends on the input rows only. Rows shorter than a block take the plain routine.
KV_AVX2 void Avx2Weighted(const WeightedRow& row) {
    if (row.count < 8) {
        PlainWeighted(row);
        return;
    }
    LONG x = 0;
    for (; x + 8 <= row.count; x += 8)
        Avx2WeightedBlock(row, x);
    if (x < row.count)
        Avx2WeightedBlock(row, row.count - 8);
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
