// The row routines of the moire filter. Pixels are split into luminance L = R + 2G + B and the colour
// differences dR = R - G and dB = B - G, and each of the three is summed over 3 x 3 with binomial weights
// (1 2 1 / 2 4 2 / 1 2 1). From every pixel a walk in each of eight directions goes through the region of
// similar smoothed luminance and collects points whose colour differs from the pixel's in a balanced way;
// when enough are found the pixel's colour differences become their mean. The walk exists as a plain
// routine for the baseline processor and as AVX2 and AVX-512 routines that give the same values; Choose picks
// one by the processor's features.
#pragma once

#include "platform/win/wintypes.h"

namespace MoireRows {

// Steps of a walk (four blocks of four), and the rows of smoothed values a pixel's walks read: the
// pixel's row in the middle, as many above and below.
constexpr LONG kSteps = 16;
constexpr LONG kBlock = 4;
constexpr LONG kWindowRows = 2 * kSteps + 1;
// At or above this smoothed luminance the thresholds no longer depend on it.
constexpr LONG kBrightLuminance = 0x1E0000;

// The thresholds of count pixels with smoothed luminance luma[x] at level: t1 ends a walk, t2 admits a
// point at the end of a block, t3 bounds the colour change of an admitted point. They are computed in 64
// bits and held within +-2^30, beyond which no difference of the values compared can reach them.
void Thresholds(const LONG* luma, LONG count, LONG level, LONG* t1, LONG* t2, LONG* t3);

// The four axes of the walks (right, down, down-right, down-left); each direction walks along one of them
// forwards or backwards.
constexpr int kAxes = 4;
constexpr int kAxisSteps[kAxes][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}};
// How many rows the block bounds come behind the smoothed rows: those of a row need the rows below it.
constexpr LONG kBoundsLag = kBlock - 1;

// The least and greatest smoothed luminance (0 .. 2^24) of the kBlock points from each point on along each
// axis: a walk passes a block when both lie within t1 of its pixel's, so each block costs two comparisons,
// and neighbouring pixels share the work. rows[i] is the smoothed luminance of the window's row i
// (i < kBlock); least[a][x] and greatest[a][x] receive the bounds of the block from column x of row 0 along
// axis a, for the columns where the block stays within the count columns (right and down-right:
// x <= count - kBlock; down-left: x >= kBlock - 1; down: all).
using Bounds = void (*)(const LONG* const* rows, LONG count, LONG* const* least, LONG* const* greatest);

// The walks of count pixels: pixel x lies at column x + kSteps of the middle row of the windows (smoothed
// luminance and differences, and the pixels' own differences), its thresholds at t1[x] .. t3[x]; outRed[x]
// and outBlue[x] receive its new colour differences. least[a][r] and greatest[a][r] are the block bounds
// along axis a of window row r; only rows below kWindowRows - kBoundsLag are read.
struct WalkRow {
    const LONG* luma[kWindowRows];
    const LONG* red[kWindowRows];
    const LONG* blue[kWindowRows];
    const LONG* ownRed[kWindowRows];
    const LONG* ownBlue[kWindowRows];
    const LONG* least[kAxes][kWindowRows];
    const LONG* greatest[kAxes][kWindowRows];
    const LONG* t1;
    const LONG* t2;
    const LONG* t3;
    LONG count;
    LONG* outRed;
    LONG* outBlue;
};
using Walk = void (*)(const WalkRow& row);

// The 3 x 3 binomial sums (1 2 1 / 2 4 2 / 1 2 1) of the three rows around rows[1], count values: out[k]
// is centred on column k + 1.
using Smooth = void (*)(const LONG* const* rows, LONG count, LONG* out);

// Thresholds as above, the same values, for a row of smoothed luminance.
using RowThresholds = void (*)(const LONG* luma, LONG count, LONG level, LONG* t1, LONG* t2, LONG* t3);

// The output pixels of count columns: green (luma - red - blue) / 4, red and blue the differences plus
// green, each clamped to 0..65535 and stored as three 16-bit samples (native order, any alignment). red
// and blue are overwritten by the clamped samples, green (count values) receives green's.
using Pixels = void (*)(const LONG* luma, LONG* red, LONG* blue, LONG* green, LONG count, BYTE* out);

// Luminance R + 2G + B and the differences R - G and B - G of count pixels of three 16-bit samples each
// (native order, any alignment); the three rows must not overlap.
using Split = void (*)(const BYTE* pixels, LONG count, LONG* luma, LONG* red, LONG* blue);

struct Kernels {
    Walk walk;
    Bounds bounds;
    Smooth smooth;
    RowThresholds thresholds;
    Pixels pixels;
    Split split;
};

// The plain set works on SSE2 registers, the others on AVX2 and AVX-512 ones: the same steps, four, eight or
// sixteen pixels at a time. The AVX-512 set needs AVX-512F as well as AVX2.
const Kernels& Plain();
const Kernels& Simd();
const Kernels& Wide();
// The AVX-512 set when the processor has AVX-512F and AVX2, else the AVX2 set when it has AVX2, else the
// plain set.
const Kernels& Choose();

// The bounds of the ratio of the blue to the red colour change that a collected point must lie strictly
// between: tan(25 degrees) and tan(65 degrees).
double LowerRatio();
double UpperRatio();

} // namespace MoireRows
