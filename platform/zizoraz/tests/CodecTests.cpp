#include "IproTestSupport.h"

#include "platform/zizoraz/IproImageFile.h"
#include "platform/zizoraz/IproJpegCodec.h"
#include "platform/zizoraz/IproPngCodec.h"

#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace iprotest;

namespace {

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring Wide(const std::string& path) {
    return Utf::Utf8ToWide(path);
}

// A picture with smooth gradients, a hard edge and translucent corners.
IproPixels Scene(LONG width, LONG height, bool translucent) {
    IproPixels pixels{width, height, {}};
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const std::uint32_t alpha = translucent && x < width / 4 ? 40 + 200 * y / height : 255;
            pixels.argb.push_back(
                Premultiplied(alpha, 255 * x / width, 255 * y / height, x < width / 2 ? 30 : 220));
        }
    }
    return pixels;
}

struct Difference {
    int max = 0;
    double psnr = 0;
};

Difference Compare(const IproPixels& a, const IproPixels& b) {
    Difference d;
    double squares = 0;
    for (std::size_t i = 0; i < a.argb.size(); ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            const int e = std::abs(static_cast<int>(a.argb[i] >> shift & 0xFF) -
                                   static_cast<int>(b.argb[i] >> shift & 0xFF));
            d.max = std::max(d.max, e);
            squares += e * e;
        }
    }
    const double mse = squares / (a.argb.size() * 4.0);
    d.psnr = mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
    return d;
}

// A JPEG of one colour written with libjpeg directly, in the colour space given (1 grey, 4 CMYK).
std::vector<std::uint8_t> PlainJpeg(J_COLOR_SPACE space, int components,
                                    const std::vector<std::uint8_t>& sample, bool adobeMarker) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = 8;
    info.image_height = 8;
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    info.write_Adobe_marker = adobeMarker;
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row;
    for (int x = 0; x < 8; ++x)
        row.insert(row.end(), sample.begin(), sample.end());
    while (info.next_scanline < info.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    free(buffer);
    return bytes;
}

class Codecs : public Started {
protected:
    std::string SaveAs(IproHandle image, const std::string& name,
                       const IproCodecParamList* params = nullptr) {
        const std::string path = m_folder.File(name);
        EXPECT_EQ(iproSaveImage(image, Wide(path).c_str(), IPRO_SAVE_REPLACE, params), 1) << name;
        return path;
    }
    IproHandle Load(const std::string& path) {
        IproHandle image = kIproNoHandle;
        EXPECT_EQ(iproCreateImageFromFile(Wide(path).c_str(), &image), 1) << path;
        return image;
    }
    bool NoPartialFiles() const {
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path()))
            if (entry.path().filename().string().find(".part") != std::string::npos)
                return false;
        return true;
    }

    kvtest::TempFolder m_folder;
};

TEST_F(Codecs, PngRoundTripIsExactForOpaqueAndTranslucentPixels) {
    for (bool translucent : {false, true}) {
        const IproPixels scene = Scene(37, 23, translucent);
        IproHandle image = NewImage(scene);
        const std::string path = SaveAs(image, translucent ? "translucent.png" : "opaque.png");
        IproHandle loaded = Load(path);
        EXPECT_EQ(PixelsOf(loaded).argb, scene.argb) << (translucent ? "translucent" : "opaque");
        // An opaque picture is stored without alpha: colour type 2 in the header.
        EXPECT_EQ(ReadBytes(path).at(25), translucent ? 6 : 2);
        if (translucent)
            continue;
        // libpng's own reader finds the scene's colours (red, green, blue from the packed pixels) in the
        // file.
        png_image read{};
        read.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&read, path.c_str()));
        read.format = PNG_FORMAT_RGB;
        std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(read));
        ASSERT_TRUE(png_image_finish_read(&read, nullptr, rgb.data(), 0, nullptr));
        ASSERT_EQ(rgb.size(), scene.argb.size() * 3);
        for (std::size_t i = 0; i < scene.argb.size(); ++i)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(rgb[i * 3 + c], scene.argb[i] >> (16 - 8 * c) & 0xFF) << "pixel " << i;
    }
}

