// Device contexts of windows. A window's device context answers the screen's resolution and nothing more:
// there are no pixels behind a window.
#pragma once

#include "WinUser.h"

constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

// LOGPIXELSX and LOGPIXELSY give WinSeams::ScreenDpi(); HORZRES and VERTRES the size of the window;
// any other index, or an invalid context, gives 0.
int GetDeviceCaps(HDC dc, int index);

namespace WinGdi {

// The contexts behind GetDC and ReleaseDC: a new one for the window, or null for an invalid window.
HDC CreateWindowDC(HWND window);
// True when dc was the window's and is now released.
bool ReleaseWindowDC(HWND window, HDC dc);

} // namespace WinGdi
