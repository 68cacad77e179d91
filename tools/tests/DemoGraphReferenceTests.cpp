// The demo's own graph (the mosaic, its white-balance curves, the standard demosaicing and the scaling)
// judged against the scene the sample was made from, at three scales, and its display bytes against the
// sRGB encoding worked out here: references from outside the code, where pinned hashes of its own output
// could not tell a fix from a fault.
#include "rawlib/filters/CDeBayerBase.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleMaker.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace kvtest;

constexpr LONG kWidth = 600, kHeight = 400;
constexpr LONG kFrame = CDeBayerBase::kFrame;
// One 12-bit step in 16-bit linear light, and the white balance's rounding of the red and blue samples to
// 12 bits before the gains bring them back: a flat area comes back within two steps.
constexpr double kTwelveBitStep = 65535.0 / 4095.0;
constexpr double kFlatTolerance = 2 * kTwelveBitStep;

CKvSampleMaker::Options Sample(const TempFolder& folder) {
    CKvSampleMaker::Options options;
    options.width = kWidth;
    options.height = kHeight;
    options.pattern = "GBRG";
    options.cameraModel = 1026;
    options.redGain = 2.0;
    options.blueGain = 1.5;
    options.samplePath = folder.File("reference.kvraw");
    return options;
}

// Whether every channel of the scene is the same over the square of `radius` around (x, y).
bool FlatAround(const CKvSampleScene& scene, LONG x, LONG y, LONG radius) {
    if (x - radius < 0 || y - radius < 0 || x + radius >= kWidth || y + radius >= kHeight)
        return false;
    for (LONG v = y - radius; v <= y + radius; ++v)
        for (LONG u = x - radius; u <= x + radius; ++u)
            for (int c = 0; c < 3; ++c)
                if (scene.At(u, v, c) != scene.At(x, y, c))
                    return false;
    return true;
}

TEST(DemoGraphReference, EveryScaleGivesTheScenesFlatAreasAtEveryTileSizeAndOrder) {
    TempFolder folder;
    const auto options = Sample(folder);
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    const CKvSampleScene scene(kWidth, kHeight);
    const WORD* square = GetSquareTable();
    for (const double scale : {1.0, 0.5, 1.5}) {
        TestPlane first;
        for (const LONG tileSize : {16, 64}) {
            CKvDemoHost host(tileSize);
            ASSERT_PV_OK(host.Open(options.samplePath));
            ASSERT_PV_OK(host.BuildGraph(scale));
            TestPlane developed;
            ASSERT_PV_OK(PullAll(host.GetOutput(), &developed,
                                 tileSize == 16 ? PullOrder::RandomOrder : PullOrder::TileOrder, 5));
            // The demosaiced picture is the mosaic less its frame, scaled and rounded up.
            EXPECT_EQ(developed.width, LONG(std::ceil((kWidth - 2 * kFrame) * scale))) << scale;
            EXPECT_EQ(developed.height, LONG(std::ceil((kHeight - 2 * kFrame) * scale))) << scale;
            if (first.width == 0) {
                first = developed;
                continue;
            }
            EXPECT_EQ(ComparePlanes(first, developed).maxError, 0u)
                << "scale " << scale << ": tiles of 16 in random order against tiles of 64";
        }
        // Where the scene is flat over everything the demosaicing and the scaling look at, the picture is
        // the scene, whatever either interpolates.
        const LONG radius = kFrame + LONG(std::ceil(2 / scale));
        int checked = 0;
        double worst = 0;
        for (LONG y = 0; y < first.height; ++y)
            for (LONG x = 0; x < first.width; ++x) {
                const LONG sx = kFrame + LONG(std::floor((x + 0.5) / scale));
                const LONG sy = kFrame + LONG(std::floor((y + 0.5) / scale));
                if (!FlatAround(scene, sx, sy, radius))
                    continue;
                ++checked;
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::fabs(square[first.Sample(x, y, c)] -
                                                      scene.At(sx, sy, c) * 65535.0 / 4095.0));
            }
        EXPECT_GT(checked, 200) << "scale " << scale << ": the scene's flat areas were found";
        EXPECT_LE(worst, kFlatTolerance) << "scale " << scale;
    }
}

double SrgbEncoded(double linear) {
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

TEST(DemoGraphReference, TheDisplayBytesAreTheSrgbEncodingOfTheDevelopedLight) {
    TempFolder folder;
    const auto options = Sample(folder);
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    CKvDemoHost host(64);
    ASSERT_PV_OK(host.Open(options.samplePath));
    ASSERT_PV_OK(host.BuildGraph());
    TestPlane developed;
    ASSERT_PV_OK(PullAll(host.GetOutput(), &developed));
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    ASSERT_PV_OK(host.Develop(&rgb, &width, &height, nullptr));
    ASSERT_EQ(width, developed.width);
    ASSERT_EQ(height, developed.height);
    const WORD* square = GetSquareTable();
    int worst = 0;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double expected = 255 * SrgbEncoded(square[developed.Sample(x, y, c)] / 65535.0);
                const int got =
                    rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3 + std::size_t(c)];
                worst = std::max(worst, int(std::ceil(std::fabs(got - expected) - 0.5)));
            }
    EXPECT_LE(worst, 0) << "every byte is the encoding rounded to the nearest";
}

} // namespace
