// The sheet record of the print dialog: the geometry, flags and colours of one layout sheet, and the
// parameter string that hands them to the sheet stylesheet (also the shape the mail and design modules
// follow). Lengths are in printer pixels.
#pragma once

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TFontInfo.h"
#include "plugin_framework/TString.h"

struct SheetLayout {
    // Opaque light grey, white and black.
    static constexpr DWORD kDisplayBackground = 0xFFDCDCDCu;
    static constexpr DWORD kPrintBackground = 0xFFFFFFFFu;
    static constexpr DWORD kTextColour = 0xFF000000u;
    static constexpr const wchar_t* kSeparator = L"<;/>";

    TString pageTemplate;
    TString layoutStylesheet;
    TString imprintStylesheet;
    graphtypes::TSize_T<double> pageSize;
    graphtypes::TRect_T<double> margins;
    graphtypes::TSize_T<double> spacing;
    graphtypes::TSize_T<double> itemSize;
    graphtypes::TSize_T<LONG> grid{0, 0}; // columns, rows
    bool bestFit = false;
    bool borderless = false;
    double textHeight = 0.0;
    bool useBasic = false;
    bool useAdditional = false;
    bool useDetailed = false;
    DWORD backgroundColour = kDisplayBackground;
    DWORD textColour = kTextColour;

    // The "key=value" pairs joined by the separator, with the caption font's face, italic and bold. A
    // separator inside the face is broken so that it stays one value.
    TString FormatParameters(const TFontInfo& captionFont) const;
};
