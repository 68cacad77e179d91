#include "rawlib/pipeline/CKvTolmoFilterChain.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerBase.h"
#include "rawlib/settings/ImageProperties.h"

#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"
#include <cstring>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using kvtest::FillPattern;

class TolmoBuild : public ::testing::Test {
protected:
    void SetUp() override {
        plane = kvtest::MakePlane(37, 29, PravonColorSpace::kRGB16, FillPattern::Coordinates);
        image = kvtest::MakeImage(manager, plane);
        ASSERT_TRUE(image);
    }
    CPravonMemoryManager manager{16};
    kvtest::TestPlane plane;
    PravonImagePtr image;
    CKvTolmoFilterChain chain;
};

TEST_F(TolmoBuild, MakesEveryStageButThePlaceHoldersAndLinksThemInProcessingOrder) {
    ASSERT_EQ(chain.Build(&manager, image.get()), CKvTolmoFilterChain::kOk);
    std::set<int> made;
    for (int n = 0; n < CKvTolmoFilterChain::kStageCount; ++n)
        if (chain.GetStage(n))
            made.insert(n);
    std::set<int> expected;
    for (int n = 0; n < CKvTolmoFilterChain::kStageCount; ++n)
        if (n != 34 && n != 35 && n != 38)
            expected.insert(n);
    EXPECT_EQ(made, expected);

    IPravonFilterChain* output = chain.GetOutput();
    ASSERT_TRUE(output);
    // The order as the graph holds it, walked from the input by the links alone.
    const int order[] = {0,  1,  2,  36, 25, 4,  43, 37, 42, 13, 3,  11, 5,  39, 27,
                         23, 6,  22, 7,  44, 24, 12, 41, 40, 19, 20, 8,  28, 10, 14,
                         29, 45, 31, 32, 33, 9,  30, 17, 18, 15, 16, 21, 26};
    ASSERT_EQ(output->GetCount(), 43);
    IPravonDataSource* feeder = image.get();
    for (std::size_t i = 0; i < std::size(order); ++i) {
        CPravonFilterBase* stage = chain.GetStage(order[i]);
        EXPECT_EQ(output->GetAt(static_cast<LONG>(i)), stage) << i;
        EXPECT_TRUE(PravonIsConnected(feeder, stage)) << "stage " << order[i];
        feeder = stage;
    }
    EXPECT_EQ(output->GetOutput(), chain.GetStage(CKvTolmoFilterChain::kNativeOrderStage));
}

TEST_F(TolmoBuild, LeavesEveryStageDisabledButTheNativeOrderOneWhenAsked) {
    for (const bool native : {false, true}) {
        CKvTolmoFilterChain built;
        built.SetNativeOrder(native);
        ASSERT_EQ(built.Build(&manager, image.get()), CKvTolmoFilterChain::kOk);
        for (int n = 0; n < CKvTolmoFilterChain::kStageCount; ++n)
            if (CPravonFilterBase* stage = built.GetStage(n)) {
                EXPECT_EQ(stage->IsEnabled(), native && n == CKvTolmoFilterChain::kNativeOrderStage) << n;
            }
    }
}

TEST_F(TolmoBuild, WithEveryStageOffTheOutputIsTheSource) {
    ASSERT_EQ(chain.Build(&manager, image.get()), CKvTolmoFilterChain::kOk);
    kvtest::TestPlane pulled;
    ASSERT_PV_OK(kvtest::PullAll(chain.GetOutput()->GetOutput(), &pulled));
    const kvtest::PlaneDifference difference = kvtest::ComparePlanes(plane, pulled);
    EXPECT_EQ(difference.maxError, 0u) << difference.Describe();
    EXPECT_TRUE(difference.sameGeometry);
}

TEST_F(TolmoBuild, ASecondBuildChangesNothing) {
    ASSERT_EQ(chain.Build(&manager, image.get()), CKvTolmoFilterChain::kOk);
    IPravonFilterChain* output = chain.GetOutput();
    EXPECT_EQ(chain.Build(&manager, image.get()), CKvTolmoFilterChain::kAlreadyBuilt);
    EXPECT_EQ(chain.GetOutput(), output);
    EXPECT_EQ(output->GetCount(), 43);
}

TEST_F(TolmoBuild, RefusesMissingArgumentsAndKeepsNothing) {
    EXPECT_EQ(chain.Build(nullptr, image.get()), CKvTolmoFilterChain::kBadArgument);
    EXPECT_EQ(chain.Build(&manager, nullptr), CKvTolmoFilterChain::kBadArgument);
    EXPECT_FALSE(chain.IsBuilt());
    EXPECT_EQ(chain.GetOutput(), nullptr);
}

