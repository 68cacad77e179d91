#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CKvRawSampleFile.h"
#include "platform/quasel/CKvRawSampleLoad.h"
#include "platform/quasel/CPravonPngLoad.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <array>
#include <functional>

namespace {

using namespace kvtest;

// A sample of the file's own depth at a pixel and channel, different almost everywhere.
ULONG FileSample(LONG x, LONG y, int channel, int depth) {
    const ULONG mix = static_cast<ULONG>(x * 7 + y * 13 + channel * 61) * 2654435761u;
    return (mix >> 8) & ((1u << depth) - 1);
}

struct PngFile {
    int colorType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlaced = false;
    LONG width = 9;
    LONG height = 13;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    bool transparentColour = false;
    png_color_16 transparent{};
};

int ChannelsOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

// The file's rows as PNG stores them: samples packed from the high bit, 16-bit samples big-endian.
std::vector<std::vector<png_byte>> FileRows(const PngFile& file) {
    const int channels = ChannelsOf(file.colorType);
    std::vector<std::vector<png_byte>> rows(static_cast<std::size_t>(file.height));
    for (LONG y = 0; y < file.height; ++y) {
        std::vector<png_byte>& row = rows[static_cast<std::size_t>(y)];
        row.assign((static_cast<std::size_t>(file.width) * channels * file.depth + 7) / 8, 0);
        std::size_t bit = 0;
        for (LONG x = 0; x < file.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                ULONG value = FileSample(x, y, c, file.depth);
                if (file.colorType == PNG_COLOR_TYPE_PALETTE)
                    value %= static_cast<ULONG>(file.palette.size());
                for (int b = file.depth - 1; b >= 0; --b, ++bit) {
                    if (value >> b & 1)
                        row[bit / 8] |= static_cast<png_byte>(0x80 >> (bit % 8));
                }
            }
        }
    }
    return rows;
}

void Append(png_structp png, png_bytep data, std::size_t size) {
    auto* out = static_cast<std::vector<BYTE>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
void Flush(png_structp) {}

bool WriteWith(png_structp png, png_infop info, const PngFile& file, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(file.width), static_cast<png_uint_32>(file.height),
                 file.depth, file.colorType, file.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!file.palette.empty())
        png_set_PLTE(png, info, file.palette.data(), static_cast<int>(file.palette.size()));
    if (!file.paletteAlpha.empty())
        png_set_tRNS(png, info, file.paletteAlpha.data(), static_cast<int>(file.paletteAlpha.size()),
                     nullptr);
    if (file.transparentColour)
        png_set_tRNS(png, info, nullptr, 0, &file.transparent);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

// The file as libpng itself writes it.
std::vector<BYTE> Encode(const PngFile& file) {
    std::vector<std::vector<png_byte>> rows = FileRows(file);
    std::vector<png_bytep> pointers;
    for (auto& row : rows)
        pointers.push_back(row.data());
    std::vector<BYTE> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, &Append, &Flush);
    const bool written = WriteWith(png, info, file, pointers.data());
    png_destroy_write_struct(&png, &info);
    EXPECT_TRUE(written);
    return out;
}

