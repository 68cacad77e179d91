// Keys: the virtual-key codes the system acts on, and the key presses that tests inject. There is no real
// keyboard: an injected key is posted, as the platform's input would arrive, to the window that has the
// keyboard focus.
#pragma once

#include "WinUser.h"

constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;

namespace WinUserTest {

// Posts WM_KEYDOWN and then WM_KEYUP for the key (repeat count 1) to the window, or, for a null window, to
// the calling thread's focus window, or its active window when none has the focus. False when there is no
// such window or it is not the calling thread's.
bool InjectKey(HWND window, WPARAM virtualKey);

} // namespace WinUserTest
