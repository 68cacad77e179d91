#include "design_module/TScrollWindow.h"
#include "design_module/TTimer.h"

#include "platform/win/WinInput.h"
#include "platform/win/WinScrollBars.h"
#include "platform/win/WinSeams.h"

#include <gtest/gtest.h>

namespace {

// A 500 x 400 pop-up at (10, 20) on the screen; each bar takes 17 pixels once shown.
constexpr LONG kLeft = 10;
constexpr LONG kTop = 20;
constexpr LONG kWidth = 500;
constexpr LONG kHeight = 400;
constexpr LONG kBar = 17;

class ScrollWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = TRefPtr<TScrollWindow>::Adopt(new TScrollWindow);
        ASSERT_TRUE(m_window->Create(L"ScrollTestWnd", WS_VISIBLE,
                                     TWindow::TRect(kLeft, kTop, kLeft + kWidth, kTop + kHeight), nullptr));
    }
    void TearDown() override { m_window->Destroy(); }

    void Content(LONG width, LONG height) {
        m_window->SetContentSize(TScrollWindow::TContentSize(width, height));
    }
    TScrollWindow::TScrollPoint Position() const { return m_window->GetScrollPosition(); }
    void Key(WPARAM key) { m_window->SendMessage(WM_KEYUP, key, 0); }
    void Scroll(UINT message, WORD code) { m_window->SendMessage(message, MAKEWPARAM(code, 0), 0); }
    void Wheel(LONG screenX, LONG screenY, SHORT delta) {
        ASSERT_TRUE(WinUserTest::InjectWheel(m_window->GetHandle(), screenX, screenY, delta));
        WinUserTest::PumpPending();
    }
    // Whether anything asked for a redraw since the last call.
    bool Redrawn() {
        RECT area{};
        const bool invalid = GetUpdateRect(m_window->GetHandle(), &area, FALSE) == TRUE;
        ValidateRect(m_window->GetHandle(), nullptr);
        return invalid;
    }

    TRefPtr<TScrollWindow> m_window;
};

TEST_F(ScrollWindowTest, SecondSettingTakesThePageOfTheShrunkClient) {
    Content(2480, 3508);
    SCROLLINFO info{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    ASSERT_TRUE(GetScrollInfo(m_window->GetHandle(), SB_HORZ, &info));
    EXPECT_EQ(info.nMax, 2480);
    EXPECT_EQ(info.nPage, static_cast<UINT>(kWidth - kBar));
    ASSERT_TRUE(GetScrollInfo(m_window->GetHandle(), SB_VERT, &info));
    EXPECT_EQ(info.nPage, static_cast<UINT>(kHeight - kBar));
}

TEST_F(ScrollWindowTest, EndShowsTheBottomRightCornerAndHomeTheTopLeft) {
    Content(2480, 3508);
    Key(35);
    // The right end is maximum - (page - 1): the view's last column is the content's last.
    const LONG right = 2480 - (kWidth - kBar - 1);
    const LONG bottom = 3508 - (kHeight - kBar - 1);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(right, bottom));
    EXPECT_GE(right + (kWidth - kBar), 2480);
    EXPECT_GE(bottom + (kHeight - kBar), 3508);
    Key(36);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(0, 0));
    Scroll(WM_HSCROLL, SB_RIGHT);
    Scroll(WM_VSCROLL, SB_BOTTOM);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(right, bottom));
}

struct MoveCase {
    UINT message;
    WORD code;
    LONG x, y; // from (100, 200)
};

