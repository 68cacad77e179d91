#include "ControlFixture.h"

#include "platform/win/WinScrollBars.h"

using namespace usertest;

namespace {

class ScrollBarTest : public ControlTest {
protected:
    int Set(int bar, UINT mask, int minimum, int maximum, UINT page, int position) {
        SCROLLINFO info{sizeof(SCROLLINFO), mask, minimum, maximum, page, position, 0};
        return SetScrollInfo(m_parent, bar, &info, TRUE);
    }
    SCROLLINFO Get(int bar) {
        SCROLLINFO info{sizeof(SCROLLINFO), SIF_ALL, -1, -1, 99, -1, -1};
        EXPECT_TRUE(GetScrollInfo(m_parent, bar, &info));
        return info;
    }
    RECT Client() {
        RECT client{};
        GetClientRect(m_parent, &client);
        return client;
    }
};

struct ClampCase {
    int maximum;
    UINT page;
    int asked;
    int position; // [0, maximum - max(page, 1) + 1], by hand
};

TEST_F(ScrollBarTest, PositionsAreClampedToTheLastPage) {
    const ClampCase cases[] = {
        {100, 10, 500, 91}, {100, 10, -5, 0},  {100, 0, 500, 100}, {100, 1, 500, 100},
        {100, 200, 50, 0},  {100, 10, 40, 40}, {0, 0, 7, 0},
    };
    for (const ClampCase& c : cases) {
        EXPECT_EQ(Set(SB_VERT, SIF_RANGE | SIF_PAGE | SIF_POS, 0, c.maximum, c.page, c.asked), c.position)
            << c.maximum << " " << c.page << " " << c.asked;
        EXPECT_EQ(Get(SB_VERT).nPos, c.position);
    }
}

TEST_F(ScrollBarTest, MasksSetAndReadOnlyTheirFields) {
    Set(SB_HORZ, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 300, 50, 20);
    Set(SB_HORZ, SIF_POS, 99, 99, 99, 40);
    Set(SB_HORZ, SIF_PAGE | SIF_POS | SIF_TRACKPOS, 0, 0, 60, 30);
    SCROLLINFO info = Get(SB_HORZ);
    EXPECT_EQ(info.nMin, 0);
    EXPECT_EQ(info.nMax, 300);
    EXPECT_EQ(info.nPage, 60u);
    EXPECT_EQ(info.nPos, 30);
    EXPECT_EQ(info.nTrackPos, 30);
    ASSERT_TRUE(WinUserTest::SetScrollTrackPosition(m_parent, SB_HORZ, 1000));
    SCROLLINFO track{sizeof(SCROLLINFO), SIF_TRACKPOS, -1, -1, 99, -1, -1};
    ASSERT_TRUE(GetScrollInfo(m_parent, SB_HORZ, &track));
    EXPECT_EQ(track.nTrackPos, 241);
    EXPECT_EQ(track.nPos, -1); // untouched by the mask
    SCROLLINFO bad{27, SIF_ALL, 0, 0, 0, 0, 0};
    EXPECT_FALSE(GetScrollInfo(m_parent, SB_HORZ, &bad));
    EXPECT_FALSE(GetScrollInfo(m_parent, 2, &info));
}

TEST_F(ScrollBarTest, ShownBarsShrinkTheClientArea) {
    const RECT whole = Client();
    const LONG bar = GetSystemMetrics(SM_CXVSCROLL);
    EXPECT_EQ(bar, 17);
    Set(SB_VERT, SIF_RANGE | SIF_PAGE, 0, 1000, 100, 0);
    EXPECT_EQ(Client().right, whole.right - bar);
    EXPECT_EQ(Client().bottom, whole.bottom);
    Set(SB_HORZ, SIF_RANGE | SIF_PAGE, 0, 1000, 100, 0);
    EXPECT_EQ(Client().bottom, whole.bottom - GetSystemMetrics(SM_CYHSCROLL));
    // A range that fits in one page hides the bar again.
    Set(SB_VERT, SIF_RANGE | SIF_PAGE, 0, 99, 100, 0);
    EXPECT_EQ(Client().right, whole.right);
    RECT window{};
    ASSERT_TRUE(GetWindowRect(m_parent, &window));
    EXPECT_EQ(window.right - window.left, whole.right); // the window itself keeps its size
}

} // namespace
