#include "LchReference.h"

#include "rawlib/filters/CFltChromaBooster.h"
#include "rawlib/settings/KvLchCalibration.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/LchCalibrationFiles.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

namespace {

using namespace kvtest;

// A calibration that renders to the half-range value everywhere: 32 chroma steps at 8 bits, 8224 at 16.
std::vector<WORD> FlatCalibration() {
    return std::vector<WORD>(65536, 32768);
}

// A machine with the booster's calibration file, and source -> booster -> recorder.
class Boosted : public ::testing::Test {
protected:
    void Build(const TestPlane& p, bool load = true) {
        WriteProfileFile(machine, "KvCBoost.nlc", LchCalibrationBytes({}, 0));
        plane = p;
        source = MakeImage(manager, plane);
        filter = std::make_unique<CFltChromaBooster>(&manager);
        ASSERT_PV_OK(PravonConnect(source.get(), filter.get()));
        ASSERT_PV_OK(PravonConnect(filter.get(), &recorder));
        if (load) {
            ASSERT_PV_OK(filter->LoadCalibration());
        }
    }
    void TearDown() override {
        if (!filter)
            return;
        PravonErrorPtr(PravonDisconnect(filter.get(), &recorder));
        PravonErrorPtr(PravonDisconnect(source.get(), filter.get()));
    }
    TestPlane Pull() {
        TestPlane out;
        EXPECT_PV_OK(PullAll(filter.get(), &out, PullOrder::RandomOrder, 8));
        return out;
    }
    // Every pixel's chroma against the formula at the level, lightness and hue as they came.
    void ExpectBoosted(const TestPlane& out, LONG level, const std::vector<LONG>& holdBack) {
        const LONG depth = plane.BitsPerSample();
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x) {
                const auto s = [&](LONG c) { return static_cast<LONG>(plane.Sample(x, y, c)); };
                ASSERT_EQ(static_cast<LONG>(out.Sample(x, y, 0)), s(0));
                ASSERT_EQ(static_cast<LONG>(out.Sample(x, y, 2)), s(2));
                ASSERT_EQ(static_cast<LONG>(out.Sample(x, y, 1)),
                          ReferenceChroma(s(0), s(1), s(2), level, depth, holdBack))
                    << "at " << x << "," << y << ", level " << level;
            }
    }

    TempSystemRoot machine;
    CPravonMemoryManager manager{16};
    TestPlane plane;
    PravonImagePtr source;
    std::unique_ptr<CFltChromaBooster> filter;
    NotificationRecorder recorder;
};

TEST_F(Boosted, LevelsWaitForTheCalibrationAndAreHeldWithinAHundred) {
    Build(MakePlane(20, 20, PravonColorSpace::kLCh8, FillPattern::Random, 1), false);
    ASSERT_PV_OK(filter->SetLevel(50, true));
    ASSERT_PV_OK(filter->SetEnabled(true, true));
    EXPECT_EQ(filter->GetLevel(), 0) << "ignored before a calibration is loaded";
    EXPECT_FALSE(filter->IsBoosterEnabled());
    ASSERT_PV_OK(filter->LoadCalibration());
    const struct {
        LONG level;
        LONG stored;
        bool announced;
    } steps[] = {{CFltChromaBooster::kUseDefaultLevel, 25, true},
                 {25, 25, false},
                 {150, 100, true},
                 {-5, 100, false},
                 {0, 0, true}};
    for (const auto& step : steps) {
        recorder.Clear();
        ASSERT_PV_OK(filter->SetLevel(step.level, true));
        EXPECT_EQ(filter->GetLevel(), step.stored) << "level " << step.level;
        EXPECT_EQ(recorder.Count(PravonNotification::kData), step.announced ? 1u : 0u)
            << "level " << step.level;
    }
    EXPECT_TRUE(recorder.heard.empty() || *recorder.heard.back().rect == (PravonRect{0, 0, 20, 20}));
}

