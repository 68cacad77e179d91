#include "platform/quasel/CKvRawSampleLoad.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleMaker.h"
#include "tools/CKvSampleScene.h"
#include "tools/tests/SceneGradients.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using namespace kvtest;

CKvSampleMaker::Options SmallSample(const TempFolder& folder, const std::string& pattern) {
    CKvSampleMaker::Options options;
    options.width = 240;
    options.height = 160;
    options.pattern = pattern;
    options.cameraModel = 1026;
    options.redGain = 2.0;
    options.blueGain = 1.5;
    options.sensitivity = 400;
    options.samplePath = folder.File(pattern + ".kvraw");
    return options;
}

TEST(RawSample, TheSampleCarriesItsSceneThroughThePatternAndGainsWithItsTags) {
    TempFolder folder;
    for (const std::string pattern : {"RGGB", "GRBG", "GBRG", "BGGR"}) {
        const auto options = SmallSample(folder, pattern);
        ASSERT_PV_OK(CKvSampleMaker::Make(options));
        CPravonMemoryManager manager;
        IPravonImage* rawImage = nullptr;
        IPravonTagControl* rawTags = nullptr;
        ASSERT_PV_OK(
            CKvRawSampleLoad::LoadFile(&manager, PravonFile{options.samplePath}, &rawImage, &rawTags));
        PravonImagePtr image(rawImage);
        PravonTagControlPtr tags(rawTags);

        TestPlane mosaic;
        ASSERT_PV_OK(PullAll(image.get(), &mosaic));
        const CKvSampleScene scene(options.width, options.height);
        const double gain[3] = {2.0, 1.0, 1.5};
        for (LONG y = 0; y < options.height; y += 7) {
            for (LONG x = 0; x < options.width; x += 5) {
                const int channel = pattern[(y & 1) * 2 + (x & 1)] == 'R'   ? 0
                                    : pattern[(y & 1) * 2 + (x & 1)] == 'G' ? 1
                                                                            : 2;
                ASSERT_EQ(mosaic.Sample(x, y, 0), std::lround(scene.At(x, y, channel) / gain[channel]))
                    << pattern << " at " << x << ", " << y;
            }
        }

        BYTE cfa[8];
        ASSERT_PV_OK(tags->ReadTag(0xA302, 1, 8, cfa));
        EXPECT_EQ(cfa[0] << 8 | cfa[1], 2);
        EXPECT_EQ(cfa[2] << 8 | cfa[3], 2);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(cfa[4 + i], pattern[i] == 'R' ? 0 : pattern[i] == 'G' ? 1 : 2) << pattern;
        BYTE info[32];
        ASSERT_PV_OK(tags->ReadTag(0x8000C, 4, 32, info));
        double red = 0;
        double blue = 0;
        std::memcpy(&red, info, 8);
        std::memcpy(&blue, info + 8, 8);
        EXPECT_EQ(red, 2.0);
        EXPECT_EQ(blue, 1.5);
        WORD sensitivity[2] = {};
        ASSERT_PV_OK(tags->ReadTag(0x80002, 3, 4, sensitivity));
        EXPECT_EQ(sensitivity[0], 0);
        EXPECT_EQ(sensitivity[1], 400);
        WORD model = 0;
        ASSERT_PV_OK(tags->GetCameraModel(&model));
        EXPECT_EQ(model, 1026);
    }
}

