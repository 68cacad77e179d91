// The row routines of the older scale filter, which works on planes: one 16-bit plane per channel, each
// padded to a multiple of 8 samples. Unpack routines split interleaved source pixels into planes,
// horizontal ones resample a gathered source run into a ring row, vertical ones combine ring rows into
// the output row, and pack routines interleave it back into the tile. A portable set and a SIMD set give
// the same results; Choose picks one by the processor's features.
#pragma once

#include "filters/CScalePipeline.h"

#include <cstddef>
#include <cstdint>

namespace FltScaleRoutines {

// count interleaved pixels of channels samples into planes stride samples apart.
using Unpack = void (*)(const BYTE* from, LONG count, std::uint16_t* planes, std::size_t stride);
// count samples of each plane, stride apart, interleaved into to.
using Pack = void (*)(const std::uint16_t* planes, std::size_t stride, LONG count, BYTE* to);

struct HorizontalJob {
    LONG channels = 1;
    LONG count = 0;                      // output samples of each plane
    const std::uint16_t* span = nullptr; // the gathered source run, one plane per channel
    std::size_t spanStride = 0;
    std::uint16_t* row = nullptr; // the ring row, one plane per channel
    std::size_t rowStride = 0;
    const std::int32_t* index = nullptr; // per output sample: its window's first source sample in the run
    const CScaleTableEntry* entries = nullptr;
    double wholeWeight = 0; // D: a whole source pixel's weight in an area sum
    double inverse = 0;     // area: 1 / S; linear: 1 / D
};

struct VerticalJob {
    LONG channels = 1;
    const std::uint16_t* const* rows = nullptr; // the ring rows, oldest first
    std::size_t stride = 0;                     // between the planes of a row, a multiple of 8 samples
    const CScaleTableEntry* entry = nullptr;    // the output row's entry
    double wholeWeight = 0;
    double inverse = 0;
    std::uint16_t* output = nullptr; // the output row's planes
};

using Horizontal = void (*)(const HorizontalJob& job);
// Writes the output row's planes; the copy routine leaves them and names ring row 0 instead.
using Vertical = const std::uint16_t* (*)(const VerticalJob& job);

// Slots in the order unpack 8-bit (1, 3, 4 channels), unpack 16-bit, horizontal (copy, area, linear,
// cubic), vertical (the same four), pack 8-bit, pack 16-bit. The cubic tables hold their outer weights
// negated (the non-negative -16384 w0 and -16384 w3 for a sample point inside its window).
struct Routines {
    Unpack unpack8[3];
    Unpack unpack16[3];
    Horizontal horizontal[4];
    Vertical vertical[4];
    Pack pack8[3];
    Pack pack16[3];
};

enum Kernel { kCopy = 0, kArea = 1, kLinear = 2, kCubic = 3 };

const Routines& Portable();
const Routines& Simd();
// The processor check the SIMD set needs (the identification instruction, MMX with SSE or with the
// extended conditional-move features) and SSE2, which the SIMD set is written with.
bool SimdAvailable();
const Routines& Choose();

// The slot of a channel count the routines take (1, 3 or 4); -1 for any other.
inline int ChannelSlot(LONG channels) {
    return channels == 1 ? 0 : channels == 3 ? 1 : channels == 4 ? 2 : -1;
}

} // namespace FltScaleRoutines
