// Pinned results of the whole demo chain on a generated sample: the mosaic, its white-balance curves, the
// standard demosaicing and the scaling, at three scales, and the display bytes of the developed picture.
// The scene tests allow for the interpolation's error; these hashes catch any change of arithmetic.
#include "testing/PlaneHash.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleMaker.h"

#include <gtest/gtest.h>

namespace {

using namespace kvtest;

CKvSampleMaker::Options PinnedSample(const TempFolder& folder) {
    CKvSampleMaker::Options options;
    options.width = 240;
    options.height = 160;
    options.pattern = "GBRG";
    options.cameraModel = 1026;
    options.redGain = 2.0;
    options.blueGain = 1.5;
    options.samplePath = folder.File("pinned.kvraw");
    return options;
}

struct Pin {
    double scale;
    LONG width;
    LONG height;
    std::uint64_t hash;
};

TEST(DevelopmentPinned, TheDemoChainGivesItsPinnedOutputAtEveryScale) {
    TempFolder folder;
    const auto options = PinnedSample(folder);
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    const Pin pins[] = {
        {1.0, 228, 148, 0x4f29d5364cc4b0f9ull},
        {0.5, 114, 74, 0x20a922bbb0d61ac2ull},
        {1.5, 342, 222, 0x0c091bb18fe2adefull},
    };
    for (const Pin& pin : pins) {
        for (LONG tileSize : {16, 64}) {
            CKvDemoHost host(tileSize);
            ASSERT_PV_OK(host.Open(options.samplePath));
            ASSERT_PV_OK(host.BuildGraph(pin.scale));
            TestPlane developed;
            ASSERT_PV_OK(PullAll(host.GetOutput(), &developed, PullOrder::RandomOrder, 5));
            EXPECT_EQ(developed.width, pin.width);
            EXPECT_EQ(developed.height, pin.height);
            EXPECT_EQ(HashText(HashPlane(developed)), HashText(pin.hash))
                << "scale " << pin.scale << ", tiles of " << tileSize;
        }
    }
}

TEST(DevelopmentPinned, TheDisplayBytesOfTheDevelopedSampleArePinned) {
    TempFolder folder;
    const auto options = PinnedSample(folder);
    ASSERT_PV_OK(CKvSampleMaker::Make(options));
    CKvDemoHost host(64);
    ASSERT_PV_OK(host.Open(options.samplePath));
    ASSERT_PV_OK(host.BuildGraph());
    std::vector<BYTE> rgb;
    LONG width = 0;
    LONG height = 0;
    ASSERT_PV_OK(host.Develop(&rgb, &width, &height, nullptr));
    ASSERT_EQ(rgb.size(), static_cast<std::size_t>(width) * height * 3);
    EXPECT_EQ(HashText(HashBytes(rgb.data(), rgb.size())), HashText(0xbc6d330d214f1619ull));
}

} // namespace
