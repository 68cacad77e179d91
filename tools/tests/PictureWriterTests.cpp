// The picture files the demo writes, read back with the formats' own libraries: the pixels (exact in PNG
// and TIFF, close in JPEG), the profile embedded, JPEG's quality, and no file left when writing fails.
#include "tools/CKvPictureWriter.h"

#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <jpeglib.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>

namespace {

constexpr LONG kWidth = 97, kHeight = 61;

// 16-bit display-encoded samples: smooth ramps across the range in each channel, with detail in the low
// bytes that an 8-bit file leaves out.
std::vector<WORD> Picture() {
    std::vector<WORD> samples(std::size_t(kWidth) * kHeight * 3);
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x) {
            WORD* pixel = &samples[(std::size_t(y) * kWidth + x) * 3];
            pixel[0] = static_cast<WORD>(x * 675 + (y % 7) * 3);
            pixel[1] = static_cast<WORD>(y * 1070 + x % 5);
            pixel[2] = static_cast<WORD>((x + y) * 415);
        }
    return samples;
}

// A profile's bytes, which the file must carry back as they are (a PNG writer checks them as a profile).
// The profile's bytes are made once: a profile saved anew carries the time it was made, so two savings a
// second apart differ.
const std::vector<BYTE>& ProfileBytes() {
    static const std::vector<BYTE> bytes = [] {
        cmsHPROFILE profile = cmsCreate_sRGBProfile();
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(profile, nullptr, &size);
        std::vector<BYTE> saved(size);
        cmsSaveProfileToMem(profile, saved.data(), &size);
        cmsCloseProfile(profile);
        return saved;
    }();
    return bytes;
}

// Writes the picture in bands of `band` rows.
bool WriteIn(CKvPictureWriter& writer, const std::string& path, const std::vector<WORD>& picture, LONG band,
             std::string* error) {
    if (!writer.Begin(path, kWidth, kHeight, "Test profile", ProfileBytes(), error))
        return false;
    for (LONG top = 0; top < kHeight; top += band)
        if (!writer.WriteRows(picture.data() + std::size_t(top) * kWidth * 3, std::min(band, kHeight - top),
                              std::size_t(kWidth) * 3, error))
            return false;
    return writer.Finish(error);
}

struct ReadBack {
    LONG width = 0, height = 0;
    int bits = 0;
    std::vector<WORD> samples; // at the file's depth
    std::vector<BYTE> profile;
    int firstLuminanceQuantiser = 0;
};

ReadBack ReadPng(const std::string& path) {
    ReadBack r;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return r;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        r.width = static_cast<LONG>(png_get_image_width(png, info));
        r.height = static_cast<LONG>(png_get_image_height(png, info));
        r.bits = png_get_bit_depth(png, info);
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &length))
            r.profile.assign(profile, profile + length);
        std::vector<BYTE> row(png_get_rowbytes(png, info));
        for (LONG y = 0; y < r.height; ++y) {
            png_read_row(png, row.data(), nullptr);
            r.samples.insert(r.samples.end(), row.begin(), row.end());
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return r;
}

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf failed;
};

ReadBack ReadJpeg(const std::string& path) {
    ReadBack r;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return r;
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<JpegErrors*>(c->err)->failed, 1);
    };
    if (setjmp(errors.failed) == 0) {
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, file);
        jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
        jpeg_read_header(&cinfo, TRUE);
        JOCTET* profile = nullptr;
        unsigned int length = 0;
        if (jpeg_read_icc_profile(&cinfo, &profile, &length)) {
            r.profile.assign(profile, profile + length);
            std::free(profile);
        }
        r.firstLuminanceQuantiser = cinfo.quant_tbl_ptrs[0] ? cinfo.quant_tbl_ptrs[0]->quantval[0] : 0;
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        r.width = static_cast<LONG>(cinfo.output_width);
        r.height = static_cast<LONG>(cinfo.output_height);
        r.bits = 8;
        std::vector<BYTE> row(std::size_t(cinfo.output_width) * 3);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW rows[1] = {row.data()};
            jpeg_read_scanlines(&cinfo, rows, 1);
            r.samples.insert(r.samples.end(), row.begin(), row.end());
        }
        jpeg_finish_decompress(&cinfo);
    }
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return r;
}

ReadBack ReadTiff(const std::string& path) {
    ReadBack r;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        return r;
    uint32_t width = 0, height = 0, profileLength = 0;
    uint16_t bits = 0, samples = 0;
    void* profile = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileLength, &profile))
        r.profile.assign(static_cast<BYTE*>(profile), static_cast<BYTE*>(profile) + profileLength);
    r.width = static_cast<LONG>(width);
    r.height = static_cast<LONG>(height);
    r.bits = bits;
    if (bits == 16 && samples == 3) {
        std::vector<WORD> row(std::size_t(width) * 3);
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tiff, row.data(), y, 0) < 0)
                break;
            r.samples.insert(r.samples.end(), row.begin(), row.end());
        }
    }
    TIFFClose(tiff);
    return r;
}

std::vector<WORD> HighBytes(const std::vector<WORD>& picture) {
    std::vector<WORD> high(picture.size());
    for (std::size_t i = 0; i < picture.size(); ++i)
        high[i] = picture[i] >> 8;
    return high;
}

