// Bitmaps from a module's resources. A bitmap resource (type RT_BITMAP) is a PNG file here; loading it
// makes a bitmap object of its pixels (WinGdiObjects.h), which DeleteObject frees.
#pragma once

#include "WinGdiObjects.h"
#include "WinSurface.h"

#include <cstddef>
#include <memory>
#include <vector>

inline const char* MAKEINTRESOURCEA(WORD id) {
    return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(id));
}

// The bitmap resource of the module (null: the program) with the id (a MAKEINTRESOURCEA value; resources
// have no names here). Null with ERROR_RESOURCE_NAME_NOT_FOUND when there is none, or with
// ERROR_RESOURCE_DATA_NOT_FOUND when it is not a PNG image this layer reads (at most 8192 pixels a side and
// 16 Mi pixels in all).
HBITMAP LoadBitmapA(HINSTANCE instance, const char* name);

namespace WinBitmaps {

// Decodes PNG bytes into premultiplied pixels; false for anything else, or an image over the limits above.
// The bytes are outside data: every length in them is checked against what is there.
bool DecodePng(const unsigned char* data, std::size_t size, std::shared_ptr<WinSurface>& pixels);

// Whether every chunk of the PNG bytes before the end chunk lies within them. libpng takes a chunk's stated
// length at its word and makes room for it before reading a byte of it, so readers of outside PNG bytes ask
// this first.
bool PngChunksFitIn(const unsigned char* data, std::size_t size);

} // namespace WinBitmaps

namespace WinGdiTest {

// A copy of the bitmap's pixels (premultiplied ARGB words, rows without padding); false for a handle that
// is not a bitmap.
bool ReadBitmapPixels(HBITMAP bitmap, LONG* width, LONG* height, std::vector<std::uint32_t>* pixels);

} // namespace WinGdiTest