// The rows of a PNG file as stored: each row's filter byte, from the file's data chunks inflated with zlib.
std::vector<std::uint8_t> FilterBytes(const std::vector<std::uint8_t>& file, std::size_t rowBytes,
                                      std::size_t rows) {
    std::vector<std::uint8_t> data;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length = std::size_t{file[at]} << 24 | std::size_t{file[at + 1]} << 16 |
                                   std::size_t{file[at + 2]} << 8 | file[at + 3];
        if (std::string(file.begin() + at + 4, file.begin() + at + 8) == "IDAT")
            data.insert(data.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
        at += length + 12;
    }
    std::vector<std::uint8_t> raw(rows * (rowBytes + 1));
    uLongf size = raw.size();
    if (uncompress(raw.data(), &size, data.data(), data.size()) != Z_OK || size != raw.size())
        return {};
    std::vector<std::uint8_t> filters;
    for (std::size_t row = 0; row < rows; ++row)
        filters.push_back(raw[row * (rowBytes + 1)]);
    return filters;
}

TEST_F(Codecs, BothPngCompressionsStoreThePixelsExactlyForAnyReader) {
    constexpr std::uint8_t kUpFilter = 2;
    struct Case {
        const char* name;
        bool fast;
        bool translucent;
    };
    const Case cases[] = {{"default, opaque", false, false},
                          {"default, translucent", false, true},
                          {"fast, opaque", true, false},
                          {"fast, translucent", true, true}};
    for (const Case& c : cases) {
        // Wide enough that a row's bytes pass libpng's and zlib's own buffers many times over.
        const IproPixels scene = Scene(1500, 90, c.translucent);
        IproHandle image = NewImage(scene);
        LONG fast = c.fast ? 1 : 0;
        IproCodecParam fastParam{IPRO_PARAM_PNG_FAST, reinterpret_cast<std::uintptr_t>(&fast)};
        IproCodecParam* entries[] = {&fastParam};
        const IproCodecParamList list{sizeof(IproCodecParamList), 1, entries};
        const std::string path = SaveAs(image, std::string(c.fast ? "fast" : "default") + ".png", &list);
        const std::vector<std::uint8_t> file = ReadBytes(path);
        // libpng's reader: straight RGBA, which premultiplied by the standard rule gives the words back.
        png_image read{};
        read.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&read, file.data(), file.size())) << c.name;
        EXPECT_EQ(read.format & PNG_FORMAT_FLAG_ALPHA, c.translucent ? PNG_FORMAT_FLAG_ALPHA : 0u) << c.name;
        read.format = PNG_FORMAT_RGBA;
        std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(read));
        ASSERT_TRUE(png_image_finish_read(&read, nullptr, rgba.data(), 0, nullptr)) << c.name;
        ASSERT_EQ(rgba.size(), scene.argb.size() * 4) << c.name;
        for (std::size_t i = 0; i < scene.argb.size(); ++i) {
            const std::uint32_t alpha = rgba[i * 4 + 3];
            std::uint32_t word = alpha << 24;
            for (int channel = 0; channel < 3; ++channel)
                word |= (rgba[i * 4 + channel] * alpha + 127) / 255 << (16 - 8 * channel);
            ASSERT_EQ(word, scene.argb[i]) << c.name << ", pixel " << i;
        }
        EXPECT_EQ(PixelsOf(Load(path)).argb, scene.argb) << c.name;
        // The fast setting filters every row with Up; the default chooses per row among all filters.
        const std::vector<std::uint8_t> filters =
            FilterBytes(file, static_cast<std::size_t>(scene.width) * (c.translucent ? 4 : 3), scene.height);
        ASSERT_EQ(filters.size(), static_cast<std::size_t>(scene.height)) << c.name;
        if (c.fast)
            EXPECT_EQ(std::count(filters.begin(), filters.end(), kUpFilter), scene.height) << c.name;
        else
            EXPECT_TRUE(std::all_of(filters.begin(), filters.end(), [](std::uint8_t f) { return f <= 4; }));
    }
}

TEST_F(Codecs, PngEncodeRefusesPixelsThatDoNotFillTheirSize) {
    IproPixels pixels = Scene(8, 4, false);
    std::vector<std::uint8_t> bytes{1, 2, 3};
    pixels.argb.pop_back();
    EXPECT_FALSE(IproPngCodec::Encode(pixels, bytes));
    pixels.height = 0;
    EXPECT_FALSE(IproPngCodec::Encode(pixels, bytes, IproPngCodec::Compression::kFast));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3})) << "a refused encode leaves the bytes alone";
}

