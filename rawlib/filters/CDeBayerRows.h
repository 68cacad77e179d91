// The row routines of the standard demosaicing: a mosaic row looked up into the square-root domain, the
// gradient-directed green of a row, and red and blue from colour differences. They exist as a plain set and
// as an AVX2 set that gives the same values bit for bit; Choose picks one by the processor's features.
#pragma once

#include "platform/win/wintypes.h"

namespace DeBayerRows {

// The largest 12-bit sample and the largest square-root-domain value.
constexpr LONG kMaxSample = 4095;
constexpr LONG kMaxRoot = 0x3FFFF;
// Green is interpolated along the quieter direction only when the two activities differ by more than
// this: ((sqrt-table[4095] x 10) / 256) x 3.
constexpr LONG kDirectionThreshold = ((kMaxRoot * 10) / 256) * 3;

// out[i] = lut[min(samples[i], 4095)], with evenLut at even i and oddLut at odd i (the two kinds of site
// alternate along a mosaic row); samples beyond 12 bits read as the largest one.
using LoadRow = void (*)(const WORD* samples, LONG count, const LONG* evenLut, const LONG* oddLut, LONG* out);

// The green of one mosaic row. rows[0..4] are the mosaic rows two above to two below, each pointing at
// the sample of the row's first position; positions two to the left and right of every one are read.
// Green sites (position j with (j - firstGreen) even) copy their sample and have a difference of 0; at the
// others green follows from the activities and estimates, and the difference is the sample minus green.
struct GreenRow {
    const LONG* rows[5];
    LONG count;
    LONG firstGreen;
    LONG* green;
    LONG* difference;
};
using Green = void (*)(const GreenRow& row);

// Red, green and blue of one row, each clamped to 0..0x3FFFF and stored shifted right by 2. mosaic and
// green point at the row's first position; above, centre and below are the colour-difference rows of the
// rows above, at and below it, pointing at the same position; one position to each side is read. redRow
// says whether the row's non-green sites are red.
struct RedBlueRow {
    const LONG* mosaic;
    const LONG* green;
    const LONG* above;
    const LONG* centre;
    const LONG* below;
    LONG count;
    LONG firstGreen;
    bool redRow;
    WORD* out; // red, green, blue per pixel
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
