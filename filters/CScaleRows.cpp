#include "CScaleRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <vector>

namespace ScaleRows {
namespace {

#define KV_INLINE inline __attribute__((always_inline))

// The division of the scale routines: sum * ceil(2^32 / divisor) >> 32.
KV_INLINE std::uint32_t Q(std::uint64_t sum, std::uint32_t reciprocal) {
    return static_cast<std::uint32_t>((sum * reciprocal) >> 32);
}

KV_INLINE std::uint32_t AtMost(std::uint32_t v, std::uint32_t limit) {
    return v < limit ? v : limit;
}

// A Q14 cubic sum: truncated toward zero, negatives to 0, above the maximum to the maximum.
KV_INLINE std::uint32_t CubicResult(std::int32_t sum, std::uint32_t maxSample) {
    if (sum < 0)
        return 0;
    return AtMost(static_cast<std::uint32_t>(sum >> 14), maxSample);
}

// Horizontal routines. Acc is the width of the weighted sums: 32 bits wherever they fit, else 64. The
// parameters are copied into locals so that stores through the output cannot be taken to change them.

template <int CH, class Acc>
KV_INLINE void HLinearBody(const std::uint16_t* __restrict span, std::uint16_t* __restrict out,
                           const HorizontalParams& p) {
    const LONG count = p.count;
    const std::int32_t* __restrict index = p.index;
    const CScaleTableEntry* __restrict entries = p.entries;
    const std::uint32_t reciprocal = p.reciprocal;
    const std::uint32_t maxSample = p.maxSample;
    for (LONG i = 0; i < count; ++i) {
        const std::uint16_t* s = span + static_cast<std::ptrdiff_t>(index[i]) * CH;
        const Acc left = entries[i].word[0];
        const Acc right = entries[i].word[1];
        for (int c = 0; c < CH; ++c)
            out[i * CH + c] =
                static_cast<std::uint16_t>(AtMost(Q(left * s[c] + right * s[CH + c], reciprocal), maxSample));
    }
}

template <int CH>
KV_INLINE void HCubicBody(const std::uint16_t* __restrict span, std::uint16_t* __restrict out,
                          const HorizontalParams& p) {
    const LONG count = p.count;
    const std::int32_t* __restrict index = p.index;
    const CScaleTableEntry* __restrict entries = p.entries;
    const std::uint32_t maxSample = p.maxSample;
    for (LONG i = 0; i < count; ++i) {
        const std::uint16_t* s = span + static_cast<std::ptrdiff_t>(index[i]) * CH;
        const std::int32_t w0 = entries[i].tap[0], w1 = entries[i].tap[1], w2 = entries[i].tap[2],
                           w3 = entries[i].tap[3];
        for (int c = 0; c < CH; ++c) {
            const std::int32_t sum = w0 * s[c] + w1 * s[CH + c] + w2 * s[2 * CH + c] + w3 * s[3 * CH + c];
            out[i * CH + c] = static_cast<std::uint16_t>(CubicResult(sum, maxSample));
        }
    }
}

template <int CH, class Acc>
KV_INLINE void HAreaBody(const std::uint16_t* __restrict span, std::uint16_t* __restrict out,
                         const HorizontalParams& p) {
    const LONG count = p.count;
    const std::int32_t* __restrict index = p.index;
    const CScaleTableEntry* __restrict entries = p.entries;
    const std::uint32_t reciprocal = p.reciprocal;
    const std::uint32_t maxSample = p.maxSample;
    const Acc D = p.wholeWeight;
    for (LONG i = 0; i < count; ++i) {
        const std::uint16_t* s = span + static_cast<std::ptrdiff_t>(index[i]) * CH;
        const Acc first = entries[i].word[0];
        const Acc last = entries[i].word[1];
        const std::uint32_t whole = entries[i].word[2];
        Acc between[CH] = {};
        for (std::uint32_t k = 1; k <= whole; ++k)
            for (int c = 0; c < CH; ++c)
                between[c] += s[k * CH + c];
        const std::uint16_t* l = s + (whole + 1) * CH;
        for (int c = 0; c < CH; ++c)
            out[i * CH + c] = static_cast<std::uint16_t>(
                AtMost(Q(first * s[c] + D * between[c] + last * l[c], reciprocal), maxSample));
    }
}

// Vertical routines: one loop over the samples of the row, the same weights for all.

template <class Out>
KV_INLINE void VCopyBody(const std::uint16_t* const* rows, BYTE* outBytes, const VerticalParams& p) {
    const std::uint16_t* __restrict r1 = rows[1];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    const std::size_t count = p.count;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<Out>(r1[i]);
}

template <class Out, class Acc>
KV_INLINE void VLinearBody(const std::uint16_t* const* rows, BYTE* outBytes, const VerticalParams& p) {
    const std::uint16_t* __restrict r1 = rows[1];
    const std::uint16_t* __restrict r2 = rows[2];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    const std::size_t count = p.count;
    const Acc left = p.entry->word[0];
    const Acc right = p.entry->word[1];
    const std::uint32_t reciprocal = p.reciprocal;
    const std::uint32_t maxSample = p.maxSample;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<Out>(AtMost(Q(left * r1[i] + right * r2[i], reciprocal), maxSample));
}

template <class Out>
KV_INLINE void VCubicBody(const std::uint16_t* const* rows, BYTE* outBytes, const VerticalParams& p) {
    const std::int32_t w0 = p.entry->tap[0], w1 = p.entry->tap[1], w2 = p.entry->tap[2], w3 = p.entry->tap[3];
    const std::uint16_t* __restrict r0 = rows[0];
    const std::uint16_t* __restrict r1 = rows[1];
    const std::uint16_t* __restrict r2 = rows[2];
    const std::uint16_t* __restrict r3 = rows[3];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    const std::size_t count = p.count;
    const std::uint32_t maxSample = p.maxSample;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t sum = w0 * r0[i] + w1 * r1[i] + w2 * r2[i] + w3 * r3[i];
        out[i] = static_cast<Out>(CubicResult(sum, maxSample));
    }
}

// Area, sums within 32 bits: the whole rows are added up first, row by row, then weighted.
template <class Out>
KV_INLINE void VAreaBody32(const std::uint16_t* const* rows, BYTE* outBytes, const VerticalParams& p) {
    const std::uint32_t first = p.entry->word[0];
    const std::uint32_t last = p.entry->word[1];
    const std::uint32_t whole = p.entry->word[2];
    const std::uint32_t D = p.wholeWeight;
    const std::uint32_t reciprocal = p.reciprocal;
    const std::uint32_t maxSample = p.maxSample;
    const std::size_t count = p.count;
    const std::uint16_t* __restrict r1 = rows[1];
    const std::uint16_t* __restrict rl = rows[2 + whole];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    if (whole == 0) {
        if (last == 0) {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = static_cast<Out>(AtMost(Q(first * r1[i], reciprocal), maxSample));
        } else {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = static_cast<Out>(AtMost(Q(first * r1[i] + last * rl[i], reciprocal), maxSample));
        }
        return;
    }
    std::uint32_t* __restrict acc = p.accumulator;
    {
        const std::uint16_t* __restrict w0 = rows[2];
        for (std::size_t i = 0; i < count; ++i)
            acc[i] = w0[i];
    }
    for (std::uint32_t k = 1; k < whole; ++k) {
        const std::uint16_t* __restrict r = rows[2 + k];
        for (std::size_t i = 0; i < count; ++i)
            acc[i] += r[i];
    }
    if (last) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] =
                static_cast<Out>(AtMost(Q(first * r1[i] + D * acc[i] + last * rl[i], reciprocal), maxSample));
    } else {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<Out>(AtMost(Q(first * r1[i] + D * acc[i], reciprocal), maxSample));
    }
}

