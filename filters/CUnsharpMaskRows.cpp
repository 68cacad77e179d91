#include "CUnsharpMaskRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <cmath>
#include <cstdint>

namespace UnsharpMaskRows {
namespace {

#define KV_AVX2 __attribute__((target("avx2")))

// The weighted mean cut to 15 fractional bits, the same steps in every routine.
inline double WeightedBlur(double acc, double divisor) {
    return std::trunc(acc * 0x1p15 / divisor) * 0x1p-15;
}

// A row's weights sum to at most 65535 (the centre row's do, and every other row's weights lie below the
// centre row's), so a row's sum of weighted 16-bit values stays below 2^32.
void PlainWeighted(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                   double*) {
    const LONG reachY = kernel.GetReachY();
    const LONG width = 2 * kernel.GetReachX() + 1;
    for (LONG x = 0; x < count; ++x) {
        double acc = 0;
        for (LONG j = 0; j <= 2 * reachY; ++j) {
            const WORD* weights = kernel.Row(j - reachY);
            const WORD* values = rows[j] + x;
            std::uint32_t sum = 0;
            for (LONG i = 0; i < width; ++i)
                sum += std::uint32_t{weights[i]} * values[i];
            acc += sum;
        }
        out[x] = WeightedBlur(acc, kernel.GetDivisor());
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
        out[x] = WeightedBlur(acc, kernel.GetDivisor());
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

const Kernels kPlain = {PlainWeighted, PlainBox};
const Kernels kAvx2 = {Avx2Weighted, Avx2Box};

} // namespace

const Kernels& Plain() {
    return kPlain;
}

const Kernels& Simd() {
    return kAvx2;
}

const Kernels& Choose() {
    return CpuHas(CpuFeature::kAVX2) ? kAvx2 : kPlain;
}

std::size_t ScratchSize(const CUnsharpMaskKernel& kernel, LONG count) {
    const std::size_t span =
        static_cast<std::size_t>(count) + 2 * static_cast<std::size_t>(kernel.GetHalfSize());
    return span * (static_cast<std::size_t>(kernel.GetReachY()) + 1);
}

} // namespace UnsharpMaskRows
