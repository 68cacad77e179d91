// Window classes, windows, their state and geometry, and painting.
#include "WinGdi.h"
#include "WinGdiDraw.h"
#include "WinKernel.h"
#include "WinScrollBars.h"
#include "WinUserInternal.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <new>

namespace WinUser {
namespace {

struct UserState {
    std::mutex lock;
    HandleTable<WindowRecord> windows;
    // Class atoms by name folded to lower case; classes by (instance, atom).
    std::map<std::wstring, ATOM> atoms;
    std::map<std::pair<HINSTANCE, ATOM>, std::shared_ptr<ClassRecord>> classes;
    // The standard controls' classes, which every module finds when it has no class of the name itself.
    std::map<ATOM, std::shared_ptr<ClassRecord>> systemClasses;
    ATOM nextAtom = 0xC000;
};

UserState& State() {
    static UserState* state = new UserState;
    return *state;
}

std::wstring Folded(const wchar_t* name) {
    std::wstring folded(name);
    for (wchar_t& c : folded) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return folded;
}

// The atom of a class name (which may itself be an atom); 0 when the name was never registered.
ATOM AtomOfLocked(const wchar_t* name) {
    if (!name)
        return 0;
    if (IS_INTRESOURCE(name))
        return static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name));
    auto it = State().atoms.find(Folded(name));
    return it == State().atoms.end() ? 0 : it->second;
}

ATOM AddAtomLocked(const std::wstring& folded) {
    auto found = State().atoms.find(folded);
    if (found != State().atoms.end())
        return found->second;
    if (State().nextAtom == 0xFFFF)
        return 0;
    const ATOM atom = State().nextAtom++;
    State().atoms.emplace(folded, atom);
    return atom;
}

std::shared_ptr<ClassRecord> FindClassLocked(HINSTANCE instance, const wchar_t* name, bool orSystem = true) {
    const ATOM atom = AtomOfLocked(name);
    if (!atom)
        return nullptr;
    auto it = State().classes.find({instance, atom});
    if (it != State().classes.end())
        return it->second;
    if (!orSystem)
        return nullptr;
    auto system = State().systemClasses.find(atom);
    return system == State().systemClasses.end() ? nullptr : system->second;
}

thread_local HWND t_focus = nullptr;
thread_local HWND t_active = nullptr;

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

// A shown bar takes its width (height) from the client area, which never gets smaller than empty.
RECT ClientOf(const WindowRecord& window) {
    LONG width = window.rect.right - window.rect.left;
    LONG height = window.rect.bottom - window.rect.top;
    if (window.verticalBar.shown)
        width = std::max<LONG>(0, width - GetSystemMetrics(SM_CXVSCROLL));
    if (window.horizontalBar.shown)
        height = std::max<LONG>(0, height - GetSystemMetrics(SM_CYHSCROLL));
    return RECT{0, 0, width, height};
}

bool IsEmptyRect(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
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

void InvalidateLocked(WindowRecord& record, const RECT* rect, bool erase) {
    RECT area = ClientOf(record);
    if (rect) {
        area.left = std::max(area.left, rect->left);
        area.top = std::max(area.top, rect->top);
        area.right = std::min(area.right, rect->right);
        area.bottom = std::min(area.bottom, rect->bottom);
    }
    if (IsEmptyRect(area))
        return;
    if (record.invalid) {
        record.invalidRect.left = std::min(record.invalidRect.left, area.left);
        record.invalidRect.top = std::min(record.invalidRect.top, area.top);
        record.invalidRect.right = std::max(record.invalidRect.right, area.right);
        record.invalidRect.bottom = std::max(record.invalidRect.bottom, area.bottom);
    } else {
        record.invalidRect = area;
        record.invalid = true;
    }
    record.erase = record.erase || erase;
    UpdatePaintLocked(record);
}

void ValidateLocked(WindowRecord& record) {
    record.invalid = false;
    record.erase = false;
    record.invalidRect = RECT{};
    UpdatePaintLocked(record);
}

// After a change of visibility: every window of the subtree joins or leaves its thread's paint list.
void UpdateSubtreePaintsLocked(HWND window) {
    std::vector<HWND> subtree;
    CollectSubtreeLocked(window, subtree);
    for (HWND h : subtree) {
        if (std::shared_ptr<WindowRecord> record = FindWindowLocked(h))
            UpdatePaintLocked(*record);
    }
}

void EraseWindowLocked(const std::shared_ptr<WindowRecord>& record) {
    ForgetWindowInQueueLocked(*record);
    WinGdi::ForgetWindowSurface(record->handle);
    if (std::shared_ptr<WindowRecord> parent = FindWindowLocked(record->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), record->handle), siblings.end());
    }
    State().windows.Erase(ToId(record->handle));
}

LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC procedure;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return 0;
        procedure = record->procedure;
    }
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

bool ThreadOwns(HWND window) {
    std::lock_guard<std::mutex> guard(State().lock);
    return FindOwnLocked(window) != nullptr;
}

} // namespace

std::mutex& UserLock() {
    return State().lock;
}

HandleTable<WindowRecord>& Windows() {
    return State().windows;
}