TEST_F(TolmoBuild, FixedTablesAndScalesAreSetAtBuild) {
    ASSERT_EQ(chain.Build(&manager, image.get()), CKvTolmoFilterChain::kOk);
    // The linearisation stage, switched on alone, reads table A (the square table at the 12-bit value
    // widened by its top four bits) at each 16-bit sample, interpolating linearly between entries.
    ASSERT_PV_OK(chain.GetStage(CKvTolmoFilterChain::kLineariseStage)->Enable(true, true));
    kvtest::TestPlane pulled;
    ASSERT_PV_OK(kvtest::PullAll(chain.GetOutput()->GetOutput(), &pulled));
    const WORD* square = GetSquareTable();
    const auto tableA = [&](std::int64_t i) { return std::int64_t{square[(i << 4) | (i >> 8)]}; };
    for (LONG y = 0; y < plane.height; ++y) {
        const auto* in = reinterpret_cast<const WORD*>(plane.Row(y));
        const auto* out = reinterpret_cast<const WORD*>(pulled.Row(y));
        for (LONG i = 0; i < plane.width * 3; ++i) {
            const std::int64_t at = std::int64_t{in[i]} * 4095;
            const std::int64_t low = at / 65535, part = at % 65535;
            const std::int64_t expected =
                part == 0 ? tableA(low) : tableA(low) + (tableA(low + 1) - tableA(low)) * part / 65535;
            ASSERT_EQ(out[i], expected) << y << " " << i << " from " << in[i];
        }
    }
}

TEST(KvnChainError, MapsResultCodesToKinds) {
    struct Case {
        int result;
        LONG kind;
    };
    const Case cases[] = {{2, PravonKind::kBadArgument},
                          {3, PravonKind::kOutOfMemory},
                          {4, PravonKind::kNotInitialised},
                          {5, PravonKind::kNotInitialised},
                          {6, PravonKind::kMissingInput},
                          {7, 11004},
                          {8, 11005},
                          {9, 11003},
                          {10, 11006},
                          {1, PravonKind::kInvalidState},
                          {17, PravonKind::kInvalidState}};
    for (const Case& c : cases)
        EXPECT_PV_KIND(KvnChainError(c.result), c.kind) << c.result;
    EXPECT_EQ(KvnChainError(0), nullptr);
}

} // namespace

namespace {

// Hand-worked entries of the gain stage's tables: 16 x entry x gain, then the display curve (12.92 x v
// below 199, else 65535 x (1.055 x (v / 65535)^(1 / 2.4) - 0.055), truncated).
TEST(TolmoGainTables, ExposureAndWhiteBalanceScaleBeforeTheDisplayCurve) {
    CKvExposureAdjustment exposure;
    CKvWBAdjustment fresh;
    CKvWBAdjustment balanced;
    balanced.SetMode(CKvWBAdjustment::kModeOldGains);
    balanced.SetGains(2.0, 0.5);
    struct Case {
        const char* name;
        double ev;
        CKvWBAdjustment* wb;
        int entry;
        WORD red, green, blue;
    };
    const Case cases[] = {
        {"one stop up", 1.0, &fresh, 1000, 47682, 47682, 47682},
        {"one stop up, near black", 1.0, &fresh, 5, 2067, 2067, 2067},
        // 1.055 - 0.055 falls just short of 1 in double arithmetic, so full scale truncates to 65534.
        {"one stop up, clipped", 1.0, &fresh, 3000, 65534, 65534, 65534},
        {"no change", 0.0, &fresh, 1000, 34817, 34817, 34817},
        {"gains of the state", 0.0, &balanced, 1000, 47682, 34817, 25179},
    };
    for (const Case& c : cases) {
        exposure.SetCompensation(c.ev);
        ImageProperties snapshot;
        snapshot.exposureEnabled = 1;
        snapshot.exposure = &exposure;
        snapshot.whiteBalanceEnabled = 1;
        snapshot.whiteBalance = c.wb;
        snapshot.cameraModelCode = 258;
        // As-shot gains of 1 in the camera information.
        const double one = 1.0;
        std::memcpy(snapshot.cameraInformation.data(), &one, 8);
        std::memcpy(snapshot.cameraInformation.data() + 8, &one, 8);
        const std::vector<WORD> tables = CKvTolmoFilterChain::GainTables(snapshot);
        ASSERT_EQ(tables.size(), 3u * 4096);
        EXPECT_EQ(tables[static_cast<std::size_t>(c.entry)], c.red) << c.name;
        EXPECT_EQ(tables[4096 + static_cast<std::size_t>(c.entry)], c.green) << c.name;
        EXPECT_EQ(tables[8192 + static_cast<std::size_t>(c.entry)], c.blue) << c.name;
    }
}

} // namespace
