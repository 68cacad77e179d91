// Drawing into the pixels behind a device context: rectangles filled and framed with brushes, the focus
// rectangle, the classic button frames, composed drawing through DrawState, and text in the context's font
// and colours (through cairo and fontconfig). Coordinates are the context's pixels; what falls outside its
// surface is cut off. Every function fails (FALSE or 0) for an invalid context.
#pragma once

#include "WinGdiObjects.h"

BOOL SetRect(RECT* rect, int left, int top, int right, int bottom);
BOOL InflateRect(RECT* rect, int dx, int dy);
BOOL OffsetRect(RECT* rect, int dx, int dy);
BOOL PtInRect(const RECT* rect, POINT point);

// A hollow brush fills nothing.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// A frame one pixel wide, inside the rectangle.
int FrameRect(HDC dc, const RECT* rect, HBRUSH brush);
// Inverts every other pixel of the rectangle's edge, so that drawing it twice leaves nothing.
BOOL DrawFocusRect(HDC dc, const RECT* rect);

constexpr UINT DFC_BUTTON = 4;
constexpr UINT DFCS_BUTTONCHECK = 0x0000;
constexpr UINT DFCS_BUTTONRADIO = 0x0004;
constexpr UINT DFCS_BUTTONPUSH = 0x0010;
constexpr UINT DFCS_INACTIVE = 0x0100;
constexpr UINT DFCS_PUSHED = 0x0200;
constexpr UINT DFCS_CHECKED = 0x0400;
constexpr UINT DFCS_FLAT = 0x4000;
constexpr UINT DFCS_HOT = 0x1000;
// Buttons only (FALSE for any other type), in the plain classic look: a push button is a raised bevel
// (sunken when pushed) over the button face, the hot look being the same; a check box or radio button is
// a sunken white box, with a dark mark when checked (grey when inactive).
BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state);

using DRAWSTATEPROC = BOOL (*)(HDC dc, LPARAM data, WPARAM extra, int width, int height);
constexpr UINT DST_COMPLEX = 0x0000;
constexpr UINT DSS_NORMAL = 0x0000;
constexpr UINT DSS_DISABLED = 0x0020;
// Only DST_COMPLEX: the callback draws into a transparent context of width x height pixels, and what it drew
// is laid over the target at (x, y), turned grey with DSS_DISABLED. FALSE without a callback, for an empty
// size, or when the callback answers FALSE (nothing is drawn then).
BOOL DrawStateW(HDC dc, HBRUSH brush, DRAWSTATEPROC callback, LPARAM data, WPARAM extra, int x, int y,
                int width, int height, UINT flags);

constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;
// Text (count -1: up to its terminator) in the context's font and text colour; an opaque background mode
// first fills each line's box with the background colour. Lines end at '\n' unless DT_SINGLELINE; there is
// no word wrapping. DT_VCENTER and DT_BOTTOM place a single line. DT_CALCRECT draws nothing and sets the
// rectangle's right and bottom to what the text needs. The answer is the height of the text, 0 on failure.
int DrawTextW(HDC dc, const wchar_t* text, int count, RECT* rect, UINT format);
