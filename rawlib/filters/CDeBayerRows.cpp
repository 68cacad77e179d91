#include "CDeBayerRows.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <type_traits>

namespace DeBayerRows {
namespace {

#define KV_INLINE inline __attribute__((always_inline))

KV_INLINE WORD Store(LONG v) {
    return static_cast<WORD>(std::clamp<LONG>(v, 0, kMaxRoot) >> 2);
}

// The plain routines: one pass per kind of site, every division truncating toward zero as C++'s does.

void PlainLoad(const WORD* samples, LONG count, const LONG* evenLut, const LONG* oddLut, LONG* out) {
    LONG i = 0;
    for (; i + 1 < count; i += 2) {
        out[i] = evenLut[std::min<LONG>(samples[i], kMaxSample)];
        out[i + 1] = oddLut[std::min<LONG>(samples[i + 1], kMaxSample)];
    }
    if (i < count)
        out[i] = evenLut[std::min<LONG>(samples[i], kMaxSample)];
}

KV_INLINE LONG GreenAt(const LONG* m0, const LONG* m1, const LONG* m2, const LONG* m3, const LONG* m4,
                       LONG j) {
    const LONG c = m2[j];
    const LONG l = m2[j - 1];
    const LONG r = m2[j + 1];
    const LONG u = m1[j];
    const LONG d = m3[j];
    const LONG v = std::abs(u - d) + std::abs(m0[j - 1] - l) + std::abs(l - m4[j - 1]);
    const LONG h = std::abs(m1[j - 2] - u) + std::abs(u - m1[j + 2]) + std::abs(l - r);
    const LONG ev = 2 * (u + c + d) - m0[j] - m4[j];
    const LONG eh = 2 * (l + c + r) - m2[j - 2] - m2[j + 2];
    // Equal activities are within the threshold, so their estimates are averaged.
    return std::abs(v - h) <= kDirectionThreshold ? ((eh + ev) / 2) / 4 : (h < v ? eh : ev) / 4;
}

void PlainGreen(const GreenRow& row) {
    const LONG* m0 = row.rows[0];
    const LONG* m1 = row.rows[1];
    const LONG* m2 = row.rows[2];
    const LONG* m3 = row.rows[3];
    const LONG* m4 = row.rows[4];
    for (LONG j = row.firstGreen; j < row.count; j += 2) {
        row.green[j] = m2[j];
        row.difference[j] = 0;
    }
    for (LONG j = 1 - row.firstGreen; j < row.count; j += 2) {
        const LONG g = GreenAt(m0, m1, m2, m3, m4, j);
        row.green[j] = g;
        // Red and blue are interpolated as differences from green; each site's is taken once.
        row.difference[j] = m2[j] - g;
    }
}

void PlainRedBlue(const RedBlueRow& row) {
    const LONG* m = row.mosaic;
    const LONG* g = row.green;
    const LONG* da = row.above;
    const LONG* dc = row.centre;
    const LONG* db = row.below;
    WORD* out = row.out;
    // At a green site the row's colour comes from the left and right, the other from above and below.
    for (LONG k = row.firstGreen; k < row.count; k += 2) {
        const LONG across = g[k] + (dc[k - 1] + dc[k + 1]) / 2;
        const LONG down = g[k] + (da[k] + db[k]) / 2;
        out[3 * k] = Store(row.redRow ? across : down);
        out[3 * k + 1] = Store(g[k]);
        out[3 * k + 2] = Store(row.redRow ? down : across);
    }
    // At a red or blue site the other colour comes from the four diagonal neighbours.
    for (LONG k = 1 - row.firstGreen; k < row.count; k += 2) {
        const LONG other = g[k] + (da[k - 1] + da[k + 1] + db[k - 1] + db[k + 1]) / 4;
        out[3 * k] = Store(row.redRow ? m[k] : other);
        out[3 * k + 1] = Store(g[k]);
        out[3 * k + 2] = Store(row.redRow ? other : m[k]);
    }
}

// The AVX2 routines: eight positions at a time (sixteen for red and blue), both kinds of site computed and
// the right one kept per lane. A row's last, partial block is done as the block ending at the row's end,
// again where it overlaps the block before: every position's value depends only on the input rows, so
// writing it twice writes the same. Rows shorter than one block take the plain routine.

#define KV_AVX2 __attribute__((target("avx2")))

KV_AVX2 KV_INLINE __m256i Load8(const LONG* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KV_AVX2 KV_INLINE void Store8(LONG* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Signed division by 2^n truncating toward zero: negative values are raised by 2^n - 1 first.
template <int N>
KV_AVX2 KV_INLINE __m256i DivPow2(__m256i v) {
    const __m256i bias = _mm256_srli_epi32(_mm256_srai_epi32(v, 31), 32 - N);
    return _mm256_srai_epi32(_mm256_add_epi32(v, bias), N);
}

// The lookups stay scalar (the processor's gathers are slower than one load per sample); the limit to 12
// bits is applied to sixteen samples at once, so that the lookups need no compare.
KV_AVX2 void Avx2Load(const WORD* samples, LONG count, const LONG* evenLut, const LONG* oddLut, LONG* out) {
    const __m256i limit = _mm256_set1_epi16(kMaxSample);
    alignas(32) WORD index[16];
    LONG i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + i));
        _mm256_store_si256(reinterpret_cast<__m256i*>(index), _mm256_min_epu16(raw, limit));
        for (int n = 0; n < 16; n += 2) {
            out[i + n] = evenLut[index[n]];
            out[i + n + 1] = oddLut[index[n + 1]];
        }
    }
    if (i < count)
        PlainLoad(samples + i, count - i, evenLut, oddLut, out + i);
}

// Takes atGreen in the lanes of green sites and computed in the others. GreenEven: the green sites of the
// block are its even lanes. Blocks start at positions of one parity, so the choice is made per row.
template <bool GreenEven>
KV_AVX2 KV_INLINE __m256i AtGreenSites(__m256i computed, __m256i atGreen) {
    return _mm256_blend_epi32(computed, atGreen, GreenEven ? 0x55 : 0xAA);
}

// Calls block(std::bool_constant<GreenEven>, position) for the blocks of step positions that cover
// 0 .. count - 1, the last one ending at count - 1; count is at least step.
template <LONG Step, class Block>
KV_AVX2 KV_INLINE void ForEachBlock(LONG count, LONG firstGreen, Block block) {
    const LONG whole = count / Step * Step;
    if (firstGreen == 0) {
        for (LONG j = 0; j < whole; j += Step)
            block(std::true_type{}, j);
    } else {
        for (LONG j = 0; j < whole; j += Step)
            block(std::false_type{}, j);
    }
    if (whole == count)
        return;
    const LONG last = count - Step;
    if (((last - firstGreen) & 1) == 0)
        block(std::true_type{}, last);
    else
        block(std::false_type{}, last);
}

// The row's pointers in locals: stores through the vector type may alias anything, so members would be
// read again after every store.
struct GreenPointers {
    const LONG* m0;
    const LONG* m1;
    const LONG* m2;
    const LONG* m3;
    const LONG* m4;
    LONG* green;
    LONG* difference;
};

template <bool GreenEven>
KV_AVX2 KV_INLINE void Avx2GreenBlock(const GreenPointers& p, LONG j) {
    const __m256i c = Load8(p.m2 + j);
    const __m256i l = Load8(p.m2 + j - 1);
    const __m256i r = Load8(p.m2 + j + 1);
    const __m256i u = Load8(p.m1 + j);
    const __m256i d = Load8(p.m3 + j);
    const __m256i v =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_abs_epi32(_mm256_sub_epi32(u, d)),
                                          _mm256_abs_epi32(_mm256_sub_epi32(Load8(p.m0 + j - 1), l))),
                         _mm256_abs_epi32(_mm256_sub_epi32(l, Load8(p.m4 + j - 1))));
    const __m256i h =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_abs_epi32(_mm256_sub_epi32(Load8(p.m1 + j - 2), u)),
                                          _mm256_abs_epi32(_mm256_sub_epi32(u, Load8(p.m1 + j + 2)))),
                         _mm256_abs_epi32(_mm256_sub_epi32(l, r)));
    const __m256i ev = _mm256_sub_epi32(_mm256_slli_epi32(_mm256_add_epi32(_mm256_add_epi32(u, c), d), 1),
                                        _mm256_add_epi32(Load8(p.m0 + j), Load8(p.m4 + j)));
    const __m256i eh = _mm256_sub_epi32(_mm256_slli_epi32(_mm256_add_epi32(_mm256_add_epi32(l, c), r), 1),
                                        _mm256_add_epi32(Load8(p.m2 + j - 2), Load8(p.m2 + j + 2)));
    // ((eh + ev) / 2) / 4 is (eh + ev) / 8 and e / 4 is (2 x e) / 8 for truncating divisions: one
    // division serves both choices.
    const __m256i along = _mm256_slli_epi32(_mm256_blendv_epi8(ev, eh, _mm256_cmpgt_epi32(v, h)), 1);
    const __m256i directed =
        _mm256_cmpgt_epi32(_mm256_abs_epi32(_mm256_sub_epi32(v, h)), _mm256_set1_epi32(kDirectionThreshold));
    const __m256i g = DivPow2<3>(_mm256_blendv_epi8(_mm256_add_epi32(eh, ev), along, directed));
    Store8(p.green + j, AtGreenSites<GreenEven>(g, c));
    Store8(p.difference + j, AtGreenSites<GreenEven>(_mm256_sub_epi32(c, g), _mm256_setzero_si256()));
}

