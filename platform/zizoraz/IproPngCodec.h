// PNG files in and out of the canvas library's pixels, over libpng's simplified interface.
#pragma once

#include "IproPixels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace IproPngCodec {

bool HasSignature(const std::uint8_t* data, std::size_t size);
// Any PNG colour type and depth, 16-bit samples taken as sRGB like 8-bit ones when the file states no
// gamma. False for a truncated or corrupt file and for a declared size the limits refuse, which is checked
// before the pixels are allocated.
bool Decode(const std::uint8_t* data, std::size_t size, IproPixels& out);
// 8-bit RGB when every pixel is opaque, else 8-bit RGBA with straight alpha.
bool Encode(const IproPixels& pixels, std::vector<std::uint8_t>& out);

} // namespace IproPngCodec
