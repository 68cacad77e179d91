#include "TWinUxThemeLib.h"

TWinUxThemeLib::TWinUxThemeLib() {
    TFilePath location;
    location.Set(L"UXTHEME.DLL");
    if (!Load(location))
        return;
    // In this order, stopping at the first that is missing.
    const bool all =
        GetProc("SetWindowTheme", m_setWindowTheme) && GetProc("OpenThemeData", m_openThemeData) &&
        GetProc("DrawThemeBackground", m_drawThemeBackground) &&
        GetProc("CloseThemeData", m_closeThemeData) && GetProc("DrawThemeText", m_drawThemeText) &&
        GetProc("GetThemeBackgroundContentRect", m_getThemeBackgroundContentRect);
    if (all)
        return;
    Free();
    m_setWindowTheme = nullptr;
    m_openThemeData = nullptr;
    m_drawThemeBackground = nullptr;
    m_closeThemeData = nullptr;
    m_drawThemeText = nullptr;
    m_getThemeBackgroundContentRect = nullptr;
}

HRESULT TWinUxThemeLib::SetWindowTheme(HWND window, const wchar_t* applicationName,
                                       const wchar_t* idList) const {
    return m_setWindowTheme ? m_setWindowTheme(window, applicationName, idList) : E_FAIL;
}

HTHEME TWinUxThemeLib::OpenThemeData(HWND window, const wchar_t* classList) const {
    return m_openThemeData ? m_openThemeData(window, classList) : 0;
}

HRESULT TWinUxThemeLib::DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT* rect,
                                            const RECT* clip) const {
    return m_drawThemeBackground ? m_drawThemeBackground(theme, dc, part, state, rect, clip) : E_FAIL;
}

HRESULT TWinUxThemeLib::CloseThemeData(HTHEME theme) const {
    return m_closeThemeData ? m_closeThemeData(theme) : E_FAIL;
}

HRESULT TWinUxThemeLib::DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text,
                                      int count, DWORD textFlags, DWORD textFlags2, const RECT* rect) const {
    return m_drawThemeText ? m_drawThemeText(theme, dc, part, state, text, count, textFlags, textFlags2, rect)
                           : E_FAIL;
}

HRESULT TWinUxThemeLib::GetThemeBackgroundContentRect(HTHEME theme, HDC dc, int part, int state,
                                                      const RECT* bounds, RECT* content) const {
    return m_getThemeBackgroundContentRect
               ? m_getThemeBackgroundContentRect(theme, dc, part, state, bounds, content)
               : E_FAIL;
}
