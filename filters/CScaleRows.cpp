#include "CScaleRows.h"

#include "platform/win/CpuFeatures.h"

#include <cstring>

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

template <class Out>
KV_INLINE void Store(BYTE* out, std::size_t i, std::uint32_t v) {
    reinterpret_cast<Out*>(out)[i] = static_cast<Out>(v);
}

// Horizontal routines. Acc is the width of the weighted sums: 32 bits wherever they fit, else 64.

template <int CH, class Acc>
KV_INLINE void HLinearBody(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
    for (LONG i = 0; i < p.count; ++i) {
        const std::uint16_t* s = span + static_cast<std::ptrdiff_t>(p.index[i]) * CH;
        const Acc left = p.entries[i].word[0];
        const Acc right = p.entries[i].word[1];
        for (int c = 0; c < CH; ++c)
            out[i * CH + c] = static_cast<std::uint16_t>(
                AtMost(Q(left * s[c] + right * s[CH + c], p.reciprocal), p.maxSample));
    }
}

template <int CH>
KV_INLINE void HCubicBody(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
    for (LONG i = 0; i < p.count; ++i) {
        const std::uint16_t* s = span + static_cast<std::ptrdiff_t>(p.index[i]) * CH;
        const std::int32_t* w = p.entries[i].tap;
        for (int c = 0; c < CH; ++c) {
            const std::int32_t sum =
                w[0] * s[c] + w[1] * s[CH + c] + w[2] * s[2 * CH + c] + w[3] * s[3 * CH + c];
            out[i * CH + c] = static_cast<std::uint16_t>(CubicResult(sum, p.maxSample));
        }
    }
}

template <int CH, class Acc>
KV_INLINE void HAreaBody(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p) {
    const Acc D = p.wholeWeight;
    for (LONG i = 0; i < p.count; ++i) {
        const std::uint16_t* s = span + static_cast<std::ptrdiff_t>(p.index[i]) * CH;
        const Acc first = p.entries[i].word[0];
        const Acc last = p.entries[i].word[1];
        const std::uint32_t whole = p.entries[i].word[2];
        for (int c = 0; c < CH; ++c) {
            Acc between = 0;
            for (std::uint32_t k = 1; k <= whole; ++k)
                between += s[k * CH + c];
            const Acc sum = first * s[c] + D * between + last * s[(whole + 1) * CH + c];
            out[i * CH + c] = static_cast<std::uint16_t>(AtMost(Q(sum, p.reciprocal), p.maxSample));
        }
    }
}

// Vertical routines: one loop over the samples of the row, the same weights for all.

template <class Out>
KV_INLINE void VCopyBody(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {
    const std::uint16_t* r1 = rows[1];
    for (std::size_t i = 0; i < p.count; ++i)
        Store<Out>(out, i, r1[i]);
}

template <class Out, class Acc>
KV_INLINE void VLinearBody(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {
    const std::uint16_t* r1 = rows[1];
    const std::uint16_t* r2 = rows[2];
    const Acc left = p.entry->word[0];
    const Acc right = p.entry->word[1];
    for (std::size_t i = 0; i < p.count; ++i)
        Store<Out>(out, i, AtMost(Q(left * r1[i] + right * r2[i], p.reciprocal), p.maxSample));
}

template <class Out>
KV_INLINE void VCubicBody(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {
    const std::int32_t* w = p.entry->tap;
    const std::uint16_t* r0 = rows[0];
    const std::uint16_t* r1 = rows[1];
    const std::uint16_t* r2 = rows[2];
    const std::uint16_t* r3 = rows[3];
    for (std::size_t i = 0; i < p.count; ++i) {
        const std::int32_t sum = w[0] * r0[i] + w[1] * r1[i] + w[2] * r2[i] + w[3] * r3[i];
        Store<Out>(out, i, CubicResult(sum, p.maxSample));
    }
}

// Area, sums within 32 bits: the whole rows are added up first, row by row, then weighted.
template <class Out>
KV_INLINE void VAreaBody32(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {
    const std::uint32_t first = p.entry->word[0];
    const std::uint32_t last = p.entry->word[1];
    const std::uint32_t whole = p.entry->word[2];
    const std::uint32_t D = p.wholeWeight;
    const std::uint16_t* r1 = rows[1];
    const std::uint16_t* rl = rows[2 + whole];
    if (whole == 0) {
        for (std::size_t i = 0; i < p.count; ++i) {
            const std::uint32_t sum = first * r1[i] + (last ? last * rl[i] : 0u);
            Store<Out>(out, i, AtMost(Q(sum, p.reciprocal), p.maxSample));
        }
        return;
    }
    std::uint32_t* acc = p.accumulator;
    const std::uint16_t* w0 = rows[2];
    for (std::size_t i = 0; i < p.count; ++i)
        acc[i] = w0[i];
    for (std::uint32_t k = 1; k < whole; ++k) {
        const std::uint16_t* r = rows[2 + k];
        for (std::size_t i = 0; i < p.count; ++i)
            acc[i] += r[i];
    }
    if (last) {
        for (std::size_t i = 0; i < p.count; ++i)
            Store<Out>(out, i,
                       AtMost(Q(first * r1[i] + D * acc[i] + last * rl[i], p.reciprocal), p.maxSample));
    } else {
        for (std::size_t i = 0; i < p.count; ++i)
            Store<Out>(out, i, AtMost(Q(first * r1[i] + D * acc[i], p.reciprocal), p.maxSample));
    }
}

// Area with sums beyond 32 bits (reduced sizes far beyond any image's).
template <class Out>
KV_INLINE void VAreaBody64(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p) {
    const std::uint64_t first = p.entry->word[0];
    const std::uint64_t last = p.entry->word[1];
    const std::uint32_t whole = p.entry->word[2];
    const std::uint64_t D = p.wholeWeight;
    for (std::size_t i = 0; i < p.count; ++i) {
        std::uint64_t between = 0;
        for (std::uint32_t k = 0; k < whole; ++k)
            between += rows[2 + k][i];
        std::uint64_t sum = first * rows[1][i] + D * between;
        if (last)
            sum += last * rows[2 + whole][i];
        Store<Out>(out, i, AtMost(Q(sum, p.reciprocal), p.maxSample));
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
    }                                                                                                        \
    const Kernels Prefix##Kernels = {                                                                        \
        Prefix##HLinear,                                                                                     \
        Prefix##HCubic,                                                                                      \
        Prefix##HArea,                                                                                       \
        Prefix##VCopy<std::uint8_t>,                                                                         \
        Prefix##VCopy<std::uint16_t>,                                                                        \
        Prefix##VLinear<std::uint8_t>,                                                                       \
        Prefix##VLinear<std::uint16_t>,                                                                      \
        Prefix##VCubic<std::uint8_t>,                                                                        \
        Prefix##VCubic<std::uint16_t>,                                                                       \
        Prefix##VArea<std::uint8_t>,                                                                         \
        Prefix##VArea<std::uint16_t>,                                                                        \
    };

KV_SCALE_ROUTINES(Plain, )
KV_SCALE_ROUTINES(Avx2, __attribute__((target("avx2"))))

} // namespace

const Kernels& Plain() {
    return PlainKernels;
}

const Kernels& Simd() {
    return Avx2Kernels;
}

const Kernels& Choose() {
    return CpuHas(CpuFeature::kAVX2) ? Avx2Kernels : PlainKernels;
}

void Widen(const BYTE* from, std::uint16_t* to, std::size_t samples) {
    for (std::size_t i = 0; i < samples; ++i)
        to[i] = from[i];
}

} // namespace ScaleRows
