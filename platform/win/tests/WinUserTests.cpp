#include "RecordingWindow.h"

#include "platform/win/WinGdi.h"
#include "platform/win/WinSeams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

using namespace usertest;

namespace {

constexpr UINT kPing = WM_APP + 1;

class UserTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_instance = NewInstance();
        ASSERT_NE(RegisterRecordingClass(m_instance), 0);
    }
    void TearDown() override {
        // The handlers may refer to what the test body kept on its stack.
        for (Recorder& recorder : m_recorders)
            recorder.handler = nullptr;
        for (HWND window : m_windows) {
            if (IsWindow(window))
                DestroyWindow(window);
        }
        WinUserTest::PumpPending();
        WinUserTest::SetDropObserver(nullptr);
        UnregisterClassW(L"TestWnd", m_instance);
        WinSeams::ResetAll();
    }
    HWND Make(Recorder& recorder, DWORD style = 0, HWND parent = nullptr) {
        HWND window = MakeWindow(m_instance, recorder, style, parent);
        m_windows.push_back(window);
        return window;
    }

    // Recorders outlive the windows, which TearDown destroys.
    Recorder& NewRecorder() { return m_recorders.emplace_back(); }

    HINSTANCE m_instance = nullptr;
    std::deque<Recorder> m_recorders;
    std::vector<HWND> m_windows;
};

TEST_F(UserTest, PostedMessagesArriveInPostingOrderAcrossWindows) {
    Recorder& a = NewRecorder();
    Recorder& b = NewRecorder();
    HWND first = Make(a);
    HWND second = Make(b);
    std::vector<std::pair<HWND, WPARAM>> order;
    auto note = [&](HWND window, UINT message, WPARAM wParam, LPARAM, LRESULT&) {
        if (message == kPing)
            order.emplace_back(window, wParam);
        return false;
    };
    a.handler = note;
    b.handler = note;
    for (WPARAM i = 0; i < 6; ++i)
        ASSERT_TRUE(PostMessageW(i % 3 == 0 ? second : first, kPing, i, 0));
    EXPECT_TRUE(order.empty()) << "posting runs nothing";
    WinUserTest::PumpPending();
    const std::vector<std::pair<HWND, WPARAM>> expected = {{second, 0}, {first, 1}, {first, 2},
                                                           {second, 3}, {first, 4}, {first, 5}};
    EXPECT_EQ(order, expected);
}

TEST_F(UserTest, CreationSendsNcCreateAndCreateWithTheParameterBeforeReturning) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    ASSERT_TRUE(IsWindow(window));
    const std::vector<UINT> expected = {WM_NCCREATE, WM_CREATE};
    const std::vector<UINT> messages = recorder.Messages();
    ASSERT_GE(messages.size(), expected.size());
    EXPECT_EQ(std::vector<UINT>(messages.begin(), messages.begin() + expected.size()), expected)
        << "the first messages of a window";
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&recorder));
}

TEST_F(UserTest, WindowThatRefusesItsCreationIsGone) {
    Recorder& recorder = NewRecorder();
    recorder.handler = [](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != WM_CREATE)
            return false;
        result = -1;
        return true;
    };
    const DWORD before = WinUserTest::LiveWindows();
    EXPECT_EQ(Make(recorder), nullptr);
    EXPECT_EQ(WinUserTest::LiveWindows(), before);
    EXPECT_EQ(recorder.Count(WM_NCDESTROY), 1);
}

TEST_F(UserTest, AChildsIdIsItsMenuArgumentOrWhatGwlpIdSetsAndGetDlgItemFindsItByThatId) {
    HWND parent = Make(NewRecorder());
    const auto child = [&](UINT_PTR menu, DWORD style) {
        return CreateWindowExW(0, L"TestWnd", L"", style, 0, 0, 1, 1, parent, reinterpret_cast<HMENU>(menu),
                               m_instance, nullptr);
    };
    HWND first = child(1001, WS_CHILD), second = child(1002, WS_CHILD), owned = child(1003, 0);
    EXPECT_EQ(SetWindowLongPtrW(second, GWLP_ID, 2002), 1002) << "the previous id";
    EXPECT_EQ(GetDlgCtrlID(owned), 0) << "a pop-up's menu argument names a menu";
    const std::pair<int, HWND> lookups[] = {{1001, first}, {2002, second}, {1002, nullptr}, {1003, nullptr}};
    for (const auto& [id, found] : lookups) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(GetDlgItem(parent, id), found) << id;
        EXPECT_EQ(GetLastError(), found ? ERROR_SUCCESS : ERROR_CONTROL_ID_NOT_FOUND) << id;
        EXPECT_EQ(GetDlgCtrlID(found), found ? id : 0) << id;
    }
}

