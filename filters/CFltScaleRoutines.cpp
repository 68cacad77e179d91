#include "CFltScaleRoutines.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace FltScaleRoutines {

namespace {

constexpr std::int64_t kMaxSample = 0xFFFF;
constexpr std::int32_t kCubicShift = 14; // Q14 weights: 16384 = 1.0

std::uint16_t Clamp16(std::int64_t v) {
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, kMaxSample));
}

// The cubic sum with the outer weights stored negated, divided toward zero and clamped.
std::uint16_t Cubic(const CScaleTableEntry& e, std::int64_t p0, std::int64_t p1, std::int64_t p2,
                    std::int64_t p3) {
    const std::int64_t sum = e.tap[2] * p2 + e.tap[1] * p1 - e.tap[0] * p0 - e.tap[3] * p3;
    return Clamp16(sum / (std::int64_t{1} << kCubicShift));
}

// trunc(scale * sum) for a sum of weighted samples that is exact in a double.
std::uint16_t Scaled(double scale, std::uint64_t sum) {
    return Clamp16(static_cast<std::int64_t>(scale * static_cast<double>(sum)));
}

template <int Channels, bool Wide>
void UnpackPlain(const BYTE* from, LONG count, std::uint16_t* planes, std::size_t stride) {
    for (LONG i = 0; i < count; ++i) {
        for (int c = 0; c < Channels; ++c) {
            std::uint16_t v;
            if constexpr (Wide) {
                std::memcpy(&v, from + (static_cast<std::size_t>(i) * Channels + c) * 2, 2);
            } else {
                v = from[static_cast<std::size_t>(i) * Channels + c];
            }
            planes[c * stride + static_cast<std::size_t>(i)] = v;
        }
    }
}

template <int Channels, bool Wide>
void PackPlain(const std::uint16_t* planes, std::size_t stride, LONG count, BYTE* to) {
    for (LONG i = 0; i < count; ++i) {
        for (int c = 0; c < Channels; ++c) {
            const std::uint16_t v = planes[c * stride + static_cast<std::size_t>(i)];
            if constexpr (Wide) {
                std::memcpy(to + (static_cast<std::size_t>(i) * Channels + c) * 2, &v, 2);
            } else {
                to[static_cast<std::size_t>(i) * Channels + c] =
                    static_cast<BYTE>(std::min<std::uint16_t>(v, 0xFF));
            }
        }
    }
}

void HorizontalCopy(const HorizontalJob& j) {
    for (LONG c = 0; c < j.channels; ++c)
        std::memcpy(j.row + c * j.rowStride, j.span + c * j.spanStride,
                    static_cast<std::size_t>(j.count) * sizeof(std::uint16_t));
}

void HorizontalArea(const HorizontalJob& j) {
    const auto whole = static_cast<std::uint64_t>(j.wholeWeight);
    for (LONG c = 0; c < j.channels; ++c) {
        const std::uint16_t* span = j.span + c * j.spanStride;
        std::uint16_t* row = j.row + c * j.rowStride;
        for (LONG i = 0; i < j.count; ++i) {
            const CScaleTableEntry& e = j.entries[i];
            const std::uint16_t* p = span + j.index[i];
            std::uint64_t inner = 0;
            for (std::uint32_t k = 1; k <= e.word[2]; ++k)
                inner += p[k];
            const std::uint64_t sum =
                std::uint64_t{e.word[0]} * p[0] + whole * inner + std::uint64_t{e.word[1]} * p[e.word[2] + 1];
            row[i] = Scaled(j.inverse, sum);
        }
    }
}

void HorizontalLinear(const HorizontalJob& j) {
    const double half = 0.5 * j.inverse;
    for (LONG c = 0; c < j.channels; ++c) {
        const std::uint16_t* span = j.span + c * j.spanStride;
        std::uint16_t* row = j.row + c * j.rowStride;
        for (LONG i = 0; i < j.count; ++i) {
            const CScaleTableEntry& e = j.entries[i];
            const std::uint16_t* p = span + j.index[i];
            row[i] = Scaled(half, std::uint64_t{e.word[0]} * p[0] + std::uint64_t{e.word[1]} * p[1]);
        }
    }
}

void HorizontalCubic(const HorizontalJob& j) {
    for (LONG c = 0; c < j.channels; ++c) {
        const std::uint16_t* span = j.span + c * j.spanStride;
        std::uint16_t* row = j.row + c * j.rowStride;
        for (LONG i = 0; i < j.count; ++i) {
            const std::uint16_t* p = span + j.index[i];
            row[i] = Cubic(j.entries[i], p[0], p[1], p[2], p[3]);
        }
    }
}

const std::uint16_t* VerticalCopy(const VerticalJob& j) {
    return j.rows[0];
}

