#include "RecordingWindow.h"

#include "platform/win/WinDesktop.h"
#include "platform/win/WinSeams.h"

#include <gtest/gtest.h>

#include <thread>

using namespace usertest;

namespace {

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_instance = NewInstance();
        ASSERT_NE(RegisterRecordingClass(m_instance), 0);
    }
    void TearDown() override {
        SetThreadMainWindow(nullptr);
        for (HWND window : {m_first, m_second}) {
            if (IsWindow(window))
                DestroyWindow(window);
        }
        WinUserTest::PumpPending();
        UnregisterClassW(L"TestWnd", m_instance);
        WinSeams::ResetAll();
    }

    static RECT ClientOf(HWND window) {
        RECT rect{-1, -1, -1, -1};
        EXPECT_TRUE(GetClientRect(window, &rect));
        return rect;
    }

    HINSTANCE m_instance = nullptr;
    Recorder m_recorder;
    HWND m_first = nullptr;
    HWND m_second = nullptr;
};

TEST_F(DesktopTest, TheDesktopClientAreaIsTheSeamsSizeAndFollowsItsChanges) {
    HWND desktop = GetDesktopWindow();
    ASSERT_TRUE(IsWindow(desktop));
    EXPECT_EQ(GetDesktopWindow(), desktop) << "one desktop for the process";
    RECT client = ClientOf(desktop);
    EXPECT_EQ(client.right - client.left, kDefaultDesktopWidth);
    EXPECT_EQ(client.bottom - client.top, kDefaultDesktopHeight);

    WinSeams::SetDesktopSize(1280, 1024);
    client = ClientOf(desktop);
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, 1280);
    EXPECT_EQ(client.bottom, 1024);

    WinSeams::ResetAll();
    EXPECT_EQ(ClientOf(desktop).right, kDefaultDesktopWidth);
}

TEST_F(DesktopTest, NoThreadCanDestroyOrMoveTheDesktop) {
    HWND desktop = GetDesktopWindow();
    EXPECT_FALSE(DestroyWindow(desktop));
    EXPECT_FALSE(MoveWindow(desktop, 10, 10, 20, 20, FALSE));
    std::thread([desktop] { EXPECT_FALSE(DestroyWindow(desktop)); }).join();
    EXPECT_TRUE(IsWindow(desktop));
    EXPECT_EQ(ClientOf(desktop).right, kDefaultDesktopWidth);
}

TEST_F(DesktopTest, EachThreadHasItsOwnMainWindowWhileItExists) {
    EXPECT_EQ(GetThreadMainWindow(), nullptr);
    m_first = MakeWindow(m_instance, m_recorder);
    m_second = MakeWindow(m_instance, m_recorder);
    ASSERT_TRUE(SetThreadMainWindow(m_first));
    EXPECT_EQ(GetThreadMainWindow(), m_first);
    ASSERT_TRUE(SetThreadMainWindow(m_second));
    EXPECT_EQ(GetThreadMainWindow(), m_second) << "the window named last";

    HWND seenElsewhere = reinterpret_cast<HWND>(1);
    BOOL setElsewhere = TRUE;
    std::thread([&] {
        seenElsewhere = GetThreadMainWindow();
        setElsewhere = SetThreadMainWindow(m_first);
    }).join();
    EXPECT_EQ(seenElsewhere, nullptr) << "another thread has none of its own";
    EXPECT_FALSE(setElsewhere) << "a window of another thread cannot be its main window";
    EXPECT_EQ(GetThreadMainWindow(), m_second);

    DestroyWindow(m_second);
    EXPECT_EQ(GetThreadMainWindow(), nullptr) << "a destroyed main window is no main window";
    EXPECT_FALSE(SetThreadMainWindow(m_second));
    EXPECT_TRUE(SetThreadMainWindow(nullptr));
}

} // namespace
