// The canvas library's image-file readers over hostile bytes. Beyond "no crash, no undefined behaviour":
// an accepted file gives an image within the limits; written as PNG it reads back the same pixels, written
// as JPEG it reads back at the same size; a JPEG decoded at a wanted size is not smaller than it nor
// larger than the file's own size; turning and resizing it keep its sides in step.
#include "platform/zizoraz/IproImageFile.h"
#include "platform/zizoraz/IproJpegCodec.h"
#include "platform/zizoraz/IproResample.h"
#include "platform/zizoraz/ZizorazTest.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Small enough that every input decodes quickly, large enough for every file of the corpus.
constexpr std::uint64_t kFuzzMaxPixels = std::uint64_t{1} << 20;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "image file invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ZizorazTest::SetMaxPixels(kFuzzMaxPixels);
    IproPixels pixels;
    LONG declaredWidth = 0, declaredHeight = 0;
    if (IproJpegCodec::ReadSize(data, size, declaredWidth, declaredHeight)) {
        IproPixels scaled;
        const LONG wantedWidth = (declaredWidth + 2) / 3, wantedHeight = (declaredHeight + 4) / 5;
        if (IproJpegCodec::Decode(data, size, wantedWidth, wantedHeight, scaled) &&
            (scaled.width < wantedWidth || scaled.height < wantedHeight || scaled.width > declaredWidth ||
             scaled.height > declaredHeight))
            Fail("a scaled JPEG is below the wanted size or above its own");
    }
    if (!IproImageFile::Decode(data, size, pixels))
        return 0;
    if (!IproLimits::Allowed(pixels.width, pixels.height) ||
        pixels.argb.size() != static_cast<std::size_t>(pixels.width) * pixels.height)
        Fail("an accepted image is outside the limits");
    for (std::uint32_t pixel : pixels.argb) {
        const std::uint32_t alpha = pixel >> 24;
        if ((pixel >> 16 & 0xFF) > alpha || (pixel >> 8 & 0xFF) > alpha || (pixel & 0xFF) > alpha)
            Fail("a colour exceeds its alpha");
    }

    std::vector<std::uint8_t> png;
    IproPixels again;
    if (!IproImageFile::Encode(pixels, IproImageFile::Format::kPng, {}, png) ||
        !IproImageFile::Decode(png.data(), png.size(), again) || again.width != pixels.width ||
        again.height != pixels.height || again.argb != pixels.argb)
        Fail("a PNG of an accepted image does not read back the same");

    std::vector<std::uint8_t> jpeg;
    if (!IproImageFile::Encode(pixels, IproImageFile::Format::kJpeg, {}, jpeg) ||
        !IproImageFile::Decode(jpeg.data(), jpeg.size(), again) || again.width != pixels.width ||
        again.height != pixels.height)
        Fail("a JPEG of an accepted image does not read back at its size");

    IproPixels turned;
    if (!IproResample::RotateFlip(pixels, 5, turned) || turned.width != pixels.height ||
        turned.height != pixels.width)
        Fail("a quarter turn does not exchange the sides");
    IproPixels halved;
    const LONG width = (pixels.width + 1) / 2, height = (pixels.height + 1) / 2;
    if (!IproResample::Resize(pixels, width, height, halved) || halved.width != width ||
        halved.height != height)
        Fail("a resize does not give the size asked for");
    return 0;
}
