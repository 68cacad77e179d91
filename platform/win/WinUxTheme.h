// The visual-styles library as programs bind it at run time: its handle and result types, the button parts
// and states, and the six entry points by name. No such library comes with this layer; tests build their
// own under the name "UXTHEME.DLL" (tests/uxtheme).
#pragma once

#include "WinUser.h"

using HTHEME = std::uintptr_t;

// The result codes WinPrintDialogs.h has too: whichever header comes first defines them (the same values).
#ifndef KV_WIN_SHARED_RESULT_CODES
#define KV_WIN_SHARED_RESULT_CODES
using HRESULT = LONG;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
#endif

constexpr int BP_PUSHBUTTON = 1;
constexpr int PBS_NORMAL = 1;
constexpr int PBS_HOT = 2;
constexpr int PBS_PRESSED = 3;
constexpr int PBS_DISABLED = 4;
constexpr int PBS_DEFAULTED = 5;

using SetWindowThemeProc = HRESULT (*)(HWND window, const wchar_t* applicationName, const wchar_t* idList);
using OpenThemeDataProc = HTHEME (*)(HWND window, const wchar_t* classList);
using DrawThemeBackgroundProc = HRESULT (*)(HTHEME theme, HDC dc, int part, int state, const RECT* rect,
                                            const RECT* clip);
using CloseThemeDataProc = HRESULT (*)(HTHEME theme);
using DrawThemeTextProc = HRESULT (*)(HTHEME theme, HDC dc, int part, int state, const wchar_t* text,
                                      int count, DWORD textFlags, DWORD textFlags2, const RECT* rect);
using GetThemeBackgroundContentRectProc = HRESULT (*)(HTHEME theme, HDC dc, int part, int state,
                                                      const RECT* bounds, RECT* content);
