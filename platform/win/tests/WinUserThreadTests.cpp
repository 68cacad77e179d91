#include "RecordingWindow.h"

#include "platform/win/WinKernel.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

using namespace usertest;

namespace {

constexpr UINT kPing = WM_APP + 2;
constexpr UINT kStop = WM_APP + 3;

// A thread with windows of its own and a message loop that runs until the thread gets kStop.
class WindowThread {
public:
    WindowThread(HINSTANCE instance, int windows) : m_recorders(windows) {
        m_thread = std::thread([this, instance] {
            m_id = GetCurrentThreadId();
            for (Recorder& recorder : m_recorders)
                m_windows.push_back(MakeWindow(instance, recorder));
            m_ready.store(true);
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0) {
                if (!message.hwnd && message.message == kStop)
                    break;
                DispatchMessageW(&message);
            }
            for (HWND window : m_windows)
                DestroyWindow(window);
        });
        EXPECT_TRUE(kvtest::WaitUntil([this] { return m_ready.load(); }));
    }
    ~WindowThread() { Stop(); }
    void Stop() {
        if (!m_thread.joinable())
            return;
        PostThreadMessageW(m_id, kStop, 0, 0);
        m_thread.join();
    }

    HWND Window(int i) const { return m_windows[i]; }
    Recorder& RecorderOf(int i) { return m_recorders[i]; }
    DWORD Id() const { return m_id; }

private:
    std::vector<Recorder> m_recorders;
    std::vector<HWND> m_windows;
    std::atomic<bool> m_ready{false};
    DWORD m_id = 0;
    std::thread m_thread;
};

class UserThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_instance = NewInstance();
        ASSERT_NE(RegisterRecordingClass(m_instance), 0);
    }
    void TearDown() override {
        WinUserTest::SetDropObserver(nullptr);
        UnregisterClassW(L"TestWnd", m_instance);
    }
    HINSTANCE m_instance = nullptr;
};

TEST_F(UserThreadTest, PostsFromOtherThreadsRunOnTheWindowsThreadInEachPostersOrder) {
    kvtest::Watchdog watchdog("cross-thread posts");
    WindowThread owner(m_instance, 2);
    constexpr int kPerPoster = 2000;
    std::vector<std::thread> posters;
    for (int poster = 0; poster < 3; ++poster) {
        posters.emplace_back([&, poster] {
            for (int i = 0; i < kPerPoster; ++i) {
                // Retried when the queue is full: the owner drains it meanwhile.
                while (!PostMessageW(owner.Window(i % 2), kPing, static_cast<WPARAM>(poster),
                                     static_cast<LPARAM>(i)))
                    std::this_thread::yield();
            }
        });
    }
    for (std::thread& t : posters)
        t.join();
    ASSERT_TRUE(kvtest::WaitUntil([&] {
        return owner.RecorderOf(0).Count(kPing) + owner.RecorderOf(1).Count(kPing) == 3 * kPerPoster;
    }));
    owner.Stop();
    for (int w = 0; w < 2; ++w) {
        std::map<WPARAM, LPARAM> last;
        for (const Seen& seen : owner.RecorderOf(w).Of(kPing)) {
            EXPECT_EQ(seen.thread, owner.Id());
            EXPECT_EQ(seen.lParam % 2, w) << "a message reached the other window";
            auto it = last.find(seen.wParam);
            if (it != last.end()) {
                EXPECT_LT(it->second, seen.lParam) << "poster " << seen.wParam << " out of order";
            }
            last[seen.wParam] = seen.lParam;
        }
    }
}

TEST_F(UserThreadTest, EachWindowsMessagesRunOnTheThreadThatMadeIt) {
    kvtest::Watchdog watchdog("windows of two threads");
    WindowThread a(m_instance, 1);
    WindowThread b(m_instance, 1);
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(PostMessageW(a.Window(0), kPing, 0, i));
        ASSERT_TRUE(PostMessageW(b.Window(0), kPing, 1, i));
    }
    ASSERT_TRUE(kvtest::WaitUntil(
        [&] { return a.RecorderOf(0).Count(kPing) == 50 && b.RecorderOf(0).Count(kPing) == 50; }));
    for (const Seen& seen : a.RecorderOf(0).Of(kPing)) {
        EXPECT_EQ(seen.thread, a.Id());
        EXPECT_EQ(seen.wParam, 0u);
    }
    for (const Seen& seen : b.RecorderOf(0).Of(kPing)) {
        EXPECT_EQ(seen.thread, b.Id());
        EXPECT_EQ(seen.wParam, 1u);
    }
}