KV_AVX2 void Avx2Green(const GreenRow& row) {
    if (row.count < 8) {
        PlainGreen(row);
        return;
    }
    const GreenPointers p = {row.rows[0], row.rows[1], row.rows[2],   row.rows[3],
                             row.rows[4], row.green,   row.difference};
    ForEachBlock<8>(row.count, row.firstGreen,
                    [&p](auto greenEven, LONG j) KV_AVX2 { Avx2GreenBlock<greenEven>(p, j); });
}

struct RedBluePointers {
    const LONG* mosaic;
    const LONG* green;
    const LONG* above;
    const LONG* centre;
    const LONG* below;
    WORD* out;
};

// Red and blue of eight positions from k on: the row's own colour (measured at its sites, from the left
// and right at green ones) and the crossed one (from the diagonals, or from above and below).
struct RedBlueLanes {
    __m256i own;
    __m256i green;
    __m256i crossed;
};

template <bool GreenEven>
KV_AVX2 KV_INLINE RedBlueLanes Avx2RedBlueLanes(const RedBluePointers& p, LONG k) {
    const __m256i g = Load8(p.green + k);
    const __m256i across =
        _mm256_add_epi32(g, DivPow2<1>(_mm256_add_epi32(Load8(p.centre + k - 1), Load8(p.centre + k + 1))));
    const __m256i down =
        _mm256_add_epi32(g, DivPow2<1>(_mm256_add_epi32(Load8(p.above + k), Load8(p.below + k))));
    const __m256i diagonal =
        _mm256_add_epi32(_mm256_add_epi32(Load8(p.above + k - 1), Load8(p.above + k + 1)),
                         _mm256_add_epi32(Load8(p.below + k - 1), Load8(p.below + k + 1)));
    const __m256i other = _mm256_add_epi32(g, DivPow2<2>(diagonal));
    return {AtGreenSites<GreenEven>(Load8(p.mosaic + k), across), g, AtGreenSites<GreenEven>(other, down)};
}

