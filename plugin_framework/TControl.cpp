#include "TControl.h"

#include "PackedColor.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinGdi.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

constexpr int kPointsPerInch = 72;

} // namespace

TControl::~TControl() {
    // The derived parts are gone already: the window must not lead here any more.
    Unbind();
    if (Bound() && !m_attached)
        ::DestroyWindow(m_hWnd);
    Reset();
    DeleteGdiObjects();
}

HWND TControl::Bound() const {
    return m_hWnd && ::IsWindow(m_hWnd) ? m_hWnd : nullptr;
}

bool TControl::Create(HWND, DWORD, const TRect&) {
    return true;
}

bool TControl::Destroy() {
    bool destroyed = false;
    if (!Bound()) {
        Reset();
    } else if (m_attached) {
        destroyed = Detach();
    } else {
        HWND window = m_hWnd;
        Unbind();
        Reset();
        destroyed = ::DestroyWindow(window) == TRUE;
    }
    DeleteGdiObjects();
    return destroyed;
}

bool TControl::Attach(HWND window, bool owned) {
    if (!window || !::IsWindow(window) || Bound())
        return false;
    // The wrapper that held the window goes: its owner's reference is released (a wrapper that is being
    // destroyed already is only detached).
    if (TControl* previous = FromHandle(window); previous && previous != this) {
        if (previous->TryAddRef()) {
            TRefPtr<TControl> hold = TRefPtr<TControl>::Adopt(previous);
            previous->Detach();
            previous->Release();
        } else {
            previous->Detach();
        }
    }
    m_hWnd = window;
    m_attached = !owned;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_savedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TControl::ControlProc)));
    return true;
}

bool TControl::Detach() {
    Unbind();
    Reset();
    return true;
}

void TControl::Unbind() {
    if (!Bound() || FromHandle(m_hWnd) != this)
        return;
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    if (m_savedProc)
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_savedProc));
}

void TControl::Reset() {
    m_messages.clear();
    m_commands.clear();
    m_notifications.clear();
    m_attached = false;
    m_hWnd = nullptr;
    m_savedProc = nullptr;
}

void TControl::DeleteGdiObjects() {
    if (m_fontHandle)
        ::DeleteObject(m_fontHandle);
    if (m_bkBrush)
        ::DeleteObject(m_bkBrush);
    m_fontHandle = nullptr;
    m_bkBrush = nullptr;
}

bool TControl::SetText(const TString& text) {
    HWND window = Bound();
    if (!window)
        return false;
    const bool set = ::SetWindowTextW(window, text) == 1;
    ::InvalidateRect(window, nullptr, TRUE);
    ::UpdateWindow(window);
    return set;
}

bool TControl::GetText(TString& text) {
    text.Empty();
    HWND window = Bound();
    if (!window)
        return false;
    const int length = ::GetWindowTextLengthW(window);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(std::max(length, 0)) + 1);
    const int copied = ::GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
    text = TString(buffer.data(), copied);
    return true;
}

bool TControl::SetFont(const TFontInfo* font) {
    m_fontSet = font != nullptr;
    if (font)
        m_font = *font;
    HWND window = Bound();
    if (!window)
        return false;
    HFONT made = nullptr;
    if (font) {
        HDC dc = ::GetDC(window);
        const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
        ::ReleaseDC(window, dc);
        LOGFONTW description{};
        description.lfHeight = -MulDiv(m_font.size, dpi, kPointsPerInch);
        description.lfWeight = (m_font.style & TFontInfo::kBold) ? FW_BOLD : FW_NORMAL;
        description.lfItalic = (m_font.style & TFontInfo::kItalic) ? 1 : 0;
        description.lfQuality = ANTIALIASED_QUALITY;
        description.lfCharSet = ANSI_CHARSET;
        std::wcsncpy(description.lfFaceName, m_font.face, LF_FACESIZE - 1);
        made = ::CreateFontIndirectW(&description);
    }
    // Without a description the control goes back to the system font.
    ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
    if (m_fontHandle)
        ::DeleteObject(m_fontHandle);
    m_fontHandle = made;
    ::InvalidateRect(window, nullptr, TRUE);
    return true;
}