// What the loader must give for a pixel: the channels of the class comment, in its order.
std::vector<ULONG> Expected(const PngFile& file, LONG x, LONG y) {
    const int depth = file.depth;
    auto sample = [&](int c) { return FileSample(x, y, c, depth); };
    auto eight = [&](ULONG v) { return depth >= 8 ? v : v * 255 / ((1u << depth) - 1); };
    const ULONG opaque = depth == 16 ? 0xFFFF : 0xFF;
    switch (file.colorType) {
    case PNG_COLOR_TYPE_GRAY: {
        const ULONG v = sample(0);
        if (file.transparentColour)
            return {v == file.transparent.gray ? 0u : opaque, eight(v), eight(v), eight(v)};
        return {eight(v)};
    }
    case PNG_COLOR_TYPE_PALETTE: {
        const ULONG index = sample(0) % static_cast<ULONG>(file.palette.size());
        const png_color& colour = file.palette[index];
        if (file.paletteAlpha.empty())
            return {colour.red, colour.green, colour.blue};
        const ULONG alpha = index < file.paletteAlpha.size() ? file.paletteAlpha[index] : 255u;
        return {alpha, colour.red, colour.green, colour.blue};
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return {sample(1), sample(0), sample(0), sample(0)};
    case PNG_COLOR_TYPE_RGB:
        if (file.transparentColour) {
            const bool clear = sample(0) == file.transparent.red && sample(1) == file.transparent.green &&
                               sample(2) == file.transparent.blue;
            return {clear ? 0u : opaque, sample(0), sample(1), sample(2)};
        }
        return {sample(0), sample(1), sample(2)};
    default:
        return {sample(3), sample(0), sample(1), sample(2)};
    }
}

PravonFileStreamPtr OpenStream(const std::string& path) {
    IPravonFileStream* raw = nullptr;
    EXPECT_PV_OK(IPravonFileStream::CreateFileStream(&raw));
    PravonFileStreamPtr stream(raw);
    EXPECT_PV_OK(stream->Open(PravonFile{path}, IPravonFileStream::kRead));
    return stream;
}

struct Loaded {
    PravonLoadPtr load;
    PravonTagControlPtr tags;
    PravonImagePtr image;
    int steps = 0;
};

// Opens the file through the factory, then begins and steps the load to its end or its first error.
IPravonError* Load(CPravonMemoryManager& manager, const std::string& path, Loaded& out) {
    PravonFileStreamPtr stream = OpenStream(path);
    IPravonLoad* load = nullptr;
    if (IPravonError* e = IPravonLoad::CreateLoad(stream.get(), &load))
        return e;
    out.load.reset(load);
    out.tags.reset(new CPravonTagControl());
    if (IPravonError* e = out.load->Open(stream.get(), out.tags.get()))
        return e;
    IPravonImage* image = nullptr;
    if (IPravonError* e = manager.CreateImage(0, &image))
        return e;
    out.image.reset(image);
    if (IPravonError* e = out.load->Begin(image))
        return e;
    while (!out.load->IsComplete()) {
        if (IPravonError* e = out.load->Step())
            return e;
        ++out.steps;
    }
    return nullptr;
}

PngFile Palette(bool alpha) {
    PngFile file;
    file.colorType = PNG_COLOR_TYPE_PALETTE;
    file.palette = {{10, 20, 30}, {200, 100, 0}, {0, 255, 7}, {1, 2, 3}, {250, 251, 252}};
    if (alpha)
        file.paletteAlpha = {0, 128, 255};
    return file;
}

PngFile Of(int colorType, int depth, bool interlaced = false) {
    PngFile file;
    file.colorType = colorType;
    file.depth = depth;
    file.interlaced = interlaced;
    return file;
}

TEST(PngLoad, EveryColourTypeAndDepthLoadsWithItsSamplesInTheLoadersLayout) {
    PngFile greyKey = Of(PNG_COLOR_TYPE_GRAY, 8);
    greyKey.transparentColour = true;
    greyKey.transparent.gray = static_cast<png_uint_16>(FileSample(2, 3, 0, 8));
    PngFile rgbKey = Of(PNG_COLOR_TYPE_RGB, 16);
    rgbKey.transparentColour = true;
    rgbKey.transparent.red = static_cast<png_uint_16>(FileSample(4, 5, 0, 16));
    rgbKey.transparent.green = static_cast<png_uint_16>(FileSample(4, 5, 1, 16));
    rgbKey.transparent.blue = static_cast<png_uint_16>(FileSample(4, 5, 2, 16));
    const struct {
        const char* name;
        PngFile file;
        LONG colorSpace;
    } cases[] = {
        {"grey 1", Of(PNG_COLOR_TYPE_GRAY, 1), PravonColorSpace::kGrey8},
        {"grey 2", Of(PNG_COLOR_TYPE_GRAY, 2), PravonColorSpace::kGrey8},
        {"grey 4", Of(PNG_COLOR_TYPE_GRAY, 4), PravonColorSpace::kGrey8},
        {"grey 8", Of(PNG_COLOR_TYPE_GRAY, 8), PravonColorSpace::kGrey8},
        {"grey 16", Of(PNG_COLOR_TYPE_GRAY, 16), PravonColorSpace::kGrey16},
        {"grey 8 with a transparent grey", greyKey, CPravonPngLoad::kAlphaRgb8},
        {"grey and alpha 8", Of(PNG_COLOR_TYPE_GRAY_ALPHA, 8), CPravonPngLoad::kAlphaRgb8},
        {"grey and alpha 16", Of(PNG_COLOR_TYPE_GRAY_ALPHA, 16), CPravonPngLoad::kAlphaRgb16},
        {"palette", Palette(false), PravonColorSpace::kRGB8},
        {"palette with alpha", Palette(true), CPravonPngLoad::kAlphaRgb8},
        {"RGB 8", Of(PNG_COLOR_TYPE_RGB, 8), PravonColorSpace::kRGB8},
        {"RGB 16", Of(PNG_COLOR_TYPE_RGB, 16), PravonColorSpace::kRGB16},
        {"RGB 16 with a transparent colour", rgbKey, CPravonPngLoad::kAlphaRgb16},
        {"RGBA 8", Of(PNG_COLOR_TYPE_RGB_ALPHA, 8), CPravonPngLoad::kAlphaRgb8},
        {"RGBA 16", Of(PNG_COLOR_TYPE_RGB_ALPHA, 16), CPravonPngLoad::kAlphaRgb16},
        {"RGB 8 interlaced", Of(PNG_COLOR_TYPE_RGB, 8, true), PravonColorSpace::kRGB8},
        {"RGBA 16 interlaced", Of(PNG_COLOR_TYPE_RGB_ALPHA, 16, true), CPravonPngLoad::kAlphaRgb16},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CPravonMemoryManager manager(4);
        Loaded loaded;
        ASSERT_PV_OK(Load(manager, folder.Write("in.png", Encode(c.file)), loaded));
        EXPECT_EQ(loaded.steps, 4) << "13 rows in tiles of 4";
        LONG colorSpace = 0, width = 0, height = 0;
        ASSERT_PV_OK(loaded.image->GetColorSpace(&colorSpace));
        ASSERT_PV_OK(loaded.image->GetSize(&width, &height));
        EXPECT_EQ(colorSpace, c.colorSpace);
        EXPECT_EQ(width, c.file.width);
        EXPECT_EQ(height, c.file.height);
        int wrong = 0;
        for (LONG y = 0; y < c.file.height; ++y) {
            for (LONG x = 0; x < c.file.width; ++x) {
                PravonPixel pixel;
                ASSERT_PV_OK(loaded.image->GetPixel(x, y, &pixel));
                const std::vector<ULONG> expected = Expected(c.file, x, y);
                ASSERT_EQ(pixel.channels, static_cast<LONG>(expected.size()));
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    if (pixel.sample[i] != expected[i] && wrong++ < 3)
                        ADD_FAILURE() << "pixel " << x << "," << y << " channel " << i << ": "
                                      << pixel.sample[i] << " instead of " << expected[i];
                }
            }
        }
    }
}

