#include "CVignetteRows.h"

#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/detail/VignetteGain.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

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

// The plain path works eight samples at a time in 16-bit lanes of the SSE2 registers every x86-64 processor
// has, with the same result as Raise: F = H x 4096 + L (H below 2^15, L below 2^12) gives
//   floor(F v / 4096) = H v + floor(16 L x v / 65536), the last term the high half of a 16-bit product;
//   H v is at least 65536 exactly when the high half of its product is not 0, and the sum of the low half
//   and the last term saturates at 65535 exactly when it reaches 65536;
//   (raised x A) >> 13 = high x 8 + (low >> 13) of the 32-bit product, at least 65536 (so that the sample
//   saturates) exactly when its high half reaches 2^13.
// The halves of every code's factor: H in the low 16 bits, L in the high 16 bits.
const std::uint32_t* Halves() {
    static const std::vector<std::uint32_t> table = [] {
        std::vector<std::uint32_t> t(std::size_t{1} << 16);
        for (std::uint32_t code = 0; code < t.size(); ++code) {
            const std::uint32_t factor = VignetteGain::Factor(static_cast<WORD>(code));
            t[code] = (factor >> kFractionBits) | ((factor & kFractionMask) << 16);
        }
        return t;
    }();
    return table.data();
}

// Pixels per block of halves the plain path looks up before it raises them.
constexpr LONG kBlockPixels = 64;
constexpr int kHighBits = 13;

// The 8 lanes of a, each repeated: the first, second and third vector of eight pixels' three samples.
inline void Triple(__m128i a, __m128i out[3]) {
    out[0] = _mm_shufflehi_epi16(_mm_shufflelo_epi16(_mm_unpacklo_epi64(a, a), _MM_SHUFFLE(1, 0, 0, 0)),
                                 _MM_SHUFFLE(2, 2, 1, 1));
    out[1] = _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, _MM_SHUFFLE(3, 3, 3, 2)), _MM_SHUFFLE(1, 0, 0, 0));
    out[2] = _mm_shufflehi_epi16(_mm_shufflelo_epi16(_mm_unpackhi_epi64(a, a), _MM_SHUFFLE(2, 2, 1, 1)),
                                 _MM_SHUFFLE(3, 3, 3, 2));
}

// The 8 lanes of a, each four times: four vectors.
inline void Quadruple(__m128i a, __m128i out[4]) {
    const __m128i low = _mm_unpacklo_epi16(a, a), high = _mm_unpackhi_epi16(a, a);
    out[0] = _mm_unpacklo_epi32(low, low);
    out[1] = _mm_unpackhi_epi32(low, low);
    out[2] = _mm_unpacklo_epi32(high, high);
    out[3] = _mm_unpackhi_epi32(high, high);
}

// Eight samples v raised by factors of halves h and l16 (16 L), at amount a.
template <class T>
inline __m128i Sse2Raise(__m128i v, __m128i h, __m128i l16, __m128i a) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i below = _mm_mulhi_epu16(l16, v);
    const __m128i wholeHigh = _mm_mulhi_epu16(h, v);
    const __m128i sum = _mm_adds_epu16(_mm_mullo_epi16(h, v), below);
    // 65535 where the high half is not 0.
    const __m128i raised =
        _mm_or_si128(sum, _mm_andnot_si128(_mm_cmpeq_epi16(wholeHigh, zero), _mm_cmpeq_epi16(zero, zero)));
    const __m128i productHigh = _mm_mulhi_epu16(raised, a);
    const __m128i added = _mm_or_si128(_mm_slli_epi16(productHigh, 16 - kAmountBits),
                                       _mm_srli_epi16(_mm_mullo_epi16(raised, a), kAmountBits));
    const __m128i over = _mm_cmpgt_epi16(productHigh, _mm_set1_epi16((1 << kHighBits) - 1));
    const __m128i result = _mm_or_si128(_mm_adds_epu16(v, added), over);
    if constexpr (sizeof(T) == 1)
        return _mm_sub_epi16(result, _mm_subs_epu16(result, _mm_set1_epi16(255)));
    else
        return result;
}