std::shared_ptr<WindowRecord> FindWindowLocked(HWND window) {
    const std::uint32_t id = ToId(window);
    return id ? State().windows.Find(id) : nullptr;
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
    State().windows.ForEach([&](std::uint32_t, const std::shared_ptr<WindowRecord>& record) {
        if (record->thread == thread)
            owned.push_back(record);
    });
    for (const auto& record : owned)
        EraseWindowLocked(record);
}

void UnregisterModuleClasses(HINSTANCE instance) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto& classes = State().classes;
    for (auto it = classes.begin(); it != classes.end();) {
        if (it->first.first == instance)
            it = classes.erase(it);
        else
            ++it;
    }
}

} // namespace WinUser

using namespace WinUser;

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName ||
        IS_INTRESOURCE(windowClass->lpszClassName) || !windowClass->lpszClassName[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    const ATOM atom = AddAtomLocked(Folded(windowClass->lpszClassName));
    if (!atom) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const auto key = std::make_pair(windowClass->hInstance, atom);
    if (State().classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto record = std::make_shared<ClassRecord>();
    record->atom = atom;
    record->name = windowClass->lpszClassName;
    record->info = *windowClass;
    record->info.lpszClassName = record->name.c_str();
    record->info.lpszMenuName = nullptr;
    State().classes.emplace(key, std::move(record));
    return atom;
}

void WinUser::RegisterSystemClass(const WNDCLASSW& windowClass) {
    std::lock_guard<std::mutex> guard(State().lock);
    const ATOM atom = AddAtomLocked(Folded(windowClass.lpszClassName));
    if (!atom)
        return;
    auto record = std::make_shared<ClassRecord>();
    record->atom = atom;
    record->name = windowClass.lpszClassName;
    record->info = windowClass;
    record->info.lpszClassName = record->name.c_str();
    State().systemClasses[atom] = std::move(record);
}

BOOL UnregisterClassW(const wchar_t* className, HINSTANCE instance) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<ClassRecord> record = FindClassLocked(instance, className, false);
    if (!record) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    // The table holds one reference, every window of the class one more.
    if (record.use_count() > 2) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    State().classes.erase({instance, record->atom});
    return TRUE;
}

BOOL GetClassInfoW(HINSTANCE instance, const wchar_t* className, WNDCLASSW* windowClass) {
    EnsureSystemClasses();
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<ClassRecord> record = FindClassLocked(instance, className);
    if (!record || !windowClass) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *windowClass = record->info;
    return TRUE;
}

HCURSOR LoadCursorW(HINSTANCE instance, const wchar_t* cursorName) {
    // Only the system's arrow exists; it is a token, since nothing is drawn.
    if (!instance && cursorName == IDC_ARROW)
        return reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x7F00));
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* parameter) {
    CurrentQueue();
    EnsureSystemClasses();
    auto record = std::make_shared<WindowRecord>();
    HWND window;
    {
        std::lock_guard<std::mutex> guard(State().lock);
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
        const std::uint32_t id = State().windows.Insert(record);
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
        std::lock_guard<std::mutex> guard(State().lock);
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
    std::lock_guard<std::mutex> guard(State().lock);
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
        std::lock_guard<std::mutex> guard(State().lock);
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
            std::lock_guard<std::mutex> guard(State().lock);
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
    std::lock_guard<std::mutex> guard(State().lock);
    return FindWindowLocked(window) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
    std::lock_guard<std::mutex> guard(State().lock);
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
    std::lock_guard<std::mutex> guard(State().lock);
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
    std::lock_guard<std::mutex> guard(State().lock);
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

int GetClassNameW(HWND window, wchar_t* buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        buffer[0] = 0;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const std::wstring& name = record->windowClass->name;
    const int count = std::min(static_cast<int>(name.size()), bufferMax - 1);
    std::copy(name.begin(), name.begin() + count, buffer);
    buffer[count] = 0;
    return count;
}

HWND GetParent(HWND window) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return FindWindowLocked(record->parent) ? record->parent : nullptr;
}

HWND GetDlgItem(HWND parent, int id) {
    std::lock_guard<std::mutex> guard(State().lock);
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
        std::lock_guard<std::mutex> guard(State().lock);
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
            std::lock_guard<std::mutex> guard(State().lock);
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
        std::lock_guard<std::mutex> guard(State().lock);
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
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
        const std::wstring text = record ? record->text : std::wstring();
        const std::size_t count = std::min(text.size(), bufferMax - 1);
        std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count), buffer);
        buffer[count] = 0;
        return static_cast<LRESULT>(count);
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard<std::mutex> guard(State().lock);
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
        std::lock_guard<std::mutex> guard(State().lock);
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
        std::lock_guard<std::mutex> guard(State().lock);
        if (std::shared_ptr<WindowRecord> record = FindWindowLocked(window)) {
            if (show)
                InvalidateLocked(*record, nullptr, true);
            UpdateSubtreePaintsLocked(window);
        }
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    return record && IsVisibleLocked(*record) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    bool wasDisabled;
    {
        std::lock_guard<std::mutex> guard(State().lock);
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
    std::lock_guard<std::mutex> guard(State().lock);
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

BOOL SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
    bool moved = false;
    bool sized = false;
    RECT now{};
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return FALSE;
        RECT r = record->rect;
        if (!(flags & SWP_NOMOVE) && (x != r.left || y != r.top)) {
            r.right += x - r.left;
            r.bottom += y - r.top;
            r.left = x;
            r.top = y;
            moved = true;
        }
        if (!(flags & SWP_NOSIZE)) {
            width = std::max(width, 0);
            height = std::max(height, 0);
            if (width != r.right - r.left || height != r.bottom - r.top) {
                r.right = r.left + width;
                r.bottom = r.top + height;
                sized = true;
            }
        }
        record->rect = r;
        now = r;
        if (sized) {
            // The invalid area stays inside the new client area.
            if (record->invalid) {
                record->invalidRect.right = std::min(record->invalidRect.right, r.right - r.left);
                record->invalidRect.bottom = std::min(record->invalidRect.bottom, r.bottom - r.top);
                if (IsEmptyRect(record->invalidRect))
                    ValidateLocked(*record);
            }
            if (!(flags & SWP_NOREDRAW))
                InvalidateLocked(*record, nullptr, true);
        }
    }
    if (flags & SWP_SHOWWINDOW)
        ShowWindow(window, SW_SHOWNA);
    if (flags & SWP_HIDEWINDOW)
        ShowWindow(window, SW_HIDE);
    if (moved)
        SendMessageW(window, WM_MOVE, 0,
                     MAKELPARAM(static_cast<WORD>(now.left & 0xFFFF), static_cast<WORD>(now.top & 0xFFFF)));
    if (sized)
        SendMessageW(
            window, WM_SIZE, SIZE_RESTORED,
            MAKELPARAM(static_cast<WORD>(now.right - now.left), static_cast<WORD>(now.bottom - now.top)));
    return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetClientRect(HWND window, RECT* rect) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record || !rect) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = ClientOf(*record);
    return TRUE;
}

