// JPEG files in and out of the canvas library's pixels, over libjpeg-turbo.
#pragma once

#include "IproPixels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace IproJpegCodec {

// Progressive files with more scans than this are refused: each scan costs a pass over the whole image.
constexpr int kMaxScans = 500;

bool HasSignature(const std::uint8_t* data, std::size_t size);
// Grey, colour and CMYK files. Decoding is strict: what libjpeg only warns about (a truncated stream,
// corrupt entropy data) fails the file, and so does a declared size the limits refuse, checked before the
// pixels are allocated.
bool Decode(const std::uint8_t* data, std::size_t size, IproPixels& out);
// Baseline, the given quality (1..100); alpha is dropped and the straight colours are written.
bool Encode(const IproPixels& pixels, int quality, std::vector<std::uint8_t>& out);

} // namespace IproJpegCodec
