#include "IproPngCodec.h"

#include "platform/win/WinBitmaps.h"

#include <png.h>
#include <zlib.h>

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

// A file that does not compress takes its rows, a filter byte each, zlib's stored-block headers (five bytes
// in every 16 KB at most) and the chunks' own bytes.
constexpr std::size_t kRoomPercent = 101;
constexpr std::size_t kRoomSlack = 64 * 1024;
// Compressed bytes handed on at once: fewer, larger data chunks than libpng's default of 8 KB.
constexpr std::size_t kCompressionBuffer = std::size_t{1} << 20;

// What libpng writes is appended to the bytes; a failed append ends the write.
struct Destination {
    std::vector<std::uint8_t>* bytes;
    bool failed;
};

void Append(png_structp png, png_bytep data, std::size_t size) {
    auto* destination = static_cast<Destination*>(png_get_io_ptr(png));
    try {
        destination->bytes->insert(destination->bytes->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        destination->failed = true;
    }
    // Left only once the handler above is done with: libpng leaves through longjmp.
    if (destination->failed)
        png_error(png, "no memory for the file");
}

void Flush(png_structp) {}

[[noreturn]] void Failed(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void Warned(png_structp, png_const_charp) {}

struct WriteStruct {
    png_structp png = nullptr;
    png_infop info = nullptr;
    WriteStruct() {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Failed, Warned);
        if (png)
            info = png_create_info_struct(png);
    }
    ~WriteStruct() { png_destroy_write_struct(&png, info ? &info : nullptr); }
    WriteStruct(const WriteStruct&) = delete;
    WriteStruct& operator=(const WriteStruct&) = delete;
};

// One row of pixel words as the file's samples: R, G, B, and A when the picture is not opaque.
void RowSamples(const std::uint32_t* words, LONG width, bool opaque, std::uint8_t* at) {
    if (opaque) {
        // At full alpha the stored colour is the straight one.
        for (LONG x = 0; x < width; ++x) {
            const std::uint32_t pixel = words[x];
            at[0] = static_cast<std::uint8_t>(pixel >> 16);
            at[1] = static_cast<std::uint8_t>(pixel >> 8);
            at[2] = static_cast<std::uint8_t>(pixel);
            at += 3;
        }
        return;
    }
    for (LONG x = 0; x < width; ++x) {
        const StraightColour colour = Straight(words[x]);
        at[0] = colour.red;
        at[1] = colour.green;
        at[2] = colour.blue;
        at[3] = colour.alpha;
        at += 4;
    }
}

// libpng reports an error by longjmp back here: nothing with a destructor lives in this function.
bool WriteFile(png_structp png, png_infop info, const IproPixels& pixels, bool opaque,
               IproPngCodec::Compression compression, std::uint8_t* row, Destination& destination) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &destination, Append, Flush);
    png_set_compression_buffer_size(png, kCompressionBuffer);
    if (compression == IproPngCodec::Compression::kFast) {
        png_set_compression_level(png, Z_BEST_SPEED);
        png_set_compression_strategy(png, Z_RLE);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(pixels.width), static_cast<png_uint_32>(pixels.height),
                 8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // The colours are sRGB, as every file of the library has said.
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    const std::uint32_t* words = pixels.argb.data();
    for (LONG y = 0; y < pixels.height; ++y, words += pixels.width) {
        RowSamples(words, pixels.width, opaque, row);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

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

bool IproPngCodec::Encode(const IproPixels& pixels, std::vector<std::uint8_t>& out, Compression compression) {
    if (pixels.width < 1 || pixels.height < 1 ||
        pixels.argb.size() !=
            static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height))
        return false;
    const bool opaque =
        std::all_of(pixels.argb.begin(), pixels.argb.end(), [](std::uint32_t p) { return p >> 24 == 0xFF; });
    const std::size_t rowBytes = static_cast<std::size_t>(pixels.width) * (opaque ? 3 : 4);
    std::vector<std::uint8_t> encoded;
    std::unique_ptr<std::uint8_t[]> row;
    try {
        // Room for a file that did not compress at all: only the pages the bytes take are touched, and
        // the file never moves as it grows.
        encoded.reserve(static_cast<std::size_t>(pixels.height) * (rowBytes + 1) * kRoomPercent / 100 +
                        kRoomSlack);
        row.reset(new std::uint8_t[rowBytes]);
    } catch (const std::bad_alloc&) {
        return false;
    }
    WriteStruct owner;
    if (!owner.png || !owner.info)
        return false;
    Destination destination{&encoded, false};
    if (!WriteFile(owner.png, owner.info, pixels, opaque, compression, row.get(), destination) ||
        destination.failed || encoded.empty())
        return false;
    out = std::move(encoded);
    return true;
}
