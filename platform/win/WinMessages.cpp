// Per-thread message queues: posting, the loop, timers, waits for input and the test pump.
#include "WinDebug.h"
#include "WinSeams.h"
#include "WinUserInternal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <new>
#include <set>

namespace WinUser {
namespace {

constexpr std::size_t kMaxPosted = 10000;
constexpr ULONGLONG kNoTimer = ~0ull;

struct QueueState {
    std::map<DWORD, std::shared_ptr<MessageQueue>> queues; // under UserLock()
    std::mutex observerLock;                               // guards the two test hooks
    std::function<void(const MSG&)> dropObserver;
    std::function<void()> beforePost;
    std::atomic<bool> hasBeforePost{false}; // spares every post the lock while no test hook is set
};

QueueState& State() {
    static QueueState* state = new QueueState;
    return *state;
}

bool InRange(UINT message, UINT filterMin, UINT filterMax) {
    if (filterMin == 0 && filterMax == 0)
        return true;
    return message >= filterMin && message <= filterMax;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(WinSeams::ClockMilliseconds());
    return msg;
}

// With KernelLock() held: the next message the filter admits, in retrieval order.
bool RetrieveLocked(MessageQueue& queue, MSG* out, HWND window, UINT filterMin, UINT filterMax, bool remove) {
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if ((window && it->hwnd != window) || !InRange(it->message, filterMin, filterMax))
            continue;
        *out = *it;
        if (remove)
            queue.posted.erase(it);
        return true;
    }
    if (queue.quit && !window && InRange(WM_QUIT, filterMin, filterMax)) {
        *out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
        if (remove)
            queue.quit = false;
        return true;
    }
    if (InRange(WM_PAINT, filterMin, filterMax)) {
        for (auto it = queue.paints.begin(); it != queue.paints.end(); ++it) {
            if (window && *it != window)
                continue;
            *out = MakeMessage(*it, WM_PAINT, 0, 0);
            // Painting validates; until then the window waits behind the others, so none starves them.
            if (remove)
                std::rotate(it, it + 1, queue.paints.end());
            return true;
        }
    }
    if (InRange(WM_TIMER, filterMin, filterMax)) {
        const ULONGLONG now = WinSeams::ClockMilliseconds();
        Timer* next = nullptr;
        for (Timer& timer : queue.timers) {
            if (timer.due > now || (window && timer.window != window))
                continue;
            if (!next || timer.due < next->due)
                next = &timer;
        }
        if (next) {
            *out = MakeMessage(next->window, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->procedure));
            if (remove)
                next->due = now + next->elapse;
            return true;
        }
    }
    return false;
}

// Waits, with the kernel lock held in lock, until the queue changes or the time is up; false at the time-out.
bool WaitForChangeLocked(MessageQueue& queue, std::unique_lock<std::mutex>& lock,
                         std::chrono::steady_clock::time_point deadline, bool forever) {
    // A steady clock's timer that falls due ends the wait as well.
    const ULONGLONG due = queue.NextTimerDue();
    auto until = deadline;
    bool timerWakes = false;
    const ULONGLONG now = WinSeams::ClockMilliseconds();
    if (due != kNoTimer) {
        const auto timerTime =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(due > now ? due - now : 0);
        if (forever || timerTime < until) {
            until = timerTime;
            timerWakes = true;
        }
    }
    if (forever && !timerWakes) {
        queue.inputArrived.wait(lock);
        return true;
    }
    const bool changed = queue.inputArrived.wait_until(lock, until) == std::cv_status::no_timeout;
    return changed || timerWakes;
}

std::shared_ptr<MessageQueue> FindQueueOfWindow(HWND window, DWORD* error) {
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record) {
        *error = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    std::shared_ptr<MessageQueue> queue = FindQueueLocked(record->thread);
    if (!queue)
        *error = ERROR_INVALID_WINDOW_HANDLE;
    return queue;
}

void RunBeforePostHook() {
    if (!State().hasBeforePost.load(std::memory_order_acquire))
        return;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(State().observerLock);
        hook = State().beforePost;
    }
    if (hook)
        hook();
}

// goneError is the error of a post that comes after the receiving thread ended: its queue was found while
// the thread still ran, so the post would otherwise land where nobody takes it or reports it.
BOOL PostTo(MessageQueue& queue, const MSG& message, DWORD goneError) {
    RunBeforePostHook();
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    if (queue.ended) {
        SetLastError(goneError);
        return FALSE;
    }
    if (queue.posted.size() >= kMaxPosted) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    try {
        queue.posted.push_back(message);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    queue.Changed();
    return TRUE;
}

// Ends the thread's part in the user services: its windows go without messages (their procedures may
// belong to a module that is being torn down) and what its queue still holds is dropped.
void EndThread(const std::shared_ptr<MessageQueue>& queue) {
    std::deque<MSG> left;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        EraseWindowsOfThreadLocked(queue->thread);
        State().queues.erase(queue->thread);
    }
    {
        std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
        queue->ended = true;
        left.swap(queue->posted);
        queue->timers.clear();
        queue->paints.clear();
    }
    CloseHandle(queue->handle);
    for (const MSG& message : left)
        ReportDropped(message);
}

