#include "WinSeams.h"

#include "WinKernel.h"

#include <atomic>
#include <cstring>

namespace {

constexpr DWORD kDefaultThreadStopWait = 3000;
constexpr DWORD kDefaultMajor = 5;
constexpr DWORD kDefaultMinor = 1;

std::atomic<DWORD> g_threadStopWait{kDefaultThreadStopWait};
std::atomic<DWORD> g_major{kDefaultMajor};
std::atomic<DWORD> g_minor{kDefaultMinor};
std::atomic<bool> g_versionFails{false};

} // namespace

DWORD WinSeams::ThreadStopWait() {
    return g_threadStopWait.load();
}

void WinSeams::SetThreadStopWait(DWORD milliseconds) {
    g_threadStopWait.store(milliseconds);
}

void WinSeams::SetReportedVersion(DWORD major, DWORD minor, bool failing) {
    g_major.store(major);
    g_minor.store(minor);
    g_versionFails.store(failing);
}

void WinSeams::ResetAll() {
    g_threadStopWait.store(kDefaultThreadStopWait);
    SetReportedVersion(kDefaultMajor, kDefaultMinor, false);
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) || g_versionFails.load()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->dwMajorVersion = g_major.load();
    info->dwMinorVersion = g_minor.load();
    info->dwBuildNumber = 0;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}
