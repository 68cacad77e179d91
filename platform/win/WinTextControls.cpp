// The static text and the edit box.
#include "WinControlsInternal.h"

#include <string>
#include <vector>

namespace WinControls {
namespace {

UINT StaticFormat(DWORD style) {
    UINT format = DT_LEFT;
    switch (style & 0x3) {
    case SS_CENTER:
        format = DT_CENTER;
        break;
    case SS_RIGHT:
        format = DT_RIGHT;
        break;
    default:
        break;
    }
    if (style & SS_CENTERIMAGE)
        format |= DT_VCENTER | DT_SINGLELINE;
    return format;
}

std::wstring TextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
    const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    return std::wstring(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

} // namespace

LRESULT StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunControl<ControlData>(window, message, wParam, lParam, [&](ControlData& data) -> LRESULT {
        if (message != WM_PAINT)
            return DefWindowProcW(window, message, wParam, lParam);
        PaintScope paint(window, data);
        if (!paint.dc())
            return 0;
        const RECT client = paint.client();
        FillRect(paint.dc(), &client, AskParentColour(window, WM_CTLCOLORSTATIC, paint.dc()));
        DrawWindowText(window, paint.dc(), client, StaticFormat(StyleOf(window)));
        return 0;
    });
}

LRESULT EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETTEXT: {
        const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
        Repaint(window);
        NotifyParent(window, EN_CHANGE);
        return result;
    }
    case WM_CHAR: {
        if ((StyleOf(window) & ES_READONLY) || !IsWindowEnabled(window))
            return 0;
        std::wstring text = TextOf(window);
        const auto typed = static_cast<wchar_t>(wParam);
        if (typed == L'\b') {
            if (text.empty())
                return 0;
            text.pop_back();
        } else if (typed >= L' ') {
            text.push_back(typed);
        } else {
            return 0;
        }
        DefWindowProcW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        Repaint(window);
        NotifyParent(window, EN_CHANGE);
        return 0;
    }
    default:
        break;
    }
    return RunControl<ControlData>(window, message, wParam, lParam, [&](ControlData& data) -> LRESULT {
        if (message != WM_PAINT)
            return DefWindowProcW(window, message, wParam, lParam);
        PaintScope paint(window, data);
        if (!paint.dc())
            return 0;
        const DWORD style = StyleOf(window);
        // A box that cannot be typed into looks like a static text.
        const bool asStatic = (style & ES_READONLY) || !IsWindowEnabled(window);
        RECT client = paint.client();
        const HBRUSH brush =
            AskParentColour(window, asStatic ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT, paint.dc());
        RECT inside = client;
        if (style & WS_BORDER) {
            // The sunken edge of a check box, two pixels wide.
            DrawFrameControl(paint.dc(), &client, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_INACTIVE);
            InflateRect(&inside, -2, -2);
        }
        FillRect(paint.dc(), &inside, brush);
        RECT text = client;
        InflateRect(&text, -3, 0);
        DrawWindowText(window, paint.dc(), text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        return 0;
    });
}

} // namespace WinControls