// Area with sums beyond 32 bits (reduced sizes far beyond any image's).
template <class Out>
KV_INLINE void VAreaBody64(const std::uint16_t* const* rows, BYTE* outBytes, const VerticalParams& p) {
    const std::uint64_t first = p.entry->word[0];
    const std::uint64_t last = p.entry->word[1];
    const std::uint32_t whole = p.entry->word[2];
    const std::uint64_t D = p.wholeWeight;
    Out* out = reinterpret_cast<Out*>(outBytes);
    for (std::size_t i = 0; i < p.count; ++i) {
        std::uint64_t between = 0;
        for (std::uint32_t k = 0; k < whole; ++k)
            between += rows[2 + k][i];
        std::uint64_t sum = first * rows[1][i] + D * between;
        if (last)
            sum += last * rows[2 + whole][i];
        out[i] = static_cast<Out>(AtMost(Q(sum, p.reciprocal), p.maxSample));
    }
}

// Instantiates one routine set; Prefix names the set and Attr carries its target attribute.
#define KV_SCALE_ROUTINES(Prefix, Attr)                                                                      \
    template <int CH>                                                                                        \
    Attr void Prefix##HLinearCH(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {  \
        if (p.wide)                                                                                          \
            HLinearBody<CH, std::uint64_t>(span, out, p);                                                    \
        else                                                                                                 \
            HLinearBody<CH, std::uint32_t>(span, out, p);                                                    \
    }                                                                                                        \
    template <int CH>                                                                                        \
    Attr void Prefix##HCubicCH(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {   \
        HCubicBody<CH>(span, out, p);                                                                        \
    }                                                                                                        \
    template <int CH>                                                                                        \
    Attr void Prefix##HAreaCH(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {    \
        if (p.wide)                                                                                          \
            HAreaBody<CH, std::uint64_t>(span, out, p);                                                      \
        else                                                                                                 \
            HAreaBody<CH, std::uint32_t>(span, out, p);                                                      \
    }                                                                                                        \
    void Prefix##HLinear(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {         \
        switch (p.channels) {                                                                                \
        case 1:                                                                                              \
            return Prefix##HLinearCH<1>(span, out, p);                                                       \
        case 2:                                                                                              \
            return Prefix##HLinearCH<2>(span, out, p);                                                       \
        case 3:                                                                                              \
            return Prefix##HLinearCH<3>(span, out, p);                                                       \
        default:                                                                                             \
            return Prefix##HLinearCH<4>(span, out, p);                                                       \
        }                                                                                                    \
    }                                                                                                        \
    void Prefix##HCubic(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {          \
        switch (p.channels) {                                                                                \
        case 1:                                                                                              \
            return Prefix##HCubicCH<1>(span, out, p);                                                        \
        case 2:                                                                                              \
            return Prefix##HCubicCH<2>(span, out, p);                                                        \
        case 3:                                                                                              \
            return Prefix##HCubicCH<3>(span, out, p);                                                        \
        default:                                                                                             \
            return Prefix##HCubicCH<4>(span, out, p);                                                        \
        }                                                                                                    \
    }                                                                                                        \
    void Prefix##HArea(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {           \
        switch (p.channels) {                                                                                \
        case 1:                                                                                              \
            return Prefix##HAreaCH<1>(span, out, p);                                                         \
        case 2:                                                                                              \
            return Prefix##HAreaCH<2>(span, out, p);                                                         \
        case 3:                                                                                              \
            return Prefix##HAreaCH<3>(span, out, p);                                                         \
        default:                                                                                             \
            return Prefix##HAreaCH<4>(span, out, p);                                                         \
        }                                                                                                    \
    }                                                                                                        \
    template <class Out>                                                                                     \
    Attr void Prefix##VCopy(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {          \
        VCopyBody<Out>(rows, out, p);                                                                        \
    }                                                                                                        \
    template <class Out>                                                                                     \
    Attr void Prefix##VLinear(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {        \
        if (p.wide)                                                                                          \
            VLinearBody<Out, std::uint64_t>(rows, out, p);                                                   \
        else                                                                                                 \
            VLinearBody<Out, std::uint32_t>(rows, out, p);                                                   \
    }                                                                                                        \
    template <class Out>                                                                                     \
    Attr void Prefix##VCubic(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {         \
        VCubicBody<Out>(rows, out, p);                                                                       \
    }                                                                                                        \
    template <class Out>                                                                                     \
    Attr void Prefix##VArea(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {          \
        if (p.wide)                                                                                          \
            VAreaBody64<Out>(rows, out, p);                                                                  \
        else                                                                                                 \
            VAreaBody32<Out>(rows, out, p);                                                                  \
    }