namespace {

// The screen position of the window's client origin.
bool ScreenOriginLocked(HWND window, POINT& origin) {
    origin = POINT{0, 0};
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record)
        return false;
    for (int depth = 0; record && depth < 10000; ++depth) {
        origin.x += record->rect.left;
        origin.y += record->rect.top;
        record = FindWindowLocked(record->parent);
    }
    return true;
}

} // namespace

BOOL GetWindowRect(HWND window, RECT* rect) {
    std::lock_guard<std::mutex> guard(State().lock);
    POINT origin;
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record || !rect || !ScreenOriginLocked(window, origin)) {
        SetLastError(record ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = RECT{origin.x, origin.y, origin.x + (record->rect.right - record->rect.left),
                 origin.y + (record->rect.bottom - record->rect.top)};
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    std::lock_guard<std::mutex> guard(State().lock);
    POINT origin;
    if (!point || !ScreenOriginLocked(window, origin))
        return FALSE;
    point->x += origin.x;
    point->y += origin.y;
    return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
    std::lock_guard<std::mutex> guard(State().lock);
    POINT origin;
    if (!point || !ScreenOriginLocked(window, origin))
        return FALSE;
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    InvalidateLocked(*record, rect, erase != FALSE);
    return TRUE;
}

BOOL ValidateRect(HWND window, const RECT* rect) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The area is one rectangle: it goes only when the validated one covers it.
    const RECT& area = record->invalidRect;
    if (!rect || (rect->left <= area.left && rect->top <= area.top && rect->right >= area.right &&
                  rect->bottom >= area.bottom))
        ValidateLocked(*record);
    return TRUE;
}

BOOL GetUpdateRect(HWND window, RECT* rect, BOOL) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record)
        return FALSE;
    if (rect)
        *rect = record->invalid ? record->invalidRect : RECT{};
    return record->invalid ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
    bool paint;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return FALSE;
        paint = record->invalid && IsVisibleLocked(*record);
    }
    if (paint)
        SendMessageW(window, WM_PAINT, 0, 0);
    return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    if (!paint)
        return nullptr;
    *paint = PAINTSTRUCT{};
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<WindowRecord> record = FindOwnLocked(window);
        if (!record)
            return nullptr;
        paint->rcPaint = record->invalid ? record->invalidRect : RECT{};
        paint->fErase = record->erase ? TRUE : FALSE;
        ValidateLocked(*record);
    }
    paint->hdc = WinGdi::CreateWindowDC(window);
    // The background is the window's own affair: a window that erases it answers non-zero.
    if (paint->hdc && paint->fErase &&
        SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) != 0)
        paint->fErase = FALSE;
    return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (paint && paint->hdc)
        WinGdi::ReleaseWindowDC(window, paint->hdc);
    return TRUE;
}

HDC GetDC(HWND window) {
    return WinGdi::CreateWindowDC(window);
}

int ReleaseDC(HWND window, HDC dc) {
    return WinGdi::ReleaseWindowDC(window, dc) ? 1 : 0;
}

DWORD WinUserTest::LiveWindows() {
    std::lock_guard<std::mutex> guard(State().lock);
    return static_cast<DWORD>(State().windows.Count());
}
