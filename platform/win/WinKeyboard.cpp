#include "WinKeyboard.h"

namespace {

// The key's first press: repeat count 1, the key was up before.
constexpr LPARAM kKeyDownBits = 1;
// Its release: repeat count 1, previously down, being released.
constexpr LPARAM kKeyUpBits = 1 | (1 << 30) | (static_cast<LPARAM>(1) << 31);

} // namespace

bool WinUserTest::InjectKey(HWND window, WPARAM virtualKey) {
    HWND target = window ? window : GetFocus();
    if (!target)
        target = GetActiveWindow();
    if (!target || !IsWindow(target) || GetWindowThreadProcessId(target, nullptr) != GetCurrentThreadId())
        return false;
    return PostMessageW(target, WM_KEYDOWN, virtualKey, kKeyDownBits) == TRUE &&
           PostMessageW(target, WM_KEYUP, virtualKey, kKeyUpBits) == TRUE;
}
