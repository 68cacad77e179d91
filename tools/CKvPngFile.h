// Writes RGB pictures as PNG files: 8-bit sRGB for viewing, 16-bit linear light (with its gamma stated)
// for ground truth.
#pragma once

#include "platform/win/wintypes.h"

#include <string>
#include <vector>

namespace CKvPngFile {

// rgb holds width x height pixels, row by row, red, green and blue interleaved. False (with a reason in
// *error) when the file cannot be written.
bool WriteSrgb8(const std::string& path, LONG width, LONG height, const std::vector<BYTE>& rgb,
                std::string* error);
// The same 8-bit picture with the colour profile it is in embedded (an iCCP chunk named after the profile).
bool WriteRgb8WithProfile(const std::string& path, LONG width, LONG height, const std::vector<BYTE>& rgb,
                          const std::string& profileName, const std::vector<BYTE>& profile,
                          std::string* error);
bool WriteLinear16(const std::string& path, LONG width, LONG height, const std::vector<WORD>& rgb,
                   std::string* error);

} // namespace CKvPngFile
