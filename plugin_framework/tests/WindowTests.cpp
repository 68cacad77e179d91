#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TWindow.h"

#include "platform/win/WinSeams.h"
#include "testing/Deadline.h"
#include "testing/MessageLoopThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

constexpr UINT kPing = WM_APP + 10;

// Counts the calls of a handler and answers with a fixed result.
struct Probe {
    int calls = 0;
    DWORD key = 0;
    LPARAM extra = 0;
    LONG answer = 0;
    TMessageHandler Handler() {
        return TMessageHandler{this, [](TMessageInfo* info, void* context) -> LONG {
                                   auto* probe = static_cast<Probe*>(context);
                                   ++probe->calls;
                                   probe->key = info->key;
                                   probe->extra = info->extra;
                                   return probe->answer;
                               }};
    }
};

class CountingWindow : public TWindow {
public:
    LONG OnCreate() override {
        ++creates;
        return 0;
    }
    LONG OnHScrollLineRight(LONG count) override {
        lineRight += count;
        return 0;
    }
    LONG OnLButtonDown(const TPoint& point, WPARAM flags) override {
        lastPoint = point;
        return TWindow::OnLButtonDown(point, flags);
    }

    int creates = 0;
    LONG lineRight = 0;
    TPoint lastPoint;
};

class FrameworkWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_window.Create(L"FrameworkTestWnd", 0, TWindow::TRect(0, 0, 200, 100), nullptr));
    }
    void TearDown() override {
        m_window.Destroy();
        WinUserTest::PumpPending();
    }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return SendMessageW(m_window.GetHandle(), message, wParam, lParam);
    }

    CountingWindow m_window;
};

// A window whose handlers are its own member functions, with and without the message record.
class MemberWindow : public TWindow {
public:
    LONG OnPing(TMessageInfo& info) {
        ++pings;
        lastParameter = info.lParam;
        return 1;
    }
    LONG OnPlain() {
        ++plain;
        return 7;
    }
    int pings = 0;
    int plain = 0;
    LPARAM lastParameter = 0;
};

TEST(FrameworkWindows, MemberHandlersReachTheirObjectWhileItsWindowLives) {
    MemberWindow window;
    ASSERT_TRUE(window.Create(L"FrameworkMemberWnd", 0, TWindow::TRect(0, 0, 20, 20), nullptr));
    ASSERT_TRUE(window.AddMessageHandler(kPing, MemberHandler<&MemberWindow::OnPing>(&window)));
    ASSERT_TRUE(window.AddMessageHandler(kPing + 1, MemberHandler<&MemberWindow::OnPlain>(&window)));
    EXPECT_EQ(SendMessageW(window.GetHandle(), kPing, 0, 42), 1);
    EXPECT_EQ(window.pings, 1);
    EXPECT_EQ(window.lastParameter, 42);
    SendMessageW(window.GetHandle(), kPing + 1, 0, 0);
    EXPECT_EQ(window.plain, 1) << "a member without the message record";
    window.Destroy();
}

TEST(FrameworkWindows, AMemberHandlerOfAWindowThatIsGoneCountsAsHandledWithoutACall) {
    MemberWindow window;
    ASSERT_TRUE(window.Create(L"FrameworkMemberWnd", 0, TWindow::TRect(0, 0, 20, 20), nullptr));
    const TMessageHandler handlers[] = {MemberHandler<&MemberWindow::OnPing>(&window),
                                        MemberHandler<&MemberWindow::OnPlain>(&window)};
    window.Destroy();
    for (const TMessageHandler& handler : handlers) {
        TMessageInfo info{};
        info.lParam = 42;
        EXPECT_EQ(handler.callback(&info, handler.context), 1);
    }
    EXPECT_EQ(window.pings + window.plain, 0);
}

