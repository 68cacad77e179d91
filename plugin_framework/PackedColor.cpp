#include "PackedColor.h"

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

} // namespace

bool ParseHexColor(const TString& text, DWORD& colour) {
    const int length = text.GetLength();
    const wchar_t* chars = text;
    if ((length != 7 && length != 9) || chars[0] != L'#')
        return false;
    DWORD bytes[4] = {0, 0, 0, 0xFF};
    for (int pair = 0; pair * 2 + 1 < length; ++pair) {
        const int high = HexDigit(chars[pair * 2 + 1]);
        const int low = HexDigit(chars[pair * 2 + 2]);
        if (high < 0 || low < 0)
            return false;
        bytes[pair] = static_cast<DWORD>(high * 16 + low);
    }
    colour = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24;
    return true;
}

TString HexColor(DWORD colour) {
    TString text;
    text.Format(L"#%02x%02x%02x", colour & 0xFFu, (colour >> 8) & 0xFFu, (colour >> 16) & 0xFFu);
    return text;
}

TString QuotedHexColor(DWORD colour) {
    TString text;
    text.Format(L"'#%02x%02x%02x%02x'", colour & 0xFFu, (colour >> 8) & 0xFFu, (colour >> 16) & 0xFFu,
                (colour >> 24) & 0xFFu);
    return text;
}
