// The pixels behind a window, which its device contexts (and canvases made from them) draw into: 32-bit
// ARGB words with premultiplied alpha in native byte order, rows one after another without padding, the
// layout the canvas library draws in.
#pragma once

#include "wintypes.h"

#include <cstdint>
#include <mutex>
#include <vector>

struct WinSurface {
    // Neither side of a surface exceeds this: a larger client area is drawn only in its top-left part.
    static constexpr LONG kMaxSide = 8192;

    // Transparent black, of the size given (clamped to 0 .. kMaxSide on each side).
    WinSurface(LONG requestedWidth, LONG requestedHeight);

    const LONG width;
    const LONG height;
    // Held by whoever reads or changes the pixels.
    std::mutex lock;
    std::vector<std::uint32_t> pixels;
};
