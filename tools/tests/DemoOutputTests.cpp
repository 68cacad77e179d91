// The demo host run as a user runs it: a picture in each format with the output profile it was converted
// to, the same pixels in each; a batch of files with one of them damaged; and the development's shortcuts
// (lookup-table stages read through, the colour conversion on our side) against the road without them.
#include "platform/win/CpuFeatures.h"
#include "platform/zov/CZovConversion.h"
#include "testing/DngWriter.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/RunProgram.h"
#include "testing/TempFolder.h"
#include "tools/CKvChainDevelop.h"
#include "tools/CKvSampleMaker.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <png.h>
#include <random>
#include <tiffio.h>

namespace {

std::string MakeSample(const kvtest::TempFolder& folder, const std::string& name, LONG width, LONG height) {
    CKvSampleMaker::Options options;
    options.width = width;
    options.height = height;
    options.samplePath = folder.File(name);
    PravonErrorPtr err(CKvSampleMaker::Make(options));
    EXPECT_FALSE(err) << err->Describe();
    return options.samplePath;
}

// A camera file of another maker: a 14-bit random mosaic under a camera's colour matrix.
std::string MakeDng(const kvtest::TempFolder& folder, const std::string& name) {
    kvtest::DngContent content;
    content.width = 180;
    content.height = 120;
    content.white = 16383;
    content.calibrations.push_back({21, {0.70, 0.25, -0.10, -0.30, 1.20, 0.05, 0.02, -0.15, 0.95}});
    std::mt19937 rng(12);
    for (std::uint32_t i = 0; i < content.width * content.height; ++i)
        content.samples.push_back(static_cast<std::uint16_t>(rng() % 16384));
    const kvtest::DngFile file = kvtest::WriteDng(content);
    return folder.Write(name, file.bytes);
}

std::vector<BYTE> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Png {
    std::vector<BYTE> pixels;
    std::vector<BYTE> profile;
};

Png ReadPng(const std::string& path) {
    Png png;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return png;
    image.format = PNG_FORMAT_RGB;
    png.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, png.pixels.data(), 0, nullptr))
        png.pixels.clear();
    // The simplified reader keeps no profile; the file is read again for its iCCP chunk.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(reader);
    if (setjmp(png_jmpbuf(reader)) == 0) {
        png_init_io(reader, file);
        png_read_info(reader, info);
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(reader, info, &name, &compression, &profile, &length))
            png.profile.assign(profile, profile + length);
    }
    png_destroy_read_struct(&reader, &info, nullptr);
    std::fclose(file);
    return png;
}

// The chain's 16-bit output, band by band.
std::vector<WORD> Develop16(CKvChainDevelop& chain) {
    std::vector<WORD> samples;
    LONG width = 0, height = 0;
    EXPECT_PV_OK(chain.DevelopBands(
        [&](const CKvChainDevelop::CBand& band) -> IPravonError* {
            for (LONG y = 0; y < band.count; ++y)
                samples.insert(samples.end(), band.rows + std::size_t(y) * band.rowWords,
                               band.rows + std::size_t(y) * band.rowWords + std::size_t(band.width) * 3);
            return nullptr;
        },
        &width, &height, nullptr));
    return samples;
}

TEST(DemoOutput, EachFormatCarriesThePictureAndTheOutputProfile) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string sample = MakeSample(folder, "sample.kvraw", 160, 110);
    const std::vector<BYTE> profile = FileBytes(root.Profile("KVsRGB.icm"));
    ASSERT_FALSE(profile.empty());
    CKvChainDevelop chain;
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    ASSERT_PV_OK(chain.Open(sample));
    ASSERT_PV_OK(chain.Develop(&rgb, &width, &height, nullptr));

    std::string said;
    ASSERT_EQ(kvtest::RunProgram({KV_DEMO_HOST, sample, folder.File("out.png")}, &said), 0) << said;
    const Png png = ReadPng(folder.File("out.png"));
    EXPECT_EQ(png.pixels, rgb);
    EXPECT_EQ(png.profile, profile);

    ASSERT_EQ(kvtest::RunProgram({KV_DEMO_HOST, sample, folder.File("out.tif")}, &said), 0) << said;
    TIFF* tiff = TIFFOpen(folder.File("out.tif").c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    uint32_t profileLength = 0;
    void* embedded = nullptr;
    ASSERT_TRUE(TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileLength, &embedded));
    EXPECT_EQ(std::vector<BYTE>(static_cast<BYTE*>(embedded), static_cast<BYTE*>(embedded) + profileLength),
              profile);
    std::vector<WORD> row(std::size_t(width) * 3);
    std::size_t sameHighBytes = 0;
    for (LONG y = 0; y < height; ++y) {
        ASSERT_GE(TIFFReadScanline(tiff, row.data(), static_cast<uint32_t>(y), 0), 0);
        for (std::size_t i = 0; i < row.size(); ++i)
            sameHighBytes += (row[i] >> 8) == rgb[std::size_t(y) * row.size() + i];
    }
    TIFFClose(tiff);
    EXPECT_EQ(sameHighBytes, rgb.size()) << "the TIFF's samples are those whose high bytes the PNG holds";

    ASSERT_EQ(kvtest::RunProgram({KV_DEMO_HOST, sample, folder.File("out.jpeg")}, &said), 0) << said;
    const std::vector<BYTE> jpeg = FileBytes(folder.File("out.jpeg"));
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8) << "a JPEG file";
}

