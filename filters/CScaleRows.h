// The row routines of the scale pipeline: horizontal ones resample one gathered source row into a ring
// row, vertical ones combine ring rows into one output row. They exist as a plain set and as a SIMD set
// (AVX2) that gives the same results; Choose picks one by the processor's features at each call. The
// plain set weighs three- and four-channel windows with SSE2, which every x86-64 processor has.
#pragma once

#include "filters/CScalePipeline.h"

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Nearest neighbour: every output pixel of a run copies one pixel of a source row. A plan made once for
// the run (each output pixel's source byte offset) copies any row by it; the SIMD plan moves the pixels
// that lie within sixteen source bytes of each other with one shuffle where such groups hold enough of
// them, the rest one by one, each pixel by one move of a power-of-two size where that stays in bounds.
// With AVX-512 the plan gathers pixels of an even byte count from sixty-four source bytes at a time by one
// permutation of 16-bit words instead.
struct NearestGroup {
    std::int32_t from; // the source byte of the group's first pixel
    std::int32_t to;   // the output byte it goes to
    alignas(16) std::uint8_t shuffle[16];
};

struct NearestWideGroup {
    std::int32_t from;                   // the source byte of the group's first pixel
    std::int32_t to;                     // the output byte it goes to
    alignas(64) std::uint16_t order[32]; // per output word, its source word from from on
};

struct NearestPlan {
    LONG pixelBytes = 0;
    LONG count = 0;
    std::vector<std::int32_t> offsets; // per output pixel, its source byte
    std::vector<NearestGroup> groups;
    LONG grouped = 0; // the output pixels the groups copy; those after them are copied one by one
    std::vector<NearestWideGroup> wideGroups; // where made, in place of the groups
    LONG wideGrouped = 0;                     // the output pixels the wide groups copy
    LONG wideStoreBytes = 0;                  // 32 where no wide group writes more, else 64
    // The leading output pixels that may each be copied by one move of MoveBytes(pixelBytes): their
    // move neither reads beyond the readable bytes nor writes beyond the run. A move writes past its pixel
    // into the next, which the next pixel's move then overwrites.
    LONG moved = 0;
};

// The bytes of the one move that copies a pixel: the pixel size rounded up to a power of two.
constexpr LONG MoveBytes(LONG pixelBytes) {
    return pixelBytes <= 1 ? 1 : pixelBytes <= 2 ? 2 : pixelBytes <= 4 ? 4 : 8;
}

// row: the source row's first byte; out: the run's first output byte.
using NearestRow = void (*)(const BYTE* row, BYTE* out, const NearestPlan& plan);

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
    NearestRow nearest;
    LONG nearestGroupBytes; // the loads of the groups nearest reads from the plan (0: it reads none)
};

const Kernels& Plain();
const Kernels& Simd();
// The SIMD set with the wide nearest-neighbour groups, for processors with AVX-512 (F and BW).
const Kernels& Wide();
// The wide set with AVX-512, else the SIMD set when the processor has AVX2, else the plain set.
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

// Plans count output pixels of pixelBytes bytes (1 to 8) from the given source byte offsets, which never
// fall; readable is how many bytes of a row may be read from its first one. With groupBytes 16 the plan
// also gets the groups where they pay, with 64 the wide groups where they pay (else the groups); a group's
// load stays within readable and its store within the run, as does every move.
void PlanNearest(const std::int32_t* offsets, LONG count, LONG pixelBytes, std::int64_t readable,
                 LONG groupBytes, NearestPlan* plan);

// 8-bit samples to 16-bit.
void Widen(const BYTE* from, std::uint16_t* to, std::size_t samples);

} // namespace ScaleRows