TEST_F(UserThreadTest, AnotherThreadCanNeitherSendToAWindowNorDestroyIt) {
    kvtest::Watchdog watchdog("refused cross-thread calls");
    WindowThread owner(m_instance, 1);
    HWND window = owner.Window(0);
    EXPECT_EQ(SendMessageW(window, kPing, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), owner.Id());
    EXPECT_EQ(owner.RecorderOf(0).Count(kPing), 0);
}

TEST_F(UserThreadTest, WaitForInputWakesForAPostFromAnotherThread) {
    kvtest::Watchdog watchdog("message wait");
    Recorder recorder;
    HWND window = MakeWindow(m_instance, recorder);
    const HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread poster([&] { PostMessageW(window, kPing, 0, 0); });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    poster.join();
    const HANDLE ready = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &ready, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0)
        << "an object that is signalled comes first";
    WinUserTest::PumpPending();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
    CloseHandle(never);
    CloseHandle(ready);
    DestroyWindow(window);
}

TEST_F(UserThreadTest, WindowsOfAnEndedThreadAreGoneAndWhatItsQueueHeldIsDropped) {
    kvtest::Watchdog watchdog("ended thread");
    std::atomic<int> dropped{0};
    WinUserTest::SetDropObserver([&](const MSG& message) {
        if (message.message == kPing)
            ++dropped;
    });
    HWND window = nullptr;
    Recorder recorder;
    std::atomic<bool> made{false};
    std::atomic<bool> posted{false};
    std::thread owner([&] {
        window = MakeWindow(m_instance, recorder);
        made.store(true);
        kvtest::WaitUntil([&] { return posted.load(); });
    });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return made.load(); }));
    ASSERT_TRUE(PostMessageW(window, kPing, 0, 0));
    posted.store(true);
    owner.join();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dropped.load(), 1);
    EXPECT_FALSE(PostMessageW(window, kPing, 0, 0));
    EXPECT_EQ(recorder.Count(kPing), 0);
}

// A post that found the queue of its window (or thread) just before that thread ended must not land in the
// torn-down queue, where nobody takes it and nobody reports it: it fails, and the poster keeps what the
// message carries.
TEST_F(UserThreadTest, APostRacingTheEndOfItsReceiversThreadFails) {
    kvtest::Watchdog watchdog("post to an ending thread");
    struct Case {
        const char* what;
        bool toThread;
        DWORD error;
    };
    for (const Case& c : {Case{"to a window", false, ERROR_INVALID_WINDOW_HANDLE},
                          Case{"to a thread", true, ERROR_INVALID_THREAD_ID}}) {
        SCOPED_TRACE(c.what);
        std::atomic<int> dropped{0};
        WinUserTest::SetDropObserver([&](const MSG& message) {
            if (message.message == kPing)
                ++dropped;
        });
        Recorder recorder;
        HWND window = nullptr;
        DWORD threadId = 0;
        std::atomic<bool> made{false};
        std::atomic<bool> release{false};
        std::thread owner([&] {
            window = MakeWindow(m_instance, recorder);
            threadId = GetCurrentThreadId();
            made.store(true);
            kvtest::WaitUntil([&] { return release.load(); });
        });
        ASSERT_TRUE(kvtest::WaitUntil([&] { return made.load(); }));
        // The receiver's thread ends after the post found its queue and before the message is queued.
        WinUserTest::SetBeforePostHook([&] {
            if (!release.exchange(true))
                owner.join();
        });
        SetLastError(ERROR_SUCCESS);
        const BOOL posted =
            c.toThread ? PostThreadMessageW(threadId, kPing, 0, 0) : PostMessageW(window, kPing, 0, 0);
        const DWORD error = GetLastError();
        WinUserTest::SetBeforePostHook(nullptr);
        if (owner.joinable())
            owner.join();
        EXPECT_FALSE(posted) << "the post was answered TRUE and its message is lost";
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(dropped.load(), 0);
        EXPECT_EQ(recorder.Count(kPing), 0);
        EXPECT_FALSE(IsWindow(window));
        WinUserTest::SetDropObserver(nullptr);
    }
}

} // namespace