template <class T>
inline __m128i Sse2Load(const BYTE* p) {
    if constexpr (sizeof(T) == 1)
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    else
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

template <class T>
inline void Sse2Store(BYTE* p, __m128i v) {
    if constexpr (sizeof(T) == 1)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <class T, LONG Channels>
void Sse2Pixels(const BYTE* from, BYTE* to, LONG count, const WORD* codes, LONG step, std::uint32_t amount) {
    constexpr std::size_t kPixel = sizeof(T) * Channels;
    const std::uint32_t* halves = Halves();
    const __m128i a = _mm_set1_epi16(static_cast<short>(amount));
    const __m128i lowMask = _mm_set1_epi32(0xFFFF);
    alignas(16) std::uint32_t block[kBlockPixels];
    LONG i = 0;
    while (count - i >= 8) {
        const LONG n = std::min<LONG>(kBlockPixels, (count - i) & ~LONG{7});
        const WORD* c = codes + static_cast<std::ptrdiff_t>(i) * step;
        for (LONG k = 0; k < n; ++k)
            block[k] = halves[c[static_cast<std::ptrdiff_t>(k) * step]];
        for (LONG k = 0; k < n; k += 8) {
            const __m128i first = _mm_load_si128(reinterpret_cast<const __m128i*>(block + k));
            const __m128i second = _mm_load_si128(reinterpret_cast<const __m128i*>(block + k + 4));
            // H below 2^15 and L below 2^12 pack without saturating.
            const __m128i h = _mm_packs_epi32(_mm_and_si128(first, lowMask), _mm_and_si128(second, lowMask));
            const __m128i l16 = _mm_slli_epi16(
                _mm_packs_epi32(_mm_srli_epi32(first, 16), _mm_srli_epi32(second, 16)), 16 - kFractionBits);
            const BYTE* in = from + static_cast<std::size_t>(i + k) * kPixel;
            BYTE* out = to + static_cast<std::size_t>(i + k) * kPixel;
            if constexpr (Channels == 1) {
                Sse2Store<T>(out, Sse2Raise<T>(Sse2Load<T>(in), h, l16, a));
            } else {
                __m128i hs[Channels], ls[Channels];
                if constexpr (Channels == 3) {
                    Triple(h, hs);
                    Triple(l16, ls);
                } else {
                    Quadruple(h, hs);
                    Quadruple(l16, ls);
                }
                for (LONG j = 0; j < Channels; ++j)
                    Sse2Store<T>(out + 8 * j * sizeof(T),
                                 Sse2Raise<T>(Sse2Load<T>(in + 8 * j * sizeof(T)), hs[j], ls[j], a));
            }
        }
        i += n;
    }
    PlainPixels<T, Channels>(from + static_cast<std::size_t>(i) * kPixel,
                             to + static_cast<std::size_t>(i) * kPixel, count - i,
                             codes + static_cast<std::ptrdiff_t>(i) * step, step, amount);
}

template <class T>
void PlainChannels(const BYTE* from, BYTE* to, LONG count, LONG channels, const WORD* codes, LONG step,
                   std::uint32_t amount) {
    switch (channels) {
    case 1:
        return Sse2Pixels<T, 1>(from, to, count, codes, step, amount);
    case 3:
        return Sse2Pixels<T, 3>(from, to, count, codes, step, amount);
    default:
        return Sse2Pixels<T, 4>(from, to, count, codes, step, amount);
    }
}

void PlainRaise(const BYTE* from, BYTE* to, LONG count, LONG channels, bool wide, const WORD* codes,
                LONG step, LONG amount) {
    if (wide)
        PlainChannels<WORD>(from, to, count, channels, codes, step, static_cast<std::uint32_t>(amount));
    else
        PlainChannels<BYTE>(from, to, count, channels, codes, step, static_cast<std::uint32_t>(amount));
}

// The AVX2 path: the plain path's arithmetic on sixteen samples at a time; sixteen pixels' halves come
// repeated per sample as the plain path's two sets of eight, lane by lane, then put back in order.
template <class T>
KV_AVX2 inline __m256i Avx2Raise16(__m256i v, __m256i h, __m256i l16, __m256i a) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i below = _mm256_mulhi_epu16(l16, v);
    const __m256i wholeHigh = _mm256_mulhi_epu16(h, v);
    const __m256i sum = _mm256_adds_epu16(_mm256_mullo_epi16(h, v), below);
    const __m256i raised = _mm256_or_si256(
        sum, _mm256_andnot_si256(_mm256_cmpeq_epi16(wholeHigh, zero), _mm256_cmpeq_epi16(zero, zero)));
    const __m256i productHigh = _mm256_mulhi_epu16(raised, a);
    const __m256i added = _mm256_or_si256(_mm256_slli_epi16(productHigh, 16 - kAmountBits),
                                          _mm256_srli_epi16(_mm256_mullo_epi16(raised, a), kAmountBits));
    const __m256i over = _mm256_cmpgt_epi16(productHigh, _mm256_set1_epi16((1 << kHighBits) - 1));
    const __m256i result = _mm256_or_si256(_mm256_adds_epu16(v, added), over);
    if constexpr (sizeof(T) == 1)
        return _mm256_min_epu16(result, _mm256_set1_epi16(255));
    else
        return result;
}

template <class T>
KV_AVX2 inline __m256i Avx2Load16(const BYTE* p) {
    if constexpr (sizeof(T) == 1)
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    else
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

template <class T>
KV_AVX2 inline void Avx2Store16(BYTE* p, __m256i v) {
    if constexpr (sizeof(T) == 1)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// The halves of sixteen pixels per sample of Channels samples (1 or 4), in sample order: out[j] covers
// samples 16 j ... 16 j + 15. x holds pixels 0 to 7 in its low lane and 8 to 15 in its high one.
template <LONG Channels>
KV_AVX2 inline void Avx2Repeat(__m256i x, __m256i out[Channels]) {
    if constexpr (Channels == 1) {
        out[0] = x;
    } else {
        const __m256i low = _mm256_unpacklo_epi16(x, x), high = _mm256_unpackhi_epi16(x, x);
        const __m256i q0 = _mm256_unpacklo_epi32(low, low), q1 = _mm256_unpackhi_epi32(low, low);
        const __m256i q2 = _mm256_unpacklo_epi32(high, high), q3 = _mm256_unpackhi_epi32(high, high);
        out[0] = _mm256_permute2x128_si256(q0, q1, 0x20);
        out[1] = _mm256_permute2x128_si256(q2, q3, 0x20);
        out[2] = _mm256_permute2x128_si256(q0, q1, 0x31);
        out[3] = _mm256_permute2x128_si256(q2, q3, 0x31);
    }
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

// The byte shuffle that repeats each of a lane's eight 16-bit values three times for a run of samples that
// starts at sample `low` of the lane's values in the low lane and at sample `high` in the high one: byte pair
// k of a lane takes value (start + k) / 3.
struct alignas(32) RepeatBytes {
    char b[32];
};
constexpr RepeatBytes ThreeTimes(int low, int high) {
    RepeatBytes r{};
    for (int k = 0; k < 16; ++k) {
        const int value = ((k < 8 ? low : high) + k % 8) / 3;
        r.b[2 * k] = static_cast<char>(2 * value);
        r.b[2 * k + 1] = static_cast<char>(2 * value + 1);
    }
    return r;
}
constexpr RepeatBytes kRepeatFirst = ThreeTimes(0, 8);
constexpr RepeatBytes kRepeatSecond = ThreeTimes(4, 12);
constexpr RepeatBytes kRepeatThird = ThreeTimes(8, 16);

KV_AVX2 inline __m256i Load(const RepeatBytes& table) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(table.b));
}

// The halves of sixteen three-sample pixels per sample, in sample order, straight from the packs of their
// two sets of eight factors, whose 64-bit quarters hold pixels 0-3, 8-11, 4-7 and 12-15: each vector takes
// the eight pixels its samples belong to into both lanes, and a byte shuffle repeats them in place.
KV_AVX2 inline void Avx2RepeatPacked3(__m256i packed, __m256i out[3]) {
    // Samples 0-15 of pixels 0-7, samples 16-31 of pixels 4-11 and samples 32-47 of pixels 8-15, each
    // counted from its vector's first pixel.
    out[0] =
        _mm256_shuffle_epi8(_mm256_permute4x64_epi64(packed, _MM_SHUFFLE(2, 0, 2, 0)), Load(kRepeatFirst));
    out[1] =
        _mm256_shuffle_epi8(_mm256_permute4x64_epi64(packed, _MM_SHUFFLE(1, 2, 1, 2)), Load(kRepeatSecond));
    out[2] =
        _mm256_shuffle_epi8(_mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 3, 1)), Load(kRepeatThird));
}