KV_SCALE_ROUTINES(Plain, )
KV_SCALE_ROUTINES(Auto, __attribute__((target("avx2"))))

// The same windows, two output pixels at once, one in each 128-bit half. A 128-bit load takes two
// neighbouring pixels of a window, a shuffle pairs their samples channel by channel, and
// _mm256_madd_epi16 weighs and adds each pair; samples are offset by -32768 to fit its signed 16-bit
// operands, and the offset times the window's weight sum is added back. With three channels the fourth
// lane carries samples of the next pixel and is dropped.
template <int CH>
__attribute__((target("avx2"))) KV_INLINE __m256i Avx2PairShuffle() {
    if constexpr (CH == 3)
        return _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, 12, 13, 14, 15, 0, 1, 6, 7, 2, 3, 8, 9,
                                4, 5, 10, 11, 12, 13, 14, 15);
    else
        return _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10,
                                11, 4, 5, 12, 13, 6, 7, 14, 15);
}

// The pixels from first on, one by one from the same taps, as the window routines leave them.
template <int CH, bool Cubic>
KV_INLINE void TapsTail(const std::uint16_t* __restrict span, std::uint16_t* __restrict out,
                        const HorizontalParams& p, LONG pairs, std::size_t block, LONG first) {
    const std::int32_t* __restrict taps = p.taps;
    const std::int32_t* __restrict index = p.index;
    const std::uint32_t maxSample = p.maxSample;
    const std::uint32_t reciprocal = p.reciprocal;
    for (LONG i = first; i < p.count; ++i) {
        const std::uint16_t* s = span + static_cast<std::ptrdiff_t>(index[i]) * CH;
        const std::int32_t* w = taps + static_cast<std::size_t>(i / 2) * block + (i % 2) * 4;
        for (int c = 0; c < CH; ++c) {
            std::int64_t sum = 0;
            for (LONG k = 0; k < 2 * pairs; ++k) {
                const std::uint32_t word = static_cast<std::uint32_t>(w[(k / 2) * 8]);
                const std::int16_t weight = static_cast<std::int16_t>(k % 2 ? word >> 16 : word & 0xFFFF);
                sum += std::int64_t{weight} * s[k * CH + c];
            }
            if constexpr (Cubic)
                out[i * CH + c] =
                    static_cast<std::uint16_t>(CubicResult(static_cast<std::int32_t>(sum), maxSample));
            else
                out[i * CH + c] = static_cast<std::uint16_t>(
                    AtMost(Q(static_cast<std::uint64_t>(sum), reciprocal), maxSample));
        }
    }
}

// FixedPairs > 0 fixes the number of tap pairs at compile time, so the loop over them unrolls.
template <int CH, bool Cubic, LONG FixedPairs>
__attribute__((target("avx2"))) void Avx2HTaps(const std::uint16_t* __restrict span,
                                               std::uint16_t* __restrict out, const HorizontalParams& p) {
    const LONG count = p.count;
    const LONG pairs = FixedPairs > 0 ? FixedPairs : (p.tapCount + 1) / 2;
    const std::size_t block = static_cast<std::size_t>(pairs + 1) * 8;
    const std::int32_t* __restrict taps = p.taps;
    const std::int32_t* __restrict index = p.index;
    const std::uint32_t maxSample = p.maxSample;
    const std::uint32_t reciprocal = p.reciprocal;
    const __m256i recip = _mm256_set1_epi64x(reciprocal);
    const __m256i maxv = _mm256_set1_epi32(static_cast<int>(maxSample));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i offset = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i shuffle = Avx2PairShuffle<CH>();
    LONG i = 0;
    // Each 8-byte store of a three-channel pixel reaches one sample into the next pixel, which is written
    // after it; the last pixels are left to the loop below so that nothing is written past the row.
    for (; i + 2 < count; i += 2) {
        const std::uint16_t* a = span + static_cast<std::ptrdiff_t>(index[i]) * CH;
        const std::uint16_t* b = span + static_cast<std::ptrdiff_t>(index[i + 1]) * CH;
        const std::int32_t* w = taps + static_cast<std::size_t>(i / 2) * block;
        __m256i sum = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + pairs * 8));
        for (LONG j = 0; j < pairs; ++j) {
            const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * j * CH));
            const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * j * CH));
            const __m256i samples =
                _mm256_xor_si256(_mm256_shuffle_epi8(_mm256_set_m128i(pb, pa), shuffle), offset);
            const __m256i weights = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + j * 8));
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(samples, weights));
        }
        __m256i v;
        if constexpr (Cubic) {
            v = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(sum, 14), zero), maxv);
        } else {
            const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(sum, recip), 32);
            const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(sum, 32), recip);
            v = _mm256_min_epu32(_mm256_blend_epi32(even, odd, 0xAA), maxv);
        }
        const __m256i packed = _mm256_packus_epi32(v, v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::ptrdiff_t>(i) * CH),
                         _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::ptrdiff_t>(i + 1) * CH),
                         _mm256_extracti128_si256(packed, 1));
    }
    TapsTail<CH, Cubic>(span, out, p, pairs, block, i);
}

// A road's window routine made for the window's pair count; Road::Run<CH, Cubic, Pairs> is the routine, 0
// pairs the one for any count.
template <class Road, int CH, bool Cubic>
void HTapsFor(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
    switch ((p.tapCount + 1) / 2) {
    case 1:
        return Road::template Run<CH, Cubic, 1>(span, out, p);
    case 2:
        return Road::template Run<CH, Cubic, 2>(span, out, p);
    case 3:
        return Road::template Run<CH, Cubic, 3>(span, out, p);
    default:
        return Road::template Run<CH, Cubic, 0>(span, out, p);
    }
}

