#include "platform/quasel/CPravonCameraRawLoad.h"
#include "testing/DngWriter.h"
#include "testing/ImageCompare.h"
#include "testing/LoadedFile.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/RunProgram.h"
#include "testing/TempFolder.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleScene.h"
#include "tools/tests/SceneGradients.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

using namespace kvtest;

constexpr LONG kWidth = 240, kHeight = 160;
constexpr int kBlack = 512, kWhite = 16383; // a 14-bit sensor with a black level
constexpr double kRedGain = 2.0, kBlueGain = 1.6;
constexpr WORD kIso = 400;

// A DNG of the synthetic scene as a camera with this pattern, black and white level and as-shot gains
// would record it, written by tifffile; also the 12-bit mosaic the loader should give back.
struct CameraFile {
    CameraFile(const TempFolder& folder, const std::string& pattern) {
        BYTE cells[4];
        EXPECT_TRUE(CKvSampleScene::CellsFromName(pattern, cells));
        const CKvSampleScene scene(kWidth, kHeight);
        mosaic = CKvSampleScene::Mosaic(scene.Render(), kWidth, kHeight, cells, kRedGain, kBlueGain);
        std::vector<std::uint8_t> raw;
        for (WORD v : mosaic) {
            const auto sensor = static_cast<WORD>(std::lround(kBlack + v * double(kWhite - kBlack) / 4095.0));
            raw.push_back(static_cast<std::uint8_t>(sensor & 0xFF));
            raw.push_back(static_cast<std::uint8_t>(sensor >> 8));
        }
        path = folder.File(pattern + ".dng");
        EXPECT_EQ(RunProgram({"/usr/bin/python3", KV_WRITE_DNG, folder.Write(pattern + ".bin", raw), path,
                              std::to_string(kWidth), std::to_string(kHeight), pattern,
                              std::to_string(kBlack), std::to_string(kWhite), std::to_string(1 / kRedGain),
                              std::to_string(1 / kBlueGain), std::to_string(kIso), "0.008", "5.6"}),
                  0);
    }
    std::vector<WORD> mosaic;
    std::string path;
};

// A DNG written by a peer library (tifffile) loads as the one our own test writer makes of the same mosaic:
// the same samples, pattern, balance and exposure tags, so the loader's tests over our writer's files
// speak for camera files in general.
TEST(CameraRaw, ADngOfAPeerWriterLoadsAsOurWritersDngOfTheSameMosaic) {
    TempFolder folder;
    for (const std::string pattern : {"RGGB", "BGGR", "GRBG"}) {
        const CameraFile file(folder, pattern);
        DngContent content;
        content.width = kWidth;
        content.height = kHeight;
        content.pattern = pattern;
        content.black = kBlack;
        content.white = kWhite;
        content.calibrations.push_back({21, {1, 0, 0, 0, 1, 0, 0, 0, 1}});
        content.asShotNeutral = {1 / kRedGain, 1, 1 / kBlueGain};
        content.iso = kIso;
        content.exposureTime = 0.008;
        content.fNumber = 5.6;
        for (WORD v : file.mosaic)
            content.samples.push_back(
                static_cast<std::uint16_t>(std::lround(kBlack + v * double(kWhite - kBlack) / 4095.0)));
        const LoadedFile peer(file.path), ours(folder.Write(pattern + "-ours.dng", WriteDng(content).bytes));
        ASSERT_FALSE(peer.error) << peer.error->Describe();
        ASSERT_FALSE(ours.error) << ours.error->Describe();
        TestPlane a, b;
        ASSERT_PV_OK(PullAll(peer.image.get(), &a));
        ASSERT_PV_OK(PullAll(ours.image.get(), &b));
        EXPECT_EQ(ComparePlanes(a, b).maxError, 0u) << pattern;
        for (const ULONG tag : {0xA302u, 0x8000Cu, 0x829Au, 0x829Du, CPravonCameraRawLoad::kSensitivityTag}) {
            std::vector<BYTE> x(peer.tags->GetTagSize(tag)), y(ours.tags->GetTagSize(tag));
            ASSERT_FALSE(x.empty()) << pattern << " tag " << tag;
            ASSERT_PV_OK(peer.tags->ReadTag(tag, 1, ULONG(x.size()), x.data()));
            ASSERT_PV_OK(ours.tags->ReadTag(tag, 1, ULONG(y.size()), y.data()));
            EXPECT_EQ(x, y) << pattern << " tag " << std::hex << tag;
        }
    }
}

// As the sample's own development test: the gradients in linear light against the scene. The sensor's
// rounding adds under a 12-bit step to the sample's, so the bar stays near the sample's 58 dB.
TEST(CameraRaw, TheDemoDevelopsADngBackToItsScene) {
    TempFolder folder;
    const CameraFile file(folder, "GBRG");
    CKvDemoHost host(64);
    ASSERT_PV_OK(host.Open(file.path));
    ASSERT_PV_OK(host.BuildGraph());
    TestPlane developed;
    ASSERT_PV_OK(PullAll(host.GetOutput(), &developed));
    ASSERT_EQ(developed.width, kWidth - 12);
    const PlaneDifference difference = GradientsAgainstScene(developed, kWidth, kHeight);
    EXPECT_GT(difference.psnr, 55.0) << difference.Describe();
}

TEST(CameraRaw, TruncatedAndForeignFilesAreRefused) {
    TempFolder folder;
    const CameraFile file(folder, "RGGB");
    std::ifstream in(file.path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1000u);
    std::vector<std::string> refused;
    for (std::size_t keep : {bytes.size() / 2, std::size_t{600}, std::size_t{16}})
        refused.push_back(folder.Write("cut" + std::to_string(keep) + ".dng",
                                       std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + keep)));
    refused.push_back(folder.Write("notes.txt", std::string("not a picture of any kind, only some words\n")));
    refused.push_back(folder.Write("zeros.bin", std::vector<std::uint8_t>(4096, 0)));
    for (const std::string& path : refused) {
        const LoadedFile loaded(path);
        ASSERT_TRUE(loaded.error) << path;
        EXPECT_FALSE(loaded.image);
        EXPECT_FALSE(loaded.tags);
    }
}

} // namespace
