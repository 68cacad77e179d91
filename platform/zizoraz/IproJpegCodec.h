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
// The same, scaled while decoding to the smallest of the scales 1/8, 2/8 .. 8/8 whose size is not below
// the wanted one on either side (the full size when it is not above 0 on both).
bool Decode(const std::uint8_t* data, std::size_t size, LONG wantedWidth, LONG wantedHeight, IproPixels& out);
// The size a file's header declares; false for bytes that do not begin a JPEG file or declare a size the
// limits refuse.
bool ReadSize(const std::uint8_t* data, std::size_t size, LONG& width, LONG& height);
// Baseline, the given quality (1..100); alpha is dropped and the straight colours are written.
bool Encode(const IproPixels& pixels, int quality, std::vector<std::uint8_t>& out);

} // namespace IproJpegCodec
