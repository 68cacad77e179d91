#include "CTransformRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace TransformRows {

namespace {

#define KV_INLINE inline __attribute__((always_inline))

// One pixel at a time: a move of one machine word a little wider than the pixel (the bytes just before it
// come along, shifted out), stored over the next pixel's place, which the next move writes again. The run's
// last pixel is copied exactly, so nothing outside the run is read or written.
template <LONG Bytes, class Word>
KV_INLINE void ReverseByWords(BYTE* to, const BYTE* last, LONG count) {
    constexpr int kSpare = static_cast<int>(sizeof(Word)) - Bytes;
    LONG i = 0;
    for (; i + 1 < count; ++i) {
        Word w;
        std::memcpy(&w, last - static_cast<std::ptrdiff_t>(i) * Bytes - kSpare, sizeof w);
        w >>= 8 * kSpare;
        std::memcpy(to + static_cast<std::ptrdiff_t>(i) * Bytes, &w, sizeof w);
    }
    if (i < count)
        std::memcpy(to + static_cast<std::ptrdiff_t>(i) * Bytes,
                    last - static_cast<std::ptrdiff_t>(i) * Bytes, Bytes);
}

template <LONG Bytes>
KV_INLINE void ReverseByPixels(BYTE* to, const BYTE* last, LONG count) {
    for (LONG i = 0; i < count; ++i)
        std::memcpy(to + static_cast<std::ptrdiff_t>(i) * Bytes,
                    last - static_cast<std::ptrdiff_t>(i) * Bytes, Bytes);
}

KV_INLINE void PlainBody(BYTE* to, const BYTE* last, LONG count, LONG bytes) {
    switch (bytes) {
    case 1:
        return ReverseByPixels<1>(to, last, count);
    case 2:
        return ReverseByPixels<2>(to, last, count);
    case 3:
        return ReverseByWords<3, std::uint32_t>(to, last, count);
    case 4:
        return ReverseByPixels<4>(to, last, count);
    case 6:
        return ReverseByWords<6, std::uint64_t>(to, last, count);
    case 8:
        return ReverseByPixels<8>(to, last, count);
    default:
        for (LONG i = 0; i < count; ++i)
            std::memcpy(to + static_cast<std::ptrdiff_t>(i) * bytes,
                        last - static_cast<std::ptrdiff_t>(i) * bytes, static_cast<std::size_t>(bytes));
    }
}

void PlainReverse(BYTE* to, const BYTE* last, LONG count, LONG bytes) {
    PlainBody(to, last, count, bytes);
}

// Groups of 48 bytes (N = 48 / Bytes pixels): output block k (16 bytes) takes from each source block i the
// bytes one shuffle picks. Output byte b is byte b % Bytes of output pixel b / Bytes, which is source pixel
// N - 1 - b / Bytes of the group.
constexpr int kGroup = 48;

struct CGroupShuffles {
    alignas(16) BYTE bytes[3][3][16]; // [output block][source block][byte]
};

constexpr CGroupShuffles MakeShuffles(int pixelBytes) {
    CGroupShuffles t{};
    const int n = kGroup / pixelBytes;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 16; ++j) {
                const int b = 16 * k + j;
                const int s = pixelBytes * (n - 1 - b / pixelBytes) + b % pixelBytes;
                t.bytes[k][i][j] = s / 16 == i ? static_cast<BYTE>(s % 16) : 0x80;
            }
    return t;
}

constexpr CGroupShuffles kShuffles3 = MakeShuffles(3);
constexpr CGroupShuffles kShuffles6 = MakeShuffles(6);

template <LONG Bytes>
__attribute__((target("avx2"))) void Avx2Groups(BYTE* to, const BYTE* last, LONG count) {
    constexpr LONG kPixels = kGroup / Bytes;
    const CGroupShuffles& shuffles = Bytes == 3 ? kShuffles3 : kShuffles6;
    __m128i masks[3][3];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            masks[k][i] = _mm_load_si128(reinterpret_cast<const __m128i*>(shuffles.bytes[k][i]));
    LONG done = 0;
    for (; done + kPixels <= count; done += kPixels) {
        // The group's source pixels, lowest address first: the last of them is the first one taken.
        const BYTE* source = last - static_cast<std::ptrdiff_t>(done + kPixels - 1) * Bytes;
        __m128i blocks[3];
        for (int i = 0; i < 3; ++i)
            blocks[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16 * i));
        BYTE* out = to + static_cast<std::ptrdiff_t>(done) * Bytes;
        for (int k = 0; k < 3; ++k) {
            __m128i v = _mm_shuffle_epi8(blocks[0], masks[k][0]);
            v = _mm_or_si128(v, _mm_shuffle_epi8(blocks[1], masks[k][1]));
            v = _mm_or_si128(v, _mm_shuffle_epi8(blocks[2], masks[k][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), v);
        }
    }
    PlainBody(to + static_cast<std::ptrdiff_t>(done) * Bytes,
              last - static_cast<std::ptrdiff_t>(done) * Bytes, count - done, Bytes);
}

__attribute__((target("avx2"))) void Avx2Reverse(BYTE* to, const BYTE* last, LONG count, LONG bytes) {
    if (bytes == 3)
        Avx2Groups<3>(to, last, count);
    else if (bytes == 6)
        Avx2Groups<6>(to, last, count);
    else
        PlainBody(to, last, count, bytes);
}

const Kernels kPlain = {PlainReverse};
const Kernels kAvx2 = {Avx2Reverse};

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

} // namespace TransformRows
