// The high bytes of 16-bit samples, sixteen at a time: what an 8-bit picture of the chain's display-encoded
// 16-bit output holds.
#pragma once

#include "platform/win/wintypes.h"

#include <emmintrin.h>

#include <cstddef>

inline void KvHighBytes(const WORD* from, BYTE* to, std::size_t count) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)), 8);
        const __m128i b = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 8)), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(a, b));
    }
    for (; i < count; ++i)
        to[i] = static_cast<BYTE>(from[i] >> 8);
}