TEST(PngLoad, TheTagControlGetsTheSourceSizeAndColourSpace) {
    TempFolder folder;
    CPravonMemoryManager manager;
    Loaded loaded;
    ASSERT_PV_OK(Load(manager, folder.Write("in.png", Encode(Of(PNG_COLOR_TYPE_RGB_ALPHA, 8))), loaded));
    const std::array<std::pair<ULONG, LONG>, 3> tags = {
        {{0x10000, 9}, {0x10001, 13}, {0x10002, CPravonPngLoad::kAlphaRgb8}}};
    for (const auto& [tag, value] : tags) {
        LONG read = 0;
        ASSERT_PV_OK(loaded.tags->ReadTag(tag, 4, sizeof(read), &read));
        EXPECT_EQ(read, value) << tag;
    }
}

TEST(PngLoad, TheFactoryPicksTheLoaderByTheFilesFirstBytesAndLeavesTheStreamAtItsStart) {
    TempFolder folder;
    CKvRawSampleFile::Content raw;
    raw.width = 2;
    raw.height = 2;
    raw.samples = {1, 2, 3, 4};
    const std::string rawPath = folder.File("in.kvraw");
    {
        IPravonFileStream* out = nullptr;
        ASSERT_PV_OK(IPravonFileStream::CreateFileStream(&out));
        PravonFileStreamPtr owned(out);
        ASSERT_PV_OK(out->Open(PravonFile{rawPath}, IPravonFileStream::kWrite));
        ASSERT_PV_OK(CKvRawSampleFile::Write(out, raw));
    }
    const struct {
        std::string path;
        bool png;
    } files[] = {
        {folder.Write("in.png", Encode(Of(PNG_COLOR_TYPE_GRAY, 8))), true},
        {rawPath, false},
        {folder.Write("short.bin", std::vector<std::uint8_t>{0x89, 'P', 'N'}), false},
        {folder.Write("empty.bin", std::vector<std::uint8_t>{}), false},
    };
    for (const auto& f : files) {
        PravonFileStreamPtr stream = OpenStream(f.path);
        IPravonLoad* load = nullptr;
        ASSERT_PV_OK(IPravonLoad::CreateLoad(stream.get(), &load)) << f.path;
        PravonLoadPtr owned(load);
        EXPECT_EQ(dynamic_cast<CPravonPngLoad*>(load) != nullptr, f.png) << f.path;
        EXPECT_EQ(dynamic_cast<CKvRawSampleLoad*>(load) != nullptr, !f.png) << f.path;
        ULONGLONG at = 1;
        ASSERT_PV_OK(stream->GetPosition(&at));
        EXPECT_EQ(at, 0u);
    }
    IPravonLoad* none = nullptr;
    EXPECT_PV_KIND(IPravonLoad::CreateLoad(nullptr, &none), PravonKind::kBadArgument);
}

