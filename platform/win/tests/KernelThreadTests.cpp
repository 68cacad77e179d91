#include "platform/win/WinDebug.h"
#include "platform/win/WinKernel.h"
#include "platform/win/WinSeams.h"
#include "testing/Deadline.h"
#include "testing/TraceCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Gate {
    HANDLE open = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD seenId = 0;
    ~Gate() {
        CloseHandle(open);
        CloseHandle(done);
    }
};

DWORD WaitAtGate(void* parameter) {
    auto* gate = static_cast<Gate*>(parameter);
    gate->seenId = GetCurrentThreadId();
    const DWORD result = WaitForSingleObject(gate->open, 10000);
    SetEvent(gate->done);
    return result == WAIT_OBJECT_0 ? 42 : 1;
}

TEST(KernelThreads, HandleIsSignalledAtTheEndWithTheExitCode) {
    kvtest::Watchdog watchdog("thread exit code");
    Gate gate;
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &id);
    ASSERT_NE(thread, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    SetEvent(gate.open);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "a thread handle stays signalled";
    EXPECT_EQ(gate.seenId, id);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
    CloseHandle(thread);
}

TEST(KernelThreads, ClosingTheHandleLetsTheThreadRunToItsEnd) {
    kvtest::Watchdog watchdog("closed thread handle");
    const DWORD before = WinKernelTest::RunningThreads();
    Gate gate;
    const HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, nullptr);
    ASSERT_NE(thread, 0u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WinKernelTest::RunningThreads(), before + 1);
    SetEvent(gate.open);
    EXPECT_EQ(WaitForSingleObject(gate.done, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::RunningThreads() == before; }));
}

TEST(KernelCounters, RunForwardAtTheirFrequency) {
    LARGE_INTEGER frequency{}, first{}, second{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 1000000000);
    ASSERT_TRUE(QueryPerformanceCounter(&first));
    const DWORD tick = GetTickCount();
    // The tick count is in milliseconds: once it has moved on by 5, more than 4 ms have passed on the
    // performance counter, read before the first tick and after the last.
    constexpr DWORD kTicks = 5;
    ASSERT_TRUE(kvtest::WaitUntil([&] { return GetTickCount() - tick >= kTicks; }));
    ASSERT_TRUE(QueryPerformanceCounter(&second));
    EXPECT_GE(second.QuadPart - first.QuadPart, (kTicks - 1) * (frequency.QuadPart / 1000));
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST(KernelVersion, ReportsTheVersionOfItsSeam) {
    OSVERSIONINFOA info{};
    EXPECT_FALSE(GetVersionExA(&info)) << "a record without its size was filled";
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    WinSeams::SetReportedVersion(4, 90);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwMinorVersion, 90u);
    WinSeams::SetReportedVersion(4, 90, true);
    EXPECT_FALSE(GetVersionExA(&info));
    WinSeams::ResetAll();
}

TEST(KernelDebugOutput, ReachesTheInstalledSinkAsUtf8) {
    {
        kvtest::TraceCapture capture;
        OutputDebugStringA("narrow\n");
        OutputDebugStringW(L"wide \u00e9\U0001F600");
        OutputDebugStringA(nullptr);
        EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"narrow\n", "wide \xC3\xA9\xF0\x9F\x98\x80"}));
        {
            kvtest::TraceCapture inner;
            OutputDebugStringA("inner");
            EXPECT_EQ(inner.Texts(), std::vector<std::string>{"inner"});
        }
        OutputDebugStringA("outer again");
        EXPECT_EQ(capture.Texts().back(), "outer again") << "the previous sink was not restored";
    }
    OutputDebugStringA("to the default sink\n");
}

} // namespace