TEST_F(FrameworkWindow, CreationBindsTheObjectAndCallsOnCreateOnce) {
    EXPECT_TRUE(m_window.IsWindow());
    EXPECT_EQ(TWindow::FromHandle(m_window.GetHandle()), &m_window);
    EXPECT_EQ(m_window.creates, 1);
    EXPECT_FALSE(m_window.Create(L"FrameworkTestWnd", 0, TWindow::TRect(0, 0, 1, 1), nullptr));
    WNDCLASSW info{};
    EXPECT_TRUE(GetClassInfoW(GetThisModule(), L"FrameworkTestWnd", &info)) << "registered for this module";
    EXPECT_EQ(GetWindowLongPtrW(m_window.GetHandle(), GWL_STYLE) & WS_POPUP, static_cast<LONG_PTR>(WS_POPUP));
}

TEST_F(FrameworkWindow, PaintIsHandledUnderItsOwnKeyOnly) {
    Probe paintKey, paintMessage;
    ASSERT_TRUE(m_window.AddMessageHandler(kPaintMessageKey, paintKey.Handler()));
    ASSERT_TRUE(m_window.AddMessageHandler(WM_PAINT, paintMessage.Handler()));
    m_window.Show(true);
    WinUserTest::PumpPending();
    EXPECT_EQ(paintKey.calls, 1);
    EXPECT_EQ(paintKey.key, kPaintMessageKey);
    EXPECT_EQ(paintMessage.calls, 0);
}

TEST_F(FrameworkWindow, AnswerOfOneSkipsTheDefaultProcessingAndAnyOtherDefersToIt) {
    ASSERT_TRUE(m_window.SetText(L"abc"));
    Probe probe;
    probe.answer = 5;
    ASSERT_TRUE(m_window.AddMessageHandler(WM_GETTEXTLENGTH, probe.Handler()));
    EXPECT_EQ(Send(WM_GETTEXTLENGTH, 0, 77), 3) << "the default answer replaces the handler's 5";
    EXPECT_EQ(probe.extra, 77) << "message handlers see lParam as extra";
    probe.answer = 1;
    EXPECT_EQ(Send(WM_GETTEXTLENGTH, 0, 0), 1);
    EXPECT_EQ(probe.calls, 2);
}

TEST_F(FrameworkWindow, FirstRegistrationOfAKeyWinsAndNoneWithoutAWindow) {
    Probe first, second;
    EXPECT_TRUE(m_window.AddMessageHandler(kPing, first.Handler()));
    EXPECT_FALSE(m_window.AddMessageHandler(kPing, second.Handler()));
    EXPECT_TRUE(m_window.AddNotifyHandler(2, 9, first.Handler()));
    EXPECT_FALSE(m_window.AddNotifyHandler(2, 9, second.Handler()));
    EXPECT_TRUE(m_window.AddNotifyHandler(2, 10, second.Handler())) << "another control is another key";
    Send(kPing, 0, 0);
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 0);
    TWindow windowless;
    EXPECT_FALSE(windowless.AddMessageHandler(kPing, first.Handler()));
    EXPECT_FALSE(windowless.AddCommandHandler(5, first.Handler()));
}

TEST_F(FrameworkWindow, CommandGoesToTheCommandMapBeforeTheNotificationMap) {
    constexpr WORD kClicked = 0;
    Probe command, notify;
    ASSERT_TRUE(m_window.AddNotifyHandler(kClicked, 5, notify.Handler()));
    Send(WM_COMMAND, MAKEWPARAM(5, kClicked), 0);
    EXPECT_EQ(notify.calls, 1);
    EXPECT_EQ(notify.key, kClicked);
    ASSERT_TRUE(m_window.AddCommandHandler(5, command.Handler()));
    Send(WM_COMMAND, MAKEWPARAM(5, kClicked), 0);
    EXPECT_EQ(command.calls, 1);
    EXPECT_EQ(command.key, 5u);
    EXPECT_EQ(notify.calls, 1);
}

// A child control that answers what is reflected to it with its user data.
LRESULT ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND || message == WM_HSCROLL || message == WM_NOTIFY)
        return GetWindowLongPtrW(window, GWLP_USERDATA);
    return DefWindowProcW(window, message, wParam, lParam);
}

