// The kernel services of the Windows layer as the system calls them: handles, events, semaphores,
// waits on one or several objects, critical sections, threads with exit codes, sleeps and counters.
// Waits keep the original semantics: a wait for all objects takes all of them or none, a wait for any
// takes the lowest signalled one, and auto-reset events and semaphores are consumed by the wait.
#pragma once

#include "wintypes.h"

#include <mutex>

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr HANDLE INVALID_HANDLE_VALUE = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

constexpr DWORD STILL_ACTIVE = 259;

// The codes WinError.h has too: whichever header comes first defines them (the values are the same).
#ifndef KV_WIN_SHARED_ERROR_CODES
#define KV_WIN_SHARED_ERROR_CODES
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
#endif
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;

DWORD GetLastError();
void SetLastError(DWORD error);

// Handles. Closing a handle does not end a wait that is using its object; the object lives until the
// last handle and the last wait are gone.
BOOL CloseHandle(HANDLE object);

// Events. Names are not supported: a named event fails with ERROR_NOT_SUPPORTED.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Semaphores. A release that would pass the maximum fails with ERROR_TOO_MANY_POSTS and keeps the count.
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        const char* name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// Waits. The result is WAIT_OBJECT_0 + index, WAIT_TIMEOUT or WAIT_FAILED; a time-out of 0 polls.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);

// Critical sections: recursive locks owned by the entering thread.
struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// Threads. The thread handle is signalled when the thread function has returned; its exit code is the
// function's result, STILL_ACTIVE until then. Threads are never killed: closing the handle lets the
// thread run on to its end. Creation flags are not supported (only 0).
using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD creationFlags, DWORD* threadId);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD GetCurrentThreadId();

void Sleep(DWORD milliseconds);

// Milliseconds of the clock that times window timers (WinSeams.h); wraps after 49.7 days as on Windows.
DWORD GetTickCount();

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// The platform version. This machine reports itself as the version set in WinSeams (5.1 unless a test
// changes it); dwOSVersionInfoSize must be sizeof(OSVERSIONINFOA).
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
BOOL GetVersionExA(OSVERSIONINFOA* info);

// Observations for tests, which must wait for a state rather than sleep until it has probably come.
namespace WinKernelTest {
// Threads that are blocked in a wait that includes the object (0 for an invalid handle).
DWORD WaitingThreads(HANDLE object);
// Threads made by CreateThread whose thread function has not yet returned.
DWORD RunningThreads();
// Handles currently open.
DWORD OpenHandles();
} // namespace WinKernelTest