TEST_F(Codecs, JpegRoundTripStaysWithinItsTolerance) {
    const IproPixels scene = Scene(64, 48, false);
    IproHandle image = NewImage(scene);
    LONG quality = 95;
    IproCodecParam entry{IPRO_PARAM_QUALITY, reinterpret_cast<std::uintptr_t>(&quality)};
    IproCodecParam* entries[] = {&entry};
    IproCodecParamList list{sizeof(IproCodecParamList), 1, entries};
    const std::string fine = SaveAs(image, "fine.jpg", &list);
    const IproPixels loaded = PixelsOf(Load(fine));
    ASSERT_EQ(loaded.width, 64);
    ASSERT_EQ(loaded.height, 48);
    const Difference difference = Compare(scene, loaded);
    EXPECT_GT(difference.psnr, 35.0);
    EXPECT_LE(difference.max, 64) << "colours are subsampled, so the hard edge bleeds a little";

    // Detail costs bytes at a high quality and far fewer at a low one.
    IproHandle detailed = NewImage(Numbered(160, 120));
    const std::string sharp = SaveAs(detailed, "sharp.jpg", &list);
    quality = 10;
    const std::string coarse = SaveAs(detailed, "coarse.JPEG", &list);
    EXPECT_LT(ReadBytes(coarse).size(), ReadBytes(sharp).size() / 2) << "the quality reaches the encoder";
    EXPECT_TRUE(IproJpegCodec::HasSignature(ReadBytes(coarse).data(), ReadBytes(coarse).size()));
}

TEST_F(Codecs, ScaleParameterSavesAScaledCopy) {
    IproHandle image = NewImage(Scene(40, 20, false));
    float scale = 0.5f;
    IproCodecParam entry{IPRO_PARAM_SCALE, reinterpret_cast<std::uintptr_t>(&scale)};
    IproCodecParam* entries[] = {&entry};
    IproCodecParamList list{sizeof(IproCodecParamList), 1, entries};
    const IproPixels saved = PixelsOf(Load(SaveAs(image, "half.png", &list)));
    EXPECT_EQ(saved.width, 20);
    EXPECT_EQ(saved.height, 10);
    EXPECT_EQ(PixelsOf(image).width, 40) << "the image itself keeps its size";

    const struct {
        float scale;
        DWORD size;
    } refused[] = {{0.0f, sizeof(IproCodecParamList)},
                   {-1.0f, sizeof(IproCodecParamList)},
                   {NAN, sizeof(IproCodecParamList)},
                   {1e30f, sizeof(IproCodecParamList)},
                   {1.0f, 12}};
    for (const auto& r : refused) {
        scale = r.scale;
        list.size = r.size;
        const std::string path = m_folder.File("refused.png");
        EXPECT_EQ(iproSaveImage(image, Wide(path).c_str(), IPRO_SAVE_REPLACE, &list), 0) << r.scale;
        EXPECT_FALSE(std::filesystem::exists(path)) << r.scale;
    }
    EXPECT_TRUE(NoPartialFiles());
}

TEST_F(Codecs, SaveFollowsTheExtensionAndReplacesOnlyWhenAsked) {
    IproHandle image = NewImage(Scene(8, 8, false));
    const std::string png = SaveAs(image, "Picture.PNG");
    EXPECT_TRUE(IproPngCodec::HasSignature(ReadBytes(png).data(), ReadBytes(png).size()));

    const std::string kept = m_folder.Write("kept.png", std::string("old bytes"));
    EXPECT_EQ(iproSaveImage(image, Wide(kept).c_str(), 0, nullptr), 0);
    EXPECT_EQ(ReadBytes(kept), std::vector<std::uint8_t>({'o', 'l', 'd', ' ', 'b', 'y', 't', 'e', 's'}));
    EXPECT_EQ(iproSaveImage(image, Wide(kept).c_str(), IPRO_SAVE_REPLACE, nullptr), 1);
    EXPECT_TRUE(IproPngCodec::HasSignature(ReadBytes(kept).data(), ReadBytes(kept).size()));

    for (const char* name : {"picture.bmp", "picture", "folder.png/picture", "missing/picture.png"}) {
        const std::string path = m_folder.File(name);
        EXPECT_EQ(iproSaveImage(image, Wide(path).c_str(), IPRO_SAVE_REPLACE, nullptr), 0) << name;
        EXPECT_FALSE(std::filesystem::exists(path)) << name;
    }
    EXPECT_EQ(iproSaveImage(image, nullptr, IPRO_SAVE_REPLACE, nullptr), 0);
    EXPECT_TRUE(NoPartialFiles());
}

TEST_F(Codecs, GreyAndCmykJpegsDecodeToTheirColours) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uint32_t expected;
    } cases[] = {
        {"grey", PlainJpeg(JCS_GRAYSCALE, 1, {90}, false), Argb(255, 90, 90, 90)},
        // Plain CMYK: ink c = 0, m = 255, y = 255, k = 51 prints 204, 0, 0.
        {"cmyk", PlainJpeg(JCS_CMYK, 4, {0, 255, 255, 51}, false), Argb(255, 204, 0, 0)},
        // The same stored inverted, as files with an Adobe marker hold it.
        {"adobe cmyk", PlainJpeg(JCS_CMYK, 4, {255, 0, 0, 204}, true), Argb(255, 204, 0, 0)},
    };
    for (const auto& c : cases) {
        IproPixels pixels;
        ASSERT_TRUE(IproJpegCodec::Decode(c.bytes.data(), c.bytes.size(), pixels)) << c.name;
        ASSERT_EQ(pixels.width, 8);
        for (int shift = 0; shift < 32; shift += 8)
            EXPECT_NEAR(pixels.At(4, 4) >> shift & 0xFF, c.expected >> shift & 0xFF, 2)
                << c.name << " " << shift;
    }
}

