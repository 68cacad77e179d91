// Colour texts of the options (registry values and option files the user may edit), read by
// ParseHexColor: a text it takes must be exactly what its colour prints back as, and any other text must
// leave the colour alone.
#include "plugin_framework/PackedColor.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const TString text(TStringA(bytes.c_str()));
    constexpr DWORD kUntouched = 0x5A5A5A5A;
    DWORD colour = kUntouched;
    if (!ParseHexColor(text, colour)) {
        if (colour != kUntouched)
            std::abort();
        return 0;
    }
    TString printed;
    printed.Format(L"#%02x%02x%02x%02x", colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF,
                   colour >> 24);
    TString read = text;
    if (read.GetLength() == 7)
        read += L"ff";
    if (read.CompareNoCase(printed) != 0)
        std::abort();
    return 0;
}
