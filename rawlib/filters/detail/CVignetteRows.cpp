#include "CVignetteRows.h"

#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/detail/VignetteGain.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace VignetteRows {

namespace {

#define KV_AVX2 __attribute__((target("avx2")))

// The factor splits at 2^12: F v / 4096 = (F >> 12) v + (F & 4095) v / 4096, each product below 2^31
// (F below 2^27, v below 2^16), so the sum stays below 2^32.
constexpr int kFractionBits = 12;
constexpr std::uint32_t kFractionMask = (1u << kFractionBits) - 1;
constexpr int kAmountBits = 13;
constexpr std::uint32_t kRaisedLimit = 65535;

inline std::uint32_t Raise(std::uint32_t v, std::uint32_t factor, std::uint32_t amount,
                           std::uint32_t maximum) {
    const std::uint32_t whole =
        (factor >> kFractionBits) * v + (((factor & kFractionMask) * v) >> kFractionBits);
    const std::uint32_t raised = std::min(whole, kRaisedLimit);
    return std::min(v + ((raised * amount) >> kAmountBits), maximum);
}

// Inlined wherever it is used: an AVX2 routine that jumped to it at its end would leave the upper halves of
// the vector registers in use, which slows the plain code after it.
template <class T, LONG Channels>
inline __attribute__((always_inline)) void PlainPixels(const BYTE* from, BYTE* to, LONG count,
                                                       const WORD* codes, LONG step, std::uint32_t amount) {
    constexpr std::uint32_t kMaximum = sizeof(T) == 1 ? 255 : 65535;
    constexpr std::size_t kPixel = sizeof(T) * Channels;
    for (LONG i = 0; i < count; ++i) {
        const std::uint32_t factor = VignetteGain::Factor(codes[static_cast<std::ptrdiff_t>(i) * step]);
        T samples[Channels];
        std::memcpy(samples, from + static_cast<std::size_t>(i) * kPixel, kPixel);
        for (LONG c = 0; c < Channels; ++c)
            samples[c] = static_cast<T>(Raise(samples[c], factor, amount, kMaximum));
        std::memcpy(to + static_cast<std::size_t>(i) * kPixel, samples, kPixel);
    }
}

template <class T>
void PlainChannels(const BYTE* from, BYTE* to, LONG count, LONG channels, const WORD* codes, LONG step,
                   std::uint32_t amount) {
    switch (channels) {
    case 1:
        return PlainPixels<T, 1>(from, to, count, codes, step, amount);
    case 3:
        return PlainPixels<T, 3>(from, to, count, codes, step, amount);
    default:
        return PlainPixels<T, 4>(from, to, count, codes, step, amount);
    }
}

void PlainRaise(const BYTE* from, BYTE* to, LONG count, LONG channels, bool wide, const WORD* codes,
                LONG step, LONG amount) {
    if (wide)
        PlainChannels<WORD>(from, to, count, channels, codes, step, static_cast<std::uint32_t>(amount));
    else
        PlainChannels<BYTE>(from, to, count, channels, codes, step, static_cast<std::uint32_t>(amount));
}

// The lanes of sample block k of eight pixels of Channels samples: sample 8 k + j belongs to pixel
// (8 k + j) / Channels.
template <LONG Channels>
KV_AVX2 inline __m256i PixelOfSample(LONG k) {
    alignas(32) std::int32_t lanes[8];
    for (int j = 0; j < 8; ++j)
        lanes[j] = static_cast<std::int32_t>((8 * k + j) / Channels);
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
}

// Eight samples as 32-bit lanes, and back.
template <class T>
KV_AVX2 inline __m256i LoadEight(const BYTE* p) {
    if constexpr (sizeof(T) == 1)
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    else
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

template <class T>
KV_AVX2 inline void StoreEight(BYTE* p, __m256i v) {
    const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    if constexpr (sizeof(T) == 1)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(words, words));
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), words);
}

