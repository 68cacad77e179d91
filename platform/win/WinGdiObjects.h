// The objects device contexts draw with: colours, solid and system-colour brushes, fonts described by a
// LOGFONT, and the colours and background mode a context keeps. Objects are 32-bit handles with a
// generation, so a deleted one fails instead of naming a later one; stock and system-colour brushes and the
// stock fonts belong to the system and survive DeleteObject.
#pragma once

#include "WinUser.h"

using COLORREF = DWORD;
// Any GDI object; brushes and fonts pass as one without a cast, as on the original platform.
using HGDIOBJ = void*;
struct HFONT__;
using HFONT = HFONT__*;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;

constexpr COLORREF RGB(BYTE red, BYTE green, BYTE blue) {
    return static_cast<COLORREF>(red) | static_cast<COLORREF>(green) << 8 | static_cast<COLORREF>(blue) << 16;
}
constexpr BYTE GetRValue(COLORREF colour) {
    return static_cast<BYTE>(colour & 0xFF);
}
constexpr BYTE GetGValue(COLORREF colour) {
    return static_cast<BYTE>(colour >> 8 & 0xFF);
}
constexpr BYTE GetBValue(COLORREF colour) {
    return static_cast<BYTE>(colour >> 16 & 0xFF);
}
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// System colours (the classic scheme).
constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWFRAME = 6;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_3DSHADOW = COLOR_BTNSHADOW;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DHIGHLIGHT = COLOR_BTNHIGHLIGHT;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_INFOTEXT = 23;
constexpr int COLOR_INFOBK = 24;
constexpr int COLOR_HOTLIGHT = 26;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Brush styles (LOGBRUSH).
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;

constexpr int LF_FACESIZE = 32;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE ANTIALIASED_QUALITY = 4;

struct LOGFONTW {
    LONG lfHeight; // below 0: the character height in pixels; above 0: the cell height
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    wchar_t lfFaceName[LF_FACESIZE];
};

// What GetObjectW tells of a bitmap (WinBitmaps.h): 32 bits a pixel, no bits pointer.
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

struct LOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    std::uintptr_t lbHatch;
};

// 0 for an index outside the table.
COLORREF GetSysColor(int index);
// The system's brush of the colour; null for an index outside the table.
HBRUSH GetSysColorBrush(int index);
HGDIOBJ GetStockObject(int object);
HBRUSH CreateSolidBrush(COLORREF colour);
// The face name is kept up to its first 31 characters.
HFONT CreateFontIndirectW(const LOGFONTW* font);
// False for a handle that names nothing; true (and nothing happens) for a system object.
BOOL DeleteObject(HGDIOBJ object);
// Copies a font's LOGFONTW, a brush's LOGBRUSH or a bitmap's BITMAP when size allows it; the answer is the
// bytes copied, 0 for a handle that names nothing or a size too small.
int GetObjectW(HGDIOBJ object, int size, void* out);

// A context's attributes: it starts with black text over an opaque white background, no brush and the
// system font. Each setter answers the previous value (CLR_INVALID, 0 or null for an invalid context).
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF GetTextColor(HDC dc);
COLORREF SetBkColor(HDC dc, COLORREF colour);
COLORREF GetBkColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);
// Fonts and brushes; the previous object of the kind comes back. Bitmaps are not selected (null).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
constexpr UINT OBJ_BRUSH = 2;
constexpr UINT OBJ_FONT = 6;
HGDIOBJ GetCurrentObject(HDC dc, UINT type);

// a * b / c with a 64-bit product, rounded half away from zero; -1 when c is 0 or the result overflows.
int MulDiv(int a, int b, int c);

namespace WinGdi {

// What a font or a brush handle stands for; false for a handle of another kind or none.
bool FontOf(HGDIOBJ object, LOGFONTW& font);
bool BrushColourOf(HGDIOBJ object, COLORREF& colour, bool& hollow);
// What the platform's default window procedure answers to WM_CTLCOLOR*: the context gets the system's text
// and background colours of the control kind, and the answer is the system brush behind it.
LRESULT DefaultControlColour(UINT message, HDC dc);

} // namespace WinGdi

namespace WinGdiTest {

// GDI objects made by CreateSolidBrush, CreateFontIndirectW and LoadBitmapA that are not deleted yet.
DWORD LiveObjects();

} // namespace WinGdiTest
