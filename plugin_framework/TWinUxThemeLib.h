// The platform's visual-styles library, bound at run time so that the modules run where it is missing:
// the six entry points are resolved in order, and unless all six are found nothing stays loaded. Every
// call then fails softly (E_FAIL, or no theme), and image buttons draw in the classic look.
#pragma once

#include "TDynamicLib.h"

#include "platform/win/WinUxTheme.h"

// IsLoaded (of the library) is true only with all six entry points set; destruction frees the library.
class TWinUxThemeLib : public TDynamicLib {
public:
    // Loads "UXTHEME.DLL" by name, in the platform's search order.
    TWinUxThemeLib();

    HRESULT SetWindowTheme(HWND window, const wchar_t* applicationName, const wchar_t* idList) const;
    // 0 when the library is missing.
    HTHEME OpenThemeData(HWND window, const wchar_t* classList) const;
    HRESULT DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT* rect,
                                const RECT* clip) const;
    HRESULT CloseThemeData(HTHEME theme) const;
    HRESULT DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text, int count,
                          DWORD textFlags, DWORD textFlags2, const RECT* rect) const;
    HRESULT GetThemeBackgroundContentRect(HTHEME theme, HDC dc, int part, int state, const RECT* bounds,
                                          RECT* content) const;

private:
    SetWindowThemeProc m_setWindowTheme = nullptr;
    OpenThemeDataProc m_openThemeData = nullptr;
    DrawThemeBackgroundProc m_drawThemeBackground = nullptr;
    CloseThemeDataProc m_closeThemeData = nullptr;
    DrawThemeTextProc m_drawThemeText = nullptr;
    GetThemeBackgroundContentRectProc m_getThemeBackgroundContentRect = nullptr;
};
