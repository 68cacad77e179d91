// Mouse input: capture, leave notices, and the pointer that tests move. There is no real pointer: tests
// inject mouse messages, which go (posted, in order) to the window under the injected point, or to the
// window that holds the capture, with the point in that window's client coordinates.
#pragma once

#include "WinUser.h"

constexpr UINT WM_CAPTURECHANGED = 0x0215;
constexpr UINT WM_MOUSELEAVE = 0x02A3;

constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr SHORT WHEEL_DELTA = 120;
constexpr WPARAM MK_RBUTTON = 0x0002;

// The signed coordinates of a mouse message (a captured pointer left of or above the window is negative).
constexpr int GET_X_LPARAM(LPARAM lParam) {
    return static_cast<SHORT>(static_cast<WORD>(lParam & 0xFFFF));
}
constexpr int GET_Y_LPARAM(LPARAM lParam) {
    return static_cast<SHORT>(static_cast<WORD>(lParam >> 16 & 0xFFFF));
}

// Capture is per thread: mouse input for the thread's windows goes to the capture window until it is
// released. Changing or releasing it sends WM_CAPTURECHANGED (lParam: the new capture window) to the window
// that loses it. SetCapture answers the previous capture window.
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

constexpr DWORD TME_HOVER = 0x00000001;
constexpr DWORD TME_LEAVE = 0x00000002;
constexpr DWORD TME_CANCEL = 0x80000000;

struct TRACKMOUSEEVENT {
    DWORD cbSize;
    DWORD dwFlags;
    HWND hwndTrack;
    DWORD dwHoverTime;
};

// TME_LEAVE: WM_MOUSELEAVE is posted once when the pointer leaves the window (at once when it is not over
// it now); while the window holds the capture the notice waits for the capture's release. TME_CANCEL takes
// the request back. Hover notices are not supported: TME_HOVER alone fails.
BOOL TrackMouseEvent(TRACKMOUSEEVENT* track);

namespace WinUserTest {

// Moves the pointer to (x, y) in the client coordinates of window (a window of the calling thread) and
// posts the mouse message (WM_MOUSEMOVE, WM_LBUTTONDOWN, ...) with the keys in wParam. The message goes
// to the capture window of the thread when there is one, else to the deepest visible and enabled window
// under the point, searching window and its children (later children lie above earlier ones). False when
// the window is not the thread's, or the point lies outside it with no capture to take the message.
bool InjectMouse(HWND window, UINT message, LONG x, LONG y, WPARAM keys = 0);
// Turns the wheel by delta (WHEEL_DELTA a notch) with the pointer at (x, y) in screen coordinates: posts
// WM_MOUSEWHEEL to window (a window of the calling thread, standing for the focus window) with the keys in
// the low word of wParam, the delta in its high word and the screen point in lParam.
bool InjectWheel(HWND window, LONG screenX, LONG screenY, SHORT delta, WPARAM keys = 0);
// The window the pointer was last injected over (null when none, or it is gone).
HWND PointerWindow();

} // namespace WinUserTest
