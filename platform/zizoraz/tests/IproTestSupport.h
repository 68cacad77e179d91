// What the canvas library's tests share: a started library for each test, pixel words from components,
// and direct access to an image's pixels behind its handle.
#pragma once

#include "platform/zizoraz/IproHandles.h"
#include "platform/zizoraz/ZizorazTest.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <gtest/gtest.h>

#include <string>

namespace iprotest {

constexpr std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}
// The same colour packed as the library's callers pass it (red lowest, alpha highest).
constexpr DWORD Packed(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return a << 24 | b << 16 | g << 8 | r;
}

inline IproPixels PixelsOf(IproHandle image) {
    std::shared_ptr<CIproImage> target = IproHandles::FindImage(image);
    if (!target)
        return IproPixels{};
    std::lock_guard<std::mutex> guard(target->lock);
    return target->pixels;
}

inline void SetPixels(IproHandle image, const IproPixels& pixels) {
    std::shared_ptr<CIproImage> target = IproHandles::FindImage(image);
    ASSERT_NE(target, nullptr);
    std::lock_guard<std::mutex> guard(target->lock);
    target->pixels = pixels;
}

// Pixels numbered 1, 2, 3 ... row by row, opaque, each channel a different function of the number.
inline IproPixels Numbered(LONG width, LONG height) {
    IproPixels pixels{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
    for (std::size_t i = 0; i < pixels.argb.size(); ++i)
        pixels.argb[i] = Argb(255, (i + 1) * 40 % 256, (i + 1) * 7 % 256, 255 - (i + 1) % 256);
    return pixels;
}

class Started : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(iproStartup(), 1); }
    void TearDown() override {
        ZizorazTest::SetCallObserver(nullptr);
        ZizorazTest::ResetMaxPixels();
        EXPECT_EQ(iproShutdown(), 1);
        EXPECT_EQ(ZizorazTest::LiveHandles(), 0u) << "the last shutdown releases every handle";
    }

    IproHandle NewImage(LONG width, LONG height) {
        IproHandle image = kIproNoHandle;
        EXPECT_EQ(iproCreateImage(width, height, &image), 1);
        return image;
    }
    IproHandle NewImage(const IproPixels& pixels) {
        IproHandle image = NewImage(pixels.width, pixels.height);
        SetPixels(image, pixels);
        return image;
    }
    IproHandle CanvasOf(IproHandle image) {
        IproHandle canvas = kIproNoHandle;
        EXPECT_EQ(iproCreateCanvasFromImage(image, &canvas), 1);
        return canvas;
    }
};

} // namespace iprotest
