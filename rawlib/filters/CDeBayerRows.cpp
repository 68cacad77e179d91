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

// The halves of a split mosaic row for the non-green sites of parity P: same holds the positions of that
// parity, other the rest. Site t of the green row's half sits at same[t + 1]; its neighbours one position
// left and right at other[t + P] and other[t + 1 + P].
template <int P>
struct Halves {
    Halves(const LONG* row, LONG count)
        : same(row + (P ? SplitOdd(count) : 0)), other(row + (P ? 0 : SplitOdd(count))) {}
    const LONG* same;
    const LONG* other;
};

// The halves of the split rows of a red and blue row. Position 2s is green position 2s + 1 (odd half, s)
// with its left and right neighbours at even s and s + 1, and mosaic position 2s + 3 (odd half, s + 1);
// position 2s + 1 is green position 2s + 2 (even half, s + 1) with neighbours at odd s and s + 1, and
// mosaic position 2s + 4 (even half, s + 2).
struct RedBlueHalves {
    enum { kGreen, kAbove, kCentre, kBelow };
    explicit RedBlueHalves(const RedBlueRow& row) {
        const LONG split = SplitOdd(row.count + 2);
        const LONG* rows[4] = {row.green, row.above, row.centre, row.below};
        for (int i = 0; i < 4; ++i) {
            even[i] = rows[i];
            odd[i] = rows[i] + split;
        }
        mosaicEven = row.mosaic;
        mosaicOdd = row.mosaic + SplitOdd(row.count + 6);
    }
    const LONG* even[4];
    const LONG* odd[4];
    const LONG* mosaicEven;
    const LONG* mosaicOdd;
};

// The plain routines: site by site, every division truncating toward zero as C++'s does.

void PlainLoad(const WORD* samples, LONG count, const LONG* firstLut, const LONG* secondLut, LONG* firstOut,
               LONG* secondOut) {
    LONG i = 0;
    for (; i + 1 < count; i += 2) {
        firstOut[i / 2] = firstLut[std::min<LONG>(samples[i], kMaxSample)];
        secondOut[i / 2] = secondLut[std::min<LONG>(samples[i + 1], kMaxSample)];
    }
    if (i < count)
        firstOut[i / 2] = firstLut[std::min<LONG>(samples[i], kMaxSample)];
}

// Green at non-green site t.
template <int P>
KV_INLINE LONG GreenSite(const Halves<P> m[5], LONG t) {
    const LONG c = m[2].same[t + 1];
    const LONG l = m[2].other[t + P];
    const LONG r = m[2].other[t + 1 + P];
    const LONG u = m[1].same[t + 1];
    const LONG d = m[3].same[t + 1];
    const LONG v = std::abs(u - d) + std::abs(m[0].other[t + P] - l) + std::abs(l - m[4].other[t + P]);
    const LONG h = std::abs(m[1].same[t] - u) + std::abs(u - m[1].same[t + 2]) + std::abs(l - r);
    const LONG ev = 2 * (u + c + d) - m[0].same[t + 1] - m[4].same[t + 1];
    const LONG eh = 2 * (l + c + r) - m[2].same[t] - m[2].same[t + 2];
    // Equal activities are within the threshold, so their estimates are averaged.
    return std::abs(v - h) <= kDirectionThreshold ? ((eh + ev) / 2) / 4 : (h < v ? eh : ev) / 4;
}

// The non-green sites of a row: their count, and the halves of the green and difference rows they go to.
template <int P>
struct GreenSites {
    explicit GreenSites(const GreenRow& row)
        : count((row.count - P + 1) / 2), green(row.green + (P ? SplitOdd(row.count) : 0)),
          difference(row.difference + (P ? SplitOdd(row.count) : 0)) {}
    LONG count;
    LONG* green;
    LONG* difference;
};

// Green sites keep their sample, found in the mosaic row's other half one position on, and have no
// difference.
template <int P>
void CopyGreenSites(const GreenRow& row, const Halves<P>& centre) {
    const LONG sites = (row.count - (1 - P) + 1) / 2;
    const LONG at = P ? 0 : SplitOdd(row.count);
    std::copy(centre.other + 1, centre.other + 1 + sites, row.green + at);
    std::fill(row.difference + at, row.difference + at + sites, 0);
}