TEST_F(UserTest, MessagePostedToAWindowDestroyedBeforeThePumpIsDropped) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    std::vector<UINT> dropped;
    WinUserTest::SetDropObserver([&](const MSG& message) { dropped.push_back(message.message); });
    ASSERT_TRUE(PostMessageW(window, kPing, 7, 0));
    ASSERT_TRUE(DestroyWindow(window));
    WinUserTest::PumpPending();
    EXPECT_EQ(recorder.Count(kPing), 0);
    EXPECT_EQ(dropped, std::vector<UINT>{kPing});

    EXPECT_FALSE(PostMessageW(window, kPing, 8, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(DestroyWindow(window)) << "a second destroy fails quietly";
}

TEST_F(UserTest, HandleOfADestroyedWindowNeverNamesALaterOne) {
    Recorder& first = NewRecorder();
    Recorder& second = NewRecorder();
    HWND old = Make(first);
    ASSERT_TRUE(DestroyWindow(old));
    HWND later = Make(second);
    EXPECT_NE(old, later);
    EXPECT_FALSE(IsWindow(old));
    EXPECT_EQ(SendMessageW(old, kPing, 0, 0), 0);
    EXPECT_EQ(second.Count(kPing), 0);
}

TEST_F(UserTest, WindowDestroyedInsideItsOwnHandlerReceivesNothingMore) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    recorder.handler = [](HWND self, UINT message, WPARAM wParam, LPARAM, LRESULT&) {
        if (message == kPing && wParam == 1) {
            EXPECT_TRUE(DestroyWindow(self));
        }
        return false;
    };
    ASSERT_TRUE(PostMessageW(window, kPing, 1, 0));
    ASSERT_TRUE(PostMessageW(window, kPing, 2, 0));
    WinUserTest::PumpPending();
    EXPECT_FALSE(IsWindow(window));
    const std::vector<UINT> expected = {kPing, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(recorder.Messages({kPing, WM_DESTROY, WM_NCDESTROY}), expected) << "the second ping is dropped";
    EXPECT_EQ(recorder.Messages().back(), WM_NCDESTROY);
}

TEST_F(UserTest, DestroyingAParentTellsItFirstAndForgetsItLast) {
    Recorder& parent = NewRecorder();
    Recorder& child = NewRecorder();
    std::vector<std::pair<HWND, UINT>> order;
    auto note = [&](HWND window, UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message == WM_DESTROY || message == WM_NCDESTROY)
            order.emplace_back(window, message);
        return false;
    };
    parent.handler = note;
    child.handler = note;
    HWND p = Make(parent);
    HWND c = Make(child, WS_CHILD, p);
    ASSERT_EQ(GetParent(c), p);
    ASSERT_TRUE(DestroyWindow(p));
    const std::vector<std::pair<HWND, UINT>> expected = {
        {p, WM_DESTROY}, {c, WM_DESTROY}, {c, WM_NCDESTROY}, {p, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(IsWindow(c));
}

LRESULT OtherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 1)
        return 2;
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(UserTest, ClassesOfOneNameAreKeptPerModule) {
    const HINSTANCE other = NewInstance();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OtherProc;
    windowClass.hInstance = other;
    windowClass.lpszClassName = L"testwnd";
    const ATOM atom = RegisterClassW(&windowClass);
    ASSERT_NE(atom, 0);
    EXPECT_EQ(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    Recorder& recorder = NewRecorder();
    HWND mine = Make(recorder);
    HWND theirs =
        CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 10, 10, nullptr, nullptr, other, nullptr);
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(SendMessageW(mine, kPing, 0, 0), 0);
    EXPECT_EQ(SendMessageW(theirs, kPing, 0, 0), 2);
    EXPECT_EQ(recorder.Count(kPing), 1);

    WNDCLASSW info{};
    ASSERT_TRUE(GetClassInfoW(m_instance, MAKEINTATOM(atom), &info)) << "equal names share their atom";
    EXPECT_EQ(info.lpfnWndProc, RecordingProc);
    wchar_t name[32];
    EXPECT_EQ(GetClassNameW(theirs, name, 32), 7);
    EXPECT_STREQ(name, L"testwnd");

    EXPECT_FALSE(UnregisterClassW(L"TestWnd", other)) << "the class still has a window";
    EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
    DestroyWindow(theirs);
    EXPECT_TRUE(UnregisterClassW(L"TestWnd", other));
}

TEST_F(UserTest, WindowOfAClassTheModuleNeverRegisteredIsNotMade) {
    Recorder& recorder = NewRecorder();
    EXPECT_EQ(MakeWindow(NewInstance(), recorder), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(UserTest, TimersFireOnlyAsTheClockAdvancesAndNeverQueueUp) {
    WinSeams::UseManualClock(1000);
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    ASSERT_EQ(SetTimer(window, 7, 100, nullptr), 7u);
    const struct {
        DWORD advance;
        bool kill;  // the timer is killed before the clock advances
        int timers; // WM_TIMER messages so far
        const char* why;
    } steps[] = {
        {0, false, 0, "nothing is due at once"},     {99, false, 0, "one tick short of the period"},
        {1, false, 1, "the period is over"},         {1000, false, 2, "ten missed periods give one message"},
        {1000, true, 2, "a killed timer is silent"},
    };
    for (const auto& step : steps) {
        if (step.kill) {
            ASSERT_TRUE(KillTimer(window, 7));
        }
        WinSeams::AdvanceManualClock(step.advance);
        WinUserTest::PumpPending();
        EXPECT_EQ(recorder.Count(WM_TIMER), step.timers) << step.why;
    }
    EXPECT_EQ(recorder.Of(WM_TIMER)[0].wParam, 7u);
    EXPECT_FALSE(KillTimer(window, 7));
}

int g_timerCalls = 0;
void CountTimer(HWND, UINT, UINT_PTR, DWORD) {
    ++g_timerCalls;
}

TEST_F(UserTest, TimerWithAProcedureCallsItInsteadOfTheWindow) {
    WinSeams::UseManualClock(0);
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    g_timerCalls = 0;
    ASSERT_NE(SetTimer(window, 1, 10, CountTimer), 0u);
    const UINT_PTR threadTimer = SetTimer(nullptr, 0, 10, CountTimer);
    ASSERT_NE(threadTimer, 0u);
    WinSeams::AdvanceManualClock(10);
    WinUserTest::PumpPending();
    EXPECT_EQ(g_timerCalls, 2);
    EXPECT_EQ(recorder.Count(WM_TIMER), 0);
    EXPECT_TRUE(KillTimer(nullptr, threadTimer));
    DestroyWindow(window);
    WinSeams::AdvanceManualClock(10);
    WinUserTest::PumpPending();
    EXPECT_EQ(g_timerCalls, 2) << "a window's timers go with it";
}

TEST_F(UserTest, InvalidatedWindowIsPaintedOnceWithTheWholeArea) {
    Recorder& recorder = NewRecorder();
    std::vector<RECT> painted;
    recorder.handler = [&](HWND self, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != WM_PAINT)
            return false;
        PAINTSTRUCT paint;
        EXPECT_NE(BeginPaint(self, &paint), nullptr);
        painted.push_back(paint.rcPaint);
        EndPaint(self, &paint);
        result = 0;
        return true;
    };
    HWND window = Make(recorder, WS_VISIBLE);
    WinUserTest::PumpPending();
    ASSERT_EQ(painted.size(), 1u) << "a new visible window paints";
    WinUserTest::PumpPending();
    EXPECT_EQ(painted.size(), 1u);

    const RECT a{10, 10, 20, 20};
    const RECT b{30, 5, 40, 15};
    InvalidateRect(window, &a, FALSE);
    InvalidateRect(window, &b, FALSE);
    WinUserTest::PumpPending();
    ASSERT_EQ(painted.size(), 2u);
    EXPECT_EQ(painted[1].left, 10);
    EXPECT_EQ(painted[1].top, 5);
    EXPECT_EQ(painted[1].right, 40);
    EXPECT_EQ(painted[1].bottom, 20);
}

TEST_F(UserTest, WindowThatNeverValidatesIsPaintedOncePerPump) {
    Recorder& recorder = NewRecorder();
    recorder.handler = [](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        result = 0;
        return message == WM_PAINT;
    };
    Make(recorder, WS_VISIBLE);
    WinUserTest::PumpPending();
    WinUserTest::PumpPending();
    EXPECT_EQ(recorder.Count(WM_PAINT), 2);
}

TEST_F(UserTest, HiddenWindowIsPaintedOnlyOnceShown) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    InvalidateRect(window, nullptr, TRUE);
    WinUserTest::PumpPending();
    EXPECT_EQ(recorder.Count(WM_PAINT), 0);
    EXPECT_FALSE(ShowWindow(window, SW_SHOW)) << "it was hidden";
    WinUserTest::PumpPending();
    EXPECT_EQ(recorder.Count(WM_PAINT), 1);
    EXPECT_TRUE(ShowWindow(window, SW_HIDE));
}

TEST_F(UserTest, PostedMessagesComeBeforePaintsAndPaintsBeforeTimers) {
    WinSeams::UseManualClock(0);
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder, WS_VISIBLE);
    SetTimer(window, 1, 10, nullptr);
    WinSeams::AdvanceManualClock(10);
    PostMessageW(window, kPing, 0, 0);
    WinUserTest::PumpPending();
    const std::vector<UINT> expected = {kPing, WM_PAINT, WM_TIMER};
    EXPECT_EQ(recorder.Messages({kPing, WM_PAINT, WM_TIMER}), expected);
}