struct QueueHolder {
    std::shared_ptr<MessageQueue> queue;
    ~QueueHolder() {
        if (queue)
            EndThread(queue);
    }
};

thread_local QueueHolder t_queue;

} // namespace

bool MessageQueue::IsSignalled() const {
    if (!posted.empty() || quit || !paints.empty())
        return true;
    const ULONGLONG due = NextTimerDue();
    return due != kNoTimer && due <= WinSeams::ClockMilliseconds();
}

void MessageQueue::Changed() {
    inputArrived.notify_all();
    WakeWaiters();
}

ULONGLONG MessageQueue::NextTimerDue() const {
    ULONGLONG due = kNoTimer;
    for (const Timer& timer : timers)
        due = std::min(due, timer.due);
    return due;
}

std::shared_ptr<MessageQueue> FindQueueLocked(DWORD threadId) {
    auto it = State().queues.find(threadId);
    return it == State().queues.end() ? nullptr : it->second;
}

std::shared_ptr<MessageQueue> CurrentQueue() {
    if (t_queue.queue)
        return t_queue.queue;
    auto queue = std::make_shared<MessageQueue>(GetCurrentThreadId());
    queue->handle = WinKernel::AddHandle(queue);
    {
        std::lock_guard<std::mutex> guard(UserLock());
        State().queues[queue->thread] = queue;
    }
    t_queue.queue = queue;
    return queue;
}

void UpdatePaintLocked(const WindowRecord& window) {
    std::shared_ptr<MessageQueue> queue = FindQueueLocked(window.thread);
    if (!queue)
        return;
    const bool wanted = window.invalid && !window.destroying && IsVisibleLocked(window);
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    auto it = std::find(queue->paints.begin(), queue->paints.end(), window.handle);
    if (wanted && it == queue->paints.end()) {
        queue->paints.push_back(window.handle);
        queue->Changed();
    } else if (!wanted && it != queue->paints.end()) {
        queue->paints.erase(it);
    }
}

void ForgetWindowInQueueLocked(const WindowRecord& window) {
    std::shared_ptr<MessageQueue> queue = FindQueueLocked(window.thread);
    if (!queue)
        return;
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    auto& paints = queue->paints;
    paints.erase(std::remove(paints.begin(), paints.end(), window.handle), paints.end());
    auto& timers = queue->timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.window == window.handle; }),
                 timers.end());
}

void ReportDropped(const MSG& message) {
    std::function<void(const MSG&)> observer;
    {
        std::lock_guard<std::mutex> guard(State().observerLock);
        observer = State().dropObserver;
    }
    if (observer)
        observer(message);
}

void NotifyClockChanged() {
    std::vector<std::shared_ptr<MessageQueue>> queues;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        for (const auto& [thread, queue] : State().queues)
            queues.push_back(queue);
    }
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    for (const auto& queue : queues)
        queue->Changed();
}

} // namespace WinUser

using namespace WinUser;

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window)
        return PostThreadMessageW(GetCurrentThreadId(), message, wParam, lParam);
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<MessageQueue> queue = FindQueueOfWindow(window, &error);
    if (!queue) {
        SetLastError(error);
        return FALSE;
    }
    return PostTo(*queue, MakeMessage(window, message, wParam, lParam), ERROR_INVALID_WINDOW_HANDLE);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(window, message, wParam, lParam);
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> queue;
    if (threadId == GetCurrentThreadId()) {
        queue = CurrentQueue();
    } else {
        std::lock_guard<std::mutex> guard(UserLock());
        queue = FindQueueLocked(threadId);
    }
    if (!queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return PostTo(*queue, MakeMessage(nullptr, message, wParam, lParam), ERROR_INVALID_THREAD_ID);
}

void PostQuitMessage(int exitCode) {
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    queue->quit = true;
    queue->quitCode = exitCode;
    queue->Changed();
}

namespace {

// -1 when the window filter names a window that is not the calling thread's.
int CheckFilter(HWND window) {
    if (!window)
        return 0;
    std::lock_guard<std::mutex> guard(UserLock());
    std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
    if (!record || record->thread != GetCurrentThreadId()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    return 0;
}

} // namespace

BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    if (!message || CheckFilter(window) < 0)
        return -1;
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    std::unique_lock<std::mutex> lock(WinKernel::KernelLock());
    while (!RetrieveLocked(*queue, message, window, filterMin, filterMax, true))
        WaitForChangeLocked(*queue, lock, std::chrono::steady_clock::time_point::max(), true);
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!message || CheckFilter(window) < 0)
        return FALSE;
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    return RetrieveLocked(*queue, message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* message) {
    if (!message)
        return 0;
    if (message->message == WM_TIMER && message->lParam) {
        auto procedure = reinterpret_cast<TIMERPROC>(message->lParam);
        if (!message->hwnd || IsWindow(message->hwnd)) {
            procedure(message->hwnd, WM_TIMER, message->wParam, message->time);
            return 0;
        }
    }
    if (!message->hwnd)
        return 0;
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindWindowLocked(message->hwnd);
        if (record && record->thread == GetCurrentThreadId())
            procedure = record->procedure;
    }
    if (!procedure) {
        ReportDropped(*message);
        return 0;
    }
    return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