TEST(PictureWriter, EachFormatCarriesThePictureAndItsProfile) {
    kvtest::TempFolder folder;
    const std::vector<WORD> picture = Picture();
    for (const LONG band : {LONG{1}, LONG{16}, kHeight}) {
        SCOPED_TRACE(testing::Message() << "bands of " << band << " rows");
        std::string error;
        {
            const std::string path = folder.File("picture.png");
            auto writer = CKvPictureWriter::Make(CKvPictureWriter::Format::kPng);
            ASSERT_TRUE(WriteIn(*writer, path, picture, band, &error)) << error;
            const ReadBack r = ReadPng(path);
            EXPECT_EQ(r.width, kWidth);
            EXPECT_EQ(r.height, kHeight);
            EXPECT_EQ(r.bits, 8);
            EXPECT_EQ(r.samples, HighBytes(picture)) << "an 8-bit PNG holds the samples' high bytes";
            EXPECT_EQ(r.profile, ProfileBytes());
        }
        {
            const std::string path = folder.File("picture.tif");
            auto writer = CKvPictureWriter::Make(CKvPictureWriter::Format::kTiff);
            ASSERT_TRUE(WriteIn(*writer, path, picture, band, &error)) << error;
            const ReadBack r = ReadTiff(path);
            EXPECT_EQ(r.width, kWidth);
            EXPECT_EQ(r.height, kHeight);
            EXPECT_EQ(r.bits, 16);
            EXPECT_EQ(r.samples, picture) << "a TIFF holds the 16-bit samples as they are";
            EXPECT_EQ(r.profile, ProfileBytes());
        }
        {
            const std::string path = folder.File("picture.jpg");
            auto writer = CKvPictureWriter::Make(CKvPictureWriter::Format::kJpeg);
            ASSERT_TRUE(WriteIn(*writer, path, picture, band, &error)) << error;
            const ReadBack r = ReadJpeg(path);
            EXPECT_EQ(r.width, kWidth);
            EXPECT_EQ(r.height, kHeight);
            EXPECT_EQ(r.profile, ProfileBytes());
            // Quality 95 scales the standard luminance table by (200 - 2 x 95) %: its first entry, 16,
            // becomes 2.
            EXPECT_EQ(r.firstLuminanceQuantiser, 2);
            // Close to the high bytes: within what quality 95 with halved chroma keeps of smooth ramps.
            const std::vector<WORD> high = HighBytes(picture);
            ASSERT_EQ(r.samples.size(), high.size());
            double squares = 0;
            for (std::size_t i = 0; i < high.size(); ++i)
                squares += (double(r.samples[i]) - high[i]) * (double(r.samples[i]) - high[i]);
            const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / double(high.size())));
            EXPECT_GT(psnr, 40.0);
        }
    }
}

TEST(PictureWriter, TheNamesEndingChoosesTheFormat) {
    using Format = CKvPictureWriter::Format;
    const std::pair<const char*, Format> cases[] = {
        {"out.png", Format::kPng},   {"out.PNG", Format::kPng},   {"out.jpg", Format::kJpeg},
        {"out.JPEG", Format::kJpeg}, {"out.tif", Format::kTiff},  {"out.Tiff", Format::kTiff},
        {"no-ending", Format::kPng}, {"a.jpg/out", Format::kPng}, {"out.tiff.png", Format::kPng},
    };
    for (const auto& [name, format] : cases)
        EXPECT_EQ(CKvPictureWriter::FormatOf(name), format) << name;
}

// A file that cannot be made is refused with a reason; one whose rows do not all come, or whose writer
// goes before the end, is removed: no partial picture is left.
TEST(PictureWriter, NoPartialPictureIsLeftBehind) {
    kvtest::TempFolder folder;
    const std::vector<WORD> picture = Picture();
    for (const auto format :
         {CKvPictureWriter::Format::kPng, CKvPictureWriter::Format::kJpeg, CKvPictureWriter::Format::kTiff}) {
        SCOPED_TRACE(static_cast<int>(format));
        std::string error;
        auto missing = CKvPictureWriter::Make(format);
        EXPECT_FALSE(missing->Begin(folder.File("no-such-folder/out"), kWidth, kHeight, "", {}, &error));
        EXPECT_FALSE(error.empty());

        const std::string shortPath = folder.File("short");
        auto shortOne = CKvPictureWriter::Make(format);
        ASSERT_TRUE(shortOne->Begin(shortPath, kWidth, kHeight, "", ProfileBytes(), &error)) << error;
        ASSERT_TRUE(shortOne->WriteRows(picture.data(), kHeight / 2, std::size_t(kWidth) * 3, &error))
            << error;
        EXPECT_FALSE(shortOne->WriteRows(picture.data(), kHeight, std::size_t(kWidth) * 3, &error))
            << "more rows than the picture has";
        EXPECT_FALSE(std::filesystem::exists(shortPath));

        const std::string unfinished = folder.File("unfinished");
        {
            auto going = CKvPictureWriter::Make(format);
            ASSERT_TRUE(going->Begin(unfinished, kWidth, kHeight, "", {}, &error)) << error;
            ASSERT_TRUE(going->WriteRows(picture.data(), 3, std::size_t(kWidth) * 3, &error)) << error;
            EXPECT_FALSE(going->Finish(&error)) << "the rows did not all come";
        }
        EXPECT_FALSE(std::filesystem::exists(unfinished));
    }
}

} // namespace
