// A visual-styles library for tests: the six entry points (or, built with KV_THEME_LACKS_CONTENT_RECT,
// all but GetThemeBackgroundContentRect), recording every call; push-button backgrounds are filled with
// a colour of their state and framed in black, so that themed drawing can be told from classic drawing.
#include "TestUxTheme.h"

#include "platform/win/WinGdiDraw.h"

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <vector>

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_lock;
std::vector<ThemeCall> g_calls;
HTHEME g_nextTheme = 0x100;

void Record(ThemeCallKind kind, HWND window, HTHEME theme, int part, int state, const RECT* rect,
            const wchar_t* classList) {
    ThemeCall call{};
    call.kind = kind;
    call.window = window;
    call.theme = theme;
    call.part = part;
    call.state = state;
    if (rect)
        call.rect = *rect;
    if (classList)
        std::wcsncpy(call.classList, classList, 31);
    std::lock_guard<std::mutex> guard(g_lock);
    g_calls.push_back(call);
}

} // namespace

KV_EXPORT HRESULT SetWindowTheme(HWND window, const wchar_t* applicationName, const wchar_t*) {
    Record(ThemeCallKind::kSetWindowTheme, window, 0, 0, 0, nullptr, applicationName);
    return S_OK;
}

KV_EXPORT HTHEME OpenThemeData(HWND window, const wchar_t* classList) {
    HTHEME theme;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        theme = g_nextTheme++;
    }
    Record(ThemeCallKind::kOpen, window, theme, 0, 0, nullptr, classList);
    return theme;
}

KV_EXPORT HRESULT DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT* rect,
                                      const RECT*) {
    Record(ThemeCallKind::kDrawBackground, nullptr, theme, part, state, rect, nullptr);
    if (!rect)
        return E_FAIL;
    HBRUSH fill = CreateSolidBrush(TestThemeStateColour(state));
    FillRect(dc, rect, fill);
    DeleteObject(fill);
    FrameRect(dc, rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    return S_OK;
}

KV_EXPORT HRESULT CloseThemeData(HTHEME theme) {
    Record(ThemeCallKind::kClose, nullptr, theme, 0, 0, nullptr, nullptr);
    return S_OK;
}

KV_EXPORT HRESULT DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text, int count,
                                DWORD textFlags, DWORD, const RECT* rect) {
    Record(ThemeCallKind::kDrawText, nullptr, theme, part, state, rect, nullptr);
    RECT area = rect ? *rect : RECT{};
    return DrawTextW(dc, text, count, &area, textFlags) ? S_OK : E_FAIL;
}

#ifndef KV_THEME_LACKS_CONTENT_RECT
KV_EXPORT HRESULT GetThemeBackgroundContentRect(HTHEME theme, HDC, int part, int state, const RECT* bounds,
                                                RECT* content) {
    Record(ThemeCallKind::kContentRect, nullptr, theme, part, state, bounds, nullptr);
    if (!bounds || !content)
        return E_FAIL;
    *content = *bounds;
    InflateRect(content, -kTestThemeContentInset, -kTestThemeContentInset);
    return S_OK;
}
#endif

KV_EXPORT int TestUxThemeCalls(ThemeCall* out, int capacity) {
    std::lock_guard<std::mutex> guard(g_lock);
    const int count = static_cast<int>(g_calls.size());
    if (out)
        std::copy_n(g_calls.begin(), std::min(count, std::max(capacity, 0)), out);
    return count;
}

KV_EXPORT void TestUxThemeReset() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_calls.clear();
}
