// Interleaved 16-bit RGB samples, which may lie at any address, each replaced by its entry in its channel's
// table (65536 entries each), as a run of lookup tables before a conversion leaves them. A pixel's three
// samples are read before any is written, so in and out may be the same memory.
#pragma once

#include "platform/win/wintypes.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ZovTables {

inline void LookUpRgb16(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                        const USHORT* const tables[3]) {
    const USHORT* const red = tables[0];
    const USHORT* const green = tables[1];
    const USHORT* const blue = tables[2];
    for (std::size_t i = 0; i < pixels; ++i) {
        USHORT p[3];
        std::memcpy(p, in + 6 * i, sizeof p);
        p[0] = red[p[0]];
        p[1] = green[p[1]];
        p[2] = blue[p[2]];
        std::memcpy(out + 6 * i, p, sizeof p);
    }
}

// Sample k of four 16-bit samples read as one little-endian word.
inline std::size_t WordSample(std::uint64_t word, int k) {
    return std::size_t((word >> (16 * k)) & 0xFFFF);
}

// The same lookup for `pixels` interleaved pixels, each channel's entries written to a plane of its own:
// red at planes[x], green at planes[planeStride + x], blue at planes[2 * planeStride + x]. Eight pixels'
// samples are read as six 64-bit words and taken apart in general registers, and each channel's eight
// entries are gathered into a vector register straight from the tables and stored at once: loading each
// sample on its own, or putting the entries together by shifts, kept the load ports and the integer units
// busier than the vector units that insert. On processors with AVX2 only; the planes need no alignment.
__attribute__((target("avx2"))) inline void LookUpRgb16Planes(const std::uint8_t* in, USHORT* planes,
                                                              std::size_t planeStride, std::size_t pixels,
                                                              const USHORT* const tables[3]) {
    constexpr std::size_t kStep = 8, kWords = 6;
    const USHORT* const red = tables[0];
    const USHORT* const green = tables[1];
    const USHORT* const blue = tables[2];
    std::size_t x = 0;
    for (; x + kStep <= pixels; x += kStep) {
        // Each word read on its own: read as one array, the compiler moves it through the stack.
        std::uint64_t w[kWords];
#pragma GCC unroll 6
        for (std::size_t j = 0; j < kWords; ++j)
            std::memcpy(&w[j], in + 6 * x + sizeof w[j] * j, sizeof w[j]);
        // Word j holds samples 4 j .. 4 j + 3 of the 24: red r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3 | ...
        __m128i r = _mm_cvtsi32_si128(red[WordSample(w[0], 0)]);
        __m128i g = _mm_cvtsi32_si128(green[WordSample(w[0], 1)]);
        __m128i b = _mm_cvtsi32_si128(blue[WordSample(w[0], 2)]);
        r = _mm_insert_epi16(r, red[WordSample(w[0], 3)], 1);
        g = _mm_insert_epi16(g, green[WordSample(w[1], 0)], 1);
        b = _mm_insert_epi16(b, blue[WordSample(w[1], 1)], 1);
        r = _mm_insert_epi16(r, red[WordSample(w[1], 2)], 2);
        g = _mm_insert_epi16(g, green[WordSample(w[1], 3)], 2);
        b = _mm_insert_epi16(b, blue[WordSample(w[2], 0)], 2);
        r = _mm_insert_epi16(r, red[WordSample(w[2], 1)], 3);
        g = _mm_insert_epi16(g, green[WordSample(w[2], 2)], 3);
        b = _mm_insert_epi16(b, blue[WordSample(w[2], 3)], 3);
        r = _mm_insert_epi16(r, red[WordSample(w[3], 0)], 4);
        g = _mm_insert_epi16(g, green[WordSample(w[3], 1)], 4);
        b = _mm_insert_epi16(b, blue[WordSample(w[3], 2)], 4);
        r = _mm_insert_epi16(r, red[WordSample(w[3], 3)], 5);
        g = _mm_insert_epi16(g, green[WordSample(w[4], 0)], 5);
        b = _mm_insert_epi16(b, blue[WordSample(w[4], 1)], 5);
        r = _mm_insert_epi16(r, red[WordSample(w[4], 2)], 6);
        g = _mm_insert_epi16(g, green[WordSample(w[4], 3)], 6);
        b = _mm_insert_epi16(b, blue[WordSample(w[5], 0)], 6);
        r = _mm_insert_epi16(r, red[WordSample(w[5], 1)], 7);
        g = _mm_insert_epi16(g, green[WordSample(w[5], 2)], 7);
        b = _mm_insert_epi16(b, blue[WordSample(w[5], 3)], 7);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + x), r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + planeStride + x), g);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes + 2 * planeStride + x), b);
    }
    for (; x < pixels; ++x) {
        USHORT p[3];
        std::memcpy(p, in + 6 * x, sizeof p);
        planes[x] = red[p[0]];
        planes[planeStride + x] = green[p[1]];
        planes[2 * planeStride + x] = blue[p[2]];
    }
}

} // namespace ZovTables
