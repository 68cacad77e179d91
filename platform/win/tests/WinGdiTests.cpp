#include "RecordingWindow.h"

#include "platform/win/WinGdi.h"

#include <gtest/gtest.h>

#include <vector>

using namespace usertest;

namespace {

class SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_instance = NewInstance();
        ASSERT_NE(RegisterRecordingClass(m_instance), 0);
        m_window = MakeWindow(m_instance, m_recorder);
        ASSERT_NE(m_window, nullptr);
    }
    void TearDown() override {
        if (IsWindow(m_window))
            DestroyWindow(m_window);
        WinUserTest::PumpPending();
        UnregisterClassW(L"TestWnd", m_instance);
    }

    // Writes one pixel through the surface a context draws into.
    static void Put(HDC dc, LONG x, LONG y, std::uint32_t value) {
        std::shared_ptr<WinSurface> surface = WinGdi::SurfaceOfDC(dc);
        ASSERT_NE(surface, nullptr);
        std::lock_guard<std::mutex> guard(surface->lock);
        surface->pixels[static_cast<std::size_t>(y) * surface->width + x] = value;
    }
    std::uint32_t Pixel(LONG x, LONG y) {
        LONG width = 0;
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(WinGdiTest::ReadWindowPixels(m_window, &width, nullptr, &pixels));
        return pixels.at(static_cast<std::size_t>(y) * width + x);
    }

    HINSTANCE m_instance = nullptr;
    Recorder m_recorder;
    HWND m_window = nullptr;
};

TEST_F(SurfaceTest, SurfaceHasTheClientSizeAndStartsTransparent) {
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(m_window, &width, &height, &pixels));
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 50);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(100 * 50, 0u));
}

TEST_F(SurfaceTest, ContextsOfOneWindowShareItsPixels) {
    HDC dc = GetDC(m_window);
    Put(dc, 3, 4, 0xFF112233u);
    EXPECT_EQ(ReleaseDC(m_window, dc), 1);
    EXPECT_EQ(Pixel(3, 4), 0xFF112233u) << "the pixels stay with the window once the context is released";

    InvalidateRect(m_window, nullptr, FALSE);
    PAINTSTRUCT paint{};
    HDC paintDc = BeginPaint(m_window, &paint);
    ASSERT_NE(paintDc, nullptr);
    HDC other = GetDC(m_window);
    EXPECT_EQ(WinGdi::SurfaceOfDC(paintDc), WinGdi::SurfaceOfDC(other));
    ReleaseDC(m_window, other);
    Put(paintDc, 99, 49, 0xFF445566u);
    EndPaint(m_window, &paint);
    EXPECT_EQ(Pixel(99, 49), 0xFF445566u);
    EXPECT_EQ(Pixel(3, 4), 0xFF112233u);
}

TEST_F(SurfaceTest, ResizedWindowGetsANewSurfaceKeepingWhatFits) {
    HDC before = GetDC(m_window);
    Put(before, 10, 10, 0xFFAA0000u);
    Put(before, 90, 40, 0xFF00AA00u);
    ASSERT_TRUE(SetWindowPos(m_window, nullptr, 0, 0, 60, 30, SWP_NOMOVE | SWP_NOZORDER));

    HDC after = GetDC(m_window);
    std::shared_ptr<WinSurface> surface = WinGdi::SurfaceOfDC(after);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->width, 60);
    EXPECT_EQ(surface->height, 30);
    EXPECT_EQ(Pixel(10, 10), 0xFFAA0000u);
    EXPECT_EQ(WinGdi::SurfaceOfDC(before)->width, 100)
        << "an open context keeps the surface it was made with";
    ReleaseDC(m_window, before);
    ReleaseDC(m_window, after);
}

TEST_F(SurfaceTest, ReleasedContextAndGoneWindowHaveNoSurface) {
    HDC dc = GetDC(m_window);
    HDC open = GetDC(m_window);
    ReleaseDC(m_window, dc);
    EXPECT_EQ(WinGdi::SurfaceOfDC(dc), nullptr);
    EXPECT_EQ(WinGdi::SurfaceOfDC(nullptr), nullptr);

    std::shared_ptr<WinSurface> kept = WinGdi::SurfaceOfDC(open);
    DestroyWindow(m_window);
    EXPECT_FALSE(WinGdiTest::ReadWindowPixels(m_window, nullptr, nullptr, nullptr));
    EXPECT_EQ(kept.use_count(), 2) << "the window let its surface go; only the open context holds it";
    EXPECT_EQ(GetDC(m_window), nullptr);
}

TEST_F(SurfaceTest, HugeClientAreaIsDrawnInItsTopLeftPart) {
    ASSERT_TRUE(
        SetWindowPos(m_window, nullptr, 0, 0, WinSurface::kMaxSide + 500, 3, SWP_NOMOVE | SWP_NOZORDER));
    LONG width = 0, height = 0;
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(m_window, &width, &height, nullptr));
    EXPECT_EQ(width, WinSurface::kMaxSide);
    EXPECT_EQ(height, 3);
    ASSERT_TRUE(SetWindowPos(m_window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER));
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(m_window, &width, &height, nullptr));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
}

} // namespace
