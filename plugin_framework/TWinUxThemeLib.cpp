#include "TWinUxThemeLib.h"

namespace {

template <class Proc>
bool Resolve(HMODULE module, const char* name, Proc& proc) {
    proc = reinterpret_cast<Proc>(GetProcAddress(module, name));
    return proc != nullptr;
}

} // namespace

TWinUxThemeLib::TWinUxThemeLib() {
    m_module = LoadLibraryExW(L"UXTHEME.DLL", 0, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m_module)
        return;
    // In this order, stopping at the first that is missing.
    const bool all = Resolve(m_module, "SetWindowTheme", m_setWindowTheme) &&
                     Resolve(m_module, "OpenThemeData", m_openThemeData) &&
                     Resolve(m_module, "DrawThemeBackground", m_drawThemeBackground) &&
                     Resolve(m_module, "CloseThemeData", m_closeThemeData) &&
                     Resolve(m_module, "DrawThemeText", m_drawThemeText) &&
                     Resolve(m_module, "GetThemeBackgroundContentRect", m_getThemeBackgroundContentRect);
    if (!all)
        Free();
}

TWinUxThemeLib::~TWinUxThemeLib() {
    Free();
}

void TWinUxThemeLib::Free() {
    if (m_module)
        FreeLibrary(m_module);
    m_module = nullptr;
    m_setWindowTheme = nullptr;
    m_openThemeData = nullptr;
    m_drawThemeBackground = nullptr;
    m_closeThemeData = nullptr;
    m_drawThemeText = nullptr;
    m_getThemeBackgroundContentRect = nullptr;
}

bool TWinUxThemeLib::IsLoaded() const {
    return m_module != nullptr;
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