// False where the road's window routines do not serve (no taps, sums too wide for 32 bits, other than three
// or four channels): the caller's general routine does the row.
template <class Road, bool Cubic>
bool HTapsBy(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
    if (!p.taps || p.wide)
        return false;
    if (p.channels == 3)
        HTapsFor<Road, 3, Cubic>(span, out, p);
    else if (p.channels == 4)
        HTapsFor<Road, 4, Cubic>(span, out, p);
    else
        return false;
    return true;
}

struct Avx2Taps {
    template <int CH, bool Cubic, LONG Pairs>
    static void Run(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
        Avx2HTaps<CH, Cubic, Pairs>(span, out, p);
    }
};

// A road's window routine where it serves, the general routine of the road below it elsewhere.
using HorizontalRoutine = void (*)(const std::uint16_t*, std::uint16_t*, const HorizontalParams&);
template <class Road, bool Cubic, HorizontalRoutine Otherwise>
void HTapsOr(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
    if (!HTapsBy<Road, Cubic>(span, out, p))
        Otherwise(span, out, p);
}

// The plain road's windows: the taps of the AVX2 routine with SSE2 alone, which every x86-64 processor
// has. One output pixel fills a 128-bit register: a load takes two neighbouring pixels of its window, an
// unpack with the same load shifted by one pixel pairs their samples channel by channel, and
// _mm_madd_epi16 weighs and adds each pair (the fourth lane of three channels is dropped). SSE2 lacks the
// unsigned 32-bit pack, so the pack goes through the signed one with the samples offset by -32768; only
// the cubic sums need clamping, which signed compares do.
template <int CH>
KV_INLINE __m128i Sse2Pair(const std::uint16_t* samples, __m128i offset) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
    return _mm_xor_si128(_mm_unpacklo_epi16(v, _mm_srli_si128(v, CH * 2)), offset);
}

// Where the mask is set, with; elsewhere, v.
KV_INLINE __m128i Sse2Select(__m128i mask, __m128i with, __m128i v) {
    return _mm_or_si128(_mm_and_si128(mask, with), _mm_andnot_si128(mask, v));
}

template <int CH, bool Cubic, LONG FixedPairs>
void Sse2HTaps(const std::uint16_t* __restrict span, std::uint16_t* __restrict out,
               const HorizontalParams& p) {
    const LONG count = p.count;
    const LONG pairs = FixedPairs > 0 ? FixedPairs : (p.tapCount + 1) / 2;
    const std::size_t block = static_cast<std::size_t>(pairs + 1) * 8;
    const std::int32_t* __restrict taps = p.taps;
    const std::int32_t* __restrict index = p.index;
    const std::uint32_t maxSample = p.maxSample;
    const std::uint32_t reciprocal = p.reciprocal;
    const __m128i recip = _mm_set1_epi64x(reciprocal);
    const __m128i highHalves = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i maxv = _mm_set1_epi32(static_cast<int>(maxSample));
    const __m128i zero = _mm_setzero_si128();
    const __m128i offset = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i half = _mm_set1_epi32(32768);
    const auto finish = [&](__m128i sum) {
        if constexpr (Cubic) {
            __m128i v = _mm_srai_epi32(sum, 14);
            v = _mm_and_si128(v, _mm_cmpgt_epi32(v, zero));
            return Sse2Select(_mm_cmpgt_epi32(v, maxv), maxv, v);
        } else {
            const __m128i even = _mm_srli_epi64(_mm_mul_epu32(sum, recip), 32);
            const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(sum, 32), recip);
            // No clamp: the weights add up to the divisor and the sums stay within 32 bits (the routine
            // is not taken for wide sums), so sum * ceil(2^32 / divisor) >> 32 never passes the maximum.
            return _mm_or_si128(even, _mm_and_si128(odd, highHalves));
        }
    };
    LONG i = 0;
    // As in the AVX2 routine, each 8-byte store of a three-channel pixel reaches one sample into the next
    // pixel, which is written after it, and the last pixels are left to the loop below.
    for (; i + 2 < count; i += 2) {
        const std::uint16_t* a = span + static_cast<std::ptrdiff_t>(index[i]) * CH;
        const std::uint16_t* b = span + static_cast<std::ptrdiff_t>(index[i + 1]) * CH;
        const std::int32_t* w = taps + static_cast<std::size_t>(i / 2) * block;
        __m128i sumA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + pairs * 8));
        __m128i sumB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + pairs * 8 + 4));
        for (LONG j = 0; j < pairs; ++j) {
            const __m128i weightsA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j * 8));
            const __m128i weightsB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j * 8 + 4));
            sumA = _mm_add_epi32(sumA, _mm_madd_epi16(Sse2Pair<CH>(a + 2 * j * CH, offset), weightsA));
            sumB = _mm_add_epi32(sumB, _mm_madd_epi16(Sse2Pair<CH>(b + 2 * j * CH, offset), weightsB));
        }
        const __m128i packed = _mm_xor_si128(
            _mm_packs_epi32(_mm_sub_epi32(finish(sumA), half), _mm_sub_epi32(finish(sumB), half)), offset);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::ptrdiff_t>(i) * CH), packed);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::ptrdiff_t>(i + 1) * CH),
                         _mm_srli_si128(packed, 8));
    }
    TapsTail<CH, Cubic>(span, out, p, pairs, block, i);
}

struct Sse2Taps {
    template <int CH, bool Cubic, LONG Pairs>
    static void Run(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
        Sse2HTaps<CH, Cubic, Pairs>(span, out, p);
    }
};

// The plain road's vertical area routine, eight samples at a time with SSE2: every row of the window
// (the first, the whole ones, the last) is paired with the next and _mm_madd_epi16 weighs and adds each
// pair, with the samples offset by -32768 as in the window routines above. Windows of more rows than
// kMaxPairedRows, or weights beyond 16 bits, take the scalar routine.
constexpr std::uint32_t kMaxPairedRows = 64;

