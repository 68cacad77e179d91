#include "WinSeams.h"

#include "WinDesktop.h"
#include "WinKernel.h"
#include "WinUserInternal.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>

namespace {

constexpr DWORD kDefaultThreadStopWait = 3000;
constexpr DWORD kDefaultRenderAbortWait = 20000;
constexpr DWORD kDefaultMajor = 5;
constexpr DWORD kDefaultMinor = 1;
constexpr DWORD kDefaultDpi = 96;

std::atomic<DWORD> g_threadStopWait{kDefaultThreadStopWait};
std::atomic<DWORD> g_renderAbortWait{kDefaultRenderAbortWait};
// Requests still to be taken before the refusal; below 0 when none is set.
std::atomic<int> g_renderRefusalAfter{-1};
std::atomic<DWORD> g_major{kDefaultMajor};
std::atomic<DWORD> g_minor{kDefaultMinor};
std::atomic<bool> g_versionFails{false};
std::atomic<bool> g_manualClock{false};
std::atomic<ULONGLONG> g_manualTime{0};
std::atomic<DWORD> g_dpi{kDefaultDpi};

// Guards the folders that tests name in place of the system's.
std::mutex& FolderSeamLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::string& SystemFolderOverride() {
    static std::string* value = new std::string;
    return *value;
}

std::string& TempBaseOverride() {
    static std::string* value = new std::string;
    return *value;
}

} // namespace

DWORD WinSeams::ThreadStopWait() {
    return g_threadStopWait.load();
}

void WinSeams::SetThreadStopWait(DWORD milliseconds) {
    g_threadStopWait.store(milliseconds);
}

DWORD WinSeams::RenderAbortWait() {
    return g_renderAbortWait.load();
}

void WinSeams::SetRenderAbortWait(DWORD milliseconds) {
    g_renderAbortWait.store(milliseconds);
}

void WinSeams::RefuseRenderRequest(int after) {
    g_renderRefusalAfter.store(after < 0 ? 0 : after);
}

bool WinSeams::RenderQueueRefuses() {
    int left = g_renderRefusalAfter.load();
    // Counted down with exchanges, so of two renderers queueing at once only one meets the refusal.
    while (left >= 0) {
        if (g_renderRefusalAfter.compare_exchange_weak(left, left - 1))
            return left == 0;
    }
    return false;
}

void WinSeams::SetReportedVersion(DWORD major, DWORD minor, bool failing) {
    g_major.store(major);
    g_minor.store(minor);
    g_versionFails.store(failing);
}

ULONGLONG WinSeams::ClockMilliseconds() {
    if (g_manualClock.load(std::memory_order_acquire))
        return g_manualTime.load(std::memory_order_acquire);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void WinSeams::UseManualClock(ULONGLONG startMilliseconds) {
    g_manualTime.store(startMilliseconds, std::memory_order_release);
    g_manualClock.store(true, std::memory_order_release);
    WinUser::NotifyClockChanged();
}

void WinSeams::AdvanceManualClock(DWORD milliseconds) {
    g_manualTime.fetch_add(milliseconds, std::memory_order_acq_rel);
    WinUser::NotifyClockChanged();
}

void WinSeams::UseSteadyClock() {
    g_manualClock.store(false, std::memory_order_release);
    WinUser::NotifyClockChanged();
}

DWORD WinSeams::ScreenDpi() {
    return g_dpi.load();
}

void WinSeams::SetScreenDpi(DWORD dpi) {
    g_dpi.store(dpi);
}

std::string WinSeams::TempBase() {
    {
        std::lock_guard<std::mutex> guard(FolderSeamLock());
        if (!TempBaseOverride().empty())
            return TempBaseOverride();
    }
    const char* value = std::getenv("TMPDIR");
    return value && *value ? std::string(value) : std::string("/tmp");
}

void WinSeams::SetTempBase(const std::string& folder) {
    std::lock_guard<std::mutex> guard(FolderSeamLock());
    TempBaseOverride() = folder;
}

std::string WinSeams::SystemFolder() {
    {
        std::lock_guard<std::mutex> guard(FolderSeamLock());
        if (!SystemFolderOverride().empty())
            return SystemFolderOverride();
    }
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&WinSeams::SystemFolder), &info) || !info.dli_fname)
        return std::string();
    const std::string file = info.dli_fname;
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

void WinSeams::SetSystemFolder(const std::string& folder) {
    std::lock_guard<std::mutex> guard(FolderSeamLock());
    SystemFolderOverride() = folder;
}

void WinSeams::ResetAll() {
    g_threadStopWait.store(kDefaultThreadStopWait);
    g_renderAbortWait.store(kDefaultRenderAbortWait);
    g_renderRefusalAfter.store(-1);
    SetReportedVersion(kDefaultMajor, kDefaultMinor, false);
    g_dpi.store(kDefaultDpi);
    SetDesktopSize(kDefaultDesktopWidth, kDefaultDesktopHeight);
    SetTempBase(std::string());
    SetSystemFolder(std::string());
    UseSteadyClock();
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