// The developed gradients against the scene, in linear light: about 66 dB, where the same output one pixel
// out of place scores about 42 dB. The white balance costs up to one 12-bit step of the red and blue
// samples, the interpolation of these gradients about as much; 58 dB leaves room for that and no more.
TEST(RawSample, TheDemoGraphDevelopsTheSampleBackToItsScene) {
    TempFolder folder;
    const auto options = SmallSample(folder, "GBRG");
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    CKvDemoHost host(64);
    ASSERT_PV_OK(host.Open(options.samplePath));
    ASSERT_PV_OK(host.BuildGraph());
    TestPlane developed;
    ASSERT_PV_OK(PullAll(host.GetOutput(), &developed));
    ASSERT_EQ(developed.width, options.width - 12);
    ASSERT_EQ(developed.height, options.height - 12);

    const PlaneDifference difference = GradientsAgainstScene(developed, options.width, options.height);
    EXPECT_GT(difference.psnr, 58.0) << difference.Describe();

    std::vector<BYTE> rgb;
    LONG width = 0;
    LONG height = 0;
    LONG calls = 0;
    ASSERT_PV_OK(host.Develop(&rgb, &width, &height, [&](LONG done, LONG total) {
        ++calls;
        EXPECT_EQ(done, calls);
        EXPECT_EQ(total, 4 * 3);
    }));
    EXPECT_EQ(calls, 12);
    EXPECT_EQ(width, 228);
    EXPECT_EQ(height, 148);
    // The third patch of the top row, a grey of reflectance 0.18, shows as sRGB 118.
    const LONG px = 50 - 6;
    const LONG py = 10 - 6;
    EXPECT_NEAR(rgb[(static_cast<std::size_t>(py) * width + px) * 3 + 1], 118, 1);
}

TEST(RawSample, TheDemoGraphScalesTheDevelopedPicture) {
    TempFolder folder;
    const auto options = SmallSample(folder, "RGGB");
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    CKvDemoHost full(64);
    CKvDemoHost half(64);
    ASSERT_PV_OK(full.Open(options.samplePath));
    ASSERT_PV_OK(half.Open(options.samplePath));
    ASSERT_PV_OK(full.BuildGraph());
    ASSERT_PV_OK(half.BuildGraph(0.5));
    TestPlane big;
    TestPlane small;
    ASSERT_PV_OK(PullAll(full.GetOutput(), &big));
    ASSERT_PV_OK(PullAll(half.GetOutput(), &small));
    EXPECT_EQ(small.width, (big.width + 1) / 2);
    EXPECT_EQ(small.height, (big.height + 1) / 2);
    // An area reduction keeps the mean of a flat patch: compare one pixel well inside the first grey patch.
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(static_cast<double>(small.Sample(10, 10, c)), static_cast<double>(big.Sample(20, 20, c)),
                    64.0);
}

TEST(RawSample, TheDemoGraphSharpensWhenAsked) {
    TempFolder folder;
    const auto options = SmallSample(folder, "RGGB");
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    CKvDemoHost plain(64);
    CKvDemoHost sharp(64);
    ASSERT_PV_OK(plain.Open(options.samplePath));
    ASSERT_PV_OK(sharp.Open(options.samplePath));
    ASSERT_PV_OK(plain.BuildGraph());
    ASSERT_PV_OK(sharp.BuildGraph(1.0, false, 2, 1.5));
    TestPlane soft;
    TestPlane sharpened;
    ASSERT_PV_OK(PullAll(plain.GetOutput(), &soft));
    ASSERT_PV_OK(PullAll(sharp.GetOutput(), &sharpened));
    ASSERT_EQ(sharpened.width, soft.width);
    ASSERT_EQ(sharpened.height, soft.height);
    // Steps between neighbours grow; a flat patch stays as it was.
    const auto steps = [](const TestPlane& p) {
        double sum = 0;
        for (LONG y = 0; y < p.height; ++y)
            for (LONG x = 1; x < p.width; ++x)
                sum += std::abs(static_cast<double>(p.Sample(x, y, 1)) -
                                static_cast<double>(p.Sample(x - 1, y, 1)));
        return sum;
    };
    EXPECT_GT(steps(sharpened), 1.2 * steps(soft));
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(static_cast<double>(sharpened.Sample(20, 20, c)),
                    static_cast<double>(soft.Sample(20, 20, c)), 64.0);
}

} // namespace
