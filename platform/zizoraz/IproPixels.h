// The pixels of one image as the canvas library keeps them: width x height 32-bit words, row after row,
// each A << 24 | R << 16 | G << 8 | B with the colours premultiplied by alpha (cairo's ARGB32 layout on
// this little-endian target), and the limits every image of the library stays within.
#pragma once

#include "platform/win/wintypes.h"

#include <bit>
#include <cstdint>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the pixel words are read as B, G, R, A bytes");

struct IproPixels {
    LONG width = 0;
    LONG height = 0;
    std::vector<std::uint32_t> argb;

    std::uint32_t& At(LONG x, LONG y) { return argb[static_cast<std::size_t>(y) * width + x]; }
    std::uint32_t At(LONG x, LONG y) const { return argb[static_cast<std::size_t>(y) * width + x]; }
};

namespace IproLimits {

// cairo draws into nothing larger on either side.
constexpr LONG kMaxSide = 32767;
constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{64} << 20;

// True for sides of 1 .. kMaxSide whose product is within the pixel cap.
bool Allowed(std::int64_t width, std::int64_t height);
// Transparent black pixels of an allowed size; false (out untouched) for any other size or when memory
// lacks.
bool MakePixels(std::int64_t width, std::int64_t height, IproPixels& out);

} // namespace IproLimits

// One pixel word from straight (not premultiplied) components, and back. A pixel without alpha has no
// colour left.
std::uint32_t Premultiplied(std::uint32_t alpha, std::uint32_t red, std::uint32_t green, std::uint32_t blue);
struct StraightColour {
    std::uint8_t alpha, red, green, blue;
};
StraightColour Straight(std::uint32_t pixel);