template <int P>
void PlainGreenOf(const GreenRow& row) {
    const LONG mosaicCount = row.count + 4;
    const Halves<P> m[5] = {{row.mosaic[0], mosaicCount},
                            {row.mosaic[1], mosaicCount},
                            {row.mosaic[2], mosaicCount},
                            {row.mosaic[3], mosaicCount},
                            {row.mosaic[4], mosaicCount}};
    const GreenSites<P> out(row);
    for (LONG t = 0; t < out.count; ++t) {
        const LONG g = GreenSite<P>(m, t);
        out.green[t] = g;
        // Red and blue are interpolated as differences from green; each site's is taken once.
        out.difference[t] = m[2].same[t + 1] - g;
    }
    CopyGreenSites<P>(row, m[2]);
}

// The parity of the non-green positions decides the halves: one instance per parity.
void PlainGreen(const GreenRow& row) {
    if (row.firstGreen == 0)
        PlainGreenOf<1>(row);
    else
        PlainGreenOf<0>(row);
}

// Red, green and blue at position k.
void RedBlueAt(const RedBlueRow& row, const RedBlueHalves& p, LONG k) {
    using H = RedBlueHalves;
    const LONG s = k / 2;
    const bool even = (k & 1) == 0;
    const LONG* const* here = even ? p.odd : p.even; // the green row's half holding position k
    const LONG* const* other = even ? p.even : p.odd;
    const LONG t = even ? s : s + 1;
    const LONG g = here[H::kGreen][t];
    LONG own = 0;     // the colour of the row's own sites
    LONG crossed = 0; // the colour of the rows above and below
    if (((k - row.firstGreen) & 1) == 0) {
        // At a green site the row's colour comes from the left and right, the other from above and below.
        own = g + (other[H::kCentre][s] + other[H::kCentre][s + 1]) / 2;
        crossed = g + (here[H::kAbove][t] + here[H::kBelow][t]) / 2;
    } else {
        // At a red or blue site the other colour comes from the four diagonal neighbours.
        own = even ? p.mosaicOdd[s + 1] : p.mosaicEven[s + 2];
        crossed = g + (other[H::kAbove][s] + other[H::kAbove][s + 1] + other[H::kBelow][s] +
                       other[H::kBelow][s + 1]) /
                          4;
    }
    WORD* out = row.out + 3 * k;
    out[0] = Store(row.redRow ? own : crossed);
    out[1] = Store(g);
    out[2] = Store(row.redRow ? crossed : own);
}

void PlainRedBlue(const RedBlueRow& row) {
    const RedBlueHalves p(row);
    for (LONG k = 0; k < row.count; ++k)
        RedBlueAt(row, p, k);
}

// The AVX2 routines work on the halves of the split rows: eight sites of one kind at a time. A half's
// last, partial block is done as the eight sites ending at its end, again where it overlaps the block
// before: every site's value depends only on the input rows, so writing it twice writes the same. Rows too
// short for one block take the plain routine.

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

// Sixteen samples at a time: limited to 12 bits as words, then the even ones and the odd ones widened in
// place and looked up by two gathers, whose results are the halves of the split row as they stand. The
// last block ends at the run's end (starting at an even sample, so that its halves stay in place), and
// the last sample of an odd run that it leaves is looked up alone.
KV_AVX2 KV_INLINE void Avx2LoadBlock(const WORD* samples, const LONG* firstLut, const LONG* secondLut,
                                     LONG* firstOut, LONG* secondOut) {
    const __m256i raw = _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples)),
                                         _mm256_set1_epi16(kMaxSample));
    Store8(firstOut, _mm256_i32gather_epi32(firstLut, _mm256_and_si256(raw, _mm256_set1_epi32(0xFFFF)), 4));
    Store8(secondOut, _mm256_i32gather_epi32(secondLut, _mm256_srli_epi32(raw, 16), 4));
}

KV_AVX2 void Avx2Load(const WORD* samples, LONG count, const LONG* firstLut, const LONG* secondLut,
                      LONG* firstOut, LONG* secondOut) {
    if (count < 16) {
        PlainLoad(samples, count, firstLut, secondLut, firstOut, secondOut);
        return;
    }
    LONG i = 0;
    for (; i + 16 <= count; i += 16)
        Avx2LoadBlock(samples + i, firstLut, secondLut, firstOut + i / 2, secondOut + i / 2);
    if (i == count)
        return;
    const LONG last = (count - 16) & ~1;
    Avx2LoadBlock(samples + last, firstLut, secondLut, firstOut + last / 2, secondOut + last / 2);
    if (last + 16 < count)
        firstOut[(count - 1) / 2] = firstLut[std::min<LONG>(samples[count - 1], kMaxSample)];
}

