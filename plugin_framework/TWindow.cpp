#include "TWindow.h"

#include "TControl.h"
#include "TModuleValues.h"

#include "platform/win/WinGdi.h"

#include <vector>

namespace {

TWindow::TPoint PointOf(LPARAM lParam) {
    return TWindow::TPoint(LOWORD(static_cast<std::uintptr_t>(lParam)),
                           HIWORD(static_cast<std::uintptr_t>(lParam)));
}

RECT ToRect(const TWindow::TRect& rect) {
    return RECT{rect.left, rect.top, rect.right, rect.bottom};
}

} // namespace

TWindow::~TWindow() {
    // From here on the window's messages no longer reach this object: its derived parts are gone already.
    if (m_hWnd && FromHandle(m_hWnd) == this)
        Unbind();
    if (m_attached)
        Detach();
    else if (!m_handleSet)
        Destroy();
}

bool TWindow::Destroy() {
    bool destroyed = true;
    if (m_attached) {
        Detach();
    } else {
        destroyed = m_hWnd && ::DestroyWindow(m_hWnd) == TRUE;
        // A window that the platform did not destroy now (only the thread that made a window may destroy
        // it; one that is being destroyed already takes its last messages later) outlives this object's
        // hold on it, and perhaps the object: it must no longer lead to the object. Another thread's
        // window is destroyed by that thread when it takes the close message (the default processing of
        // WM_CLOSE), so that it does not linger until that thread ends.
        if (!destroyed && m_hWnd && ::IsWindow(m_hWnd)) {
            Unbind();
            if (GetWindowThreadProcessId(m_hWnd, nullptr) != GetCurrentThreadId())
                ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        }
    }
    Reset();
    return destroyed;
}

void TWindow::Unbind() {
    if (FromHandle(m_hWnd) != this)
        return;
    if (m_savedProc)
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_savedProc));
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
}

bool TWindow::Attach(HWND window, bool owned) {
    if (!window || IsWindow())
        return false;
    m_hWnd = window;
    m_attached = !owned;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_savedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWindow::WindowProc)));
    return true;
}

void TWindow::Detach() {
    if (m_hWnd && m_attached) {
        if (m_savedProc)
            SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_savedProc));
        if (FromHandle(m_hWnd) == this)
            SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    }
    Reset();
}

bool TWindow::IsWindow() const {
    return m_hWnd && ::IsWindow(m_hWnd);
}

void TWindow::Show(bool show) {
    if (m_hWnd)
        ::ShowWindow(m_hWnd, show ? SW_SHOW : SW_HIDE);
}

bool TWindow::IsVisible() const {
    return m_hWnd && ::IsWindowVisible(m_hWnd) == 1;
}

void TWindow::SetFocus() {
    if (IsWindow())
        ::SetFocus(m_hWnd);
}

bool TWindow::Enable(bool enable) {
    return m_hWnd && ::EnableWindow(m_hWnd, enable ? TRUE : FALSE) == 1;
}

bool TWindow::IsEnabled() const {
    return m_hWnd && ::IsWindowEnabled(m_hWnd);
}

bool TWindow::SetActive() {
    if (!m_hWnd)
        return false;
    ::SetActiveWindow(m_hWnd);
    return true;
}

bool TWindow::GetText(TString& text) const {
    text.Empty();
    if (!m_hWnd)
        return false;
    const int length = ::GetWindowTextLengthW(m_hWnd);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
    const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), static_cast<int>(buffer.size()));
    text = TString(buffer.data(), copied);
    return true;
}

bool TWindow::SetText(const TString& text) {
    return m_hWnd && ::SetWindowTextW(m_hWnd, text) == 1;
}