// The header of a valid PNG rewritten to declare another size, its checksum made anew.
std::vector<std::uint8_t> WithDeclaredSize(std::vector<std::uint8_t> png, std::uint32_t width,
                                           std::uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, png.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return png;
}

TEST_F(Codecs, BadFilesGiveNoImageAndLeakNoHandle) {
    IproHandle image = NewImage(Scene(30, 20, true));
    const std::vector<std::uint8_t> png = ReadBytes(SaveAs(image, "good.png"));
    const std::vector<std::uint8_t> jpeg = ReadBytes(SaveAs(image, "good.jpg"));
    auto cut = [](std::vector<std::uint8_t> bytes, std::size_t size) {
        bytes.resize(size);
        return bytes;
    };
    auto flipped = [](std::vector<std::uint8_t> bytes, std::size_t at) {
        bytes.at(at) ^= 0x5A;
        return bytes;
    };
    // A text chunk after the header (8 + 25 bytes in) stating about 1.6 GB: refused before room is made.
    auto claiming = [](std::vector<std::uint8_t> bytes) {
        const std::uint8_t claim[] = {0x62, 0x00, 0x00, 0x15, 't', 'E', 'X', 't'};
        bytes.insert(bytes.begin() + 33, std::begin(claim), std::end(claim));
        return bytes;
    };
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"text", {'h', 'e', 'l', 'l', 'o'}},
        {"png signature only", cut(png, 8)},
        {"png cut in its header", cut(png, 20)},
        {"png cut in its data", cut(png, png.size() - 30)},
        {"png data corrupt", flipped(png, png.size() - 40)},
        {"png declaring 100000 x 100000", WithDeclaredSize(png, 100000, 100000)},
        {"png declaring 9000 x 9000", WithDeclaredSize(png, 9000, 9000)},
        {"png with a chunk longer than the file", claiming(png)},
        {"jpeg marker only", cut(jpeg, 3)},
        {"jpeg cut in its header", cut(jpeg, 100)},
        {"jpeg cut in its data", cut(jpeg, jpeg.size() - 50)},
        {"jpeg data corrupt", flipped(jpeg, jpeg.size() - 60)},
    };
    const std::size_t live = ZizorazTest::LiveHandles();
    for (const auto& c : cases) {
        const std::string path = m_folder.Write("bad.bin", std::string(c.bytes.begin(), c.bytes.end()));
        IproHandle loaded = 5;
        EXPECT_EQ(iproCreateImageFromFile(Wide(path).c_str(), &loaded), 0) << c.name;
        EXPECT_EQ(loaded, kIproNoHandle) << c.name;
        EXPECT_EQ(ZizorazTest::LiveHandles(), live) << c.name;
    }
    IproHandle loaded = kIproNoHandle;
    EXPECT_EQ(iproCreateImageFromFile(Wide(m_folder.File("missing.png")).c_str(), &loaded), 0);
    EXPECT_EQ(iproCreateImageFromFile(Wide(m_folder.Path()).c_str(), &loaded), 0) << "a folder";
    EXPECT_EQ(iproCreateImageFromFile(nullptr, &loaded), 0);
}

TEST_F(Codecs, DeclaredSizeAboveThePixelCapIsRefusedForBothFormats) {
    IproHandle image = NewImage(Scene(10, 10, false));
    const std::string png = SaveAs(image, "ten.png");
    const std::string jpeg = SaveAs(image, "ten.jpg");
    ZizorazTest::SetMaxPixels(99);
    IproHandle loaded = kIproNoHandle;
    EXPECT_EQ(iproCreateImageFromFile(Wide(png).c_str(), &loaded), 0);
    EXPECT_EQ(iproCreateImageFromFile(Wide(jpeg).c_str(), &loaded), 0);
    ZizorazTest::SetMaxPixels(100);
    EXPECT_EQ(iproCreateImageFromFile(Wide(png).c_str(), &loaded), 1);
    EXPECT_EQ(iproCreateImageFromFile(Wide(jpeg).c_str(), &loaded), 1);
}

} // namespace