template <class Out>
void Sse2VArea(const std::uint16_t* const* rows, BYTE* outBytes, const VerticalParams& p) {
    const std::uint32_t first = p.entry->word[0];
    const std::uint32_t last = p.entry->word[1];
    const std::uint32_t whole = p.entry->word[2];
    const std::uint32_t D = p.wholeWeight;
    const std::uint32_t terms = 1 + whole + (last ? 1 : 0);
    if (p.wide || terms > kMaxPairedRows || first > 32767 || last > 32767 || (whole && D > 32767))
        return PlainVArea<Out>(rows, outBytes, p);
    // The rows and their weights, padded to pairs with a row of weight 0.
    const std::uint16_t* from[kMaxPairedRows + 1];
    std::uint32_t weight[kMaxPairedRows + 1];
    from[0] = rows[1];
    weight[0] = first;
    for (std::uint32_t k = 0; k < whole; ++k) {
        from[1 + k] = rows[2 + k];
        weight[1 + k] = D;
    }
    if (last) {
        from[1 + whole] = rows[2 + whole];
        weight[1 + whole] = last;
    }
    from[terms] = from[0];
    weight[terms] = 0;
    const std::uint32_t pairs = (terms + 1) / 2;
    __m128i weightPairs[kMaxPairedRows / 2];
    for (std::uint32_t t = 0; t < pairs; ++t)
        weightPairs[t] = _mm_set1_epi32(static_cast<int>((weight[2 * t + 1] << 16) | weight[2 * t]));
    const std::uint16_t* __restrict r1 = rows[1];
    const std::uint16_t* __restrict rl = rows[2 + whole];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    const std::size_t count = p.count;
    const std::uint32_t reciprocal = p.reciprocal;
    const std::uint32_t maxSample = p.maxSample;
    const __m128i offset = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i restore = _mm_set1_epi32(static_cast<int>(32768u * (first + D * whole + last)));
    const __m128i recip = _mm_set1_epi64x(reciprocal);
    const __m128i highHalves = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i half = _mm_set1_epi32(32768);
    const auto finish = [&](__m128i sum) {
        const __m128i even = _mm_srli_epi64(_mm_mul_epu32(sum, recip), 32);
        const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(sum, 32), recip);
        // No clamp, as in the window routines: first + D * whole + last is the divisor.
        return _mm_sub_epi32(_mm_or_si128(even, _mm_and_si128(odd, highHalves)), half);
    };
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i lo = restore;
        __m128i hi = restore;
        for (std::uint32_t t = 0; t < pairs; ++t) {
            const __m128i a =
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from[2 * t] + i)), offset);
            const __m128i b =
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from[2 * t + 1] + i)), offset);
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weightPairs[t]));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weightPairs[t]));
        }
        const __m128i v = _mm_xor_si128(_mm_packs_epi32(finish(lo), finish(hi)), offset);
        if constexpr (sizeof(Out) == 1)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
        else
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    }
    for (; i < count; ++i) {
        std::uint32_t between = 0;
        for (std::uint32_t k = 0; k < whole; ++k)
            between += rows[2 + k][i];
        const std::uint32_t sum = first * r1[i] + D * between + (last ? last * rl[i] : 0);
        out[i] = static_cast<Out>(AtMost(Q(sum, reciprocal), maxSample));
    }
}

// Vertical routines on sixteen samples at a time. Ring samples are offset by -32768 so that they fit the
// signed 16-bit pairs that _mm256_madd_epi16 multiplies and adds; the offset times the weights' sum is
// added back. All sums stay exact.
template <class Out>
__attribute__((target("avx2"))) KV_INLINE void Avx2Store16(Out* out, __m256i v) {
    if constexpr (sizeof(Out) == 1) {
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
    } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
    }
}

__attribute__((target("avx2"))) KV_INLINE __m256i Avx2LoadOffset(const std::uint16_t* samples,
                                                                 __m256i offset) {
    return _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples)), offset);
}

// Two signed 16-bit weights in every 32-bit lane, lo first, as _mm256_madd_epi16 pairs them.
__attribute__((target("avx2"))) KV_INLINE __m256i Avx2WeightPair(std::int32_t lo, std::int32_t hi) {
    return _mm256_set1_epi32(
        static_cast<int>((static_cast<std::uint32_t>(hi) << 16) | (static_cast<std::uint32_t>(lo) & 0xFFFF)));
}

template <class Out>
__attribute__((target("avx2"))) void Avx2VLinear(const std::uint16_t* const* rows, BYTE* outBytes,
                                                 const VerticalParams& p) {
    const std::uint32_t left = p.entry->word[0];
    const std::uint32_t right = p.entry->word[1];
    if (p.wide || left + right > 32767)
        return AutoVLinear<Out>(rows, outBytes, p);
    const std::uint16_t* __restrict r1 = rows[1];
    const std::uint16_t* __restrict r2 = rows[2];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    const std::size_t count = p.count;
    const std::uint32_t reciprocal = p.reciprocal;
    const std::uint32_t maxSample = p.maxSample;
    const __m256i weights = Avx2WeightPair(static_cast<std::int32_t>(left), static_cast<std::int32_t>(right));
    const __m256i offset = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i restore = _mm256_set1_epi32(static_cast<int>(32768u * (left + right)));
    const __m256i recip = _mm256_set1_epi64x(reciprocal);
    const __m256i maxv = _mm256_set1_epi32(static_cast<int>(maxSample));
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = Avx2LoadOffset(r1 + i, offset);
        const __m256i b = Avx2LoadOffset(r2 + i, offset);
        __m256i sums[2] = {
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights), restore),
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights), restore)};
        for (__m256i& sum : sums) {
            const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(sum, recip), 32);
            const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(sum, 32), recip);
            sum = _mm256_min_epu32(_mm256_blend_epi32(even, odd, 0xAA), maxv);
        }
        Avx2Store16(out + i, _mm256_packus_epi32(sums[0], sums[1]));
    }
    for (; i < count; ++i)
        out[i] = static_cast<Out>(AtMost(Q(left * r1[i] + right * r2[i], reciprocal), maxSample));
}

