// PNG files in and out of the canvas library's pixels: read over libpng's simplified interface, written
// row by row with the compression the caller chooses.
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
// How hard a save compresses.
enum class Compression {
    // libpng's own defaults (zlib's default level, the best of all filters per row): the smaller file.
    kDefault,
    // zlib's fastest level over runs of equal bytes after the Up filter: for a file that is read back at
    // once, such as a rendered page. On an A4 page of photos at 300 dpi, a quarter of the time for about
    // half as many bytes again.
    kFast,
};

// 8-bit RGB when every pixel is opaque, else 8-bit RGBA with straight alpha.
bool Encode(const IproPixels& pixels, std::vector<std::uint8_t>& out,
            Compression compression = Compression::kDefault);

} // namespace IproPngCodec