// Sixteen stored samples of one channel from two blocks of eight: clamping to 0..0x3FFFF and shifting
// right by 2 is shifting first and saturating to 0..0xFFFF, which the pack does.
KV_AVX2 KV_INLINE __m256i Avx2Stored(__m256i first, __m256i second) {
    const __m256i packed = _mm256_packus_epi32(_mm256_srai_epi32(first, 2), _mm256_srai_epi32(second, 2));
    return _mm256_permute4x64_epi64(packed, 0xD8); // the pack interleaves the halves of its operands
}

// Sixteen pixels of red, green and blue: in each 128-bit half, one byte shuffle per channel puts each
// sample at a word position that holds that channel in one of the three 16-byte parts of eight pixels, and
// word blends gather the parts.
KV_AVX2 KV_INLINE void Avx2Interleave(__m256i r, __m256i g, __m256i b, WORD* out) {
    const __m256i rOrder = _mm256_setr_epi8(0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15, 4, 5, 10, 11, 0, 1, 6, 7,
                                            12, 13, 2, 3, 8, 9, 14, 15, 4, 5, 10, 11);
    const __m256i gOrder = _mm256_setr_epi8(10, 11, 0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15, 4, 5, 10, 11, 0,
                                            1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15, 4, 5);
    const __m256i bOrder = _mm256_setr_epi8(4, 5, 10, 11, 0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15, 4, 5, 10,
                                            11, 0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15);
    const __m256i rs = _mm256_shuffle_epi8(r, rOrder);
    const __m256i gs = _mm256_shuffle_epi8(g, gOrder);
    const __m256i bs = _mm256_shuffle_epi8(b, bOrder);
    // Words 1, 4, 7 (0x92) and 2, 5 (0x24) of a part come from the second and third operands.
    const __m256i part0 = _mm256_blend_epi16(_mm256_blend_epi16(rs, gs, 0x92), bs, 0x24);
    const __m256i part1 = _mm256_blend_epi16(_mm256_blend_epi16(bs, rs, 0x92), gs, 0x24);
    const __m256i part2 = _mm256_blend_epi16(_mm256_blend_epi16(gs, bs, 0x92), rs, 0x24);
    auto* to = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(to, _mm256_permute2x128_si256(part0, part1, 0x20));
    _mm256_storeu_si256(to + 1, _mm256_permute2x128_si256(part2, part0, 0x30));
    _mm256_storeu_si256(to + 2, _mm256_permute2x128_si256(part1, part2, 0x31));
}