// Calls block(first) for blocks of eight of count items that cover them all, the last ending at the end;
// count is at least 8.
template <class Block>
KV_AVX2 KV_INLINE void ForEachBlockOf8(LONG count, Block block) {
    LONG t = 0;
    for (; t + 8 <= count; t += 8)
        block(t);
    if (t < count)
        block(count - 8);
}

template <int P>
KV_AVX2 KV_INLINE void Avx2GreenBlock(const Halves<P> m[5], LONG* green, LONG* difference, LONG t) {
    const __m256i c = Load8(m[2].same + t + 1);
    const __m256i l = Load8(m[2].other + t + P);
    const __m256i r = Load8(m[2].other + t + 1 + P);
    const __m256i u = Load8(m[1].same + t + 1);
    const __m256i d = Load8(m[3].same + t + 1);
    const __m256i v =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_abs_epi32(_mm256_sub_epi32(u, d)),
                                          _mm256_abs_epi32(_mm256_sub_epi32(Load8(m[0].other + t + P), l))),
                         _mm256_abs_epi32(_mm256_sub_epi32(l, Load8(m[4].other + t + P))));
    const __m256i h =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_abs_epi32(_mm256_sub_epi32(Load8(m[1].same + t), u)),
                                          _mm256_abs_epi32(_mm256_sub_epi32(u, Load8(m[1].same + t + 2)))),
                         _mm256_abs_epi32(_mm256_sub_epi32(l, r)));
    const __m256i ev = _mm256_sub_epi32(_mm256_slli_epi32(_mm256_add_epi32(_mm256_add_epi32(u, c), d), 1),
                                        _mm256_add_epi32(Load8(m[0].same + t + 1), Load8(m[4].same + t + 1)));
    const __m256i eh = _mm256_sub_epi32(_mm256_slli_epi32(_mm256_add_epi32(_mm256_add_epi32(l, c), r), 1),
                                        _mm256_add_epi32(Load8(m[2].same + t), Load8(m[2].same + t + 2)));
    // ((eh + ev) / 2) / 4 is (eh + ev) / 8 and e / 4 is (2 x e) / 8 for truncating divisions: one
    // division serves both choices.
    const __m256i along = _mm256_slli_epi32(_mm256_blendv_epi8(ev, eh, _mm256_cmpgt_epi32(v, h)), 1);
    const __m256i directed =
        _mm256_cmpgt_epi32(_mm256_abs_epi32(_mm256_sub_epi32(v, h)), _mm256_set1_epi32(kDirectionThreshold));
    const __m256i g = DivPow2<3>(_mm256_blendv_epi8(_mm256_add_epi32(eh, ev), along, directed));
    Store8(green + t, g);
    Store8(difference + t, _mm256_sub_epi32(c, g));
}

// P: the parity of the row's non-green positions.
template <int P>
KV_AVX2 void Avx2GreenOf(const GreenRow& row) {
    const LONG mosaicCount = row.count + 4;
    const Halves<P> m[5] = {{row.mosaic[0], mosaicCount},
                            {row.mosaic[1], mosaicCount},
                            {row.mosaic[2], mosaicCount},
                            {row.mosaic[3], mosaicCount},
                            {row.mosaic[4], mosaicCount}};
    const GreenSites<P> out(row);
    ForEachBlockOf8(out.count, [&](LONG t) KV_AVX2 { Avx2GreenBlock<P>(m, out.green, out.difference, t); });
    CopyGreenSites<P>(row, m[2]);
}

KV_AVX2 void Avx2Green(const GreenRow& row) {
    if (row.count < 17) {
        PlainGreen(row);
        return;
    }
    if (row.firstGreen == 0)
        Avx2GreenOf<1>(row);
    else
        Avx2GreenOf<0>(row);
}

