#include "WinBitmaps.h"

#include "WinGdiInternal.h"
#include "WinResources.h"

#include <png.h>

#include <cstring>
#include <new>

namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint64_t kMaxPixels = 16u << 20;

// Whatever libpng holds for the image goes on every path.
struct PngReading {
    png_image image{};
    PngReading() { image.version = PNG_IMAGE_VERSION; }
    ~PngReading() { png_image_free(&image); }
    PngReading(const PngReading&) = delete;
    PngReading& operator=(const PngReading&) = delete;
};

std::uint32_t Premultiplied(std::uint32_t straight) {
    const std::uint32_t alpha = straight >> 24;
    if (alpha == 0xFF)
        return straight;
    std::uint32_t out = alpha << 24;
    for (int shift = 0; shift < 24; shift += 8)
        out |= (((straight >> shift & 0xFF) * alpha + 127) / 255) << shift;
    return out;
}

// A chunk is its length and type (4 bytes each), its data and a checksum (4 bytes).
constexpr std::size_t kChunkFrame = 12;

} // namespace

// A text chunk claiming more than a gigabyte in a resource of two hundred bytes would otherwise cost that much
// memory and seconds of clearing before the read fails.
bool WinBitmaps::PngChunksFitIn(const unsigned char* data, std::size_t size) {
    if (!data || size < sizeof kPngSignature)
        return false;
    std::size_t at = sizeof kPngSignature;
    while (size - at >= kChunkFrame) {
        const std::size_t length = std::size_t{data[at]} << 24 | std::size_t{data[at + 1]} << 16 |
                                   std::size_t{data[at + 2]} << 8 | data[at + 3];
        if (length > size - at - kChunkFrame)
            return false;
        if (std::memcmp(data + at + 4, "IEND", 4) == 0)
            return true;
        at += kChunkFrame + length;
    }
    // The bytes end without the end chunk: libpng refuses what it cannot read.
    return true;
}

bool WinBitmaps::DecodePng(const unsigned char* data, std::size_t size, std::shared_ptr<WinSurface>& pixels) {
    pixels.reset();
    if (!data || size < sizeof kPngSignature || std::memcmp(data, kPngSignature, sizeof kPngSignature) != 0)
        return false;
    if (!PngChunksFitIn(data, size))
        return false;
    PngReading reading;
    png_image& image = reading.image;
    if (!png_image_begin_read_from_memory(&image, data, size))
        return false;
    if (image.width < 1 || image.height < 1 || image.width > static_cast<png_uint_32>(WinSurface::kMaxSide) ||
        image.height > static_cast<png_uint_32>(WinSurface::kMaxSide) ||
        static_cast<std::uint64_t>(image.width) * image.height > kMaxPixels)
        return false;
    std::shared_ptr<WinSurface> decoded;
    try {
        decoded =
            std::make_shared<WinSurface>(static_cast<LONG>(image.width), static_cast<LONG>(image.height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Native-endian ARGB words are BGRA bytes on this little-endian target.
    image.format = PNG_FORMAT_BGRA;
    if (!png_image_finish_read(&image, nullptr, decoded->pixels.data(), 0, nullptr) ||
        PNG_IMAGE_FAILED(image))
        return false;
    for (std::uint32_t& pixel : decoded->pixels)
        pixel = Premultiplied(pixel);
    pixels = std::move(decoded);
    return true;
}

HBITMAP LoadBitmapA(HINSTANCE instance, const char* name) {
    if (!IS_INTRESOURCE(name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
    HRSRC resource = id ? FindResourceW(instance, MAKEINTRESOURCEW(id), RT_BITMAP) : nullptr;
    if (!resource) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(instance, resource)));
    std::shared_ptr<WinSurface> pixels;
    if (!WinBitmaps::DecodePng(bytes, SizeofResource(instance, resource), pixels)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    HBITMAP bitmap = static_cast<HBITMAP>(WinGdi::CreateBitmapObject(std::move(pixels)));
    if (!bitmap)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return bitmap;
}

bool WinGdiTest::ReadBitmapPixels(HBITMAP bitmap, LONG* width, LONG* height,
                                  std::vector<std::uint32_t>* pixels) {
    return WinGdi::CopySurface(WinGdi::BitmapPixelsOf(bitmap), width, height, pixels);
}
