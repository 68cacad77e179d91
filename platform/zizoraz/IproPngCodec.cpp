#include "IproPngCodec.h"

#include "platform/win/WinBitmaps.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Frees what libpng holds for the image on every path.
struct ImageOwner {
    png_image image{};
    ImageOwner() { image.version = PNG_IMAGE_VERSION; }
    ~ImageOwner() { png_image_free(&image); }
    ImageOwner(const ImageOwner&) = delete;
    ImageOwner& operator=(const ImageOwner&) = delete;
};

} // namespace

bool IproPngCodec::HasSignature(const std::uint8_t* data, std::size_t size) {
    return data && size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

bool IproPngCodec::Decode(const std::uint8_t* data, std::size_t size, IproPixels& out) {
    if (!HasSignature(data, size))
        return false;
    if (!WinBitmaps::PngChunksFitIn(data, size))
        return false;
    ImageOwner owner;
    png_image& image = owner.image;
    if (!png_image_begin_read_from_memory(&image, data, size))
        return false;
    IproPixels pixels;
    if (!IproLimits::MakePixels(image.width, image.height, pixels))
        return false;
    image.format = PNG_FORMAT_BGRA;
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    if (!png_image_finish_read(&image, nullptr, pixels.argb.data(), 0, nullptr) || PNG_IMAGE_FAILED(image))
        return false;
    for (std::uint32_t& pixel : pixels.argb)
        pixel = Premultiplied(pixel >> 24, pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF);
    out = std::move(pixels);
    return true;
}

bool IproPngCodec::Encode(const IproPixels& pixels, std::vector<std::uint8_t>& out) {
    if (pixels.width < 1 || pixels.height < 1)
        return false;
    const bool opaque =
        std::all_of(pixels.argb.begin(), pixels.argb.end(), [](std::uint32_t p) { return p >> 24 == 0xFF; });
    const std::size_t channels = opaque ? 3 : 4;
    std::vector<std::uint8_t> encoded;
    try {
        // Every byte is written below, so the samples are not cleared first.
        const std::unique_ptr<std::uint8_t[]> samples(new std::uint8_t[pixels.argb.size() * channels]);
        std::uint8_t* at = samples.get();
        if (opaque) {
            // At full alpha the stored colour is the straight one.
            for (std::uint32_t pixel : pixels.argb) {
                at[0] = static_cast<std::uint8_t>(pixel);
                at[1] = static_cast<std::uint8_t>(pixel >> 8);
                at[2] = static_cast<std::uint8_t>(pixel >> 16);
                at += 3;
            }
        } else {
            for (std::uint32_t pixel : pixels.argb) {
                const StraightColour colour = Straight(pixel);
                at[0] = colour.blue;
                at[1] = colour.green;
                at[2] = colour.red;
                at[3] = colour.alpha;
                at += 4;
            }
        }
        ImageOwner owner;
        png_image& image = owner.image;
        image.width = static_cast<png_uint_32>(pixels.width);
        image.height = static_cast<png_uint_32>(pixels.height);
        image.format = opaque ? PNG_FORMAT_BGR : PNG_FORMAT_BGRA;
        // One compression into room for the worst case (left uninitialised, so that only the pages the
        // file takes are touched); asking libpng for the size first would compress the page twice.
        const png_alloc_size_t bound = PNG_IMAGE_PNG_SIZE_MAX(image);
        png_alloc_size_t size = bound;
        std::unique_ptr<png_byte[]> room(new png_byte[size]);
        if (!png_image_write_to_memory(&image, room.get(), &size, 0, samples.get(), 0, nullptr)) {
            // A compressor that needs more than the bound says how much: once more with that.
            if (size <= bound)
                return false;
            room.reset(new png_byte[size]);
            if (!png_image_write_to_memory(&image, room.get(), &size, 0, samples.get(), 0, nullptr))
                return false;
        }
        if (size == 0)
            return false;
        encoded.assign(room.get(), room.get() + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    out = std::move(encoded);
    return true;
}