LONG TWindow::OnCreate() {
    return 0;
}
LONG TWindow::OnHScrollLeft() {
    return 0;
}
LONG TWindow::OnHScrollRight() {
    return 0;
}
LONG TWindow::OnHScrollLineLeft(LONG) {
    return 0;
}
LONG TWindow::OnHScrollLineRight(LONG) {
    return 0;
}
LONG TWindow::OnHScrollPageLeft() {
    return 0;
}
LONG TWindow::OnHScrollPageRight() {
    return 0;
}
LONG TWindow::OnHScrollThumbPosition() {
    return 0;
}
LONG TWindow::OnHScrollThumbTrack() {
    return 0;
}
LONG TWindow::OnHScrollEnd() {
    return 0;
}
LONG TWindow::OnVScrollTop() {
    return 0;
}
LONG TWindow::OnVScrollBottom() {
    return 0;
}
LONG TWindow::OnVScrollLineUp(LONG) {
    return 0;
}
LONG TWindow::OnVScrollLineDown(LONG) {
    return 0;
}
LONG TWindow::OnVScrollPageUp() {
    return 0;
}
LONG TWindow::OnVScrollPageDown() {
    return 0;
}
LONG TWindow::OnVScrollThumbPosition() {
    return 0;
}
LONG TWindow::OnVScrollThumbTrack() {
    return 0;
}
LONG TWindow::OnVScrollEnd() {
    return 0;
}
LONG TWindow::OnKeyDown(WPARAM, LPARAM) {
    return 0;
}
LONG TWindow::OnKeyUp(WPARAM, LPARAM) {
    return 0;
}
LONG TWindow::OnLButtonDown(const TPoint&, WPARAM) {
    SetFocus();
    return 0;
}
LONG TWindow::OnLButtonUp(const TPoint&, WPARAM) {
    return 0;
}
LONG TWindow::OnLButtonDblClk(const TPoint&, WPARAM) {
    return 0;
}
LONG TWindow::OnRButtonDown(const TPoint&, WPARAM) {
    return 0;
}
LONG TWindow::OnRButtonUp(const TPoint&, WPARAM) {
    return 0;
}
LONG TWindow::OnRButtonDblClk(const TPoint&, WPARAM) {
    return 0;
}
LONG TWindow::OnMouseMove(const TPoint&, WPARAM) {
    return 0;
}
LONG TWindow::OnMouseWheel(const TPoint&, WPARAM) {
    return 0;
}

LRESULT TWindow::OnControlColor(HWND control, TMessageInfo& info) {
    TControl* wrapper = TControl::FromHandle(control);
    if (!wrapper || !wrapper->TryAddRef())
        return 0;
    const TRefPtr<TControl> hold = TRefPtr<TControl>::Adopt(wrapper);
    return wrapper->OnCtlColor(&info);
}

void TWindow::Close() {
    Destroy();
}

LONG TWindow::OnSize(const TSize&) {
    return 0;
}

bool TWindow::Create(const TString& className, DWORD style, const TRect& rect, HWND parent) {
    if (IsWindow())
        return false;
    // A window that the platform destroyed behind this object's back leaves only a stale handle.
    Reset();
    style |= parent ? WS_CHILD : WS_POPUP;
    const HINSTANCE instance = GetThisModule();
    HWND window = CreateWindowExW(0, className, nullptr, style, rect.left, rect.top, rect.Width(),
                                  rect.Height(), parent, nullptr, instance, this);
    if (!window) {
        WNDCLASSW windowClass{};
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = &TWindow::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = className;
        m_atom = RegisterClassW(&windowClass);
        if (m_atom)
            window = CreateWindowExW(0, MAKEINTATOM(m_atom), nullptr, style, rect.left, rect.top,
                                     rect.Width(), rect.Height(), parent, nullptr, instance, this);
    }
    if (!window)
        return false;
    if (!GetWindowLongPtrW(window, GWLP_USERDATA))
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_hWnd = window;
    const TMessageHandler close{this, &TWindow::CloseHandler};
    AddMessageHandler(WM_CLOSE, close);
    AddCommandHandler(IDCLOSE, close);
    return IsWindow();
}