TEST_F(Boosted, LevelZeroLeavesEveryPixelAsItIs) {
    for (LONG colorSpace : {PravonColorSpace::kLCh8, PravonColorSpace::kLCh16}) {
        Build(MakePlane(30, 20, colorSpace, FillPattern::Random, 4));
        ASSERT_PV_OK(filter->SetEnabled(true, false));
        EXPECT_TRUE(PlanesMatch(plane, Pull())) << std::hex << colorSpace;
        TearDown();
    }
}

TEST_F(Boosted, SwitchedOffEveryChromaIsBoostedAndOnTheCalibrationHoldsItBack) {
    for (LONG colorSpace : {PravonColorSpace::kLCh8, PravonColorSpace::kLCh16}) {
        Build(MakePlane(30, 20, colorSpace, FillPattern::Random, 6));
        const LONG depth = plane.BitsPerSample();
        ASSERT_PV_OK(filter->SetLevel(60, false));
        const TestPlane off = Pull();
        ExpectBoosted(off, 60, {});
        ASSERT_PV_OK(filter->SetEnabled(true, false));
        ExpectBoosted(Pull(), 60, HoldBack(FlatCalibration(), depth));
        ASSERT_PV_OK(filter->SetEnabled(false, false));
        EXPECT_TRUE(PlanesMatch(off, Pull())) << "switched off again";
        TearDown();
    }
}

TEST_F(Boosted, ALevelAboveAHundredBoostsAsAHundredDoes) {
    Build(MakePlane(30, 20, PravonColorSpace::kLCh16, FillPattern::Random, 6));
    ASSERT_PV_OK(filter->SetLevel(100, false));
    const TestPlane hundred = Pull();
    ExpectBoosted(hundred, 100, {});
    ASSERT_PV_OK(filter->SetLevel(0, false));
    ASSERT_PV_OK(filter->SetLevel(3000, false));
    EXPECT_TRUE(PlanesMatch(hundred, Pull()));
}

TEST_F(Boosted, ATileNeedsTheCalibrationAndAnLchSource) {
    Build(MakePlane(20, 20, PravonColorSpace::kLCh8, FillPattern::Random, 1), false);
    TestPlane out;
    EXPECT_PV_KIND(PullAll(filter.get(), &out), PravonKind::kInvalidState);
    // The LCh editor's file is not the booster's.
    WriteProfileFile(machine, "KvCBoost.nlc", {});
    WriteProfileFile(machine, "KvLchCal.nlc", LchCalibrationBytes({}, 0));
    EXPECT_PV_KIND(filter->LoadCalibration(), KvLchCalibrationKind::kWrongLength);
    EXPECT_FALSE(filter->IsCalibrationLoaded());
    EXPECT_PV_KIND(PullAll(filter.get(), &out), PravonKind::kInvalidState);
    TearDown();

    Build(MakePlane(20, 20, PravonColorSpace::kRGB8, FillPattern::Random, 1));
    EXPECT_PV_KIND(PullAll(filter.get(), &out), PravonKind::kUnsupportedColorSpace);
}

TEST_F(Boosted, TheOutputIsTheSameAtEveryTileSize) {
    WriteProfileFile(machine, "KvCBoost.nlc", LchCalibrationBytes({{0.5, 0.4, 0.3}}, 0.1));
    const TestPlane lch = MakePlane(43, 27, PravonColorSpace::kLCh16, FillPattern::Random, 3);
    EXPECT_TRUE(SameAtEveryTileSize([&](IPravonManager& m, TestGraph& graph) -> IPravonError* {
        IPravonImage* image = graph.Own(MakeImage(m, lch));
        auto* booster = graph.Own(new CFltChromaBooster(&m));
        graph.output = booster;
        if (IPravonError* e = PravonConnect(image, booster))
            return e;
        if (IPravonError* e = booster->LoadCalibration())
            return e;
        if (IPravonError* e = booster->SetEnabled(true, false))
            return e;
        return booster->SetLevel(CFltChromaBooster::kUseDefaultLevel, false);
    }));
}

} // namespace
