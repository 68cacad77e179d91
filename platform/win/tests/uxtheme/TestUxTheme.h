// What the test visual-styles libraries record of their calls, read through their export
// "TestUxThemeCalls" (resolved with GetProcAddress on the loaded library).
#pragma once

#include "platform/win/WinGdiObjects.h"
#include "platform/win/WinUxTheme.h"

enum class ThemeCallKind { kSetWindowTheme, kOpen, kDrawBackground, kClose, kDrawText, kContentRect };

struct ThemeCall {
    ThemeCallKind kind;
    HWND window;
    HTHEME theme;
    int part;
    int state;
    RECT rect;
    wchar_t classList[32];
};

// Copies up to capacity calls, oldest first, and answers how many were recorded.
using TestUxThemeCallsProc = int (*)(ThemeCall* out, int capacity);
// Forgets the calls recorded.
using TestUxThemeResetProc = void (*)();

// The colour DrawThemeBackground fills a push button with, by state (PBS_NORMAL .. PBS_DEFAULTED).
constexpr COLORREF TestThemeStateColour(int state) {
    switch (state) {
    case PBS_NORMAL:
        return 0x00DC8C5A;
    case PBS_HOT:
        return 0x003CC8FA;
    case PBS_PRESSED:
        return 0x003C3CC8;
    case PBS_DISABLED:
        return 0x00AAAAAA;
    case PBS_DEFAULTED:
        return 0x005AAA3C;
    default:
        return 0x00000000;
    }
}
// GetThemeBackgroundContentRect answers the bounds shrunk by this much on every side.
constexpr LONG kTestThemeContentInset = 3;
