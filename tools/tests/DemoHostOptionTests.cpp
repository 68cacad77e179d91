// The demo host's choices: the high-quality demosaicing, tuned by the sample's sensitivity, and quarter
// turns of the developed picture.
#include "filters/CPravonFilterTransform.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"
#include "testing/ImageCompare.h"
#include "testing/PlaneHash.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleMaker.h"

#include <gtest/gtest.h>

namespace {

using namespace kvtest;

CKvSampleMaker::Options Sample(const TempFolder& folder, WORD sensitivity) {
    CKvSampleMaker::Options options;
    options.width = 200;
    options.height = 130;
    options.pattern = "GRBG";
    options.cameraModel = 1025;
    options.redGain = 1.8;
    options.blueGain = 1.3;
    options.sensitivity = sensitivity;
    options.samplePath = folder.File("options.kvraw");
    return options;
}

TestPlane Develop(const std::string& path, bool highQuality, double rotation, LONG tileSize = 32) {
    CKvDemoHost host(tileSize);
    host.SetHighQuality(highQuality);
    host.SetRotation(rotation);
    EXPECT_PV_OK(host.Open(path));
    EXPECT_PV_OK(host.BuildGraph());
    TestPlane out;
    EXPECT_PV_OK(PullAll(host.GetOutput(), &out, PullOrder::RandomOrder));
    return out;
}

TEST(DemoHostOptions, TheHighQualityDemosaicingIsTunedByTheSamplesSensitivity) {
    TempFolder folder;
    // 1600 gives levels 7 in the table of cameras of base 200.
    const auto tuned = Sample(folder, 1600);
    ASSERT_PV_OK(CKvSampleMaker::Make(tuned));
    CKvDemoHost host(32);
    host.SetHighQuality(true);
    ASSERT_PV_OK(host.Open(tuned.samplePath));
    ASSERT_PV_OK(host.BuildGraph());
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    auto* transform = static_cast<CPravonFilterTransform*>(host.GetOutput());
    transform->GetSources(&sources, &count);
    auto* scale = static_cast<CPravonFilterBase*>(sources[0]);
    scale->GetSources(&sources, &count);
    auto* hq = dynamic_cast<CDeBayerSingleHQ4Filter*>(sources[0]);
    ASSERT_NE(hq, nullptr);
    EXPECT_EQ(hq->GetTuning().level[0], 7);
    EXPECT_EQ(hq->GetTuning().level[2], 7);
    TestPlane developed;
    ASSERT_PV_OK(PullAll(host.GetOutput(), &developed));
    EXPECT_EQ(developed.width, 188);
    EXPECT_EQ(HashText(HashPlane(developed)), HashText(0x5768606ddacc2caaull))
        << "the whole chain's output is pinned";
    const TestPlane standard = Develop(tuned.samplePath, false, 0);
    EXPECT_FALSE(PlanesMatch(standard, developed)) << "the two demosaicings differ";
}

TEST(DemoHostOptions, QuarterTurnsTurnTheDevelopedPicture) {
    TempFolder folder;
    const auto options = Sample(folder, 200);
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    const TestPlane upright = Develop(options.samplePath, false, 0);
    for (double rotation : {90.0, 180.0, 270.0}) {
        const TestPlane turned = Develop(options.samplePath, false, rotation, 48);
        const bool swapped = rotation != 180.0;
        ASSERT_EQ(turned.width, swapped ? upright.height : upright.width) << rotation;
        ASSERT_EQ(turned.height, swapped ? upright.width : upright.height) << rotation;
        const LONG w = upright.width;
        const LONG h = upright.height;
        for (LONG v = 0; v < turned.height; ++v)
            for (LONG u = 0; u < turned.width; ++u) {
                // Where a clockwise turn takes the upright pixel from.
                const LONG x = rotation == 90.0 ? v : rotation == 180.0 ? w - 1 - u : w - 1 - v;
                const LONG y = rotation == 90.0 ? h - 1 - u : rotation == 180.0 ? h - 1 - v : u;
                for (LONG c = 0; c < 3; ++c)
                    ASSERT_EQ(turned.Sample(u, v, c), upright.Sample(x, y, c))
                        << rotation << " at " << u << ", " << v;
            }
    }
}

} // namespace