template <class Out>
__attribute__((target("avx2"))) void Avx2VCubic(const std::uint16_t* const* rows, BYTE* outBytes,
                                                const VerticalParams& p) {
    const std::int32_t* w = p.entry->tap;
    const std::uint16_t* __restrict r0 = rows[0];
    const std::uint16_t* __restrict r1 = rows[1];
    const std::uint16_t* __restrict r2 = rows[2];
    const std::uint16_t* __restrict r3 = rows[3];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    const std::size_t count = p.count;
    const std::uint32_t maxSample = p.maxSample;
    const __m256i w01 = Avx2WeightPair(w[0], w[1]);
    const __m256i w23 = Avx2WeightPair(w[2], w[3]);
    const __m256i offset = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i restore = _mm256_set1_epi32(32768 * (w[0] + w[1] + w[2] + w[3]));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i maxv = _mm256_set1_epi32(static_cast<int>(maxSample));
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = Avx2LoadOffset(r0 + i, offset);
        const __m256i b = Avx2LoadOffset(r1 + i, offset);
        const __m256i c = Avx2LoadOffset(r2 + i, offset);
        const __m256i d = Avx2LoadOffset(r3 + i, offset);
        __m256i sums[2] = {
            _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w01),
                                              _mm256_madd_epi16(_mm256_unpacklo_epi16(c, d), w23)),
                             restore),
            _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w01),
                                              _mm256_madd_epi16(_mm256_unpackhi_epi16(c, d), w23)),
                             restore)};
        for (__m256i& sum : sums)
            sum = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(sum, 14), zero), maxv);
        Avx2Store16(out + i, _mm256_packus_epi32(sums[0], sums[1]));
    }
    for (; i < count; ++i)
        out[i] = static_cast<Out>(
            CubicResult(w[0] * r0[i] + w[1] * r1[i] + w[2] * r2[i] + w[3] * r3[i], maxSample));
}

template <class Out>
__attribute__((target("avx2"))) void Avx2VArea(const std::uint16_t* const* rows, BYTE* outBytes,
                                               const VerticalParams& p) {
    const std::uint32_t first = p.entry->word[0];
    const std::uint32_t last = p.entry->word[1];
    const std::uint32_t whole = p.entry->word[2];
    const std::uint32_t D = p.wholeWeight;
    if (p.wide || first + last > 32767)
        return AutoVArea<Out>(rows, outBytes, p);
    const std::uint16_t* __restrict r1 = rows[1];
    const std::uint16_t* __restrict rl = rows[2 + whole];
    Out* __restrict out = reinterpret_cast<Out*>(outBytes);
    const std::size_t count = p.count;
    const std::uint32_t reciprocal = p.reciprocal;
    const std::uint32_t maxSample = p.maxSample;
    const __m256i weights = Avx2WeightPair(static_cast<std::int32_t>(first), static_cast<std::int32_t>(last));
    const __m256i offset = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i restore = _mm256_set1_epi32(static_cast<int>(32768u * (first + last)));
    const __m256i wholeWeight = _mm256_set1_epi32(static_cast<int>(D));
    const __m256i recip = _mm256_set1_epi64x(reciprocal);
    const __m256i maxv = _mm256_set1_epi32(static_cast<int>(maxSample));
    const __m256i zero = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = Avx2LoadOffset(r1 + i, offset);
        const __m256i b = Avx2LoadOffset(rl + i, offset);
        // The whole rows' sums in the lane order of the unpacked pairs: samples 0-3 and 8-11, then 4-7 and
        // 12-15.
        __m256i betweenLo = zero;
        __m256i betweenHi = zero;
        for (std::uint32_t k = 0; k < whole; ++k) {
            const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[2 + k] + i));
            betweenLo = _mm256_add_epi32(betweenLo, _mm256_unpacklo_epi16(r, zero));
            betweenHi = _mm256_add_epi32(betweenHi, _mm256_unpackhi_epi16(r, zero));
        }
        __m256i sums[2] = {
            _mm256_add_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights), restore),
                _mm256_mullo_epi32(betweenLo, wholeWeight)),
            _mm256_add_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights), restore),
                _mm256_mullo_epi32(betweenHi, wholeWeight))};
        for (__m256i& sum : sums) {
            const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(sum, recip), 32);
            const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(sum, 32), recip);
            sum = _mm256_min_epu32(_mm256_blend_epi32(even, odd, 0xAA), maxv);
        }
        Avx2Store16(out + i, _mm256_packus_epi32(sums[0], sums[1]));
    }
    for (; i < count; ++i) {
        std::uint32_t between = 0;
        for (std::uint32_t k = 0; k < whole; ++k)
            between += rows[2 + k][i];
        out[i] =
            static_cast<Out>(AtMost(Q(first * r1[i] + D * between + last * rl[i], reciprocal), maxSample));
    }
}

// Nearest neighbour. A pixel of a size known at compile time is copied by one move of MoveBytes(N) while
// the plan allows it (the move's bytes past the pixel are the next pixel's, written again by its own move),
// and exactly after that.
template <int N>
KV_INLINE void CopyPixelsFrom(const BYTE* __restrict row, BYTE* __restrict out, const NearestPlan& plan,
                              LONG first) {
    constexpr int M = MoveBytes(N);
    using Word = std::conditional_t<
        M == 8, std::uint64_t,
        std::conditional_t<M == 4, std::uint32_t, std::conditional_t<M == 2, std::uint16_t, std::uint8_t>>>;
    const std::int32_t* __restrict offsets = plan.offsets.data();
    LONG i = first;
    for (; i < plan.moved; ++i) {
        Word w;
        std::memcpy(&w, row + offsets[i], M);
        std::memcpy(out + static_cast<std::size_t>(i) * N, &w, M);
    }
    for (; i < plan.count; ++i)
        std::memcpy(out + static_cast<std::size_t>(i) * N, row + offsets[i], N);
}

KV_INLINE void CopyPixelsBy(const BYTE* row, BYTE* out, const NearestPlan& plan, LONG first) {
    switch (plan.pixelBytes) {
    case 1:
        return CopyPixelsFrom<1>(row, out, plan, first);
    case 2:
        return CopyPixelsFrom<2>(row, out, plan, first);
    case 3:
        return CopyPixelsFrom<3>(row, out, plan, first);
    case 4:
        return CopyPixelsFrom<4>(row, out, plan, first);
    case 6:
        return CopyPixelsFrom<6>(row, out, plan, first);
    default:
        for (LONG i = first; i < plan.count; ++i)
            std::memcpy(out + static_cast<std::size_t>(i) * plan.pixelBytes, row + plan.offsets[i],
                        static_cast<std::size_t>(plan.pixelBytes));
    }
}