template <class T, LONG Channels>
KV_AVX2 void Avx2Pixels(const BYTE* from, BYTE* to, LONG count, const WORD* codes, LONG step,
                        std::uint32_t amount) {
    constexpr std::size_t kPixel = sizeof(T) * Channels;
    const __m256i a = _mm256_set1_epi16(static_cast<short>(amount));
    const __m256i fraction = _mm256_set1_epi32(static_cast<int>(kFractionMask));
    LONG i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i first = Avx2Factors(codes + static_cast<std::ptrdiff_t>(i) * step, step);
        const __m256i second = Avx2Factors(codes + static_cast<std::ptrdiff_t>(i + 8) * step, step);
        // H below 2^15 and L below 2^12 pack without saturating; the packs interleave their two sources by
        // lane.
        const __m256i hPacked = _mm256_packs_epi32(_mm256_srli_epi32(first, kFractionBits),
                                                   _mm256_srli_epi32(second, kFractionBits));
        const __m256i lPacked = _mm256_slli_epi16(
            _mm256_packs_epi32(_mm256_and_si256(first, fraction), _mm256_and_si256(second, fraction)),
            16 - kFractionBits);
        __m256i hs[Channels], ls[Channels];
        if constexpr (Channels == 3) {
            Avx2RepeatPacked3(hPacked, hs);
            Avx2RepeatPacked3(lPacked, ls);
        } else {
            // The permute puts the pixels back in order.
            Avx2Repeat<Channels>(_mm256_permute4x64_epi64(hPacked, _MM_SHUFFLE(3, 1, 2, 0)), hs);
            Avx2Repeat<Channels>(_mm256_permute4x64_epi64(lPacked, _MM_SHUFFLE(3, 1, 2, 0)), ls);
        }
        const BYTE* in = from + static_cast<std::size_t>(i) * kPixel;
        BYTE* out = to + static_cast<std::size_t>(i) * kPixel;
        for (LONG j = 0; j < Channels; ++j)
            Avx2Store16<T>(out + 16 * j * sizeof(T),
                           Avx2Raise16<T>(Avx2Load16<T>(in + 16 * j * sizeof(T)), hs[j], ls[j], a));
    }
    _mm256_zeroupper();
    Sse2Pixels<T, Channels>(from + static_cast<std::size_t>(i) * kPixel,
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
    return CpuChoose(kPlain, kAvx2);
}

} // namespace VignetteRows
