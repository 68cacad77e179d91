// Turns a histogram into a contrast-enhancing tone curve, for callers of the library that feed a lookup
// table: a clipped cumulative distribution joined by straight lines between the bins where the histogram
// crosses the clip level.
#pragma once

#include "platform/win/wintypes.h"

// histogram: 2^histogramBits bins; curve: 2^curveBits entries on a scale of 2^outputBits, at most 65535
// (only the low five bits of each bit count count). percent is the clip level as a percentage of the
// highest bin. workX and workY, when given, hold 2^histogramBits entries each; a null one is allocated for
// the call. Returns false on success, true when memory runs out (the curve is then left as it was).
bool KorvelEnhance(ULONG percent, const ULONG* histogram, ULONG histogramBits, WORD* curve, LONG curveBits,
                   LONG outputBits, ULONG* workX, ULONG* workY);