// The factors of eight codes, VignetteGain::Factor's steps: an exponent of 0 takes the mantissa alone
// (a shift by 2^32 - 1 would give 0).
KV_AVX2 inline __m256i Avx2Factors(const WORD* codes, LONG step) {
    __m128i eight;
    if (step > 0) {
        eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes));
    } else {
        const __m128i reverse = _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        eight = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(codes - 7)), reverse);
    }
    const __m256i code = _mm256_cvtepu16_epi32(eight);
    const __m256i exponent = _mm256_srli_epi32(code, VignetteGain::kMantissaBits);
    const __m256i mantissa = _mm256_and_si256(code, _mm256_set1_epi32(VignetteGain::kMantissaMask));
    const __m256i shifted =
        _mm256_sllv_epi32(_mm256_add_epi32(mantissa, _mm256_set1_epi32(VignetteGain::kOne)),
                          _mm256_sub_epi32(exponent, _mm256_set1_epi32(1)));
    return _mm256_blendv_epi8(shifted, mantissa, _mm256_cmpeq_epi32(exponent, _mm256_setzero_si256()));
}

template <class T, LONG Channels>
KV_AVX2 void Avx2Pixels(const BYTE* from, BYTE* to, LONG count, const WORD* codes, LONG step,
                        std::uint32_t amount) {
    constexpr std::size_t kPixel = sizeof(T) * Channels;
    const __m256i maximum = _mm256_set1_epi32(sizeof(T) == 1 ? 255 : 65535);
    const __m256i limit = _mm256_set1_epi32(static_cast<int>(kRaisedLimit));
    const __m256i fraction = _mm256_set1_epi32(static_cast<int>(kFractionMask));
    const __m256i a = _mm256_set1_epi32(static_cast<int>(amount));
    __m256i lanes[Channels];
    for (LONG k = 0; k < Channels; ++k)
        lanes[k] = PixelOfSample<Channels>(k);
    LONG i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i f = Avx2Factors(codes + static_cast<std::ptrdiff_t>(i) * step, step);
        const BYTE* in = from + static_cast<std::size_t>(i) * kPixel;
        BYTE* out = to + static_cast<std::size_t>(i) * kPixel;
        for (LONG k = 0; k < Channels; ++k) {
            const __m256i factor = _mm256_permutevar8x32_epi32(f, lanes[k]);
            const __m256i v = LoadEight<T>(in + 8 * k * sizeof(T));
            const __m256i whole = _mm256_add_epi32(
                _mm256_mullo_epi32(_mm256_srli_epi32(factor, kFractionBits), v),
                _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_and_si256(factor, fraction), v), kFractionBits));
            const __m256i raised = _mm256_min_epu32(whole, limit);
            const __m256i added = _mm256_srli_epi32(_mm256_mullo_epi32(raised, a), kAmountBits);
            StoreEight<T>(out + 8 * k * sizeof(T), _mm256_min_epu32(_mm256_add_epi32(v, added), maximum));
        }
    }
    PlainPixels<T, Channels>(from + static_cast<std::size_t>(i) * kPixel,
                             to + static_cast<std::size_t>(i) * kPixel, count - i,
                             codes + static_cast<std::ptrdiff_t>(i) * step, step, amount);
}

template <class T>
KV_AVX2 void Avx2Channels(const BYTE* from, BYTE* to, LONG count, LONG channels, const WORD* codes, LONG step,
                          std::uint32_t amount) {
    switch (channels) {
    case 1:
        return Avx2Pixels<T, 1>(from, to, count, codes, step, amount);
    case 3:
        return Avx2Pixels<T, 3>(from, to, count, codes, step, amount);
    default:
        return Avx2Pixels<T, 4>(from, to, count, codes, step, amount);
    }
}

KV_AVX2 void Avx2Raise(const BYTE* from, BYTE* to, LONG count, LONG channels, bool wide, const WORD* codes,
                       LONG step, LONG amount) {
    if (wide)
        Avx2Channels<WORD>(from, to, count, channels, codes, step, static_cast<std::uint32_t>(amount));
    else
        Avx2Channels<BYTE>(from, to, count, channels, codes, step, static_cast<std::uint32_t>(amount));
}

const Kernels kPlain = {PlainRaise};
const Kernels kAvx2 = {Avx2Raise};

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

} // namespace VignetteRows