class WithControl : public FrameworkWindow {
protected:
    void SetUp() override {
        FrameworkWindow::SetUp();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ControlProc;
        windowClass.hInstance = GetThisModule();
        windowClass.lpszClassName = L"TestControl";
        RegisterClassW(&windowClass);
        m_control = CreateWindowExW(0, L"TestControl", L"", WS_CHILD, 0, 0, 10, 10, m_window.GetHandle(),
                                    reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(7)), GetThisModule(),
                                    nullptr);
        ASSERT_NE(m_control, nullptr);
    }
    void Answer(LONG_PTR answer) { SetWindowLongPtrW(m_control, GWLP_USERDATA, answer); }

    HWND m_control = nullptr;
};

TEST_F(WithControl, ControlThatAnswersAReflectedCommandKeepsItFromTheParent) {
    Probe command;
    ASSERT_TRUE(m_window.AddCommandHandler(7, command.Handler()));
    Answer(1);
    Send(WM_COMMAND, MAKEWPARAM(7, 0), reinterpret_cast<LPARAM>(m_control));
    EXPECT_EQ(command.calls, 0);
    Answer(0);
    Send(WM_COMMAND, MAKEWPARAM(7, 0), reinterpret_cast<LPARAM>(m_control));
    EXPECT_EQ(command.calls, 1);
}

TEST_F(WithControl, ScrollFromAChildReachesTheNotificationMapNotTheOwnScrollBar) {
    Probe notify;
    ASSERT_TRUE(m_window.AddNotifyHandler(SB_LINEDOWN, 7, notify.Handler()));
    Send(WM_HSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), reinterpret_cast<LPARAM>(m_control));
    EXPECT_EQ(notify.calls, 1);
    EXPECT_EQ(m_window.lineRight, 0);
    Send(WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), 0);
    EXPECT_EQ(m_window.lineRight, 1);
    EXPECT_EQ(notify.calls, 1);
}

TEST_F(WithControl, NotificationIsOfferedToItsSenderFirst) {
    Probe notify;
    ASSERT_TRUE(m_window.AddNotifyHandler(42, 7, notify.Handler()));
    NMHDR header{m_control, 7, 42};
    Answer(3);
    EXPECT_EQ(Send(WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&header)), 3);
    EXPECT_EQ(notify.calls, 0);
    Answer(0);
    Send(WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(notify.calls, 1);
}

TEST_F(FrameworkWindow, MousePointsAreUnsignedHalvesOfLParamAndAClickTakesTheFocus) {
    Send(WM_LBUTTONDOWN, 0, MAKELPARAM(0xFFFF, 3));
    EXPECT_EQ(m_window.lastPoint, TWindow::TPoint(65535, 3));
    EXPECT_EQ(GetFocus(), m_window.GetHandle());
}

TEST_F(FrameworkWindow, CloseMessageAndCloseCommandDestroyTheWindowAndTheObjectCanMakeAnother) {
    HWND first = m_window.GetHandle();
    ASSERT_TRUE(m_window.PostMessage(WM_CLOSE, 0, 0));
    WinUserTest::PumpPending();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(m_window.IsWindow());
    ASSERT_TRUE(m_window.Create(L"FrameworkTestWnd", 0, TWindow::TRect(0, 0, 10, 10), nullptr));
    Send(WM_COMMAND, MAKEWPARAM(IDCLOSE, 0), 0);
    EXPECT_FALSE(m_window.IsWindow());
    EXPECT_EQ(m_window.creates, 2);
}

TEST_F(FrameworkWindow, WindowDestroyedByThePlatformLeavesItsObjectFreeToMakeAnother) {
    Probe probe;
    ASSERT_TRUE(m_window.AddMessageHandler(kPing, probe.Handler()));
    ASSERT_TRUE(DestroyWindow(m_window.GetHandle()));
    EXPECT_EQ(m_window.GetHandle(), nullptr);
    ASSERT_TRUE(m_window.Create(L"FrameworkTestWnd", 0, TWindow::TRect(0, 0, 10, 10), nullptr));
    EXPECT_TRUE(m_window.AddMessageHandler(kPing, probe.Handler()))
        << "the old handlers went with the old window";
}

