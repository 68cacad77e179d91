// Writes the corpus of a PNG fuzz target with libpng: every colour type at its bit depths, with and without
// transparency chunks and interlacing, ancillary chunks, data split over many chunks, the widest image the
// target's reader takes and one a pixel wider, and damaged copies. Usage:
// png_corpus (bitmap_resource | png_load) <folder>.
#include "platform/quasel/CPravonPngLoad.h"
#include "platform/win/WinSurface.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

enum Extra : unsigned {
    kNone = 0,
    kTransparency = 1, // a tRNS chunk: one grey or colour value, or alphas for half the palette
    kAncillary = 2,    // gAMA, sRGB, pHYs, tEXt and tIME before the data
    kSmallChunks = 4,  // the image data in chunks of a few bytes
};

struct Shape {
    const char* name;
    int type;
    int depth;
    bool interlaced;
    png_uint_32 width, height;
    unsigned extras;
};

int Channels(int type) {
    switch (type) {
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

// A pattern that differs between neighbours and channels; the alpha channel runs from clear to opaque so that
// premultiplying has work to do.
unsigned Sample(png_uint_32 x, png_uint_32 y, int channel, int channels, int type, int depth) {
    const unsigned most = (1u << depth) - 1;
    if ((type & PNG_COLOR_MASK_ALPHA) && channel == channels - 1)
        return ((x + 3 * y) * 41u) % (most + 1);
    return ((x * 37u + y * 91u + static_cast<unsigned>(channel) * 53u) * (depth == 16 ? 257u : 1u)) %
           (most + 1);
}

// The rows packed as the file stores them: samples of less than a byte from the high bits down, 16-bit
// samples with the high byte first.
std::vector<Bytes> Rows(const Shape& shape) {
    const int channels = Channels(shape.type);
    std::vector<Bytes> rows(shape.height);
    for (png_uint_32 y = 0; y < shape.height; ++y) {
        Bytes& row = rows[y];
        const std::size_t bits = std::size_t{shape.width} * channels * shape.depth;
        row.assign((bits + 7) / 8, 0);
        std::size_t bit = 0;
        for (png_uint_32 x = 0; x < shape.width; ++x) {
            for (int c = 0; c < channels; ++c, bit += shape.depth) {
                const unsigned value = Sample(x, y, c, channels, shape.type, shape.depth);
                if (shape.depth == 16) {
                    row[bit / 8] = static_cast<unsigned char>(value >> 8);
                    row[bit / 8 + 1] = static_cast<unsigned char>(value);
                } else if (shape.depth == 8) {
                    row[bit / 8] = static_cast<unsigned char>(value);
                } else {
                    row[bit / 8] |= static_cast<unsigned char>(value << (8 - shape.depth - bit % 8));
                }
            }
        }
    }
    return rows;
}

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

bool Encode(const Shape& shape, Bytes& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<Bytes> rows = Rows(shape);
    std::vector<png_bytep> pointers;
    for (Bytes& row : rows)
        pointers.push_back(row.data());
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    png_text text{};
    char key[] = "Comment", words[] = "a corpus seed";
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, &Append, nullptr);
    png_set_IHDR(png, info, shape.width, shape.height, shape.depth, shape.type,
                 shape.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (shape.type == PNG_COLOR_TYPE_PALETTE) {
        const int entries = 1 << shape.depth;
        for (int i = 0; i < entries; ++i)
            palette.push_back({static_cast<png_byte>(i * 29), static_cast<png_byte>(255 - i * 13),
                               static_cast<png_byte>(i * 71)});
        png_set_PLTE(png, info, palette.data(), entries);
        if (shape.extras & kTransparency) {
            for (int i = 0; i < std::max(1, entries / 2); ++i)
                alphas.push_back(static_cast<png_byte>(i * 255 / std::max(1, entries / 2)));
            png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
        }
    } else if (shape.extras & kTransparency) {
        png_color_16 key16{};
        key16.gray = key16.red = static_cast<png_uint_16>(Sample(1, 0, 0, 1, shape.type, shape.depth));
        key16.green = static_cast<png_uint_16>(Sample(1, 0, 1, 3, shape.type, shape.depth));
        key16.blue = static_cast<png_uint_16>(Sample(1, 0, 2, 3, shape.type, shape.depth));
        png_set_tRNS(png, info, nullptr, 0, &key16);
    }
    if (shape.extras & kAncillary) {
        png_set_gAMA(png, info, 1.0 / 2.2);
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
        png_set_pHYs(png, info, 2835, 2835, PNG_RESOLUTION_METER);
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = key;
        text.text = words;
        png_set_text(png, info, &text, 1);
        png_time time{2004, 2, 29, 12, 0, 0};
        png_set_tIME(png, info, &time);
    }
    if (shape.extras & kSmallChunks) {
        constexpr png_size_t kChunkBytes = 16;
        png_set_compression_buffer_size(png, kChunkBytes);
    }
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool Save(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

// The offset of the first chunk of the type; the size when there is none.
std::size_t FindChunk(const Bytes& file, const char* type) {
    constexpr std::size_t kSignature = 8, kChunkOverhead = 12;
    for (std::size_t at = kSignature; at + kChunkOverhead <= file.size();) {
        const std::size_t length = (std::size_t{file[at]} << 24) | (std::size_t{file[at + 1]} << 16) |
                                   (std::size_t{file[at + 2]} << 8) | file[at + 3];
        if (std::memcmp(&file[at + 4], type, 4) == 0)
            return at;
        at += kChunkOverhead + length;
    }
    return file.size();
}

} // namespace

int main(int argc, char** argv) {
    const std::string target = argc == 3 ? argv[1] : "";
    if (target != "bitmap_resource" && target != "png_load") {
        std::fprintf(stderr, "usage: %s (bitmap_resource | png_load) folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[2];
    std::filesystem::create_directories(out);
    // The widest image the target's reader takes, one row of single bits.
    const png_uint_32 widest = target == "png_load" ? static_cast<png_uint_32>(CPravonPngLoad::kMaxSide)
                                                    : static_cast<png_uint_32>(WinSurface::kMaxSide);
    const Shape shapes[] = {
        {"grey1.png", PNG_COLOR_TYPE_GRAY, 1, false, 13, 5, kNone},
        {"grey2-adam7.png", PNG_COLOR_TYPE_GRAY, 2, true, 7, 9, kNone},
        {"grey4-trns.png", PNG_COLOR_TYPE_GRAY, 4, false, 9, 4, kTransparency},
        {"grey8.png", PNG_COLOR_TYPE_GRAY, 8, false, 16, 9, kAncillary},
        {"grey16-adam7-trns.png", PNG_COLOR_TYPE_GRAY, 16, true, 11, 10, kTransparency},
        {"grey-alpha8.png", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 6, 6, kNone},
        {"grey-alpha16.png", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, 5, 4, kNone},
        {"rgb8-trns.png", PNG_COLOR_TYPE_RGB, 8, false, 8, 8, kTransparency},
        {"rgb16.png", PNG_COLOR_TYPE_RGB, 16, false, 7, 5, kNone},
        {"rgba8.png", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 12, 10, kAncillary},
        {"rgba8-adam7.png", PNG_COLOR_TYPE_RGB_ALPHA, 8, true, 9, 9, kNone},
        {"rgba16.png", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 4, 4, kNone},
        {"palette1.png", PNG_COLOR_TYPE_PALETTE, 1, false, 16, 2, kNone},
        {"palette4-trns.png", PNG_COLOR_TYPE_PALETTE, 4, false, 10, 6, kTransparency},
        {"palette8-adam7-trns.png", PNG_COLOR_TYPE_PALETTE, 8, true, 8, 8, kTransparency},
        {"dot.png", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 1, 1, kNone},
        // More rows than a tile of the fuzz target's images, in many small data chunks.
        {"tall-small-chunks.png", PNG_COLOR_TYPE_RGB, 8, false, 3, 70, kSmallChunks},
        {"widest.png", PNG_COLOR_TYPE_GRAY, 1, false, widest, 1, kNone},
        {"too-wide.png", PNG_COLOR_TYPE_GRAY, 1, false, widest + 1, 1, kNone},
        {"too-high.png", PNG_COLOR_TYPE_GRAY, 1, false, 1, widest + 1, kNone},
    };
    bool ok = true;
    Bytes rgba;
    for (const Shape& shape : shapes) {
        Bytes bytes;
        ok = Encode(shape, bytes) && Save(out / shape.name, bytes) && ok;
        if (std::strcmp(shape.name, "rgba8.png") == 0)
            rgba = bytes;
    }
    // Damaged copies of the RGBA file: cut after its header, cut inside its data, a data byte changed (its
    // chunk's check no longer matches) and the end chunk missing.
    const std::size_t data = FindChunk(rgba, "IDAT");
    const std::size_t end = FindChunk(rgba, "IEND");
    ok = data + 20 < rgba.size() && end < rgba.size() && ok;
    if (ok) {
        Bytes changed = rgba;
        changed[data + 12] ^= 0x40;
        constexpr std::size_t kSignatureAndHeader = 8 + 12 + 13; // the signature and the IHDR chunk
        ok = Save(out / "header-only.png", Bytes(rgba.begin(), rgba.begin() + kSignatureAndHeader)) &&
             Save(out / "cut-in-data.png", Bytes(rgba.begin(), rgba.begin() + data + 20)) &&
             Save(out / "data-check-wrong.png", changed) &&
             Save(out / "no-end.png", Bytes(rgba.begin(), rgba.begin() + end)) && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "a corpus file could not be written\n");
        return 1;
    }
    std::printf("wrote the PNG corpus of %s to %s\n", target.c_str(), out.c_str());
    return 0;
}
