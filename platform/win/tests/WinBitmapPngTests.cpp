// Bitmap resources are PNG files of whatever layout a library carries: every colour type and depth, with
// transparency chunks and interlacing, becomes premultiplied pixels, and sizes beyond the limits are refused.
#include "platform/win/WinBitmaps.h"

#include <gtest/gtest.h>

#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace {

struct PngLayout {
    const char* name;
    int colourType;
    int depth;
    bool interlaced;
    png_uint_32 width, height;
    std::vector<unsigned> samples; // row by row, channel by channel, at the file's depth
    std::vector<png_color> palette{};
    std::vector<png_byte> paletteAlphas{};
    int transparentGrey = -1; // the grey that the tRNS chunk makes clear; none when negative
};

int Channels(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// The file as libpng writes it; its samples packed from the high bit, 16-bit ones big-endian.
std::vector<unsigned char> WritePng(const PngLayout& layout) {
    const std::size_t channels = static_cast<std::size_t>(Channels(layout.colourType));
    const std::size_t rowBits = std::size_t{layout.width} * channels * static_cast<std::size_t>(layout.depth);
    std::vector<std::vector<png_byte>> rows(layout.height, std::vector<png_byte>((rowBits + 7) / 8));
    for (std::size_t i = 0; i < std::size_t{layout.width} * layout.height * channels; ++i) {
        const unsigned value = layout.samples.empty() ? 0 : layout.samples[i % layout.samples.size()];
        std::vector<png_byte>& row = rows[i / (std::size_t{layout.width} * channels)];
        const std::size_t bit = (i % (std::size_t{layout.width} * channels)) * layout.depth;
        for (int b = layout.depth - 1, at = 0; b >= 0; --b, ++at)
            if (value >> b & 1)
                row[(bit + at) / 8] |= static_cast<png_byte>(0x80 >> ((bit + at) % 8));
    }
    std::vector<png_bytep> pointers;
    for (auto& row : rows)
        pointers.push_back(row.data());
    std::vector<unsigned char> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write " << layout.name;
        return {};
    }
    png_set_write_fn(png, &file, &Append, nullptr);
    png_set_IHDR(png, info, layout.width, layout.height, layout.depth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty())
        png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    if (!layout.paletteAlphas.empty())
        png_set_tRNS(png, info, layout.paletteAlphas.data(), static_cast<int>(layout.paletteAlphas.size()),
                     nullptr);
    png_color_16 key{};
    key.gray = static_cast<png_uint_16>(layout.transparentGrey);
    if (layout.transparentGrey >= 0)
        png_set_tRNS(png, info, nullptr, 0, &key);
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}

struct LayoutCase {
    PngLayout layout;
    std::vector<std::uint32_t> pixels; // 0xAARRGGBB, premultiplied, worked by hand
};

