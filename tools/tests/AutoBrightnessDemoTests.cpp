// The demo chain with the automatic brightness: a sample whose mosaic sits on a raised black is
// developed with and without it, and the stretched picture is the plain one mapped from the black level
// that the brightness settings heard from the filter.
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleMaker.h"

#include <gtest/gtest.h>

namespace {

using namespace kvtest;

// Lifts every 12-bit mosaic sample to offset + 3/4 of itself: nothing in the picture is black any more.
IPravonError* RaiseBlack(IPravonImage* mosaic, ULONG offset) {
    TestPlane plane;
    if (IPravonError* e = PullAll(mosaic, &plane))
        return e;
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            plane.SetSample(x, y, 0, offset + plane.Sample(x, y, 0) * 3 / 4);
    return WritePlane(mosaic, plane);
}

TEST(AutoBrightnessDemo, TheStretchedPictureIsThePlainOneMappedFromTheMeasuredBlack) {
    TempFolder folder;
    CKvSampleMaker::Options options;
    options.width = 200;
    options.height = 140;
    options.samplePath = folder.File("raised.kvraw");
    ASSERT_PV_OK(CKvSampleMaker::Make(options));

    TestPlane developed[2];
    LONG black = -1;
    for (bool automatic : {false, true}) {
        CKvDemoHost host(32);
        ASSERT_PV_OK(host.Open(options.samplePath));
        ASSERT_PV_OK(RaiseBlack(host.GetMosaic(), 600));
        ASSERT_PV_OK(host.BuildGraph(1.0, automatic));
        ASSERT_PV_OK(PullAll(host.GetOutput(), &developed[automatic], PullOrder::RandomOrder, 3));
        if (automatic) {
            ASSERT_TRUE(host.GetBrightness().IsMeasurementFresh());
            black = host.GetBrightness().GetBlackLevel();
        }
    }
    // The square-root domain puts the lifted black well above 0.
    ASSERT_GT(black, 10000);
    const TestPlane& plain = developed[0];
    const TestPlane& stretched = developed[1];
    ASSERT_EQ(plain.width, stretched.width);
    const std::uint64_t factor = 0xFFFF0000u / static_cast<std::uint32_t>(65535 - black);
    for (LONG y = 0; y < plain.height; ++y)
        for (LONG x = 0; x < plain.width; ++x)
            for (LONG c = 0; c < 3; ++c) {
                const ULONG t = plain.Sample(x, y, c);
                const ULONG expected = t <= static_cast<ULONG>(black) ? 0 : ((t - black) * factor) >> 16;
                ASSERT_EQ(stretched.Sample(x, y, c), expected) << x << "," << y << "," << c;
            }
}

} // namespace
