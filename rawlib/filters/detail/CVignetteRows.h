// The vignette filter's rows: every sample of a pixel raised by the gain factor F of its pixel's code
// (VignetteGain::Factor) at an amount of A / 8192 with 0 <= A <= kNarrowAmount, where the arithmetic stays
// in 32 unsigned bits: v + ((min(floor(F v / 4096), 65535) x A) >> 13), limited to the sample's maximum.
// Both sets work in 16-bit lanes, the plain set eight samples at a time with the SSE2 every x86-64 processor
// has, the AVX2 set sixteen at a time; they give the same samples.
#pragma once

#include "platform/win/wintypes.h"

namespace VignetteRows {

// The largest amount (in 8192ths) the rows take: 4.0.
constexpr LONG kNarrowAmount = 4 * 8192;

// count pixels of channels samples (1, 3 or 4) of 8 bits (wide false) or 16 bits from from into to; pixel
// i takes the code codes[i x step], step 1 or -1 (a row of the quadrant table read forwards or backwards).
using RaiseRow = void (*)(const BYTE* from, BYTE* to, LONG count, LONG channels, bool wide, const WORD* codes,
                          LONG step, LONG amount);

struct Kernels {
    RaiseRow raise;
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

} // namespace VignetteRows
