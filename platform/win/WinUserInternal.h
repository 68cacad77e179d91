// What the parts of the user services share inside this library: window records, class records, the
// per-thread queues and the two locks. Lock order: UserLock() before WinKernel::KernelLock(), never the
// other way; no window procedure, hook or observer is ever called with either held.
#pragma once

#include "HandleTable.h"
#include "WinKernelObject.h"
#include "WinUser.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace WinUser {

std::mutex& UserLock();

struct ClassRecord {
    ATOM atom = 0;
    std::wstring name;
    WNDCLASSW info{};
};

// One scroll bar of a window. The bar is shown while its range holds more than one page.
struct ScrollBarState {
    int minimum = 0;
    int maximum = 0;
    UINT page = 0;
    int position = 0;
    int trackPosition = 0;
    bool shown = false;
};

struct WindowRecord {
    HWND handle = nullptr;
    DWORD thread = 0;
    std::shared_ptr<ClassRecord> windowClass;
    WNDPROC procedure = nullptr;
    HINSTANCE instance = nullptr;
    HWND parent = nullptr;
    std::vector<HWND> children;
    DWORD style = 0;
    DWORD exStyle = 0;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    RECT rect{}; // relative to the parent's client area
    std::wstring text;
    bool destroying = false;
    bool invalid = false;
    bool erase = false;
    RECT invalidRect{};
    ScrollBarState horizontalBar;
    ScrollBarState verticalBar;
};

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    ULONGLONG due = 0;
    TIMERPROC procedure = nullptr;
};

// One thread's queue. Everything below the constructor is read and changed under KernelLock(); the queue is
// also a kernel object, signalled while it holds input, so that MsgWaitForMultipleObjects can wait on it.
class MessageQueue : public WinKernel::KernelObject {
public:
    explicit MessageQueue(DWORD threadId) : thread(threadId) {}

    bool IsSignalled() const override;
    // With KernelLock() held: wakes the thread when it waits for input.
    void Changed();
    // The clock time at which the first timer is due, or ~0 when there is none.
    ULONGLONG NextTimerDue() const;

    const DWORD thread;
    HANDLE handle = 0;
    std::condition_variable inputArrived;
    std::deque<MSG> posted;
    // Set when the thread has ended: from then on the queue takes no more posts.
    bool ended = false;
    bool quit = false;
    int quitCode = 0;
    std::vector<HWND> paints; // visible windows with an invalid area, in the order they are painted
    std::vector<Timer> timers;
};

// With UserLock() held.
HandleTable<WindowRecord>& Windows();
std::shared_ptr<WindowRecord> FindWindowLocked(HWND window);
std::shared_ptr<MessageQueue> FindQueueLocked(DWORD threadId);
bool IsVisibleLocked(const WindowRecord& window);
// Adds the window to (or removes it from) its thread's paint list as its invalid area and visibility say.
void UpdatePaintLocked(const WindowRecord& window);
// Forgets the window's timers and paints in its thread's queue.
void ForgetWindowInQueueLocked(const WindowRecord& window);

// The class of the name (or atom) that the module registered, else, with orSystem, the standard class.
std::shared_ptr<ClassRecord> FindClassLocked(HINSTANCE instance, const wchar_t* name, bool orSystem = true);
// The window of a handle when it exists and belongs to the calling thread; otherwise null with the error set.
std::shared_ptr<WindowRecord> FindOwnLocked(HWND window);
// Windows of the subtree in creation order: the window first, then each child's subtree.
void CollectSubtreeLocked(HWND window, std::vector<HWND>& out);
// The client area; a shown bar takes its width (height) from it, and it never gets smaller than empty.
RECT ClientOf(const WindowRecord& window);
bool IsEmptyRect(const RECT& r);
// Adds the area (the whole client area without one) to the window's invalid area.
void InvalidateLocked(WindowRecord& record, const RECT* rect, bool erase);
void ValidateLocked(WindowRecord& record);
// After a change of visibility: every window of the subtree joins or leaves its thread's paint list.
void UpdateSubtreePaintsLocked(HWND window);

// Removes the thread's windows without sending them anything.
void EraseWindowsOfThreadLocked(DWORD thread);

// The calling thread's queue, made on first use and removed when the thread ends.
std::shared_ptr<MessageQueue> CurrentQueue();
// Calls the drop observer (no lock held).
void ReportDropped(const MSG& message);

// The standard control classes (WinControls.h): registered once, before the first window or class lookup.
void EnsureSystemClasses();
void RegisterSystemClass(const WNDCLASSW& windowClass);

// Used by the module loader and the clock.
void UnregisterModuleClasses(HINSTANCE instance);
void NotifyClockChanged();

inline HWND ToHandle(std::uint32_t id) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id));
}
inline std::uint32_t ToId(HWND window) {
    const auto value = reinterpret_cast<std::uintptr_t>(window);
    return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

} // namespace WinUser