bool TControl::SetTextColor(const DWORD* colour) {
    m_textColourSet = colour != nullptr;
    if (colour)
        m_textColour = PackedColor::ClearFlagByte(*colour);
    HWND window = Bound();
    return window && ::InvalidateRect(window, nullptr, TRUE) == TRUE;
}

bool TControl::SetExtraValue(LONG value) {
    m_extraValue = value;
    return true;
}

bool TControl::SetBkColor(const DWORD* colour) {
    m_bkColourSet = colour != nullptr;
    if (m_bkBrush)
        ::DeleteObject(m_bkBrush);
    m_bkBrush = nullptr;
    if (colour) {
        m_bkColour = PackedColor::ClearFlagByte(*colour);
        m_bkBrush = ::CreateSolidBrush(m_bkColour);
    }
    HWND window = Bound();
    return window && ::InvalidateRect(window, nullptr, TRUE) == TRUE;
}

LRESULT TControl::OnCtlColor(TMessageInfo*) {
    return 0;
}

bool TControl::SetFocus() {
    if (HWND window = Bound())
        ::SetFocus(window);
    return true;
}

bool TControl::CreateControl(const TString& className, HWND parent, DWORD style, const TRect& rect) {
    if (!parent)
        return false;
    HWND window = ::CreateWindowExW(0, className, nullptr, style | WS_CHILD, rect.left, rect.top,
                                    rect.Width(), rect.Height(), parent, nullptr, nullptr, nullptr);
    if (!window)
        return false;
    if (!Attach(window, false)) {
        ::DestroyWindow(window);
        return false;
    }
    return true;
}

bool TControl::Show(bool show) {
    HWND window = Bound();
    return window && ::ShowWindow(window, show ? SW_SHOW : SW_HIDE) == 1;
}

bool TControl::IsVisible() const {
    HWND window = Bound();
    return window && ::IsWindowVisible(window) == TRUE;
}

bool TControl::IsEnabled() const {
    HWND window = Bound();
    return window && ::IsWindowEnabled(window) == TRUE;
}

bool TControl::Enable(bool enable) {
    HWND window = Bound();
    return window && ::EnableWindow(window, enable ? TRUE : FALSE) == 1;
}

TWindow* TControl::GetParentWindow() const {
    HWND window = Bound();
    return window ? TWindow::FromHandle(::GetParent(window)) : nullptr;
}

bool TControl::GetClientRect(TRect& rect) const {
    RECT r{};
    HWND window = Bound();
    if (!window || !::GetClientRect(window, &r))
        return false;
    rect = TRect(0, 0, r.right, r.bottom);
    return true;
}

bool TControl::GetRectInParent(TRect& rect) const {
    HWND window = Bound();
    RECT r{};
    if (!window || !::GetWindowRect(window, &r))
        return false;
    POINT topLeft{r.left, r.top};
    POINT bottomRight{r.right, r.bottom};
    if (HWND parent = ::GetParent(window)) {
        ::ScreenToClient(parent, &topLeft);
        ::ScreenToClient(parent, &bottomRight);
    }
    rect = TRect(topLeft.x, topLeft.y, bottomRight.x, bottomRight.y);
    return true;
}

bool TControl::Invalidate(const TRect* rect, bool erase) const {
    HWND window = Bound();
    if (!window)
        return false;
    const RECT area = rect ? RECT{rect->left, rect->top, rect->right, rect->bottom} : RECT{};
    return ::InvalidateRect(window, rect ? &area : nullptr, erase ? TRUE : FALSE) == TRUE;
}

bool TControl::Update() const {
    HWND window = Bound();
    return window && ::UpdateWindow(window) == TRUE;
}