const std::uint16_t* VerticalAreaPlain(const VerticalJob& j) {
    const CScaleTableEntry& e = *j.entry;
    const auto whole = static_cast<std::uint64_t>(j.wholeWeight);
    const std::size_t samples = static_cast<std::size_t>(j.channels) * j.stride;
    for (std::size_t i = 0; i < samples; ++i) {
        std::uint64_t inner = 0;
        for (std::uint32_t k = 1; k <= e.word[2]; ++k)
            inner += j.rows[k][i];
        std::uint64_t sum = std::uint64_t{e.word[0]} * j.rows[0][i] + whole * inner;
        if (e.word[1] != 0)
            sum += std::uint64_t{e.word[1]} * j.rows[e.word[2] + 1][i];
        j.output[i] = Scaled(j.inverse, sum);
    }
    return j.output;
}

const std::uint16_t* VerticalLinearPlain(const VerticalJob& j) {
    const CScaleTableEntry& e = *j.entry;
    const double half = 0.5 * j.inverse;
    const std::size_t samples = static_cast<std::size_t>(j.channels) * j.stride;
    for (std::size_t i = 0; i < samples; ++i)
        j.output[i] =
            Scaled(half, std::uint64_t{e.word[0]} * j.rows[0][i] + std::uint64_t{e.word[1]} * j.rows[1][i]);
    return j.output;
}

const std::uint16_t* VerticalCubicPlain(const VerticalJob& j) {
    const std::size_t samples = static_cast<std::size_t>(j.channels) * j.stride;
    for (std::size_t i = 0; i < samples; ++i)
        j.output[i] = Cubic(*j.entry, j.rows[0][i], j.rows[1][i], j.rows[2][i], j.rows[3][i]);
    return j.output;
}

// SIMD forms. The planes are padded to multiples of 8 samples and the rows are 16-byte aligned, so every
// loop runs over whole groups of 8 samples.

__m128i LoadRow(const std::uint16_t* row, std::size_t i) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(row + i));
}

// Four samples (the low or high half of v) as two pairs of doubles.
void ToDoubles(__m128i v32, __m128d* lo, __m128d* hi) {
    *lo = _mm_cvtepi32_pd(v32);
    *hi = _mm_cvtepi32_pd(_mm_shuffle_epi32(v32, _MM_SHUFFLE(1, 0, 3, 2)));
}

// trunc(scale * sum) of eight sums given as four pairs of doubles, into eight 16-bit samples. The sums
// are exact and non-negative, and the averages they make never exceed 65535.
__m128i ScaledGroup(__m128d scale, const __m128d* sums) {
    __m128i q[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i a = _mm_cvttpd_epi32(_mm_mul_pd(scale, sums[2 * h]));
        const __m128i b = _mm_cvttpd_epi32(_mm_mul_pd(scale, sums[2 * h + 1]));
        q[h] = _mm_unpacklo_epi64(a, b);
    }
    // Unsigned 32 to 16 bits without SSE4.1: bias to signed, pack with saturation, unbias.
    const __m128i bias = _mm_set1_epi32(0x8000);
    const __m128i packed = _mm_packs_epi32(_mm_sub_epi32(q[0], bias), _mm_sub_epi32(q[1], bias));
    return _mm_add_epi16(packed, _mm_set1_epi16(static_cast<short>(0x8000)));
}

// The eight samples of a row at i as four pairs of doubles times weight, added to sums.
void AddWeighted(const std::uint16_t* row, std::size_t i, double weight, __m128d* sums) {
    const __m128i v = LoadRow(row, i);
    const __m128i zero = _mm_setzero_si128();
    __m128d d[4];
    ToDoubles(_mm_unpacklo_epi16(v, zero), &d[0], &d[1]);
    ToDoubles(_mm_unpackhi_epi16(v, zero), &d[2], &d[3]);
    const __m128d w = _mm_set1_pd(weight);
    for (int k = 0; k < 4; ++k)
        sums[k] = _mm_add_pd(sums[k], _mm_mul_pd(w, d[k]));
}