TEST(FrameworkWindows, WindowDestroyedAndReleasedInsideItsOwnHandlerIsSafe) {
    auto* window = new TWindow;
    ASSERT_TRUE(window->Create(L"FrameworkTestWnd", 0, TWindow::TRect(0, 0, 10, 10), nullptr));
    static int calls;
    calls = 0;
    ASSERT_TRUE(
        window->AddMessageHandler(kPing, TMessageHandler{window, [](TMessageInfo*, void* context) -> LONG {
                                                             ++calls;
                                                             auto* self = static_cast<TWindow*>(context);
                                                             self->Destroy();
                                                             self->Release();
                                                             return 0;
                                                         }}));
    HWND handle = window->GetHandle();
    ASSERT_TRUE(PostMessageW(handle, kPing, 0, 0));
    ASSERT_TRUE(PostMessageW(handle, kPing, 0, 0));
    WinUserTest::PumpPending();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(IsWindow(handle));
}

LRESULT SavedProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPing)
        return 9;
    return DefWindowProcW(window, message, wParam, lParam);
}

// A window of a class of the test's own, with its own procedure, made without the framework.
HWND MakeForeignWindow(const wchar_t* className, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetThisModule();
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, className, L"", 0, 0, 0, 10, 10, nullptr, nullptr, GetThisModule(), nullptr);
}

TEST(FrameworkWindows, AttachedWindowKeepsItsProcedureForDefaultsAndIsGivenBack) {
    HWND foreign = MakeForeignWindow(L"ForeignWnd", SavedProc);
    ASSERT_NE(foreign, nullptr);
    {
        TWindow window;
        ASSERT_TRUE(window.Attach(foreign, false));
        Probe probe;
        ASSERT_TRUE(window.AddMessageHandler(kPing, probe.Handler()));
        EXPECT_EQ(SendMessageW(foreign, kPing, 0, 0), 9) << "the saved procedure does the default processing";
        EXPECT_EQ(probe.calls, 1);
    }
    EXPECT_TRUE(IsWindow(foreign)) << "an unowned window is given back, not destroyed";
    EXPECT_EQ(GetWindowLongPtrW(foreign, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&SavedProc));
    EXPECT_EQ(TWindow::FromHandle(foreign), nullptr);
    DestroyWindow(foreign);
}

// A window object that counts its key messages outside itself, so that one reaching it after its deletion
// would show (and, under the address sanitizer, fail at once).
class KeyCounter : public TWindow {
public:
    explicit KeyCounter(std::atomic<int>& keys) : m_keys(keys) {}
    LONG OnKeyDown(WPARAM, LPARAM) override {
        ++m_keys;
        return 0;
    }

private:
    std::atomic<int>& m_keys;
};

TEST(FrameworkWindows, WindowDestroyedFromAnotherThreadNoLongerLeadsToItsObject) {
    kvtest::Watchdog watchdog("destroy from another thread");
    std::atomic<int> keys{0};
    KeyCounter* window = nullptr;
    HWND handle = nullptr;
    {
        kvtest::MessageLoopThread owner([&] {
            window = new KeyCounter(keys);
            window->Create(L"FrameworkTestWnd", 0, TWindow::TRect(0, 0, 10, 10), nullptr);
            handle = window->GetHandle();
        });
        ASSERT_NE(handle, nullptr);
        EXPECT_FALSE(window->Destroy()) << "only the thread that made a window destroys it";
        EXPECT_EQ(window->GetHandle(), nullptr);
        EXPECT_EQ(TWindow::FromHandle(handle), nullptr) << "the window still leads to its object";
        window->Release();
        // The owning thread takes this (if the window is still there) with the object gone.
        PostMessageW(handle, WM_KEYDOWN, 0, 0);
        EXPECT_TRUE(kvtest::WaitUntil([&] { return !IsWindow(handle); }))
            << "its own thread closes the window";
    }
    EXPECT_EQ(keys.load(), 0);
}

