// The row routines of the scale pipeline: horizontal ones resample one gathered source row into a ring
// row, vertical ones combine ring rows into one output row. They exist as a plain set and as a SIMD set
// (AVX2) that gives the same results; Choose picks one by the processor's features at each call.
#pragma once

#include "filters/CScalePipeline.h"

#include <cstddef>
#include <cstdint>

namespace ScaleRows {

struct HorizontalParams {
    LONG channels = 1;
    LONG count = 0;                      // output pixels
    const std::int32_t* index = nullptr; // per output pixel: its first source pixel in the span
    const CScaleTableEntry* entries = nullptr;
    std::uint32_t maxSample = 0xFF;
    std::uint32_t wholeWeight = 0; // D: the weight of a whole pixel in an area sum
    std::uint32_t reciprocal = 0;  // area: ceil(2^32 / S); linear: ceil(2^32 / D) >> 1
    bool wide = false;             // the sums may leave 32 bits
    // The same weights laid out for the SIMD routines (see BuildTaps); null where they are not used.
    const std::int32_t* taps = nullptr;
    LONG tapCount = 0;
};

struct VerticalParams {
    std::size_t count = 0; // samples of the row
    const CScaleTableEntry* entry = nullptr;
    std::uint32_t maxSample = 0xFF;
    std::uint32_t wholeWeight = 0;
    std::uint32_t reciprocal = 0;
    bool wide = false;
    std::uint32_t* accumulator = nullptr; // count samples of scratch for the area routine
};

// span: the gathered source pixels (16-bit samples, interleaved); out: the ring row.
using HorizontalRow = void (*)(const std::uint16_t* span, std::uint16_t* out, const HorizontalParams& p);
// rows: the ring rows, oldest first; out: the output row (8- or 16-bit samples).
using VerticalRow = void (*)(const std::uint16_t* const* rows, BYTE* out, const VerticalParams& p);

struct Kernels {
    HorizontalRow horizontalLinear;
    HorizontalRow horizontalCubic;
    HorizontalRow horizontalArea;
    VerticalRow verticalCopy8;
    VerticalRow verticalCopy16;
    VerticalRow verticalLinear8;
    VerticalRow verticalLinear16;
    VerticalRow verticalCubic8;
    VerticalRow verticalCubic16;
    VerticalRow verticalArea8;
    VerticalRow verticalArea16;
    bool usesTaps; // the horizontal routines can read HorizontalParams::taps
};

const Kernels& Plain();
const Kernels& Simd();
// The SIMD set when the processor has AVX2, else the plain set.
const Kernels& Choose();

// Every output pixel's window as tapCount weights from its index on: linear (left, right), cubic (the four
// Q14 weights), area (first, then D for each whole pixel, then last), padded with zeros to an even count.
// Pairs of output pixels share a block: for each pair of taps, four copies of the first pixel's two
// weights as signed 16-bit halves of a word, then four of the second's; last, four copies of each
// pixel's weight sum times 32768. TapCount gives tapCount for a tile's entries; BuildTaps fails when a
// weight does not fit 16 bits, and the SIMD routines then take the plain path.
LONG TapCount(CScalePipeline::Routine routine, const CScaleTableEntry* entries, LONG count);
bool BuildTaps(CScalePipeline::Routine routine, const CScaleTableEntry* entries, LONG count, std::uint32_t D,
               LONG tapCount, std::int32_t* taps);
inline std::size_t TapWords(LONG count, LONG tapCount) {
    return static_cast<std::size_t>((count + 1) / 2) * static_cast<std::size_t>((tapCount + 1) / 2 + 1) * 8;
}

// 8-bit samples to 16-bit.
void Widen(const BYTE* from, std::uint16_t* to, std::size_t samples);

} // namespace ScaleRows