HDC TControl::GetDC() const {
    HWND window = Bound();
    return window ? ::GetDC(window) : nullptr;
}

bool TControl::ReleaseDC(HDC dc) const {
    HWND window = Bound();
    return window && ::ReleaseDC(window, dc) == 1;
}

bool TControl::Move(const TPoint& point) {
    HWND window = Bound();
    return window && ::SetWindowPos(window, nullptr, point.x, point.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

bool TControl::SetSize(const TSize& size, bool repaint) {
    HWND window = Bound();
    if (!window)
        return false;
    const UINT flags = SWP_NOMOVE | SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW);
    if (!::SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, flags))
        return false;
    if (repaint) {
        ::InvalidateRect(window, nullptr, TRUE);
        ::UpdateWindow(window);
    }
    return true;
}

bool TControl::MoveBy(const TPoint& offset) {
    TRect rect;
    if (!GetRectInParent(rect))
        return false;
    return Move(TPoint(rect.left + offset.x, rect.top + offset.y));
}

bool TControl::AddHandler(HandlerMap& map, bool bound, DWORD key, const TMessageHandler& handler) {
    if (!bound || map.count(key))
        return false;
    map.emplace(key, std::make_unique<TMessageHandler>(handler));
    return true;
}

bool TControl::AddMessageHandler(DWORD message, const TMessageHandler& handler) {
    return AddHandler(m_messages, Bound() != nullptr, message, handler);
}

bool TControl::AddCommandHandler(DWORD code, const TMessageHandler& handler) {
    return AddHandler(m_commands, Bound() != nullptr, code, handler);
}

bool TControl::AddNotifyHandler(DWORD code, const TMessageHandler& handler) {
    return AddHandler(m_notifications, Bound() != nullptr, code, handler);
}

TControl* TControl::FromHandle(HWND window) {
    // Only a window whose procedure is this module's control procedure holds one of its wrappers.
    if (!window ||
        GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&TControl::ControlProc))
        return nullptr;
    return reinterpret_cast<TControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT TControl::ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* control = reinterpret_cast<TControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!control) {
        if (message == WM_CREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            if (create && create->lpCreateParams)
                SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    // A wrapper whose last reference is gone is being destroyed: its control still works, without handlers.
    if (control->GetRefCount() <= 0) {
        const WNDPROC saved = control->m_savedProc;
        return saved ? CallWindowProcW(saved, window, message, wParam, lParam)
                     : DefWindowProcW(window, message, wParam, lParam);
    }
    return control->Dispatch(window, message, wParam, lParam);
}

LRESULT TControl::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Held for the whole message, and everything needed after the handler read before it: the handler may
    // detach the wrapper, or have its owner release it.
    TRefPtr<TControl> hold(this);
    const WNDPROC saved = m_savedProc;
    TMessageInfo info{};
    info.hwnd = window;
    const HandlerMap* map = &m_messages;
    DWORD key = message;
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        map = header ? &m_notifications : nullptr;
        key = header ? header->code : 0;
    } else if (message == WM_COMMAND) {
        map = &m_commands;
        key = HIWORD(wParam);
    } else {
        info.extra = lParam;
    }
    LONG result = 0;
    if (map) {
        auto it = map->find(key);
        if (it != map->end()) {
            const TMessageHandler handler = *it->second;
            info.key = key;
            info.wParam = wParam;
            info.lParam = lParam;
            if (handler.callback)
                result = handler.callback(&info, handler.context);
        }
    }
    if (result == 1)
        return 1;
    const LRESULT answer = saved ? CallWindowProcW(saved, window, message, wParam, lParam)
                                 : DefWindowProcW(window, message, wParam, lParam);
    // The platform has forgotten the window; so does the wrapper.
    if (message == WM_NCDESTROY && m_hWnd == window)
        Reset();
    return answer;
}