const std::uint16_t* VerticalAreaSimd(const VerticalJob& j) {
    const CScaleTableEntry& e = *j.entry;
    const std::size_t samples = static_cast<std::size_t>(j.channels) * j.stride;
    const __m128d scale = _mm_set1_pd(j.inverse);
    for (std::size_t i = 0; i < samples; i += 8) {
        __m128d inner[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
        for (std::uint32_t k = 1; k <= e.word[2]; ++k)
            AddWeighted(j.rows[k], i, 1.0, inner);
        __m128d sums[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
        AddWeighted(j.rows[0], i, e.word[0], sums);
        const __m128d whole = _mm_set1_pd(j.wholeWeight);
        for (int k = 0; k < 4; ++k)
            sums[k] = _mm_add_pd(sums[k], _mm_mul_pd(whole, inner[k]));
        if (e.word[1] != 0)
            AddWeighted(j.rows[e.word[2] + 1], i, e.word[1], sums);
        _mm_store_si128(reinterpret_cast<__m128i*>(j.output + i), ScaledGroup(scale, sums));
    }
    return j.output;
}

const std::uint16_t* VerticalLinearSimd(const VerticalJob& j) {
    const CScaleTableEntry& e = *j.entry;
    const std::size_t samples = static_cast<std::size_t>(j.channels) * j.stride;
    const __m128d half = _mm_set1_pd(0.5 * j.inverse);
    for (std::size_t i = 0; i < samples; i += 8) {
        __m128d sums[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
        AddWeighted(j.rows[0], i, e.word[0], sums);
        AddWeighted(j.rows[1], i, e.word[1], sums);
        _mm_store_si128(reinterpret_cast<__m128i*>(j.output + i), ScaledGroup(half, sums));
    }
    return j.output;
}

__attribute__((target("sse4.1"))) const std::uint16_t* VerticalCubicSse41(const VerticalJob& j) {
    const CScaleTableEntry& e = *j.entry;
    const std::size_t samples = static_cast<std::size_t>(j.channels) * j.stride;
    const __m128i zero = _mm_setzero_si128();
    const __m128i w[4] = {_mm_set1_epi32(-e.tap[0]), _mm_set1_epi32(e.tap[1]), _mm_set1_epi32(e.tap[2]),
                          _mm_set1_epi32(-e.tap[3])};
    for (std::size_t i = 0; i < samples; i += 8) {
        __m128i lo = zero;
        __m128i hi = zero;
        for (int k = 0; k < 4; ++k) {
            const __m128i v = LoadRow(j.rows[k], i);
            lo = _mm_add_epi32(lo, _mm_mullo_epi32(w[k], _mm_unpacklo_epi16(v, zero)));
            hi = _mm_add_epi32(hi, _mm_mullo_epi32(w[k], _mm_unpackhi_epi16(v, zero)));
        }
        // Negative sums become 0 either way, so an arithmetic shift divides toward zero where it matters.
        lo = _mm_max_epi32(_mm_srai_epi32(lo, kCubicShift), zero);
        hi = _mm_max_epi32(_mm_srai_epi32(hi, kCubicShift), zero);
        _mm_store_si128(reinterpret_cast<__m128i*>(j.output + i), _mm_packus_epi32(lo, hi));
    }
    return j.output;
}

const std::uint16_t* VerticalCubicSimd(const VerticalJob& j) {
    // The 32-bit sums hold while the weights stay within 16 bits.
    return CpuHas(CpuFeature::kSSE41) ? VerticalCubicSse41(j) : VerticalCubicPlain(j);
}

void Unpack8Grey(const BYTE* from, LONG count, std::uint16_t* planes, std::size_t) {
    const __m128i zero = _mm_setzero_si128();
    LONG i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    for (; i < count; ++i)
        planes[i] = from[i];
}

void Pack8Grey(const std::uint16_t* planes, std::size_t, LONG count, BYTE* to) {
    const __m128i max = _mm_set1_epi16(0xFF);
    LONG i = 0;
    for (; i + 16 <= count; i += 16) {
        // min(v, 255) as v - (v - 255 saturated at 0), then a pack that no longer saturates.
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(planes + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(planes + i + 8));
        a = _mm_sub_epi16(a, _mm_subs_epu16(a, max));
        b = _mm_sub_epi16(b, _mm_subs_epu16(b, max));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(a, b));
    }
    for (; i < count; ++i)
        to[i] = static_cast<BYTE>(std::min<std::uint16_t>(planes[i], 0xFF));
}

constexpr Routines kPortable = {
    {UnpackPlain<1, false>, UnpackPlain<3, false>, UnpackPlain<4, false>},
    {UnpackPlain<1, true>, UnpackPlain<3, true>, UnpackPlain<4, true>},
    {HorizontalCopy, HorizontalArea, HorizontalLinear, HorizontalCubic},
    {VerticalCopy, VerticalAreaPlain, VerticalLinearPlain, VerticalCubicPlain},
    {PackPlain<1, false>, PackPlain<3, false>, PackPlain<4, false>},
    {PackPlain<1, true>, PackPlain<3, true>, PackPlain<4, true>},
};

constexpr Routines kSimd = {
    {Unpack8Grey, UnpackPlain<3, false>, UnpackPlain<4, false>},
    {UnpackPlain<1, true>, UnpackPlain<3, true>, UnpackPlain<4, true>},
    {HorizontalCopy, HorizontalArea, HorizontalLinear, HorizontalCubic},
    {VerticalCopy, VerticalAreaSimd, VerticalLinearSimd, VerticalCubicSimd},
    {Pack8Grey, PackPlain<3, false>, PackPlain<4, false>},
    {PackPlain<1, true>, PackPlain<3, true>, PackPlain<4, true>},
};

} // namespace

const Routines& Portable() {
    return kPortable;
}

const Routines& Simd() {
    return kSimd;
}

bool SimdAvailable() {
    using namespace CpuFeature;
    const bool check = CpuHas(kMMX) && (CpuHas(kSSE) || CpuHas(kExtendedLeaf | k3DNow | kCMOV));
    return check && CpuHas(kSSE2);
}

const Routines& Choose() {
    return SimdAvailable() ? kSimd : kPortable;
}

} // namespace FltScaleRoutines