TWindow* TWindow::FromHandle(HWND window) {
    if (!window)
        return nullptr;
    return reinterpret_cast<TWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool TWindow::SetHandle(HWND window) {
    if (m_hWnd && !m_handleSet)
        return false;
    m_hWnd = window;
    if (window)
        m_handleSet = true;
    return true;
}

bool TWindow::AddMessageHandler(DWORD message, const TMessageHandler& handler) {
    if (!IsWindow() || m_messages.count(message))
        return false;
    m_messages.emplace(message, std::make_unique<TMessageHandler>(handler));
    return true;
}

bool TWindow::AddCommandHandler(DWORD command, const TMessageHandler& handler) {
    if (!IsWindow() || m_commands.count(command))
        return false;
    m_commands.emplace(command, std::make_unique<TMessageHandler>(handler));
    return true;
}

bool TWindow::AddNotifyHandler(DWORD code, DWORD controlId, const TMessageHandler& handler) {
    if (!IsWindow())
        return false;
    HandlerMap& byControl = m_notifications[code];
    if (byControl.count(controlId))
        return false;
    byControl.emplace(controlId, std::make_unique<TMessageHandler>(handler));
    return true;
}

HWND TWindow::GetParent() const {
    return m_hWnd ? ::GetParent(m_hWnd) : nullptr;
}

bool TWindow::GetClientRect(TRect& rect) const {
    RECT r{};
    if (!m_hWnd || !::GetClientRect(m_hWnd, &r))
        return false;
    rect = TRect(0, 0, r.right, r.bottom);
    return true;
}

bool TWindow::GetWindowRect(TRect& rect) const {
    RECT r{};
    if (!m_hWnd || !::GetWindowRect(m_hWnd, &r))
        return false;
    rect = TRect(r.left, r.top, r.right, r.bottom);
    return true;
}

TWindow::TSize TWindow::GetDpi() const {
    if (!m_hWnd)
        return TSize(0, 0);
    HDC dc = ::GetDC(m_hWnd);
    if (!dc)
        return TSize(0, 0);
    const TSize dpi(GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY));
    ::ReleaseDC(m_hWnd, dc);
    return dpi;
}

HDC TWindow::GetDC() const {
    return m_hWnd ? ::GetDC(m_hWnd) : nullptr;
}

bool TWindow::ReleaseDC(HDC dc) const {
    return m_hWnd && ::ReleaseDC(m_hWnd, dc) == 1;
}

bool TWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd && ::PostMessageA(m_hWnd, message, wParam, lParam) == 1;
}

bool TWindow::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd && ::SendMessageA(m_hWnd, message, wParam, lParam) == 1;
}

bool TWindow::Invalidate(const TRect* rect, bool erase) const {
    if (!m_hWnd)
        return false;
    const RECT area = rect ? ToRect(*rect) : RECT{};
    return ::InvalidateRect(m_hWnd, rect ? &area : nullptr, erase ? TRUE : FALSE) == TRUE;
}

