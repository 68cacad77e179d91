// The description of a control's font (face name, style bits and size in points), and the font faces a
// device context offers.
#pragma once

#include "TString.h"

#include "platform/win/WinUser.h"

#include <vector>

class TFontInfo {
public:
    static constexpr LONG kBold = 1;
    static constexpr LONG kItalic = 2;

    TString face = L"Arial";
    LONG style = 0;
    LONG size = 10; // points
};

// The names of the TrueType and device fonts of the context, each once, in the order the platform reports
// them; the list is cleared first. Always true.
bool EnumerateFontFaces(std::vector<TString>& faces, HDC dc);