void PlainNearest(const BYTE* row, BYTE* out, const NearestPlan& plan) {
    CopyPixelsBy(row, out, plan, 0);
}

// Each group is one sixteen-byte load, shuffle and store; a store's bytes beyond its group's pixels are
// written again by the next group or by the pixels copied one by one after the groups.
__attribute__((target("avx2"))) void Avx2Nearest(const BYTE* row, BYTE* out, const NearestPlan& plan) {
    for (const NearestGroup& g : plan.groups) {
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + g.from));
        const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i*>(g.shuffle));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + g.to), _mm_shuffle_epi8(source, order));
    }
    CopyPixelsBy(row, out, plan, plan.grouped);
}

// Each wide group is one 64-byte load, word permutation and store; as with the groups, a store's words
// beyond its group's pixels are written again by the next group or by the moves after the groups. A plan
// made for the other sets has no wide groups and is copied as they copy it. (GCC takes the undefined upper
// half inside _mm512_castsi512_si256 for an uninitialised value.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx2,avx512f,avx512bw"))) void Avx512Nearest(const BYTE* row, BYTE* out,
                                                                    const NearestPlan& plan) {
    if (plan.wideGroups.empty())
        return Avx2Nearest(row, out, plan);
    // Groups of few pixels store half the register: fewer bytes written again by the next group.
    if (plan.wideStoreBytes == 32) {
        for (const NearestWideGroup& g : plan.wideGroups) {
            const __m512i source = _mm512_loadu_si512(row + g.from);
            const __m512i order = _mm512_load_si512(g.order);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + g.to),
                                _mm512_castsi512_si256(_mm512_permutexvar_epi16(order, source)));
        }
    } else {
        for (const NearestWideGroup& g : plan.wideGroups) {
            const __m512i source = _mm512_loadu_si512(row + g.from);
            const __m512i order = _mm512_load_si512(g.order);
            _mm512_storeu_si512(out + g.to, _mm512_permutexvar_epi16(order, source));
        }
    }
    CopyPixelsBy(row, out, plan, plan.wideGrouped);
}
#pragma GCC diagnostic pop

const Kernels PlainKernels = {
    HTapsOr<Sse2Taps, false, PlainHLinear>,
    HTapsOr<Sse2Taps, true, PlainHCubic>,
    HTapsOr<Sse2Taps, false, PlainHArea>,
    PlainVCopy<std::uint8_t>,
    PlainVCopy<std::uint16_t>,
    PlainVLinear<std::uint8_t>,
    PlainVLinear<std::uint16_t>,
    PlainVCubic<std::uint8_t>,
    PlainVCubic<std::uint16_t>,
    Sse2VArea<std::uint8_t>,
    Sse2VArea<std::uint16_t>,
    true,
    PlainNearest,
    0,
};

constexpr Kernels Avx2Kernels = {
    HTapsOr<Avx2Taps, false, AutoHLinear>,
    HTapsOr<Avx2Taps, true, AutoHCubic>,
    HTapsOr<Avx2Taps, false, AutoHArea>,
    AutoVCopy<std::uint8_t>,
    AutoVCopy<std::uint16_t>,
    Avx2VLinear<std::uint8_t>,
    Avx2VLinear<std::uint16_t>,
    Avx2VCubic<std::uint8_t>,
    Avx2VCubic<std::uint16_t>,
    Avx2VArea<std::uint8_t>,
    Avx2VArea<std::uint16_t>,
    true,
    Avx2Nearest,
    16,
};

// The AVX2 set with the wide nearest-neighbour groups.
constexpr Kernels Avx512Kernels = [] {
    Kernels kernels = Avx2Kernels;
    kernels.nearest = Avx512Nearest;
    kernels.nearestGroupBytes = 64;
    return kernels;
}();

} // namespace

const Kernels& Plain() {
    return PlainKernels;
}

const Kernels& Simd() {
    return Avx2Kernels;
}

const Kernels& Wide() {
    return Avx512Kernels;
}

const Kernels& Choose() {
    if (CpuHas(CpuFeature::kAVX512F | CpuFeature::kAVX512BW | CpuFeature::kAVX2))
        return Avx512Kernels;
    return CpuChoose(PlainKernels, Avx2Kernels);
}

LONG TapCount(CScalePipeline::Routine routine, const CScaleTableEntry* entries, LONG count) {
    switch (routine) {
    case CScalePipeline::Routine::Linear:
        return 2;
    case CScalePipeline::Routine::Cubic:
        return 4;
    case CScalePipeline::Routine::Area: {
        std::int64_t taps = 1;
        for (LONG i = 0; i < count; ++i)
            taps = std::max<std::int64_t>(taps, std::int64_t{entries[i].word[2]} + 1 +
                                                    (entries[i].word[1] ? 1 : 0));
        return static_cast<LONG>(std::min<std::int64_t>(taps, 1 << 30));
    }
    default:
        return 1;
    }
}

