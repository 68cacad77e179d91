// A visible parent window (recording what it receives) for tests of the standard controls, with helpers to
// make controls in it, pump with a deadline and read pixels.
#pragma once

#include "RecordingWindow.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinGdiObjects.h"
#include "platform/win/WinInput.h"

#include <gtest/gtest.h>

#include <vector>

namespace usertest {

// The pixel a COLORREF paints, worked out apart from the layer.
constexpr std::uint32_t PixelOf(COLORREF colour) {
    return 0xFF000000u | (colour & 0xFF) << 16 | (colour >> 8 & 0xFF) << 8 | (colour >> 16 & 0xFF);
}

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_instance = NewInstance();
        ASSERT_NE(RegisterRecordingClass(m_instance), 0);
        m_parent = CreateWindowExW(0, L"TestWnd", L"", WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr,
                                   m_instance, &m_recorder);
        ASSERT_NE(m_parent, nullptr);
    }
    void TearDown() override {
        m_recorder.handler = nullptr;
        ReleaseCapture();
        if (IsWindow(m_parent))
            DestroyWindow(m_parent);
        WinUserTest::PumpPending();
        UnregisterClassW(L"TestWnd", m_instance);
    }

    HWND Control(const wchar_t* className, DWORD style, int id, RECT rect = RECT{10, 10, 110, 40},
                 const wchar_t* text = L"") {
        return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
                               rect.right - rect.left, rect.bottom - rect.top, m_parent,
                               reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(id)), m_instance, nullptr);
    }
    // Everything that is due now is dispatched; the loop is bounded, so a control that keeps posting to
    // itself fails the test instead of hanging it.
    static void Pump() {
        EXPECT_TRUE(WinUserTest::PumpUntil([] { return WinUserTest::PumpPending() == 0; }, 5000));
    }
    static std::uint32_t Pixel(HWND window, LONG x, LONG y) {
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(WinGdiTest::ReadWindowPixels(window, &width, &height, &pixels));
        if (x < 0 || y < 0 || x >= width || y >= height)
            return 0;
        return pixels[static_cast<std::size_t>(y) * width + x];
    }
    // Clicks at (x, y) in the control's client area: button down and up there.
    static void Click(HWND control, LONG x, LONG y) {
        ASSERT_TRUE(WinUserTest::InjectMouse(control, WM_LBUTTONDOWN, x, y, MK_LBUTTON));
        ASSERT_TRUE(WinUserTest::InjectMouse(control, WM_LBUTTONUP, x, y, 0));
        Pump();
    }
    std::vector<Seen> Commands(WORD code) const {
        std::vector<Seen> out;
        for (const Seen& s : m_recorder.Of(WM_COMMAND)) {
            if (HIWORD(s.wParam) == code)
                out.push_back(s);
        }
        return out;
    }

    HINSTANCE m_instance = nullptr;
    Recorder m_recorder;
    HWND m_parent = nullptr;
};

} // namespace usertest
