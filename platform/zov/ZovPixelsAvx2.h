// Eight interleaved RGB pixels taken apart into their channels and put together again, for the AVX2
// roads of our own conversions: plain loads, stores and permutes, which touch no byte past the eight
// pixels.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace ZovPixelsAvx2 {

#define KV_ZOV_AVX2 inline __attribute__((target("avx2"), always_inline))

// Red, green and blue of eight pixels whose 24 samples, widened to 32 bits, lie in a, b and c in turn:
// sample 3i + k of channel k is lane (3i + k) % 8 of register (3i + k) / 8.
KV_ZOV_AVX2 void Apart(__m256i a, __m256i b, __m256i c, __m256i channel[3]) {
    const __m256i red = _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5);
    const __m256i green = _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6);
    const __m256i blue = _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7);
    channel[0] = _mm256_blend_epi32(
        _mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, red), _mm256_permutevar8x32_epi32(b, red), 0x38),
        _mm256_permutevar8x32_epi32(c, red), 0xC0);
    channel[1] = _mm256_blend_epi32(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, green),
                                                       _mm256_permutevar8x32_epi32(b, green), 0x18),
                                    _mm256_permutevar8x32_epi32(c, green), 0xE0);
    channel[2] = _mm256_blend_epi32(
        _mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, blue), _mm256_permutevar8x32_epi32(b, blue), 0x1C),
        _mm256_permutevar8x32_epi32(c, blue), 0xE0);
}

// Red, green and blue of eight pixels of 16-bit samples (48 bytes), as 32-bit lanes.
KV_ZOV_AVX2 void Load16(const std::uint8_t* in, __m256i channel[3]) {
    const __m256i first16 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m128i last8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
    const __m256i a = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(first16));
    const __m256i b = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(first16, 1));
    const __m256i c = _mm256_cvtepu16_epi32(last8);
    Apart(a, b, c, channel);
}

// The same of eight pixels of 8-bit samples (24 bytes).
KV_ZOV_AVX2 void Load8(const std::uint8_t* in, __m256i channel[3]) {
    const __m128i first16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i last8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + 16));
    const __m256i a = _mm256_cvtepu8_epi32(first16);
    const __m256i b = _mm256_cvtepu8_epi32(_mm_srli_si128(first16, 8));
    const __m256i c = _mm256_cvtepu8_epi32(last8);
    Apart(a, b, c, channel);
}

// Eight pixels' red, green and blue (32-bit lanes, each within the depth's range) interleaved again: 24
// samples in three registers, sample 8j + l of register j taken from lane (8j + l) / 3 of channel
// (8j + l) % 3.
KV_ZOV_AVX2 void Together(const __m256i channel[3], __m256i samples[3]) {
    const __m256i pixels[3] = {_mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2),
                               _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5),
                               _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7)};
    // Of each register, the lanes of green and of blue.
    samples[0] =
        _mm256_blend_epi32(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(channel[0], pixels[0]),
                                              _mm256_permutevar8x32_epi32(channel[1], pixels[0]), 0x92),
                           _mm256_permutevar8x32_epi32(channel[2], pixels[0]), 0x24);
    samples[1] =
        _mm256_blend_epi32(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(channel[0], pixels[1]),
                                              _mm256_permutevar8x32_epi32(channel[1], pixels[1]), 0x24),
                           _mm256_permutevar8x32_epi32(channel[2], pixels[1]), 0x49);
    samples[2] =
        _mm256_blend_epi32(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(channel[0], pixels[2]),
                                              _mm256_permutevar8x32_epi32(channel[1], pixels[2]), 0x49),
                           _mm256_permutevar8x32_epi32(channel[2], pixels[2]), 0x92);
}

// Eight pixels of 16-bit samples (48 bytes) written from their channels.
KV_ZOV_AVX2 void Store16(const __m256i channel[3], std::uint8_t* out) {
    __m256i samples[3];
    Together(channel, samples);
    // Packing works within each half of a register: the quarters are put back in order after it.
    const __m256i first16 = _mm256_permute4x64_epi64(_mm256_packus_epi32(samples[0], samples[1]), 0xD8);
    const __m256i last8 = _mm256_permute4x64_epi64(_mm256_packus_epi32(samples[2], samples[2]), 0x08);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm256_castsi256_si128(last8));
}

// Eight pixels of 8-bit samples (24 bytes) written from their channels.
KV_ZOV_AVX2 void Store8(const __m256i channel[3], std::uint8_t* out) {
    __m256i samples[3];
    Together(channel, samples);
    const __m256i first16 = _mm256_permute4x64_epi64(_mm256_packus_epi32(samples[0], samples[1]), 0xD8);
    const __m256i last8 = _mm256_permute4x64_epi64(_mm256_packus_epi32(samples[2], samples[2]), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_packus_epi16(_mm256_castsi256_si128(first16), _mm256_extracti128_si256(first16, 1)));
    const __m128i last = _mm256_castsi256_si128(last8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_packus_epi16(last, last));
}

#undef KV_ZOV_AVX2

} // namespace ZovPixelsAvx2