namespace {

// Waits until the calling thread's queue holds input or the time is up; true when there is input.
bool WaitForInput(DWORD milliseconds) {
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    const bool forever = milliseconds == INFINITE;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    std::unique_lock<std::mutex> lock(WinKernel::KernelLock());
    while (!queue->IsSignalled()) {
        if (!forever && std::chrono::steady_clock::now() >= deadline)
            return false;
        WaitForChangeLocked(*queue, lock, deadline, forever);
    }
    return true;
}

} // namespace

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds, DWORD) {
    if (count == 0)
        return WaitForInput(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    if (count >= MAXIMUM_WAIT_OBJECTS || !objects) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    std::vector<HANDLE> handles(objects, objects + count);
    handles.push_back(queue->handle);
    const bool forever = milliseconds == INFINITE;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    for (;;) {
        // A timer that falls due makes the queue signalled without anyone waking the wait: wait no longer
        // than until then, and look again.
        DWORD slice = milliseconds;
        ULONGLONG due;
        {
            std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
            due = queue->NextTimerDue();
        }
        const ULONGLONG now = WinSeams::ClockMilliseconds();
        if (!forever) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            slice = static_cast<DWORD>(std::max<long long>(0, left.count()));
        }
        bool timerSlice = false;
        if (due != kNoTimer) {
            const ULONGLONG untilDue = due > now ? due - now : 0;
            if (forever || untilDue < slice) {
                slice = static_cast<DWORD>(std::min<ULONGLONG>(untilDue, INFINITE - 1));
                timerSlice = true;
            }
        }
        const DWORD result =
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), waitAll, slice);
        if (result != WAIT_TIMEOUT || !timerSlice)
            return result;
    }
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
    std::shared_ptr<MessageQueue> queue;
    if (window) {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
        if (!record || record->thread != GetCurrentThreadId()) {
            SetLastError(record ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        queue = FindQueueLocked(record->thread);
    } else {
        queue = CurrentQueue();
    }
    if (!queue)
        return 0;
    elapse = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, 0x7FFFFFFF);
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    const ULONGLONG due = WinSeams::ClockMilliseconds() + elapse;
    if (window) {
        for (Timer& timer : queue->timers) {
            if (timer.window == window && timer.id == id) {
                timer.elapse = elapse;
                timer.due = due;
                timer.procedure = procedure;
                queue->Changed();
                return id ? id : 1;
            }
        }
    } else {
        // A thread timer gets an id of its own, above every id the thread uses.
        UINT_PTR next = 1;
        for (const Timer& timer : queue->timers) {
            if (!timer.window)
                next = std::max(next, timer.id + 1);
        }
        id = next;
    }
    queue->timers.push_back(Timer{window, id, elapse, due, procedure});
    queue->Changed();
    return id ? id : 1;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::shared_ptr<MessageQueue> queue;
    if (window) {
        std::lock_guard<std::mutex> guard(UserLock());
        std::shared_ptr<WindowRecord> record = FindWindowLocked(window);
        if (!record || record->thread != GetCurrentThreadId()) {
            SetLastError(record ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = FindQueueLocked(record->thread);
    } else {
        queue = CurrentQueue();
    }
    if (!queue)
        return FALSE;
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    auto& timers = queue->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == timers.end())
        return FALSE;
    timers.erase(it);
    return TRUE;
}

int WinUserTest::PumpPending() {
    // A bound on one call, so that two windows that keep posting to each other cannot hang a test.
    constexpr int kMaxDispatches = 100000;
    std::set<HWND> painted;
    int dispatched = 0;
    MSG message;
    while (dispatched < kMaxDispatches && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The quit stays for the loop that owns the thread.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (message.message == WM_PAINT && !painted.insert(message.hwnd).second)
            break;
        DispatchMessageW(&message);
        ++dispatched;
    }
    if (dispatched == kMaxDispatches)
        OutputDebugStringA("PumpPending: stopped after 100000 messages\n");
    return dispatched;
}

bool WinUserTest::PumpUntil(const std::function<bool()>& condition, DWORD milliseconds) {
    // The condition may change through other threads without any message, so it is looked at again at
    // least this often while the queue stays empty.
    constexpr DWORD kSlice = 10;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (condition())
            return true;
        PumpPending();
        if (condition())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return condition();
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<long long>(left.count(), kSlice)), QS_ALLINPUT);
    }
}

void WinUserTest::SetDropObserver(std::function<void(const MSG&)> observer) {
    std::lock_guard<std::mutex> guard(State().observerLock);
    State().dropObserver = std::move(observer);
}

void WinUserTest::SetBeforePostHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(State().observerLock);
    State().hasBeforePost.store(static_cast<bool>(hook), std::memory_order_release);
    State().beforePost = std::move(hook);
}

DWORD WinUserTest::QueuedMessages() {
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    std::lock_guard<std::mutex> guard(WinKernel::KernelLock());
    return static_cast<DWORD>(queue->posted.size());
}