// Sixteen stored samples of one channel in position order, from the lanes of the even and of the odd
// positions: clamping to 0..0x3FFFF and shifting right by 2 is shifting first and saturating to 0..0xFFFF,
// which the pack does; the pack leaves four even and four odd samples in each 128-bit half, which a byte
// shuffle interleaves.
KV_AVX2 KV_INLINE __m256i Avx2Stored(__m256i even, __m256i odd) {
    const __m256i order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9,
                                           2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m256i packed = _mm256_packus_epi32(_mm256_srai_epi32(even, 2), _mm256_srai_epi32(odd, 2));
    return _mm256_shuffle_epi8(packed, order);
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

// The row's own colour and the crossed one at eight sites of one kind.
struct Colours {
    __m256i own;
    __m256i green;
    __m256i crossed;
};

// Eight green sites: the green row's half h holds them at t.., the colour-difference rows' other half
// their left and right neighbours at left.. and left + 1...
KV_AVX2 KV_INLINE Colours Avx2GreenSites(const LONG* const* h, const LONG* const* other, LONG t, LONG left) {
    using H = RedBlueHalves;
    const __m256i g = Load8(h[H::kGreen] + t);
    const __m256i across = _mm256_add_epi32(
        g,
        DivPow2<1>(_mm256_add_epi32(Load8(other[H::kCentre] + left), Load8(other[H::kCentre] + left + 1))));
    const __m256i down =
        _mm256_add_epi32(g, DivPow2<1>(_mm256_add_epi32(Load8(h[H::kAbove] + t), Load8(h[H::kBelow] + t))));
    return {across, g, down};
}

// Eight red or blue sites: the green row's half h holds them at t.., the colour-difference rows' other
// half their diagonal neighbours at left.. and left + 1.., the mosaic row their samples at sample...
KV_AVX2 KV_INLINE Colours Avx2ColourSites(const LONG* const* h, const LONG* const* other, const LONG* sample,
                                          LONG t, LONG left) {
    using H = RedBlueHalves;
    const __m256i g = Load8(h[H::kGreen] + t);
    const __m256i diagonal = _mm256_add_epi32(
        _mm256_add_epi32(Load8(other[H::kAbove] + left), Load8(other[H::kAbove] + left + 1)),
        _mm256_add_epi32(Load8(other[H::kBelow] + left), Load8(other[H::kBelow] + left + 1)));
    return {Load8(sample), g, _mm256_add_epi32(g, DivPow2<2>(diagonal))};
}

// Positions 2t .. 2t + 15, laid out as RedBlueHalves says.
template <bool GreenEven, bool RedRow>
KV_AVX2 KV_INLINE void Avx2RedBlueBlock(const RedBlueHalves& p, WORD* out, LONG t) {
    Colours even;
    Colours odd;
    if constexpr (GreenEven) {
        even = Avx2GreenSites(p.odd, p.even, t, t);
        odd = Avx2ColourSites(p.even, p.odd, p.mosaicEven + t + 2, t + 1, t);
    } else {
        even = Avx2ColourSites(p.odd, p.even, p.mosaicOdd + t + 1, t, t);
        odd = Avx2GreenSites(p.even, p.odd, t + 1, t);
    }
    const __m256i own = Avx2Stored(even.own, odd.own);
    const __m256i green = Avx2Stored(even.green, odd.green);
    const __m256i crossed = Avx2Stored(even.crossed, odd.crossed);
    if constexpr (RedRow)
        Avx2Interleave(own, green, crossed, out + 6 * t);
    else
        Avx2Interleave(crossed, green, own, out + 6 * t);
}

template <bool GreenEven, bool RedRow>
KV_AVX2 void Avx2RedBlueOf(const RedBlueRow& row) {
    const RedBlueHalves p(row);
    // Blocks start at even positions: the last one starts at the even position at most count - 16, and a
    // position left after it is done alone.
    LONG t = 0;
    for (; 2 * t + 16 <= row.count; t += 8)
        Avx2RedBlueBlock<GreenEven, RedRow>(p, row.out, t);
    if (2 * t == row.count)
        return;
    const LONG last = (row.count - 16) / 2;
    Avx2RedBlueBlock<GreenEven, RedRow>(p, row.out, last);
    if (2 * last + 16 < row.count) {
        // The plain routine's code is not AVX code: the upper halves of the registers are left clean for it.
        _mm256_zeroupper();
        RedBlueAt(row, p, row.count - 1);
    }
}

KV_AVX2 void Avx2RedBlue(const RedBlueRow& row) {
    if (row.count < 16) {
        PlainRedBlue(row);
        return;
    }
    const bool greenEven = row.firstGreen == 0;
    if (greenEven && row.redRow)
        Avx2RedBlueOf<true, true>(row);
    else if (greenEven)
        Avx2RedBlueOf<true, false>(row);
    else if (row.redRow)
        Avx2RedBlueOf<false, true>(row);
    else
        Avx2RedBlueOf<false, false>(row);
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
    return CpuChoose(kPlain, kAvx2);
}

} // namespace DeBayerRows
