#include "ControlFixture.h"

using namespace usertest;

namespace {

class InputTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        m_child = CreateWindowExW(0, L"TestWnd", L"", WS_CHILD | WS_VISIBLE, 100, 50, 80, 40, m_parent,
                                  nullptr, m_instance, &m_childRecorder);
        ASSERT_NE(m_child, nullptr);
    }
    void TearDown() override {
        m_childRecorder.handler = nullptr;
        ControlTest::TearDown();
    }
    bool Track(HWND window, DWORD flags = TME_LEAVE) {
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), flags, window, 0};
        return TrackMouseEvent(&track) == TRUE;
    }
    bool PumpUntilLeave(const Recorder& recorder, int count) {
        return WinUserTest::PumpUntil([&] { return recorder.Count(WM_MOUSELEAVE) >= count; }, 5000);
    }

    Recorder m_childRecorder;
    HWND m_child = nullptr;
};

TEST_F(InputTest, InjectedInputGoesToTheWindowUnderThePointInItsCoordinates) {
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 110, 60));
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_LBUTTONDOWN, 20, 30, MK_LBUTTON));
    Pump();
    const std::vector<Seen> moves = m_childRecorder.Of(WM_MOUSEMOVE);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(GET_X_LPARAM(moves[0].lParam), 10);
    EXPECT_EQ(GET_Y_LPARAM(moves[0].lParam), 10);
    const std::vector<Seen> downs = m_recorder.Of(WM_LBUTTONDOWN);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0].wParam, MK_LBUTTON);
    EXPECT_EQ(GET_X_LPARAM(downs[0].lParam), 20);
    EXPECT_EQ(WinUserTest::PointerWindow(), m_parent);
    EXPECT_FALSE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 400, 10)) << "outside, with no capture";
}

TEST_F(InputTest, HiddenAndDisabledChildrenLetTheParentTakeTheInput) {
    for (int kind = 0; kind < 2; ++kind) {
        if (kind == 0)
            ShowWindow(m_child, SW_HIDE);
        else
            EnableWindow(m_child, FALSE);
        ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_LBUTTONDOWN, 110, 60, MK_LBUTTON));
        Pump();
        EXPECT_EQ(m_childRecorder.Count(WM_LBUTTONDOWN), 0);
        EXPECT_EQ(m_recorder.Count(WM_LBUTTONDOWN), kind + 1);
        ShowWindow(m_child, SW_SHOW);
        EnableWindow(m_child, TRUE);
    }
}

TEST_F(InputTest, TheCaptureTakesAllInputUntilReleased) {
    EXPECT_EQ(SetCapture(m_child), nullptr);
    EXPECT_EQ(GetCapture(), m_child);
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 5, 5));
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_LBUTTONUP, 500, 500)) << "even outside every window";
    Pump();
    const std::vector<Seen> moves = m_childRecorder.Of(WM_MOUSEMOVE);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(GET_X_LPARAM(moves[0].lParam), -95) << "left of the window: negative";
    EXPECT_EQ(GET_Y_LPARAM(moves[0].lParam), -45);
    EXPECT_EQ(m_childRecorder.Count(WM_LBUTTONUP), 1);
    EXPECT_EQ(m_recorder.Count(WM_MOUSEMOVE), 0);

    EXPECT_EQ(SetCapture(m_parent), m_child);
    const std::vector<Seen> lost = m_childRecorder.Of(WM_CAPTURECHANGED);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].lParam, reinterpret_cast<LPARAM>(m_parent));
    EXPECT_TRUE(ReleaseCapture());
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(m_recorder.Count(WM_CAPTURECHANGED), 1);
    EXPECT_EQ(SetCapture(nullptr), nullptr) << "no window, no capture";
}

TEST_F(InputTest, ALeaveNoticeComesOnceWhenThePointerLeaves) {
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 120, 60));
    Pump();
    ASSERT_TRUE(Track(m_child));
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 130, 70)) << "still inside";
    Pump();
    EXPECT_EQ(m_childRecorder.Count(WM_MOUSELEAVE), 0);
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 20, 20));
    EXPECT_TRUE(PumpUntilLeave(m_childRecorder, 1));
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 120, 60));
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 20, 20));
    Pump();
    EXPECT_EQ(m_childRecorder.Count(WM_MOUSELEAVE), 1) << "a request is answered once";

    // Asked while the pointer is elsewhere: the notice comes at once.
    ASSERT_TRUE(Track(m_child));
    EXPECT_TRUE(PumpUntilLeave(m_childRecorder, 2));
    EXPECT_FALSE(Track(m_child, TME_HOVER)) << "hover notices are not supported";
}

TEST_F(InputTest, ALeaveNoticeWaitsWhileTheWindowHoldsTheCapture) {
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 120, 60));
    Pump();
    ASSERT_TRUE(Track(m_child));
    SetCapture(m_child);
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 20, 20));
    Pump();
    EXPECT_EQ(m_childRecorder.Count(WM_MOUSELEAVE), 0);
    ReleaseCapture();
    EXPECT_TRUE(PumpUntilLeave(m_childRecorder, 1));

    // A cancelled request gives no notice.
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 120, 60));
    Pump();
    ASSERT_TRUE(Track(m_child));
    ASSERT_TRUE(Track(m_child, TME_LEAVE | TME_CANCEL));
    ASSERT_TRUE(WinUserTest::InjectMouse(m_parent, WM_MOUSEMOVE, 20, 20));
    Pump();
    EXPECT_EQ(m_childRecorder.Count(WM_MOUSELEAVE), 1);
}

} // namespace
