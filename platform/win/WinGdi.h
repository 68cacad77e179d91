// Device contexts of windows. A window's device contexts answer the screen's resolution and draw into the
// window's surface, which has the size of its client area.
#pragma once

#include "WinSurface.h"
#include "WinUser.h"

#include <memory>
#include <vector>

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

// The surface the context draws into; null for an invalid or released context. A window's surface is made
// when its first context is, and made anew (keeping what fits of the old pixels) when a context is made
// after the client area changed size; a context keeps the surface it was made with.
std::shared_ptr<WinSurface> SurfaceOfDC(HDC dc);
// Forgets the surface of a window that goes (contexts still open keep theirs alive). Called with the user
// services' lock held: the GDI lock comes after it, and nothing here calls back into the user services
// while holding the GDI lock.
void ForgetWindowSurface(HWND window);

} // namespace WinGdi

namespace WinGdiTest {

// A copy of the window's pixels as its next context would draw them, the surface being made (transparent,
// of the client size) when none exists yet; false for an invalid window.
bool ReadWindowPixels(HWND window, LONG* width, LONG* height, std::vector<std::uint32_t>* pixels);
// The window as the screen would show it: its pixels with those of its visible children laid over them
// at their places (each child with its own children, later children over earlier ones), in the window's
// size; false for an invalid window.
bool ReadComposedPixels(HWND window, LONG* width, LONG* height, std::vector<std::uint32_t>* pixels);

} // namespace WinGdiTest
