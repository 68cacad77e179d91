// A visible framework window for the control wrapper tests, with real control windows made in it, a pump
// with a deadline and the pixels of a window.
#pragma once

#include "plugin_framework/TControl.h"
#include "plugin_framework/TWindow.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinInput.h"
#include "platform/win/WinSeams.h"

#include <gtest/gtest.h>

#include <vector>

namespace controltest {

// Wrappers are reference counted and go with their last reference.
template <class T>
TRefPtr<T> Make() {
    return TRefPtr<T>::Adopt(new T);
}

constexpr std::uint32_t PixelOf(COLORREF colour) {
    return 0xFF000000u | (colour & 0xFF) << 16 | (colour >> 8 & 0xFF) << 8 | (colour >> 16 & 0xFF);
}

class ControlPanel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_panel.Create(L"ControlTestPanel", WS_VISIBLE, TWindow::TRect(0, 0, 320, 240), nullptr));
    }
    void TearDown() override {
        ReleaseCapture();
        m_panel.Destroy();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }

    HWND Control(const wchar_t* className, DWORD style, int id, RECT rect = RECT{10, 10, 110, 40},
                 const wchar_t* text = L"") {
        return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
                               rect.right - rect.left, rect.bottom - rect.top, m_panel.GetHandle(),
                               reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(id)), nullptr, nullptr);
    }
    static void Pump() {
        EXPECT_TRUE(WinUserTest::PumpUntil([] { return WinUserTest::PumpPending() == 0; }, 5000));
    }
    static std::vector<std::uint32_t> Pixels(HWND window, LONG& width) {
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(WinGdiTest::ReadWindowPixels(window, &width, nullptr, &pixels));
        return pixels;
    }
    static std::uint32_t Pixel(HWND window, LONG x, LONG y) {
        LONG width = 0;
        const std::vector<std::uint32_t> pixels = Pixels(window, width);
        const std::size_t at = static_cast<std::size_t>(y) * width + x;
        return at < pixels.size() ? pixels[at] : 0;
    }
    static void Inject(HWND window, UINT message, LONG x, LONG y, WPARAM keys = 0) {
        ASSERT_TRUE(WinUserTest::InjectMouse(window, message, x, y, keys));
        Pump();
    }

    TWindow m_panel;
};

// Counts the calls of a handler, remembers what it was told, and answers as it is told to.
struct Probe {
    int calls = 0;
    TMessageInfo last{};
    LONG answer = 0;
    TMessageHandler Handler() {
        return TMessageHandler{this, [](TMessageInfo* info, void* context) -> LONG {
                                   auto* probe = static_cast<Probe*>(context);
                                   ++probe->calls;
                                   probe->last = *info;
                                   return probe->answer;
                               }};
    }
};

} // namespace controltest