bool TWindow::Move(const TPoint& point) {
    return m_hWnd && ::SetWindowPos(m_hWnd, nullptr, point.x, point.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

bool TWindow::SetSize(const TSize& size, bool repaint) {
    if (!m_hWnd)
        return false;
    const UINT flags = SWP_NOMOVE | SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW);
    if (!::SetWindowPos(m_hWnd, nullptr, 0, 0, size.cx, size.cy, flags))
        return false;
    if (repaint) {
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
        ::UpdateWindow(m_hWnd);
    }
    return true;
}

bool TWindow::SetPosSize(const TPoint& point, const TSize& size) {
    if (!m_hWnd || !::SetWindowPos(m_hWnd, nullptr, point.x, point.y, size.cx, size.cy, SWP_NOZORDER))
        return false;
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    return true;
}

bool TWindow::MoveBy(const TPoint& offset) {
    RECT r{};
    if (!m_hWnd || !::GetWindowRect(m_hWnd, &r))
        return false;
    // The window rectangle is on the screen; a child moves in its parent's client area.
    POINT topLeft{r.left + offset.x, r.top + offset.y};
    if (HWND parent = ::GetParent(m_hWnd))
        ::ScreenToClient(parent, &topLeft);
    return Move(TPoint(topLeft.x, topLeft.y));
}

LRESULT TWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TWindow* object = FromHandle(window);
    if (!object && message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        object = create ? static_cast<TWindow*>(create->lpCreateParams) : nullptr;
        if (!object)
            return 0;
        TRefPtr<TWindow> hold(object);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        object->m_hWnd = window;
        object->OnCreate();
        return 0;
    }
    // An object whose last reference is gone is being destroyed: it takes no more messages.
    if (!object || object->GetRefCount() <= 0)
        return DefWindowProcW(window, message, wParam, lParam);
    return object->Dispatch(window, message, wParam, lParam);
}

bool TWindow::Find(const HandlerMap& map, DWORD key, TMessageHandler& handler) {
    auto it = map.find(key);
    if (it == map.end())
        return false;
    handler = *it->second;
    return true;
}

bool TWindow::FindNotify(DWORD code, DWORD controlId, TMessageHandler& handler) const {
    auto it = m_notifications.find(code);
    return it != m_notifications.end() && Find(it->second, controlId, handler);
}

bool TWindow::FindMessageHandler(DWORD message, TMessageHandler& handler) const {
    return Find(m_messages, message, handler);
}

bool TWindow::FindCommandHandler(DWORD command, TMessageHandler& handler) const {
    return Find(m_commands, command, handler);
}

bool TWindow::FindNotifyHandler(DWORD code, DWORD controlId, TMessageHandler& handler) const {
    return FindNotify(code, controlId, handler);
}

LONG TWindow::OnOwnScroll(UINT message, WORD code) {
    const bool horizontal = message == WM_HSCROLL;
    switch (code) {
    case SB_LINEUP:
        return horizontal ? OnHScrollLineLeft(1) : OnVScrollLineUp(1);
    case SB_LINEDOWN:
        return horizontal ? OnHScrollLineRight(1) : OnVScrollLineDown(1);
    case SB_PAGEUP:
        return horizontal ? OnHScrollPageLeft() : OnVScrollPageUp();
    case SB_PAGEDOWN:
        return horizontal ? OnHScrollPageRight() : OnVScrollPageDown();
    case SB_THUMBPOSITION:
        return horizontal ? OnHScrollThumbPosition() : OnVScrollThumbPosition();
    case SB_THUMBTRACK:
        return horizontal ? OnHScrollThumbTrack() : OnVScrollThumbTrack();
    case SB_TOP:
        return horizontal ? OnHScrollLeft() : OnVScrollTop();
    case SB_BOTTOM:
        return horizontal ? OnHScrollRight() : OnVScrollBottom();
    case SB_ENDSCROLL:
        return horizontal ? OnHScrollEnd() : OnVScrollEnd();
    default:
        return 0;
    }
}