template <bool GreenEven, bool RedRow>
KV_AVX2 KV_INLINE void Avx2RedBlueBlock(const RedBluePointers& p, LONG k) {
    const RedBlueLanes first = Avx2RedBlueLanes<GreenEven>(p, k);
    const RedBlueLanes second = Avx2RedBlueLanes<GreenEven>(p, k + 8);
    const __m256i own = Avx2Stored(first.own, second.own);
    const __m256i green = Avx2Stored(first.green, second.green);
    const __m256i crossed = Avx2Stored(first.crossed, second.crossed);
    if constexpr (RedRow)
        Avx2Interleave(own, green, crossed, p.out + 3 * k);
    else
        Avx2Interleave(crossed, green, own, p.out + 3 * k);
}

KV_AVX2 void Avx2RedBlue(const RedBlueRow& row) {
    if (row.count < 16) {
        PlainRedBlue(row);
        return;
    }
    const RedBluePointers p = {row.mosaic, row.green, row.above, row.centre, row.below, row.out};
    if (row.redRow)
        ForEachBlock<16>(row.count, row.firstGreen,
                         [&p](auto greenEven, LONG k) KV_AVX2 { Avx2RedBlueBlock<greenEven, true>(p, k); });
    else
        ForEachBlock<16>(row.count, row.firstGreen,
                         [&p](auto greenEven, LONG k) KV_AVX2 { Avx2RedBlueBlock<greenEven, false>(p, k); });
}

const Kernels kPlain = {PlainLoad, PlainGreen, PlainRedBlue};
const Kernels kAvx2 = {Avx2Load, Avx2Green, Avx2RedBlue};

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

} // namespace DeBayerRows
