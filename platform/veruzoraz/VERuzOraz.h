// The raw signal-processing library: it develops the sensor mosaic of a few camera models into 16-bit RGB.
// It is loaded at run time and its one call, sig_proc_ex, is looked up by name.
//
// The mosaic is width x height 12-bit samples in 16-bit words, one row after the other. The output is
// (width - 16) x (height - 6) interleaved RGB for the blue-green-green-red pattern, or (width - 16) x
// (height - 4) for the yellow-cyan-green-magenta pattern, as 12-bit display values (the sRGB transfer
// curve, which the raw processor's users take as their source profile) in 16-bit words. The private
// data are the camera's own bytes (at least 360 of them); byte 0 says in what unit the gains come: 1 for
// 128ths, anything else for 256ths.
#pragma once

#include <cstdint>

extern "C" {

// Results.
constexpr std::int32_t VER_OK = 1;
constexpr std::int32_t VER_CANCELLED = 0; // the progress function answered 0
constexpr std::int32_t VER_BAD_SIZE = 3;  // the mosaic is too small for the output
constexpr std::int32_t VER_NO_MEMORY = 4; // no memory for the conversion

// Pattern codes.
constexpr std::int32_t VER_PATTERN_YCGM = 1;
constexpr std::int32_t VER_PATTERN_BGGR = 2;

// Mosaic columns and rows cut away around the output, before it (left, top) and in all.
constexpr std::int32_t VER_LEFT_MARGIN = 8;
constexpr std::int32_t VER_WIDTH_CUT = 16;
constexpr std::int32_t VER_TOP_MARGIN_BGGR = 3;
constexpr std::int32_t VER_HEIGHT_CUT_BGGR = 6;
constexpr std::int32_t VER_TOP_MARGIN_YCGM = 2;
constexpr std::int32_t VER_HEIGHT_CUT_YCGM = 4;
// The output rows between two progress calls.
constexpr std::int32_t VER_PROGRESS_ROWS = 16;
constexpr std::int32_t VER_MAX_SAMPLE = 4095;
constexpr std::int32_t VER_PRIVATE_BYTES = 360;

// Answers 0 to stop the conversion.
using VerProgressFunction = std::int32_t (*)(void* context, std::int32_t current, std::int32_t total);

using SigProcExFunction = std::int32_t (*)(const std::uint16_t* mosaic, std::int32_t heightMinus1,
                                           std::int32_t width, std::int32_t redGain, std::int32_t blueGain,
                                           std::int32_t firstMode, std::int32_t secondMode,
                                           std::int32_t exposureFactor, std::int32_t toneFactor,
                                           std::uint8_t* privateData, VerProgressFunction progress,
                                           void* context, std::uint16_t* output, std::int32_t pattern);

// Output pixel (x, y) is the mosaic site (x + VER_LEFT_MARGIN, y + the pattern's top margin), interpolated
// at full resolution (gradient-corrected for the blue-green-green-red pattern, bilinear per colour and then
// unmixed for the yellow-cyan-green-magenta one). Red and blue are then multiplied by their gains, every
// channel by exposureFactor / 256, and the linear light (a 12-bit white being 1.0) is sRGB-encoded; the
// tone factor (256 leaves it) lightens or darkens the encoded mid-tones, black and white staying put.
// The mode codes are kept for the camera and change nothing here. Progress: (row, output height) every
// VER_PROGRESS_ROWS rows from row 0, then (output height, output height).
std::int32_t sig_proc_ex(const std::uint16_t* mosaic, std::int32_t heightMinus1, std::int32_t width,
                         std::int32_t redGain, std::int32_t blueGain, std::int32_t firstMode,
                         std::int32_t secondMode, std::int32_t exposureFactor, std::int32_t toneFactor,
                         std::uint8_t* privateData, VerProgressFunction progress, void* context,
                         std::uint16_t* output, std::int32_t pattern);
}
