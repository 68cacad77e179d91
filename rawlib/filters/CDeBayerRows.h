// The row routines of the standard demosaicing: a mosaic row looked up into the square-root domain, the
// gradient-directed green of a row, and red and blue from colour differences. They exist as a plain set and
// as an AVX2 set that gives the same values bit for bit; Choose picks one by the processor's features.
//
// The mosaic, green and colour-difference rows are kept split by the parity of their positions: of a row
// of n positions the even ones come first and the odd ones from SplitOdd(n) on, so that each kind of site
// of a Bayer row lies in one run of memory. A mosaic row has two positions more on each side than a green
// row, which has one more on each side than a row of red and blue.
#pragma once

#include "platform/win/wintypes.h"

namespace DeBayerRows {

// The largest 12-bit sample and the largest square-root-domain value.
constexpr LONG kMaxSample = 4095;
constexpr LONG kMaxRoot = 0x3FFFF;
// Green is interpolated along the quieter direction only when the two activities differ by more than
// this: ((sqrt-table[4095] x 10) / 256) x 3.
constexpr LONG kDirectionThreshold = ((kMaxRoot * 10) / 256) * 3;

// Where the odd positions of a split row of n positions start.
constexpr LONG SplitOdd(LONG n) {
    return (n + 1) / 2;
}

// count samples looked up: sample i is min(samples[i], 4095) in firstLut and goes to firstOut[i / 2] when i
// is even, in secondLut to secondOut[i / 2] when odd (a run of a split row starts in either half).
using LoadRow = void (*)(const WORD* samples, LONG count, const LONG* firstLut, const LONG* secondLut,
                         LONG* firstOut, LONG* secondOut);

// The green of one row of count positions. mosaic[0..4] are the split mosaic rows two above to two below
// (count + 4 positions each; green position j is mosaic position j + 2). Green sites (position j with
// (j - firstGreen) even) copy their sample and have a difference of 0; at the others green follows from
// the activities and estimates, and the difference is the sample minus green. green and difference are
// split rows of count positions.
struct GreenRow {
    const LONG* mosaic[5];
    LONG count;
    LONG firstGreen;
    LONG* green;
    LONG* difference;
};
using Green = void (*)(const GreenRow& row);

// Red, green and blue of count positions, each clamped to 0..0x3FFFF and stored shifted right by 2, into
// out (red, green, blue per pixel). mosaic is the split centre row (count + 6 positions: position k is
// mosaic position k + 3); green, above, centre and below are the split green row and colour-difference
// rows above, at and below (count + 2 positions: position k is their position k + 1). redRow says whether
// the row's non-green sites are red.
struct RedBlueRow {
    const LONG* mosaic;
    const LONG* green;
    const LONG* above;
    const LONG* centre;
    const LONG* below;
    LONG count;
    LONG firstGreen;
    bool redRow;
    WORD* out;
};
using RedBlue = void (*)(const RedBlueRow& row);

struct Kernels {
    LoadRow load;
    Green green;
    RedBlue redBlue;
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

} // namespace DeBayerRows
