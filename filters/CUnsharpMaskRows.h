// The blur sums and the sharpening of the unsharp mask, one output row at a time. The exact blur sums the
// window folded about the kernel's axes of symmetry (the plain set in SSE2 integers, also about the
// diagonal where the kernel is the same across it; the AVX2 set in doubles four at a time); every partial
// sum is an integer below 2^53, so both give the blur the kernel defines, bit for bit. A separable kernel
// (the Gaussian) is blurred one axis after the other instead, in single precision with unquantised weights,
// and the blur is rounded to a whole 16-bit unit. It then differs from the exact blur by at most
// 65535 d + 1/2 + (reachX + reachY + 2) / 256 units: d is the total by which one normalised kernel's weights
// exceed the other's (mostly the truncation of the quantised weights; 65535 d is about 4 to 15 units for
// radii of 0.5 to 3), 1/2 the rounding and the rest the single-precision sums.
// The plain set keeps to SSE2, which every x86-64 processor has, the AVX2 set uses AVX2; Choose picks a
// set by the processor's features.
#pragma once

#include "filters/CUnsharpMaskKernel.h"

#include <cstddef>

namespace UnsharpMaskRows {

// rows: the 2 reachY + 1 window rows around the output row, top first, each of count + 2 reachX values in
// 16-bit units starting reachX columns left of the first output pixel; out: count blurred values; scratch:
// ScratchSize(kernel, count) doubles the routine may use.
using BlurRow = void (*)(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                         double* scratch);
// The same for a separable kernel; lines: SeparableScratchSize(kernel, count) floats.
using SeparableRow = void (*)(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count,
                              double* out, float* lines);
// out[x] = u + power (u - blur[x]) for u = centre[x], clamped to 0 .. 65535 and rounded down.
using SharpenRow = void (*)(const WORD* centre, const double* blur, LONG count, double power, WORD* out);

// Three-channel 16-bit pixels split into their three planes, and back.
using SplitRow = void (*)(const WORD* pixels, LONG count, WORD* first, WORD* second, WORD* third);
using MergeRow = void (*)(const WORD* first, const WORD* second, const WORD* third, LONG count, WORD* pixels);

struct Kernels {
    BlurRow weighted;
    BlurRow box;
    SeparableRow separable;
    SharpenRow sharpen;
    SplitRow split;
    MergeRow merge;
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

std::size_t ScratchSize(const CUnsharpMaskKernel& kernel, LONG count);
std::size_t SeparableScratchSize(const CUnsharpMaskKernel& kernel, LONG count);

// Whether a separable kernel is blurred one axis after the other: unless a test asked for the exact sums.
bool UsesSeparable(const CUnsharpMaskKernel& kernel);

// For tests: while one lives, separable kernels take the exact two-dimensional sums too.
class CExactBlurOverride {
public:
    CExactBlurOverride();
    ~CExactBlurOverride();
    CExactBlurOverride(const CExactBlurOverride&) = delete;
    CExactBlurOverride& operator=(const CExactBlurOverride&) = delete;
};

// One row blurred exactly with the routine of the kernel's kind.
inline void Blur(const Kernels& set, const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count,
                 double* out, double* scratch) {
    (kernel.IsBox() ? set.box : set.weighted)(kernel, rows, count, out, scratch);
}

} // namespace UnsharpMaskRows
