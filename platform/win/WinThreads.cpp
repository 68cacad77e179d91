// Threads, thread ids, sleeps, counters and critical sections.
#include "WinKernel.h"
#include "WinKernelObject.h"
#include "WinSeams.h"

#include <atomic>
#include <chrono>
#include <new>
#include <system_error>
#include <thread>

using namespace WinKernel;

namespace {

std::atomic<DWORD> g_nextThreadId{1};
std::atomic<DWORD> g_runningThreads{0};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() {
    DWORD id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    if (id == 0)
        id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    return id;
}

class ThreadObject : public KernelObject {
public:
    bool IsSignalled() const override { return m_exited; }
    void Exit(DWORD code) {
        m_exitCode = code;
        m_exited = true;
        WakeWaiters();
    }
    DWORD ExitCode() const { return m_exited ? m_exitCode : STILL_ACTIVE; }

private:
    bool m_exited = false;
    DWORD m_exitCode = 0;
};

void RunThread(std::shared_ptr<ThreadObject> self, LPTHREAD_START_ROUTINE start, void* parameter, DWORD id) {
    t_threadId = id;
    const DWORD code = start(parameter);
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        self->Exit(code);
    }
    g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
}

} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, std::size_t, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD creationFlags, DWORD* threadId) {
    if (!start || creationFlags != 0) {
        SetLastError(creationFlags != 0 ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::shared_ptr<ThreadObject> object(new (std::nothrow) ThreadObject);
    if (!object) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const HANDLE handle = AddHandle(object);
    if (!handle)
        return 0;
    const DWORD id = NewThreadId();
    g_runningThreads.fetch_add(1, std::memory_order_acq_rel);
    try {
        // Detached at once: the handle, not the std::thread, is how anyone waits for the end.
        std::thread(RunThread, object, start, parameter, id).detach();
    } catch (const std::system_error&) {
        g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
        CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (threadId)
        *threadId = id;
    return handle;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    std::shared_ptr<ThreadObject> object = FindHandleOf<ThreadObject>(thread);
    if (!object || !exitCode) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(KernelLock());
    *exitCode = object->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (t_threadId == 0)
        t_threadId = NewThreadId();
    return t_threadId;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetTickCount() {
    // The clock of window timers, so that a test's manual clock moves both together.
    return static_cast<DWORD>(WinSeams::ClockMilliseconds());
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (!count)
        return FALSE;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    count->QuadPart = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency)
        return FALSE;
    frequency->QuadPart = 1000000000;
    return TRUE;
}

void InitializeCriticalSection(CRITICAL_SECTION*) {}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    section->mutex.lock();
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
    return section->mutex.try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    section->mutex.unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION*) {}

DWORD WinKernelTest::RunningThreads() {
    return g_runningThreads.load(std::memory_order_acquire);
}