// A batch develops every file into the folder under its name, with one progress line; the file that fails
// is named, the others go on, and the run ends with a failure.
TEST(DemoOutput, ABatchNamesTheFileThatFailsAndDevelopsTheOthers) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string a = MakeSample(folder, "a.kvraw", 120, 90);
    const std::string b = MakeSample(folder, "b.kvraw", 100, 140);
    const std::string bad = folder.Write("bad.kvraw", std::string("not a raw sample at all"));
    const std::string out = folder.File("developed");
    ASSERT_EQ(std::system(("mkdir -p '" + out + "'").c_str()), 0);
    std::string said;
    EXPECT_EQ(kvtest::RunProgram(
                  {KV_DEMO_HOST, "--workers", "2", "--suffix", "-x", "--batch", out, a, bad, b}, &said),
              1)
        << said;
    EXPECT_NE(said.find("bad.kvraw: "), std::string::npos) << said;
    EXPECT_NE(said.find("developing: 3 of 3 pictures"), std::string::npos) << said;
    EXPECT_EQ(said.find("developing: 1 of 3"), std::string::npos) << "one line for the batch: " << said;
    EXPECT_FALSE(ReadPng(out + "/a-developed-x.png").pixels.empty());
    EXPECT_FALSE(ReadPng(out + "/b-developed-x.png").pixels.empty());
    EXPECT_FALSE(std::ifstream(out + "/bad-developed-x.png").good());
}

// The lookup-table stages read through give the pixels the stages gave making their own tiles, exactly;
// the conversion from the maker's table-based camera profile, interpolated on our side, is within a level
// of lcms2's own at 16 bits (its grid, in its arithmetic); a camera file of another maker, converted between
// matrix-shaper profiles, keeps its pixels exactly with and without read-through.
TEST(DemoOutput, TheShortcutsKeepThePictureTheDevelopmentGaveWithoutThem) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    for (const std::string& file :
         {MakeSample(folder, "own.kvraw", 150, 100), MakeDng(folder, "other.dng")}) {
        SCOPED_TRACE(file);
        std::vector<WORD> developed[2];
        for (const bool readThrough : {false, true}) {
            CKvChainDevelop chain;
            chain.SetReadThrough(readThrough);
            ASSERT_PV_OK(chain.Open(file));
            developed[readThrough] = Develop16(chain);
        }
        ASSERT_FALSE(developed[1].empty());
        EXPECT_EQ(developed[0], developed[1]);
    }
    const std::string own = MakeSample(folder, "own2.kvraw", 150, 100);
    CZovConversion::SetLibraryOnly(true);
    CKvChainDevelop library;
    ASSERT_PV_OK(library.Open(own));
    const std::vector<WORD> throughLcms2 = Develop16(library);
    CZovConversion::SetLibraryOnly(false);
    CKvChainDevelop ours;
    ASSERT_PV_OK(ours.Open(own));
    const std::vector<WORD> ourRoad = Develop16(ours);
    ASSERT_EQ(ourRoad.size(), throughLcms2.size());
    int worst = 0;
    for (std::size_t i = 0; i < ourRoad.size(); ++i)
        worst = std::max(worst, std::abs(int(ourRoad[i]) - int(throughLcms2[i])));
    EXPECT_LE(worst, 1);
    // Ours follows lcms2's arithmetic on the grid and may give its very samples: that it was taken shows in
    // the grid taking the pair of profiles the chain converted between.
    cmsHPROFILE from = cmsOpenProfileFromFile(ours.InputProfile().c_str(), "r");
    cmsHPROFILE to = cmsOpenProfileFromFile(ours.OutputProfile().c_str(), "r");
    ASSERT_TRUE(from && to);
    EXPECT_TRUE(CZovRgbGrid::Make(from, to, INTENT_PERCEPTUAL, 16)) << "our road was taken";
    cmsCloseProfile(from);
    cmsCloseProfile(to);
}

// The output conversion's roads (sixteen pixels at a time where the processor has AVX-512, eight with
// AVX2, one by one without) develop the same picture, sample for sample, and again after an exposure
// change, which only the stages from the gain on redo.
TEST(DemoOutput, EveryRoadOfTheOutputConversionDevelopsTheSamePicture) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string own = MakeSample(folder, "own.kvraw", 150, 100);
    struct Road {
        const char* name;
        DWORD needs;
        DWORD off;
    };
    const Road roads[] = {{"plain", 0, CpuFeature::kAVX2 | CpuFeature::kAVX512F},
                          {"AVX2", CpuFeature::kAVX2, CpuFeature::kAVX512F},
                          {"AVX-512", CpuFeature::kAVX512F | CpuFeature::kAVX512BW | CpuFeature::kAVX2, 0}};
    std::vector<WORD> plain[2];
    for (const Road& road : roads) {
        if ((CpuDetectedFeatures() & road.needs) != road.needs) {
            std::printf("no %s road on this processor\n", road.name);
            continue;
        }
        SCOPED_TRACE(road.name);
        const CCpuFeatureOverride forced(0, road.off);
        CKvChainDevelop chain;
        ASSERT_PV_OK(chain.Open(own));
        std::vector<WORD> developed[2];
        developed[0] = Develop16(chain);
        ASSERT_PV_OK(chain.SetExposure(1.0));
        developed[1] = Develop16(chain);
        ASSERT_FALSE(developed[0].empty());
        EXPECT_NE(developed[0], developed[1]) << "the exposure change shows";
        if (plain[0].empty()) {
            plain[0] = developed[0];
            plain[1] = developed[1];
            continue;
        }
        EXPECT_EQ(developed[0], plain[0]);
        EXPECT_EQ(developed[1], plain[1]);
    }
}

} // namespace
