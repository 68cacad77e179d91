// The standard control classes' registration and what they share.
#include "WinControlsInternal.h"

#include "WinInput.h"
#include "WinUserInternal.h"

#include <map>
#include <mutex>
#include <vector>

namespace WinControls {
namespace {

struct ControlState {
    std::mutex lock;
    std::map<std::uint32_t, std::shared_ptr<ControlData>> data; // by window handle value
};

ControlState& State() {
    static ControlState* state = new ControlState;
    return *state;
}

} // namespace

void Store(HWND window, std::shared_ptr<ControlData> data) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().data[WinUser::ToId(window)] = std::move(data);
}

std::shared_ptr<ControlData> Find(HWND window) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().data.find(WinUser::ToId(window));
    return it == State().data.end() ? nullptr : it->second;
}

void Forget(HWND window) {
    std::shared_ptr<ControlData> gone;
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().data.find(WinUser::ToId(window));
    if (it != State().data.end()) {
        gone = std::move(it->second);
        State().data.erase(it);
    }
}

bool HandleCommonWith(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                      std::shared_ptr<ControlData> (*make)()) {
    switch (message) {
    case WM_NCCREATE:
        Store(window, make());
        result = DefWindowProcW(window, message, wParam, lParam);
        return true;
    case WM_NCDESTROY:
        Forget(window);
        result = DefWindowProcW(window, message, wParam, lParam);
        return true;
    case WM_SETFONT:
        if (std::shared_ptr<ControlData> data = Find(window))
            data->font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(static_cast<std::uintptr_t>(lParam)))
            Repaint(window);
        result = 0;
        return true;
    case WM_GETFONT: {
        std::shared_ptr<ControlData> data = Find(window);
        result = data ? reinterpret_cast<LRESULT>(data->font) : 0;
        return true;
    }
    case WM_SETTEXT:
        result = DefWindowProcW(window, message, wParam, lParam);
        Repaint(window);
        return true;
    case WM_ENABLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        Repaint(window);
        result = 0;
        return true;
    default:
        return false;
    }
}

DWORD StyleOf(HWND window) {
    return static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
}

void Repaint(HWND window) {
    InvalidateRect(window, nullptr, TRUE);
}

bool Inside(HWND window, LPARAM position) {
    RECT client{};
    GetClientRect(window, &client);
    return PtInRect(&client, POINT{GET_X_LPARAM(position), GET_Y_LPARAM(position)}) == TRUE;
}

void NotifyParent(HWND window, WORD code) {
    if (HWND parent = GetParent(window))
        SendMessageW(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(window)), code),
                     reinterpret_cast<LPARAM>(window));
}

std::vector<HWND> Siblings(HWND window) {
    std::lock_guard<std::mutex> guard(WinUser::UserLock());
    std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(window);
    if (!record)
        return {};
    std::shared_ptr<WinUser::WindowRecord> parent = WinUser::FindWindowLocked(record->parent);
    return parent ? parent->children : std::vector<HWND>{window};
}

PaintScope::PaintScope(HWND window, const ControlData& data) : m_window(window) {
    BeginPaint(window, &m_paint);
    GetClientRect(window, &m_client);
    if (m_paint.hdc && data.font)
        SelectObject(m_paint.hdc, data.font);
}

PaintScope::~PaintScope() {
    EndPaint(m_window, &m_paint);
}

HBRUSH AskParentColour(HWND window, UINT message, HDC dc) {
    HWND parent = GetParent(window);
    LRESULT brush =
        parent ? SendMessageW(parent, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window))
               : 0;
    COLORREF colour;
    bool hollow;
    if (!brush || !WinGdi::BrushColourOf(reinterpret_cast<HGDIOBJ>(brush), colour, hollow))
        brush = WinGdi::DefaultControlColour(message, dc);
    return reinterpret_cast<HBRUSH>(brush);
}

void DrawWindowText(HWND window, HDC dc, RECT rect, UINT format) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return;
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
    const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    if (!IsWindowEnabled(window))
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    DrawTextW(dc, text.data(), copied, &rect, format);
}

} // namespace WinControls

void WinUser::EnsureSystemClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        const struct {
            const wchar_t* name;
            WNDPROC procedure;
        } classes[] = {
            {L"Static", WinControls::StaticProc},
            {L"Edit", WinControls::EditProc},
            {L"Button", WinControls::ButtonProc},
            {L"ComboBox", WinControls::ComboBoxProc},
            {L"ListBox", WinControls::ListBoxProc},
            {L"msctls_progress32", WinControls::ProgressProc},
            {L"msctls_trackbar32", WinControls::TrackbarProc},
            {L"msctls_updown32", WinControls::UpDownProc},
        };
        for (const auto& c : classes) {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = c.procedure;
            windowClass.lpszClassName = c.name;
            WinUser::RegisterSystemClass(windowClass);
        }
    });
}
