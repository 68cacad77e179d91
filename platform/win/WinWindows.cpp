// Windows: their records, creation and destruction, their state (styles, text, focus, the active window)
// and the calls of their procedures.
#include "WinGdi.h"
#include "WinGdiDraw.h"
#include "WinKernel.h"
#include "WinScrollBars.h"
#include "WinUserInternal.h"

#include <algorithm>
#include <cwctype>
#include <new>

namespace WinUser {
namespace {

struct UserState {
    std::mutex lock;
    HandleTable<WindowRecord> windows;
};

UserState& State() {
    static UserState* state = new UserState;
    return *state;
}

thread_local HWND t_focus = nullptr;
thread_local HWND t_active = nullptr;

void EraseWindowLocked(const std::shared_ptr<WindowRecord>& record) {
    ForgetWindowInQueueLocked(*record);
    WinGdi::ForgetWindowSurface(record->handle);
    if (std::shared_ptr<WindowRecord> parent = FindWindowLocked(record->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), record->handle), siblings.end());
    }
    Windows().Erase(ToId(record->handle));
}

LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC procedure;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return 0;
        procedure = record->procedure;
    }
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

bool ThreadOwns(HWND window) {
    std::lock_guard<std::mutex> guard(UserLock());
    return FindOwnLocked(window) != nullptr;
}

} // namespace

// The window of a handle when it exists and belongs to the calling thread; otherwise null with the error set.
std::shared_ptr<WindowRecord> FindOwnLocked(HWND window) {
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (record->thread != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return record;
}

// Windows of the subtree in creation order: the window first, then each child's subtree.
void CollectSubtreeLocked(HWND window, std::vector<HWND>& out) {
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record)
        return;
    out.push_back(window);
    for (HWND child : record->children)
        CollectSubtreeLocked(child, out);
}

std::mutex& UserLock() {
    return State().lock;
}

HandleTable<WindowRecord>& Windows() {
    return State().windows;
}

std::shared_ptr<WindowRecord> FindWindowLocked(HWND window) {
    const std::uint32_t id = ToId(window);
    return id ? Windows().Find(id) : nullptr;
}

bool IsVisibleLocked(const WindowRecord& window) {
    const WindowRecord* current = &window;
    std::shared_ptr<WindowRecord> holder;
    for (;;) {
        if (!(current->style & WS_VISIBLE))
            return false;
        if (!current->parent)
            return true;
        holder = FindWindowLocked(current->parent);
        if (!holder)
            return true;
        current = holder.get();
    }
}

void EraseWindowsOfThreadLocked(DWORD thread) {
    std::vector<std::shared_ptr<WindowRecord>> owned;
    Windows().ForEach([&](std::uint32_t, const std::shared_ptr<WindowRecord>& record) {
        if (record->thread == thread)
            owned.push_back(record);
    });
    for (const auto& record : owned)
        EraseWindowLocked(record);
}

} // namespace WinUser

using namespace WinUser;

HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* parameter) {
    CurrentQueue();
    EnsureSystemClasses();
    auto record = std::make_shared<WindowRecord>();
    HWND window;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<ClassRecord> windowClass = FindClassLocked(instance, className);
        if (!windowClass) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        std::shared_ptr<WindowRecord> parentRecord;
        if (parent) {
            parentRecord = FindWindowLocked(parent);
            if (!parentRecord) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
        } else if (style & WS_CHILD) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        record->thread = GetCurrentThreadId();
        record->windowClass = windowClass;
        record->procedure = windowClass->info.lpfnWndProc;
        record->instance = instance;
        record->parent = parent;
        record->style = style;
        record->exStyle = exStyle;
        // A child window's menu argument is its id.
        if (style & WS_CHILD)
            record->id = static_cast<LONG_PTR>(reinterpret_cast<std::uintptr_t>(menu));
        record->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
        const std::uint32_t id = Windows().Insert(record);
        if (!id) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        window = ToHandle(id);
        record->handle = window;
        if (parentRecord)
            parentRecord->children.push_back(window);
    }

    CREATESTRUCTW create{};
    create.lpCreateParams = parameter;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.cx = std::max(width, 0);
    create.cy = std::max(height, 0);
    create.x = x;
    create.y = y;
    create.style = static_cast<LONG>(style);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;
    const LPARAM createParameter = reinterpret_cast<LPARAM>(&create);
    if (!SendMessageW(window, WM_NCCREATE, 0, createParameter)) {
        SendMessageW(window, WM_NCDESTROY, 0, 0);
        std::lock_guard<std::mutex> guard(UserLock());
        if (std::shared_ptr<WindowRecord> still = FindWindowLocked(window))
            EraseWindowLocked(still);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (SendMessageW(window, WM_CREATE, 0, createParameter) == -1) {
        DestroyWindow(window);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> created = FindWindowLocked(window);
    if (!created) {
        // Its own WM_CREATE destroyed it.
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    InvalidateLocked(*created, nullptr, true);
    return window;
}

BOOL DestroyWindow(HWND window) {
    std::vector<HWND> subtree;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return FALSE;
        if (record->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        // Nothing has changed yet when there is no memory for the list: the window stays as it is.
        try {
            CollectSubtreeLocked(window, subtree);
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        for (HWND h : subtree) {
            if (std::shared_ptr<WindowRecord> r = FindWindowLocked(h))
                r->destroying = true;
        }
    }
    for (HWND h : subtree)
        SendMessageW(h, WM_DESTROY, 0, 0);
    for (auto it = subtree.rbegin(); it != subtree.rend(); ++it) {
        SendMessageW(*it, WM_NCDESTROY, 0, 0);
        std::shared_ptr<WindowRecord> erased;
        {
            std::lock_guard<std::mutex> guard(UserLock());
            erased = FindWindowLocked(*it);
            if (erased)
                EraseWindowLocked(erased);
        }
        if (t_focus == *it)
            t_focus = nullptr;
        if (t_active == *it)
            t_active = nullptr;
    }
    return TRUE;
}

BOOL IsWindow(HWND window) {
    std::lock_guard<std::mutex> guard(UserLock());
    return FindWindowLocked(window) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (processId)
        *processId = 1;
    return record->thread;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(record->procedure);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(record->instance);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(record->parent);
    case GWLP_ID:
        return record->id;
    case GWL_STYLE:
        return static_cast<LONG_PTR>(record->style);
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(record->exStyle);
    case GWLP_USERDATA:
        return record->userData;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    LONG_PTR previous;
    switch (index) {
    case GWLP_WNDPROC:
        if (!value) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        previous = reinterpret_cast<LONG_PTR>(record->procedure);
        record->procedure = reinterpret_cast<WNDPROC>(value);
        return previous;
    case GWLP_ID:
        previous = record->id;
        record->id = value;
        return previous;
    case GWL_STYLE:
        previous = static_cast<LONG_PTR>(record->style);
        record->style = static_cast<DWORD>(value);
        UpdateSubtreePaintsLocked(window);
        return previous;
    case GWL_EXSTYLE:
        previous = static_cast<LONG_PTR>(record->exStyle);
        record->exStyle = static_cast<DWORD>(value);
        return previous;
    case GWLP_USERDATA:
        previous = record->userData;
        record->userData = value;
        return previous;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

HWND GetParent(HWND window) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return FindWindowLocked(record->parent) ? record->parent : nullptr;
}

HWND GetDlgItem(HWND parent, int id) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(parent);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (HWND child : record->children) {
        std::shared_ptr<WindowRecord> c = FindWindowLocked(child);
        if (c && c->id == id)
            return child;
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int GetDlgCtrlID(HWND window) {
    return static_cast<int>(GetWindowLongPtrW(window, GWLP_ID));
}

LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
        if (!record)
            return FALSE;
        if (create && create->lpszName && !IS_INTRESOURCE(create->lpszName))
            record->text = create->lpszName;
        return TRUE;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_ERASEBKGND: {
        HBRUSH brush = nullptr;
        {
            std::lock_guard<std::mutex> guard(UserLock());
            if (std::shared_ptr<WindowRecord> record = FindWindowLocked(window))
                brush = record->windowClass->info.hbrBackground;
        }
        RECT client{};
        if (!brush || !GetClientRect(window, &client))
            return 0;
        return FillRect(reinterpret_cast<HDC>(wParam), &client, brush) ? 1 : 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORDLG:
        return WinGdi::DefaultControlColour(message, reinterpret_cast<HDC>(wParam));
    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (BeginPaint(window, &paint))
            EndPaint(window, &paint);
        return 0;
    }
    case WM_SETTEXT: {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
        if (!record)
            return FALSE;
        const auto* text = reinterpret_cast<const wchar_t*>(lParam);
        record->text = text ? text : L"";
        return TRUE;
    }
    case WM_GETTEXT: {
        auto* buffer = reinterpret_cast<wchar_t*>(lParam);
        const auto bufferMax = static_cast<std::size_t>(wParam);
        if (!buffer || bufferMax == 0)
            return 0;
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
        const std::wstring text = record ? record->text : std::wstring();
        const std::size_t count = std::min(text.size(), bufferMax - 1);
        std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count), buffer);
        buffer[count] = 0;
        return static_cast<LRESULT>(count);
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
        return record ? static_cast<LRESULT>(record->text.size()) : 0;
    }
    default:
        return 0;
    }
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallProcedure(window, message, wParam, lParam);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallProcedure(window, message, wParam, lParam);
}

BOOL ShowWindow(HWND window, int command) {
    bool wasVisible;
    bool changed;
    const bool show = command != SW_HIDE;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return FALSE;
        wasVisible = (record->style & WS_VISIBLE) != 0;
        changed = wasVisible != show;
        if (changed) {
            if (show)
                record->style |= WS_VISIBLE;
            else
                record->style &= ~WS_VISIBLE;
        }
    }
    if (changed) {
        SendMessageW(window, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
        std::lock_guard<std::mutex> guard(UserLock());
        if (std::shared_ptr<WindowRecord> record = FindWindowLocked(window)) {
            if (show)
                InvalidateLocked(*record, nullptr, true);
            UpdateSubtreePaintsLocked(window);
        }
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    return record && IsVisibleLocked(*record) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    bool wasDisabled;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return FALSE;
        wasDisabled = (record->style & WS_DISABLED) != 0;
        if (enable)
            record->style &= ~WS_DISABLED;
        else
            record->style |= WS_DISABLED;
    }
    if (wasDisabled == (enable != FALSE))
        SendMessageW(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    return record && !(record->style & WS_DISABLED) ? TRUE : FALSE;
}

HWND SetFocus(HWND window) {
    if (window && !ThreadOwns(window))
        return nullptr;
    HWND previous = t_focus;
    if (previous && !IsWindow(previous))
        previous = nullptr;
    if (previous == window)
        return previous;
    t_focus = window;
    if (previous)
        SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
    if (window && t_focus == window)
        SendMessageW(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    return previous;
}

HWND GetFocus() {
    return t_focus && IsWindow(t_focus) ? t_focus : nullptr;
}

HWND SetActiveWindow(HWND window) {
    if (!window || !ThreadOwns(window))
        return nullptr;
    HWND previous = GetActiveWindow();
    t_active = window;
    return previous;
}

HWND GetActiveWindow() {
    return t_active && IsWindow(t_active) ? t_active : nullptr;
}

BOOL SetWindowTextW(HWND window, const wchar_t* text) {
    if (!ThreadOwns(window))
        return FALSE;
    return SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND window, wchar_t* buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0)
        return 0;
    buffer[0] = 0;
    if (ThreadOwns(window))
        return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(bufferMax),
                                             reinterpret_cast<LPARAM>(buffer)));
    // Another thread's window: its text is read without sending.
    return static_cast<int>(
        DefWindowProcW(window, WM_GETTEXT, static_cast<WPARAM>(bufferMax), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND window) {
    if (ThreadOwns(window))
        return static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    return static_cast<int>(DefWindowProcW(window, WM_GETTEXTLENGTH, 0, 0));
}

DWORD WinUserTest::LiveWindows() {
    std::lock_guard<std::mutex> guard(UserLock());
    return static_cast<DWORD>(Windows().Count());
}
