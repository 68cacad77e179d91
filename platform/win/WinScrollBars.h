// The standard scroll bars of a window and the system sizes they take. A window has two bars, each with a
// range, a page, a position and a track position; a bar is shown while its range holds more than one page
// (maximum > minimum and page <= maximum - minimum), and a shown bar takes SM_CXVSCROLL (vertical) or
// SM_CYHSCROLL (horizontal) pixels from the client area. Showing or hiding a bar sends no WM_SIZE: whoever
// sets a bar reads the client rectangle again.
#pragma once

#include "WinUser.h"

constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;

constexpr UINT SIF_RANGE = 0x0001;
constexpr UINT SIF_PAGE = 0x0002;
constexpr UINT SIF_POS = 0x0004;
constexpr UINT SIF_TRACKPOS = 0x0010;
constexpr UINT SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;

struct SCROLLINFO {
    UINT cbSize;
    UINT fMask;
    int nMin;
    int nMax;
    UINT nPage;
    int nPos;
    int nTrackPos;
};
static_assert(sizeof(SCROLLINFO) == 28);

// Sets what the mask names (a page larger than the range is cut to it), then clamps the position to
// [minimum, maximum - max(page, 1) + 1] (the minimum when that is empty); the track position follows the
// position. SIF_TRACKPOS is read only. Answers the position, 0 for a bad window, bar or record.
int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw);
// Fills what the mask names; FALSE for a bad window, bar or record (cbSize must be 28).
BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info);

constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
// The width of a vertical bar and the height of a horizontal one (17 pixels at 96 dpi); 0 for other
// metrics.
int GetSystemMetrics(int index);

namespace WinUserTest {

// The thumb is dragged to position (clamped as a position is): the bar's track position while it is held.
bool SetScrollTrackPosition(HWND window, int bar, int position);

} // namespace WinUserTest
