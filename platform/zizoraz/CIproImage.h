// An image of the canvas library: its pixels, the decoder options kept for the codec it is loaded through,
// and the lock that whoever reads or changes them holds. Shared by the handle that names it and by every
// canvas drawing into it.
#pragma once

#include "IproPixels.h"

#include <mutex>

struct CIproImage {
    explicit CIproImage(IproPixels initial) : pixels(std::move(initial)) {}

    std::mutex lock;
    // The rest is read and changed with the lock held.
    IproPixels pixels;
    LONG usePreview = 0;
    DWORD mode = 1;
};