TEST_F(ScrollWindowTest, BarEventsMoveByLinePageAndTrack) {
    Content(2480, 3508);
    WinUserTest::SetScrollTrackPosition(m_window->GetHandle(), SB_HORZ, 700);
    const LONG hPage = kWidth - kBar;
    const LONG vPage = kHeight - kBar;
    const MoveCase cases[] = {
        {WM_HSCROLL, SB_LINELEFT, 99, 200},       {WM_HSCROLL, SB_LINERIGHT, 101, 200},
        {WM_HSCROLL, SB_PAGELEFT, 0, 200},        {WM_HSCROLL, SB_PAGERIGHT, 100 + hPage, 200},
        {WM_VSCROLL, SB_LINEUP, 100, 199},        {WM_VSCROLL, SB_LINEDOWN, 100, 201},
        {WM_VSCROLL, SB_PAGEUP, 100, 0},          {WM_VSCROLL, SB_PAGEDOWN, 100, 200 + vPage},
        {WM_HSCROLL, SB_THUMBPOSITION, 100, 200}, {WM_VSCROLL, SB_ENDSCROLL, 100, 200},
    };
    for (const MoveCase& c : cases) {
        m_window->SetScrollPosition(TScrollWindow::TScrollPoint(100, 200));
        Scroll(c.message, c.code);
        EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(c.x, c.y)) << c.message << " " << c.code;
    }
    WinUserTest::SetScrollTrackPosition(m_window->GetHandle(), SB_HORZ, 700);
    Scroll(WM_HSCROLL, SB_THUMBTRACK);
    EXPECT_EQ(Position().x, 700);
}

TEST_F(ScrollWindowTest, ContentThatFitsIgnoresWheelAndKeys) {
    Content(300, 200);
    EXPECT_FALSE(m_window->NeedsHorizontalScroll());
    EXPECT_FALSE(m_window->NeedsVerticalScroll());
    Redrawn();
    for (WPARAM key : {33, 34, 35, 36})
        Key(key);
    Wheel(kLeft + 50, kTop + 50, -360);
    EXPECT_FALSE(Redrawn());
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(0, 0));
}

TEST_F(ScrollWindowTest, WheelTurnsWholeNotchesAndUsesTheBottomStripForTheHorizontalBar) {
    Content(400, 3508); // only the vertical bar is needed
    const LONG stripY = kTop + kHeight - 5;
    Wheel(kLeft + 50, kTop + 50, -119);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(0, 0));
    Wheel(kLeft + 50, kTop + 50, -360);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(0, 3));
    Wheel(kLeft + 50, stripY, -240); // no horizontal bar: the strip scrolls vertically
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(0, 5));
    Content(2480, 3508);
    Wheel(kLeft + 50, stripY, 240);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(2, 0));
    Wheel(kLeft + 50, stripY, -120);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(1, 0));
    // Just above the strip is the content, scrolled vertically.
    Wheel(kLeft + 50, kTop + kHeight - kBar - 1, -120);
    EXPECT_EQ(Position(), TScrollWindow::TScrollPoint(1, 1));
}

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override { WinSeams::UseManualClock(1000); }
    void TearDown() override { WinSeams::UseSteadyClock(); }
    static void Count(void* context) { ++*static_cast<int*>(context); }
};

TEST_F(TimerTest, TicksComeThroughThePumpOnTheClock) {
    auto timer = TRefPtr<TTimer>::Adopt(new TTimer);
    int ticks = 0;
    timer->SetCallback(&TimerTest::Count, &ticks);
    timer->SetInterval(50);
    EXPECT_FALSE(timer->IsRunning());
    EXPECT_FALSE(timer->Stop());
    EXPECT_TRUE(timer->Start());
    EXPECT_TRUE(timer->Start()); // still the one timer
    WinSeams::AdvanceManualClock(49);
    WinUserTest::PumpPending();
    EXPECT_EQ(ticks, 0);
    WinSeams::AdvanceManualClock(1);
    WinUserTest::PumpPending();
    EXPECT_EQ(ticks, 1);
    WinSeams::AdvanceManualClock(50);
    WinUserTest::PumpPending();
    EXPECT_EQ(ticks, 2);
    EXPECT_TRUE(timer->Stop());
    EXPECT_FALSE(timer->Stop());
    WinSeams::AdvanceManualClock(500);
    WinUserTest::PumpPending();
    EXPECT_EQ(ticks, 2);
}

} // namespace
