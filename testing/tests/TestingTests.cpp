#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace kvtest;

TEST(ImageCompareTest, ReportsTheLargestDifferenceAndWhereItIs) {
    TestPlane a = MakePlane(10, 6, PravonColorSpace::kRGB16, FillPattern::Gradient);
    TestPlane b = a;
    b.SetSample(7, 4, 2, b.Sample(7, 4, 2) + 300);
    b.SetSample(1, 1, 0, b.Sample(1, 1, 0) ^ 1);
    const PlaneDifference d = ComparePlanes(a, b);
    EXPECT_TRUE(d.sameGeometry);
    EXPECT_EQ(d.maxError, 300u);
    EXPECT_EQ(d.x, 7);
    EXPECT_EQ(d.y, 4);
    EXPECT_EQ(d.channel, 2);
    EXPECT_EQ(d.differing, 2u);
    const double mse = (300.0 * 300.0 + 1.0) / (10 * 6 * 3);
    EXPECT_NEAR(d.psnr, 10 * std::log10(65535.0 * 65535.0 / mse), 1e-9);
    EXPECT_TRUE(PlanesMatch(a, b, 300));
    EXPECT_FALSE(PlanesMatch(a, b, 299));
    EXPECT_TRUE(std::isinf(ComparePlanes(a, a).psnr));
    EXPECT_FALSE(PlanesMatch(a, MakePlane(10, 7, PravonColorSpace::kRGB16, FillPattern::Gradient)));
}

TEST(TestPlaneTest, SubByteSamplesArePackedMostSignificantFirst) {
    TestPlane p(5, 1, 0x02020001);
    p.SetSample(0, 0, 0, 3);
    p.SetSample(3, 0, 0, 1);
    p.SetSample(4, 0, 0, 2);
    EXPECT_EQ(p.data[0], 0xC1);
    EXPECT_EQ(p.data[1], 0x80);
    EXPECT_EQ(p.Sample(3, 0, 0), 1u);
    TestPlane crop = p.Crop(CPravonRect(3, 0, 9, 1));
    EXPECT_EQ(crop.width, 2);
    EXPECT_EQ(crop.Sample(1, 0, 0), 2u);
}

TEST(TestPlaneTest, InvertingTurnsExactlyTheSamplesInsideTheRectangle) {
    const struct {
        LONG colorSpace;
        ULONG maximum;
    } cases[] = {{PravonColorSpace::kRGB8, 255}, {PravonColorSpace::kGrey16, 65535}};
    for (const auto& c : cases) {
        const TestPlane plane = MakePlane(9, 6, c.colorSpace, FillPattern::Random, 4);
        const TestPlane inverted = plane.Inverted(CPravonRect(7, 2, 12, 4)); // runs past the right edge
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                for (LONG k = 0; k < plane.Channels(); ++k) {
                    const bool inside = x >= 7 && y >= 2 && y < 4;
                    ASSERT_EQ(inverted.Sample(x, y, k),
                              inside ? c.maximum - plane.Sample(x, y, k) : plane.Sample(x, y, k))
                        << x << ", " << y;
                }
    }
}

TEST(PullAllTest, EveryOrderAndLockFormGivesTheImageBack) {
    CPravonMemoryManager manager(7);
    for (LONG cs : {PravonColorSpace::kRGB8, PravonColorSpace::kGrey16, LONG{0x01020001}}) {
        const TestPlane plane = MakePlane(31, 17, cs, FillPattern::Random, 3);
        auto image = MakeImage(manager, plane);
        ASSERT_TRUE(image);
        for (bool grid : {false, true}) {
            for (PullOrder order : {PullOrder::TileOrder, PullOrder::RandomOrder}) {
                TestPlane out;
                ASSERT_PV_OK(PullAll(image.get(), &out, order, 11, grid));
                EXPECT_TRUE(PlanesMatch(plane, out));
            }
        }
        EXPECT_EQ(manager.GetLockCount(), 0);
    }
}

TEST(TileSizeSweepTest, AnImageAloneIsTheSameAtEveryTileSize) {
    const TestPlane plane = MakePlane(40, 23, PravonColorSpace::kRGB16, FillPattern::Coordinates);
    TestPlane first;
    EXPECT_TRUE(SameAtEveryTileSize(
        [&](IPravonManager& manager, TestGraph& graph) {
            graph.output = graph.Own(MakeImage(manager, plane));
            return nullptr;
        },
        &first));
    EXPECT_TRUE(PlanesMatch(plane, first));
}

TEST(TileSizeSweepTest, OutputThatDependsOnTheTileSizeIsCaught) {
    auto result = SameAtEveryTileSize([](IPravonManager& manager, TestGraph& graph) {
        const LONG tileSize = static_cast<CPravonMemoryManager&>(manager).GetTileSize();
        graph.output =
            graph.Own(MakeImage(manager, MakePlane(20, 20, PravonColorSpace::kGrey8, FillPattern::Constant, tileSize)));
        return nullptr;
    });
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("tile size 16, tile order differs"), std::string::npos)
        << result.message();
}

TEST(TileSizeSweepTest, LeftLocksAndSurvivingImagesAreCaught) {
    const TestPlane plane = MakePlane(8, 8, PravonColorSpace::kGrey8, FillPattern::Random);
    auto locked = SameAtEveryTileSize([&](IPravonManager& manager, TestGraph& graph) {
        IPravonImage* image = graph.Own(MakeImage(manager, plane));
        graph.output = image;
        void* data = nullptr;
        return image->LockTile(0, 0, &data, nullptr);
    });
    EXPECT_FALSE(locked);
    EXPECT_NE(std::string(locked.message()).find("tile locks left behind"), std::string::npos);

    std::vector<PravonImagePtr> survivors;
    auto surviving = SameAtEveryTileSize([&](IPravonManager& manager, TestGraph& graph) {
        survivors.push_back(MakeImage(manager, plane));
        graph.output = survivors.back().get();
        return nullptr;
    });
    EXPECT_FALSE(surviving);
    EXPECT_NE(std::string(surviving.message()).find("outlived their graph"), std::string::npos);
}

TEST(PravonTestSupportTest, ExpectationsReportTheChain) {
    EXPECT_TRUE(Succeeded(nullptr));
    auto failure = Succeeded(IPravonError::Add(nullptr, 32, 5, PravonKind::kNoSource));
    EXPECT_FALSE(failure);
    EXPECT_NE(std::string(failure.message()).find("kind 1003"), std::string::npos);
    EXPECT_TRUE(FailedWithKind(IPravonError::Add(nullptr, 32, 5, PravonKind::kNoSource), PravonKind::kNoSource));
    EXPECT_FALSE(FailedWithKind(nullptr, PravonKind::kNoSource));
    EXPECT_FALSE(FailedWithKind(IPravonError::Add(nullptr, 32, 5, 7), PravonKind::kNoSource));
}

} // namespace