TEST(BitmapPng, EveryColourTypeAndDepthBecomesItsPremultipliedPixels) {
    constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyAlpha = PNG_COLOR_TYPE_GRAY_ALPHA;
    constexpr int kRgb = PNG_COLOR_TYPE_RGB, kRgba = PNG_COLOR_TYPE_RGB_ALPHA,
                  kPalette = PNG_COLOR_TYPE_PALETTE;
    // Premultiplied channels round to the nearest: 0x66 at alpha 0x99 is 102 * 153 / 255 = 61.2, 0x3D; 0xFF
    // at 0x80 is 128; 0x40 at 0x80 is 32.1, 0x20.
    const LayoutCase cases[] = {
        {{"grey of 1 bit", kGrey, 1, false, 3, 1, {0, 1, 0}}, {0xFF000000, 0xFFFFFFFF, 0xFF000000}},
        {{"grey of 4 bits", kGrey, 4, false, 2, 1, {0x0, 0xF}}, {0xFF000000, 0xFFFFFFFF}},
        {{"grey of 8 bits, one grey clear", kGrey, 8, false, 3, 1, {0x40, 0x80, 0x40}, {}, {}, 0x40},
         {0x00000000, 0xFF808080, 0x00000000}},
        {{"grey of 16 bits", kGrey, 16, false, 2, 1, {0, 0xFFFF}}, {0xFF000000, 0xFFFFFFFF}},
        {{"grey with alpha", kGreyAlpha, 8, false, 3, 1, {0x66, 0x99, 0xFF, 0x00, 0x12, 0xFF}},
         {0x993D3D3D, 0x00000000, 0xFF121212}},
        {{"RGB of 16 bits", kRgb, 16, false, 2, 1, {0xFFFF, 0, 0, 0, 0, 0xFFFF}}, {0xFFFF0000, 0xFF0000FF}},
        {{"palette of 2 bits, three entries with alphas",
          kPalette,
          2,
          false,
          4,
          1,
          {0, 1, 2, 3},
          {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}},
          {255, 0x80, 0}},
         {0xFFFF0000, 0x80008000, 0x00000000, 0xFF0A141E}},
        {{"RGBA interlaced", kRgba, 8, true, 3, 3, {10, 20, 30, 255, 40,   50, 60,   255,  70, 80, 90, 255,
                                                    1,  2,  3,  255, 0xFF, 0,  0x40, 0x80, 4,  5,  6,  255,
                                                    7,  8,  9,  255, 11,   12, 13,   255,  14, 15, 16, 0}},
         {0xFF0A141E, 0xFF28323C, 0xFF46505A, 0xFF010203, 0x80800020, 0xFF040506, 0xFF070809, 0xFF0B0C0D,
          0x00000000}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.layout.name);
        const std::vector<unsigned char> file = WritePng(c.layout);
        std::shared_ptr<WinSurface> surface;
        ASSERT_TRUE(WinBitmaps::DecodePng(file.data(), file.size(), surface));
        ASSERT_NE(surface, nullptr);
        EXPECT_EQ(surface->width, static_cast<LONG>(c.layout.width));
        EXPECT_EQ(surface->height, static_cast<LONG>(c.layout.height));
        EXPECT_EQ(surface->pixels, c.pixels);
    }
}

TEST(BitmapPng, SidesAndPixelCountsBeyondTheLimitsAreRefused) {
    constexpr png_uint_32 kSide = static_cast<png_uint_32>(WinSurface::kMaxSide);
    // Sides within the limits whose product is not: 4097 * 4097 is over 16 << 20 pixels.
    constexpr png_uint_32 kOverCount = 4097;
    const struct {
        png_uint_32 width, height;
        bool reads;
    } sizes[] = {
        {kSide, 1, true},
        {1, kSide, true},
        {kSide + 1, 1, false},
        {1, kSide + 1, false},
        {kOverCount, kOverCount, false},
    };
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        const std::vector<unsigned char> file =
            WritePng({"a one-bit picture", PNG_COLOR_TYPE_GRAY, 1, false, size.width, size.height, {1}});
        std::shared_ptr<WinSurface> surface;
        EXPECT_EQ(WinBitmaps::DecodePng(file.data(), file.size(), surface), size.reads);
        EXPECT_EQ(surface != nullptr, size.reads);
    }
}

// A chunk that states more bytes than the resource holds is refused before libpng makes room for it: a text
// chunk claiming about 1.6 GB in a picture of under a hundred bytes.
TEST(BitmapPng, AChunkLongerThanTheResourceIsRefused) {
    std::vector<unsigned char> file =
        WritePng({"a one-bit picture", PNG_COLOR_TYPE_GRAY, 1, false, 16, 9, {1}});
    std::shared_ptr<WinSurface> surface;
    ASSERT_TRUE(WinBitmaps::DecodePng(file.data(), file.size(), surface));
    // After the signature (8 bytes) and the header chunk (12 + 13 bytes) comes the stated text chunk.
    constexpr std::size_t kAfterHeader = 8 + 12 + 13;
    const unsigned char claim[] = {0x62, 0x00, 0x00, 0x15, 't', 'E', 'X', 't'};
    file.insert(file.begin() + kAfterHeader, std::begin(claim), std::end(claim));
    EXPECT_FALSE(WinBitmaps::DecodePng(file.data(), file.size(), surface));
    EXPECT_EQ(surface, nullptr);
    // Refused before any room is made: a child process that reads it grows by far less than the claim.
    constexpr long kMostKilobytes = 256 * 1024;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::shared_ptr<WinSurface> read;
        WinBitmaps::DecodePng(file.data(), file.size(), read);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        _exit(usage.ru_maxrss < kMostKilobytes ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the reader made room for the chunk's claim";
}

} // namespace
