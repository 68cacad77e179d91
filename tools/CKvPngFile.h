// Writes RGB pictures as PNG files in one go: 8-bit sRGB for viewing, 16-bit linear light (with its gamma
// stated) for ground truth. A developed picture with its profile is written band by band (CKvPngWriter).
#pragma once

#include "platform/win/wintypes.h"

#include <string>
#include <vector>

namespace CKvPngFile {

// rgb holds width x height pixels, row by row, red, green and blue interleaved. False (with a reason in
// *error) when the file cannot be written.
bool WriteSrgb8(const std::string& path, LONG width, LONG height, const std::vector<BYTE>& rgb,
                std::string* error);
bool WriteLinear16(const std::string& path, LONG width, LONG height, const std::vector<WORD>& rgb,
                   std::string* error);

} // namespace CKvPngFile