LRESULT TWindow::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Held for the whole dispatch: a handler may destroy the window and drop the last other reference.
    TRefPtr<TWindow> hold(this);
    const WNDPROC saved = m_savedProc;
    TMessageInfo info{};
    info.hwnd = window;
    TMessageHandler handler{};
    bool found = false;
    LONG result = 0;

    switch (message) {
    case WM_MOUSEMOVE:
        result = OnMouseMove(PointOf(lParam), wParam);
        break;
    case WM_LBUTTONDOWN:
        result = OnLButtonDown(PointOf(lParam), wParam);
        break;
    case WM_LBUTTONUP:
        result = OnLButtonUp(PointOf(lParam), wParam);
        break;
    case WM_LBUTTONDBLCLK:
        result = OnLButtonDblClk(PointOf(lParam), wParam);
        break;
    case WM_RBUTTONDOWN:
        result = OnRButtonDown(PointOf(lParam), wParam);
        break;
    case WM_RBUTTONUP:
        result = OnRButtonUp(PointOf(lParam), wParam);
        break;
    case WM_RBUTTONDBLCLK:
        result = OnRButtonDblClk(PointOf(lParam), wParam);
        break;
    case WM_MOUSEWHEEL:
        result = OnMouseWheel(PointOf(lParam), wParam);
        break;
    case WM_SIZE:
        result = OnSize(
            TSize(LOWORD(static_cast<std::uintptr_t>(lParam)), HIWORD(static_cast<std::uintptr_t>(lParam))));
        break;
    case WM_KEYDOWN:
        result = OnKeyDown(wParam, lParam);
        break;
    case WM_KEYUP:
        result = OnKeyUp(wParam, lParam);
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->hwndFrom) {
            // The control first; a window is never asked about its own notification twice.
            if (header->hwndFrom != window) {
                const LRESULT answer = ::SendMessageA(header->hwndFrom, WM_NOTIFY, wParam, lParam);
                if (answer)
                    return answer;
            }
            info.key = header->code;
            found = FindNotify(header->code, static_cast<DWORD>(header->idFrom), handler);
        }
        break;
    }
    case WM_COMMAND:
    case WM_HSCROLL:
    case WM_VSCROLL: {
        HWND control = reinterpret_cast<HWND>(lParam);
        if (control && control != window) {
            const LRESULT answer = ::SendMessageA(control, message, wParam, lParam);
            if (answer)
                return answer;
        }
        const WORD low = LOWORD(wParam);
        if (message == WM_COMMAND) {
            info.key = low;
            found = Find(m_commands, low, handler);
            if (!found) {
                info.key = HIWORD(wParam);
                found = FindNotify(HIWORD(wParam), low, handler);
            }
        } else if (control) {
            info.key = low;
            found = FindNotify(low, static_cast<DWORD>(GetDlgCtrlID(control)), handler);
        } else {
            result = OnOwnScroll(message, low);
        }
        break;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        // Colours are a control's own affair; the parent's maps never see these.
        info.key = message;
        info.wParam = wParam;
        info.lParam = lParam;
        if (const LRESULT brush = OnControlColor(reinterpret_cast<HWND>(lParam), info))
            return brush;
        break;
    }
    default: {
        const DWORD key = message == WM_PAINT ? kPaintMessageKey : message;
        if (message == WM_DRAWITEM) {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item && item->hwndItem && item->hwndItem != window) {
                const LRESULT answer = ::SendMessageA(item->hwndItem, WM_DRAWITEM, wParam, lParam);
                if (answer)
                    return answer;
            }
        }
        info.key = key;
        info.extra = lParam;
        found = Find(m_messages, key, handler);
        break;
    }
    }

    if (found && handler.callback) {
        info.wParam = wParam;
        info.lParam = lParam;
        result = handler.callback(&info, handler.context);
    }
    if (result == 1)
        return 1;
    const LRESULT answer = saved ? CallWindowProcW(saved, window, message, wParam, lParam)
                                 : DefWindowProcW(window, message, wParam, lParam);
    // The platform has forgotten the window; so does its object, which may make a new one.
    if (message == WM_NCDESTROY && m_hWnd == window)
        Reset();
    return answer;
}

void TWindow::Reset() {
    m_messages.clear();
    m_commands.clear();
    m_notifications.clear();
    m_attached = false;
    m_handleSet = false;
    m_savedProc = nullptr;
    m_hWnd = nullptr;
}

LONG TWindow::CloseHandler(TMessageInfo*, void* context) {
    if (auto* window = static_cast<TWindow*>(context))
        window->Close();
    return 0;
}