TEST(PngLoad, EveryCutShortFileFailsAndARefusedOneLeavesTheTagControlAlone) {
    TempFolder folder;
    const std::vector<BYTE> whole = Encode(Of(PNG_COLOR_TYPE_RGB, 8, false));
    const std::vector<BYTE> interlaced = Encode(Of(PNG_COLOR_TYPE_RGB, 8, true));
    for (const std::vector<BYTE>* bytes : {&whole, &interlaced}) {
        for (std::size_t length = 0; length + 12 < bytes->size(); ++length) {
            // The last 12 bytes are the end chunk, which the loader does not need.
            const std::string path =
                folder.Write("cut.png", std::vector<std::uint8_t>(bytes->begin(), bytes->begin() + length));
            PravonFileStreamPtr stream = OpenStream(path);
            PravonLoadPtr load(new CPravonPngLoad());
            auto tags = PravonTagControlPtr(new CPravonTagControl());
            IPravonError* opened = load->Open(stream.get(), tags.get());
            if (opened) {
                EXPECT_TRUE(FailedWithKind(opened, PravonKind::kMissingInput)) << length;
                EXPECT_EQ(static_cast<CPravonTagControl*>(tags.get())->GetTagCount(), 0u) << length;
                continue;
            }
            CPravonMemoryManager manager(4);
            IPravonImage* image = nullptr;
            ASSERT_PV_OK(manager.CreateImage(0, &image));
            PravonImagePtr owned(image);
            ASSERT_PV_OK(load->Begin(image));
            IPravonError* failed = nullptr;
            while (!failed && !load->IsComplete())
                failed = load->Step();
            ASSERT_TRUE(FailedWithKind(failed, PravonKind::kMissingInput)) << length;
            EXPECT_PV_KIND(load->Step(), PravonKind::kInvalidState) << "no step after a failed one";
        }
    }
}

