#include "IproPixels.h"

#include "ZizorazTest.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace {

std::atomic<std::uint64_t> g_maxPixels{IproLimits::kDefaultMaxPixels};

} // namespace

bool IproLimits::Allowed(std::int64_t width, std::int64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide &&
           static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= g_maxPixels.load();
}

bool IproLimits::MakePixels(std::int64_t width, std::int64_t height, IproPixels& out) {
    if (!Allowed(width, height))
        return false;
    try {
        out.argb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
    } catch (const std::bad_alloc&) {
        return false;
    }
    out.width = static_cast<LONG>(width);
    out.height = static_cast<LONG>(height);
    return true;
}

void ZizorazTest::SetMaxPixels(std::uint64_t pixels) {
    g_maxPixels.store(pixels);
}

void ZizorazTest::ResetMaxPixels() {
    g_maxPixels.store(IproLimits::kDefaultMaxPixels);
}

std::uint32_t Premultiplied(std::uint32_t alpha, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    const auto scale = [alpha](std::uint32_t c) { return (c * alpha + 127) / 255; };
    return alpha << 24 | scale(red) << 16 | scale(green) << 8 | scale(blue);
}

StraightColour Straight(std::uint32_t pixel) {
    const std::uint32_t alpha = pixel >> 24;
    if (alpha == 0)
        return StraightColour{0, 0, 0, 0};
    const auto unscale = [alpha](std::uint32_t c) {
        return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (c * 255 + alpha / 2) / alpha));
    };
    return StraightColour{static_cast<std::uint8_t>(alpha), unscale(pixel >> 16 & 0xFF),
                          unscale(pixel >> 8 & 0xFF), unscale(pixel & 0xFF)};
}
