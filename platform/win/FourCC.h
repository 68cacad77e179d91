// Four-character codes: "scal" is 0x7363616C, the first character in the highest byte.
#pragma once

#include "wintypes.h"

#include <string>

constexpr LONG FourCC(const char (&code)[5]) {
    return static_cast<LONG>((static_cast<ULONG>(static_cast<BYTE>(code[0])) << 24) |
                             (static_cast<ULONG>(static_cast<BYTE>(code[1])) << 16) |
                             (static_cast<ULONG>(static_cast<BYTE>(code[2])) << 8) |
                             static_cast<ULONG>(static_cast<BYTE>(code[3])));
}

// The four characters of a code, for messages and test output; unprintable bytes become '.'.
inline std::string FourCCText(LONG code) {
    std::string text(4, '.');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((static_cast<ULONG>(code) >> (24 - 8 * i)) & 0xFF);
        if (c >= 0x20 && c < 0x7F)
            text[i] = c;
    }
    return text;
}
