// The blur sums of the unsharp mask, one output row at a time. The plain set sums as the blur is defined
// (each kernel row in 32-bit integers, the rows in doubles); the AVX2 set folds the window about the
// kernel's axes of symmetry first and sums in doubles. Every partial sum is an integer below 2^53, so both
// sets give the same blur bit for bit; Choose picks one by the processor's features.
#pragma once

#include "filters/CUnsharpMaskKernel.h"

#include <cstddef>

namespace UnsharpMaskRows {

// rows: the 2 reachY + 1 window rows around the output row, top first, each of count + 2 reachX values in
// 16-bit units starting reachX columns left of the first output pixel; out: count blurred values; scratch:
// ScratchSize(kernel, count) doubles the routine may use.
using BlurRow = void (*)(const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count, double* out,
                         double* scratch);

struct Kernels {
    BlurRow weighted;
    BlurRow box;
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

std::size_t ScratchSize(const CUnsharpMaskKernel& kernel, LONG count);

// One row blurred with the routine of the kernel's kind.
inline void Blur(const Kernels& set, const CUnsharpMaskKernel& kernel, const WORD* const* rows, LONG count,
                 double* out, double* scratch) {
    (kernel.IsBox() ? set.box : set.weighted)(kernel, rows, count, out, scratch);
}

} // namespace UnsharpMaskRows
