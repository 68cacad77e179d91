// The row routines of the fine edge filter, on rows of green and of the colour differences red - green and
// blue - green at the 16-bit scale, one 32-bit value per position: the sharpening of green within the range
// of its neighbours, the smoothing of the colour differences near strong green detail, and the rebuild of
// a pixel along the directions of least green activity. Each exists as a plain routine (SSE2, which every
// x86-64 processor has) and as an AVX2 routine that gives the same values; Choose picks a set by the
// processor's features. Green, as read or sharpened, lies within 0 .. 65535: the plain routines rely on it.
#pragma once

#include "platform/win/wintypes.h"

namespace FineEdgeRows {

// Below this sum of absolute green differences over the 5 x 5 block the colour differences stay.
constexpr LONG kSmoothingActivity = 115200;

// out[k] = (80 C - 3 B) / 32 held between the smallest and the largest of C's eight neighbours, with C =
// green[1][k + 1] and B the 3 x 3 binomial sum around it (weights 1 2 1 / 2 4 2 / 1 2 1), for k < count.
struct SharpenRow {
    const LONG* green[3];
    LONG count;
    LONG* out;
};

// The colour differences of position k (centre green[2][k + 2], for k < count) smoothed over the 5 x 5
// block of rows 0 .. 4 and columns k .. k + 4: with A the sum of |G - Gc| over the block, when A exceeds
// kSmoothingActivity each position weighs max(0, A / 25 - |G - Gc|) / (A / 32768 + 1) and the differences
// become their weighted means; otherwise they are the centre's.
struct SmoothRow {
    const LONG* green[5];
    const LONG* red[5];
    const LONG* blue[5];
    LONG count;
    LONG* outRed;
    LONG* outBlue;
};

// Green and the two differences of position x (x < count) rebuilt from the sharpened green of rows 0 .. 4,
// columns x .. x + 4 (centre green[2][x + 2]), and the smoothed differences of rows 0 .. 2, columns x ..
// x + 2 (centre red[1][x + 1]): each of the horizontal, vertical and two diagonal directions weighs
// max(0, T - 4 x its activity), T the sum of the four activities, and the pixel is the weighted mean of the
// directions' averages (2 x centre + the two neighbours along the direction) / 4; with no weight at all
// it keeps the centre's values.
struct RebuildRow {
    const LONG* green[5];
    const LONG* red[3];
    const LONG* blue[3];
    LONG count;
    LONG* outGreen;
    LONG* outRed;
    LONG* outBlue;
};

struct Kernels {
    void (*sharpen)(const SharpenRow& row);
    void (*smooth)(const SmoothRow& row);
    void (*rebuild)(const RebuildRow& row);
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

} // namespace FineEdgeRows