// Until the control wrappers exist, a window that answers for its controls stands in for them.
class ColouringWindow : public TWindow {
public:
    LRESULT OnControlColor(HWND control, TMessageInfo& info) override {
        ++calls;
        seenControl = control;
        seen = info;
        return answer;
    }

    int calls = 0;
    LRESULT answer = 0;
    HWND seenControl = nullptr;
    TMessageInfo seen{};
};

constexpr LRESULT kParentsOwnColour = 0x99;

LRESULT ColourParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CTLCOLOREDIT || message == WM_CTLCOLORSTATIC)
        return kParentsOwnColour;
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(FrameworkWindows, ColourMessagesGoToTheControlsWrapperThenToTheDefaultNeverToTheMaps) {
    HWND parent = MakeForeignWindow(L"ColourParentWnd", ColourParentProc);
    ASSERT_NE(parent, nullptr);
    ColouringWindow window;
    ASSERT_TRUE(window.Attach(parent, false));
    Probe mapped;
    ASSERT_TRUE(window.AddMessageHandler(WM_CTLCOLOREDIT, mapped.Handler()));
    ASSERT_TRUE(window.AddMessageHandler(WM_CTLCOLORSTATIC, mapped.Handler()));
    HWND control = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
    const WPARAM dc = 0x55;

    struct Case {
        UINT message;
        LRESULT wrapperAnswer;
        LRESULT expected; // the wrapper's brush, or the default processing's answer
    };
    for (const Case& c :
         {Case{WM_CTLCOLOREDIT, 0x77, 0x77}, Case{WM_CTLCOLORSTATIC, 0x78, 0x78},
          Case{WM_CTLCOLOREDIT, 0, kParentsOwnColour}, Case{WM_CTLCOLORSTATIC, 0, kParentsOwnColour}}) {
        SCOPED_TRACE(c.message);
        window.answer = c.wrapperAnswer;
        window.seen = TMessageInfo{};
        const int before = window.calls;
        EXPECT_EQ(SendMessageW(parent, c.message, dc, reinterpret_cast<LPARAM>(control)), c.expected);
        EXPECT_EQ(window.calls, before + 1);
        EXPECT_EQ(window.seenControl, control);
        EXPECT_EQ(window.seen.hwnd, parent);
        EXPECT_EQ(window.seen.key, c.message);
        EXPECT_EQ(window.seen.wParam, dc);
        EXPECT_EQ(window.seen.lParam, reinterpret_cast<LPARAM>(control));
    }
    EXPECT_EQ(mapped.calls, 0);
    window.Detach();
    DestroyWindow(parent);
}

TEST(FrameworkWindows, GeometryFailsSoftlyWithoutAWindow) {
    TWindow window;
    TWindow::TRect rect(1, 2, 3, 4);
    EXPECT_FALSE(window.GetClientRect(rect));
    EXPECT_EQ(window.GetDpi(), TWindow::TSize(0, 0));
    EXPECT_EQ(window.GetDC(), nullptr);
    EXPECT_FALSE(window.PostMessage(kPing, 0, 0));
    EXPECT_FALSE(window.Move(TWindow::TPoint(1, 1)));
    EXPECT_FALSE(window.Enable(true));
    TString text = L"x";
    EXPECT_FALSE(window.GetText(text));
    EXPECT_TRUE(text.IsEmpty());
}

TEST_F(FrameworkWindow, GeometryAnswersThePlatformsValues) {
    WinSeams::SetScreenDpi(144);
    EXPECT_EQ(m_window.GetDpi(), TWindow::TSize(144, 144));
    WinSeams::ResetAll();
    ASSERT_TRUE(m_window.SetPosSize(TWindow::TPoint(10, 20), TWindow::TSize(30, 40)));
    ASSERT_TRUE(m_window.MoveBy(TWindow::TPoint(5, -5)));
    TWindow::TRect rect;
    ASSERT_TRUE(m_window.GetWindowRect(rect));
    EXPECT_EQ(rect, TWindow::TRect(15, 15, 45, 55));
    ASSERT_TRUE(m_window.GetClientRect(rect));
    EXPECT_EQ(rect, TWindow::TRect(0, 0, 30, 40));
}

} // namespace
