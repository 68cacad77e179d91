#include "WinDesktop.h"

#include "WinSeams.h"
#include "WinUserInternal.h"

#include <atomic>

namespace {

std::atomic<LONG> g_desktopWidth{kDefaultDesktopWidth};
std::atomic<LONG> g_desktopHeight{kDefaultDesktopHeight};

// The desktop window's handle, 0 until it is made; read and written under the user lock.
HWND g_desktop = nullptr;

thread_local HWND t_mainWindow = nullptr;

RECT DesktopRect() {
    return RECT{0, 0, g_desktopWidth.load(), g_desktopHeight.load()};
}

} // namespace

HWND GetDesktopWindow() {
    using namespace WinUser;
    std::lock_guard<std::mutex> guard(UserLock());
    if (g_desktop && FindWindowLocked(g_desktop))
        return g_desktop;
    auto windowClass = std::make_shared<ClassRecord>();
    windowClass->name = L"#32769";
    windowClass->info.lpfnWndProc = &DefWindowProcW;
    auto record = std::make_shared<WindowRecord>();
    // Thread 0 is no thread's id: every call that needs the window's own thread is refused.
    record->thread = 0;
    record->windowClass = windowClass;
    record->procedure = &DefWindowProcW;
    record->style = WS_POPUP | WS_VISIBLE;
    record->rect = DesktopRect();
    const std::uint32_t id = Windows().Insert(record);
    if (!id) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    record->handle = ToHandle(id);
    g_desktop = record->handle;
    return g_desktop;
}

void WinSeams::SetDesktopSize(LONG width, LONG height) {
    using namespace WinUser;
    std::lock_guard<std::mutex> guard(UserLock());
    g_desktopWidth.store(width < 0 ? 0 : width);
    g_desktopHeight.store(height < 0 ? 0 : height);
    if (std::shared_ptr<WindowRecord> record = g_desktop ? FindWindowLocked(g_desktop) : nullptr)
        record->rect = DesktopRect();
}

BOOL SetThreadMainWindow(HWND window) {
    if (!window) {
        t_mainWindow = nullptr;
        return TRUE;
    }
    if (!IsWindow(window) || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
        SetLastError(IsWindow(window) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    t_mainWindow = window;
    return TRUE;
}

HWND GetThreadMainWindow() {
    // A destroyed window's handle never names a later window (handles carry a generation).
    return t_mainWindow && IsWindow(t_mainWindow) ? t_mainWindow : nullptr;
}
