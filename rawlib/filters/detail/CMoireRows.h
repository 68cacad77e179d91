// The row routines of the moire filter. Pixels are split into luminance L = R + 2G + B and the colour
// differences dR = R - G and dB = B - G, and each of the three is summed over 3 x 3 with binomial weights
// (1 2 1 / 2 4 2 / 1 2 1). From every pixel a walk in each of eight directions goes through the region of
// similar smoothed luminance and collects points whose colour differs from the pixel's in a balanced way;
// when enough are found the pixel's colour differences become their mean. The walk exists as a plain
// routine and as an AVX2 routine that gives the same values; Choose picks one by the processor's features.
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

// The walks of count pixels: pixel x lies at column x + kSteps of the middle row of the windows (smoothed
// luminance and differences, and the pixels' own differences), its thresholds at t1[x] .. t3[x]; outRed[x]
// and outBlue[x] receive its new colour differences.
struct WalkRow {
    const LONG* luma[kWindowRows];
    const LONG* red[kWindowRows];
    const LONG* blue[kWindowRows];
    const LONG* ownRed[kWindowRows];
    const LONG* ownBlue[kWindowRows];
    const LONG* t1;
    const LONG* t2;
    const LONG* t3;
    LONG count;
    LONG* outRed;
    LONG* outBlue;
};
using Walk = void (*)(const WalkRow& row);

struct Kernels {
    Walk walk;
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

// The bounds of the ratio of the blue to the red colour change that a collected point must lie strictly
// between: tan(25 degrees) and tan(65 degrees).
double LowerRatio();
double UpperRatio();

} // namespace MoireRows