TEST_F(UserTest, QuitComesAfterThePostedMessages) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    PostMessageW(window, kPing, 1, 0);
    PostQuitMessage(3);
    PostMessageW(window, kPing, 2, 0);
    MSG message;
    int pings = 0;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
        ++pings;
    }
    EXPECT_EQ(pings, 2);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);
}

TEST_F(UserTest, StateChangesAnswerThePreviousStateAndTellTheWindow) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    EXPECT_FALSE(EnableWindow(window, FALSE)) << "it was enabled";
    EXPECT_FALSE(IsWindowEnabled(window));
    EXPECT_TRUE(EnableWindow(window, TRUE)) << "it was disabled";
    EXPECT_EQ(recorder.Count(WM_ENABLE), 2);

    ASSERT_TRUE(SetWindowPos(window, nullptr, 5, 6, 300, 200, SWP_NOZORDER));
    ASSERT_EQ(recorder.Count(WM_SIZE), 1);
    EXPECT_EQ(recorder.Of(WM_SIZE)[0].lParam, MAKELPARAM(300, 200));
    RECT client{}, outer{};
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    EXPECT_EQ(outer.left, 5);
    EXPECT_EQ(outer.top, 6);
    SetWindowPos(window, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(recorder.Count(WM_SIZE), 1) << "the same size is no change";

    EXPECT_EQ(SetFocus(window), nullptr);
    EXPECT_EQ(GetFocus(), window);
    EXPECT_EQ(recorder.Count(WM_SETFOCUS), 1);

    ASSERT_TRUE(SetWindowTextW(window, L"caption"));
    wchar_t text[4];
    EXPECT_EQ(GetWindowTextW(window, text, 4), 3) << "the text is cut to the buffer";
    EXPECT_STREQ(text, L"cap");
    EXPECT_EQ(GetWindowTextLengthW(window), 7);
}

TEST_F(UserTest, DeviceContextAnswersTheScreenResolution) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    WinSeams::SetScreenDpi(120);
    HDC dc = GetDC(window);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 120);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 120);
    EXPECT_EQ(ReleaseDC(window, dc), 1);
    EXPECT_EQ(ReleaseDC(window, dc), 0);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 0);
}

TEST_F(UserTest, QueueRefusesPostsBeyondItsLimit) {
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    for (int i = 0; i < 10000; ++i)
        ASSERT_TRUE(PostMessageW(window, kPing, 0, 0)) << i;
    EXPECT_FALSE(PostMessageW(window, kPing, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    WinUserTest::PumpPending();
    EXPECT_EQ(recorder.Count(kPing), 10000);
}

TEST_F(UserTest, PumpUntilGivesUpAtItsDeadline) {
    EXPECT_FALSE(WinUserTest::PumpUntil([] { return false; }, 30));
    Recorder& recorder = NewRecorder();
    HWND window = Make(recorder);
    PostMessageW(window, kPing, 0, 0);
    EXPECT_TRUE(WinUserTest::PumpUntil([&] { return recorder.Count(kPing) == 1; }, 10000));
}

} // namespace
