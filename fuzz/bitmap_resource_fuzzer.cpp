// Bitmap resources, read as PNG from the libraries a module loads: a bitmap the reader makes keeps within
// its limits and holds premultiplied pixels, whatever the bytes.
#include "platform/win/WinBitmaps.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::shared_ptr<WinSurface> pixels;
    if (!WinBitmaps::DecodePng(data, size, pixels)) {
        if (pixels)
            std::abort();
        return 0;
    }
    if (!pixels || pixels->width < 1 || pixels->height < 1 || pixels->width > WinSurface::kMaxSide ||
        pixels->height > WinSurface::kMaxSide ||
        pixels->pixels.size() != static_cast<std::size_t>(pixels->width) * pixels->height)
        std::abort();
    for (std::uint32_t pixel : pixels->pixels) {
        const std::uint32_t alpha = pixel >> 24;
        if ((pixel >> 16 & 0xFF) > alpha || (pixel >> 8 & 0xFF) > alpha || (pixel & 0xFF) > alpha)
            std::abort();
    }
    return 0;
}