bool BuildTaps(CScalePipeline::Routine routine, const CScaleTableEntry* entries, LONG count, std::uint32_t D,
               LONG tapCount, std::int32_t* taps) {
    const LONG pairs = (tapCount + 1) / 2;
    const std::size_t block = static_cast<std::size_t>(pairs + 1) * 8;
    std::fill(taps, taps + TapWords(count, tapCount), 0);
    std::vector<std::int64_t> w(static_cast<std::size_t>(2 * pairs));
    for (LONG i = 0; i < count; ++i) {
        std::fill(w.begin(), w.end(), 0);
        const CScaleTableEntry& e = entries[i];
        auto set = [&](std::int64_t k, std::int64_t v) {
            if (k < 2 * pairs)
                w[static_cast<std::size_t>(k)] = v;
        };
        switch (routine) {
        case CScalePipeline::Routine::Linear:
            set(0, e.word[0]);
            set(1, e.word[1]);
            break;
        case CScalePipeline::Routine::Cubic:
            for (LONG k = 0; k < 4; ++k)
                set(k, e.tap[k]);
            break;
        case CScalePipeline::Routine::Area:
            set(0, e.word[0]);
            for (std::int64_t k = 1; k <= e.word[2]; ++k)
                set(k, D);
            set(std::int64_t{e.word[2]} + 1, e.word[1]);
            break;
        default:
            break;
        }
        std::int64_t total = 0;
        for (std::int64_t v : w) {
            if (v < -32768 || v > 32767)
                return false;
            total += v;
        }
        std::int32_t* out = taps + static_cast<std::size_t>(i / 2) * block + (i % 2) * 4;
        for (LONG j = 0; j < pairs; ++j) {
            const std::uint32_t packed = (static_cast<std::uint32_t>(w[2 * j]) & 0xFFFF) |
                                         (static_cast<std::uint32_t>(w[2 * j + 1]) << 16);
            std::fill(out + j * 8, out + j * 8 + 4, static_cast<std::int32_t>(packed));
        }
        // The samples' offset of -32768, times the weights, comes back here (modulo 2^32, as the sums).
        const std::uint32_t restore = static_cast<std::uint32_t>(total * 32768);
        std::fill(out + pairs * 8, out + pairs * 8 + 4, static_cast<std::int32_t>(restore));
    }
    return true;
}

void PlanNearest(const std::int32_t* offsets, LONG count, LONG pixelBytes, std::int64_t readable,
                 LONG groupBytes, NearestPlan* plan) {
    constexpr LONG kGroupBytes = 16;
    constexpr LONG kWideGroupBytes = 64;
    constexpr std::uint8_t kZero = 0x80;         // a shuffle index that writes 0
    constexpr std::int64_t kGroupPixels = 3;     // groups pay from this many pixels on average,
    constexpr std::int64_t kGroupPayBytes = 12;  // or from this many bytes
    constexpr std::int64_t kWideGroupPixels = 3; // wide groups pay from this many pixels on average
    plan->pixelBytes = pixelBytes;
    plan->count = count;
    plan->offsets.assign(offsets, offsets + count);
    plan->groups.clear();
    plan->wideGroups.clear();
    plan->grouped = 0;
    plan->wideGrouped = 0;
    plan->wideStoreBytes = 0;
    const std::int64_t runBytes = std::int64_t{count} * pixelBytes;
    LONG i = 0;
    // A wide group's pixels are whole 16-bit words, so pixels of an odd byte count take the groups.
    if (groupBytes == kWideGroupBytes && pixelBytes % 2 == 0) {
        LONG widest = 0;
        while (i < count) {
            const std::int32_t from = offsets[i];
            const std::int64_t to = std::int64_t{i} * pixelBytes;
            if (from + std::int64_t{kWideGroupBytes} > readable || to + kWideGroupBytes > runBytes)
                break;
            NearestWideGroup group;
            group.from = from;
            group.to = static_cast<std::int32_t>(to);
            std::fill(std::begin(group.order), std::end(group.order), std::uint16_t{0});
            LONG n = 0;
            while (i + n < count && (n + 1) * pixelBytes <= kWideGroupBytes &&
                   offsets[i + n] - from + pixelBytes <= kWideGroupBytes) {
                for (LONG w = 0; w < pixelBytes / 2; ++w)
                    group.order[n * pixelBytes / 2 + w] =
                        static_cast<std::uint16_t>((offsets[i + n] - from) / 2 + w);
                ++n;
            }
            plan->wideGroups.push_back(group);
            widest = std::max(widest, n * pixelBytes);
            i += n;
        }
        // A wide group costs about what two or three moves cost. Three pixels a group (a 1 : 4 reduction
        // of 16-bit RGB) still pay: the moves' loads then wait on the stores before them at some placements
        // of the source and output tiles and take twice as long, while the groups' time stays the same.
        const auto groups = static_cast<std::int64_t>(plan->wideGroups.size());
        if (groups > 0 && i < kWideGroupPixels * groups) {
            plan->wideGroups.clear();
            i = 0;
        }
        plan->wideGrouped = i;
        plan->wideStoreBytes = widest <= kWideGroupBytes / 2 ? kWideGroupBytes / 2 : kWideGroupBytes;
    }
    if (groupBytes >= kGroupBytes && plan->wideGroups.empty()) {
        while (i < count) {
            const std::int32_t from = offsets[i];
            const std::int64_t to = std::int64_t{i} * pixelBytes;
            if (from + std::int64_t{kGroupBytes} > readable || to + kGroupBytes > runBytes)
                break;
            NearestGroup group;
            group.from = from;
            group.to = static_cast<std::int32_t>(to);
            std::fill(std::begin(group.shuffle), std::end(group.shuffle), kZero);
            LONG n = 0;
            while (i + n < count && (n + 1) * pixelBytes <= kGroupBytes &&
                   offsets[i + n] - from + pixelBytes <= kGroupBytes) {
                for (LONG b = 0; b < pixelBytes; ++b)
                    group.shuffle[n * pixelBytes + b] = static_cast<std::uint8_t>(offsets[i + n] - from + b);
                ++n;
            }
            plan->groups.push_back(group);
            i += n;
        }
        // A group's load, shuffle and store cost about what two or three moves cost: groups that hold few
        // pixels and few bytes on average (a strong reduction of small pixels) are left to the moves.
        const auto groups = static_cast<std::int64_t>(plan->groups.size());
        if (groups > 0 && i < kGroupPixels * groups &&
            std::int64_t{i} * pixelBytes < kGroupPayBytes * groups) {
            plan->groups.clear();
            i = 0;
        }
        plan->grouped = i;
    }
    const LONG move = MoveBytes(pixelBytes);
    LONG moved = 0;
    while (moved < count && offsets[moved] + std::int64_t{move} <= readable &&
           std::int64_t{moved} * pixelBytes + move <= runBytes)
        ++moved;
    plan->moved = moved;
}

void Widen(const BYTE* from, std::uint16_t* to, std::size_t samples) {
    for (std::size_t i = 0; i < samples; ++i)
        to[i] = from[i];
}

} // namespace ScaleRows
