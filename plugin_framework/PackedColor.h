// Packed colours: red in the low byte, then green and blue, and a flag byte on top. Colours read from the
// platform or the user carry the flag byte 0xFF; the platform is handed colours with the flag byte 0 (its
// COLORREF layout is the same otherwise).
#pragma once

#include "TString.h"

#include "platform/win/wintypes.h"

namespace PackedColor {

constexpr DWORD kFlagMask = 0xFF000000u;

constexpr DWORD SetFlagByte(DWORD colour) {
    return colour | kFlagMask;
}
constexpr DWORD ClearFlagByte(DWORD colour) {
    return colour & ~kFlagMask;
}

} // namespace PackedColor

// The colour of an option text: "#" and exactly six hexadecimal digits (red, green, blue; the flag byte
// 0xFF) or eight (the last pair the flag byte), in either case. Any other text answers false and leaves the
// colour as it was, so that the caller keeps its value.
bool ParseHexColor(const TString& text, DWORD& colour);

// "#rrggbb" of a packed colour in lower case, the text the options store (the flag byte is not written);
// ParseHexColor reads it back.
TString HexColor(DWORD colour);

// "'#rrggbbaa'" of a packed colour, quoted as a stylesheet parameter; the top byte is written as the alpha.
TString QuotedHexColor(DWORD colour);
