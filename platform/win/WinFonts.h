// The font families a device context can use: the fonts fontconfig knows, or a fixed list that a test
// puts in their place. As on the original platform, a family is reported once for each of its styles.
#pragma once

#include "WinGdiObjects.h"

#include <string>
#include <vector>

constexpr DWORD RASTER_FONTTYPE = 0x0001;
constexpr DWORD DEVICE_FONTTYPE = 0x0002;
constexpr DWORD TRUETYPE_FONTTYPE = 0x0004;

struct ENUMLOGFONTEXW {
    LOGFONTW elfLogFont;
    wchar_t elfFullName[64];
    wchar_t elfStyle[LF_FACESIZE];
    wchar_t elfScript[LF_FACESIZE];
};

struct TEXTMETRICW {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    wchar_t tmFirstChar;
    wchar_t tmLastChar;
    wchar_t tmDefaultChar;
    wchar_t tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};

// The font is an ENUMLOGFONTEXW; enumeration stops when the callback answers 0.
using FONTENUMPROCW = int (*)(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD fontType, LPARAM data);

// Every style of every family for DEFAULT_CHARSET and an empty face name, or the styles of the family the
// filter names (compared without regard to case). Families are reported in the order of their names, a
// family's styles in the order of theirs; a family whose name does not fit LF_FACESIZE is left out, since
// a font made from a cut name would not be that family. TrueType and OpenType outlines are
// TRUETYPE_FONTTYPE, bitmap fonts RASTER_FONTTYPE. The answer is the callback's last answer, 0 for an
// invalid context or no callback.
int EnumFontFamiliesExW(HDC dc, const LOGFONTW* filter, FONTENUMPROCW callback, LPARAM data, DWORD flags);

namespace WinGdiTest {

struct FontStyle {
    std::wstring family;
    std::wstring style;
    DWORD type;
};

// The list reported in place of the installed fonts (in its own order); UseInstalledFonts goes back.
void UseFontList(std::vector<FontStyle> fonts);
void UseInstalledFonts();

} // namespace WinGdiTest
