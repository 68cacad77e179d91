// The row copies of the flip and rotate transform: a run of pixels taken from a source row in reverse
// order (a mirror). The plain set copies a pixel with one unaligned move, the AVX2 set a group of 48 bytes
// with three byte shuffles; Choose picks one by the processor's features. Both copy the same bytes.
#pragma once

#include "platform/win/wintypes.h"

namespace TransformRows {

// count pixels of bytes each into to, pixel i from last - i x bytes: last is the first pixel taken, and
// the run reads from last - (count - 1) x bytes to the end of that pixel, nothing outside it.
using ReverseRun = void (*)(BYTE* to, const BYTE* last, LONG count, LONG bytes);

struct Kernels {
    ReverseRun reverse;
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

} // namespace TransformRows