TEST(PngLoad, DamagedImageDataFailsItsStep) {
    TempFolder folder;
    std::vector<BYTE> bytes = Encode(Of(PNG_COLOR_TYPE_RGB, 8));
    // The first IDAT chunk's data starts 8 bytes after its length word (signature 8, IHDR 25).
    const std::size_t data = 8 + 25 + 8;
    ASSERT_EQ(std::string(bytes.begin() + data - 4, bytes.begin() + data), "IDAT");
    for (std::size_t i = data; i < data + 16; ++i)
        bytes[i] ^= 0x5A;
    CPravonMemoryManager manager(4);
    Loaded loaded;
    EXPECT_PV_KIND(Load(manager, folder.Write("bad.png", bytes), loaded), PravonKind::kMissingInput);
}

// A file of the signature, a header of the size with the colour type 2 (RGB, 8 bits), and an empty image
// data chunk: enough for the header to be read.
std::vector<BYTE> HeaderOnly(ULONG width, ULONG height) {
    std::vector<BYTE> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<BYTE>& body) {
        auto word = [&](ULONG v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                bytes.push_back(static_cast<BYTE>(v >> shift));
        };
        word(static_cast<ULONG>(body.size()));
        const std::size_t start = bytes.size();
        bytes.insert(bytes.end(), type, type + 4);
        bytes.insert(bytes.end(), body.begin(), body.end());
        word(static_cast<ULONG>(crc32(0, bytes.data() + start, static_cast<uInt>(bytes.size() - start))));
    };
    std::vector<BYTE> header;
    for (ULONG v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(static_cast<BYTE>(v >> shift));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", header);
    chunk("IDAT", {});
    return bytes;
}

TEST(PngLoad, SizesBeyondTheLimitsAreRefusedAtOpen) {
    TempFolder folder;
    const struct {
        ULONG width, height;
        bool accepted;
    } sizes[] = {
        {65535, 16, true},
        {65536, 16, false},
        {8192, 8192, true},
        {8193, 8192, false},
    };
    for (const auto& s : sizes) {
        PravonFileStreamPtr stream = OpenStream(folder.Write("big.png", HeaderOnly(s.width, s.height)));
        PravonLoadPtr load(new CPravonPngLoad());
        auto tags = PravonTagControlPtr(new CPravonTagControl());
        IPravonError* e = load->Open(stream.get(), tags.get());
        if (s.accepted)
            EXPECT_PV_OK(e) << s.width << " x " << s.height;
        else
            EXPECT_TRUE(FailedWithKind(e, PravonKind::kOutOfRange)) << s.width << " x " << s.height;
    }
}

TEST(PngLoad, AFileThatIsNoPngIsRefused) {
    TempFolder folder;
    PravonFileStreamPtr stream = OpenStream(folder.Write("text.png", std::string("GIF89a and so on")));
    PravonLoadPtr load(new CPravonPngLoad());
    auto tags = PravonTagControlPtr(new CPravonTagControl());
    EXPECT_PV_KIND(load->Open(stream.get(), tags.get()), PravonKind::kMissingInput);
    EXPECT_PV_KIND(load->Begin(nullptr), PravonKind::kBadArgument);
    CPravonMemoryManager manager;
    IPravonImage* image = nullptr;
    ASSERT_PV_OK(manager.CreateImage(0, &image));
    PravonImagePtr owned(image);
    EXPECT_PV_KIND(load->Begin(image), PravonKind::kInvalidState);
}

} // namespace
