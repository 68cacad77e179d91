#include "DustScene.h"

#include "rawlib/filters/dust/CDustAnalyzer.h"
#include "rawlib/filters/dust/CDustMap.h"
#include "rawlib/filters/dust/CDustMapBuild.h"
#include "rawlib/filters/dust/CFltDust.h"
#include "rawlib/filters/dust/KvDustMapSteps.h"
#include "rawlib/filters/dust/KvDustToneTables.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using namespace dusttest;
using kvtest::TestPlane;

constexpr LONG kWidth = 240;
constexpr LONG kHeight = 160;
constexpr WORD kLevel = 30000;
// Apart from each other and from the borders by more than the texture ring's radius.
const std::vector<Spot> kSpots = {{40, 40, 0.5}, {120, 80, 0.55}, {200, 120, 0.5}, {60, 128, 0.6}};

// The analysis of a scene's reference for the scene's tags, ready to build maps from.
struct Scene {
    explicit Scene(const TestPlane& referencePlane, bool mosaic = false, LONG tileSize = 32)
        : manager(tileSize), reference(&manager), analyzer(&manager), tags(SceneTags(mosaic)) {
        const Bytes blob = SceneReference(referencePlane);
        EXPECT_PV_OK(reference.Load(static_cast<ULONG>(blob.size()), blob.data()));
        EXPECT_PV_OK(analyzer.Begin(&reference, tags.get()));
        LONG position = 0;
        LONG total = 1;
        while (position < total && !HasFatalFailure())
            EXPECT_PV_OK(analyzer.Step(&position, &total));
    }
    static bool HasFatalFailure() { return ::testing::Test::HasFailure(); }

    // Builds a map of the source to the end; the progress of every step.
    std::shared_ptr<CDustMap> Build(IPravonDataSource* source, bool linear, bool raw,
                                    std::vector<std::pair<LONG, LONG>>* progress = nullptr) {
        auto map = std::make_shared<CDustMap>(&manager);
        EXPECT_PV_OK(map->Begin(&analyzer, source, linear, raw));
        for (int guard = 0; guard < 1000000 && !map->IsComplete(); ++guard) {
            LONG position = 0;
            LONG total = 0;
            PravonErrorPtr error(map->Step(&position, &total));
            EXPECT_EQ(error, nullptr) << error->Describe();
            if (error)
                break;
            if (progress)
                progress->emplace_back(position, total);
        }
        return map;
    }

    CPravonMemoryManager manager;
    CDustReference reference;
    CDustAnalyzer analyzer;
    PravonTagControlPtr tags;
};

TestPlane Corrected(IPravonManager& manager, IPravonDataSource* source, std::shared_ptr<const CDustMap> map,
                    bool direct) {
    CFltDust filter(&manager);
    EXPECT_PV_OK(PravonConnect(source, &filter));
    EXPECT_PV_OK(filter.SetDirectGain(direct, false));
    EXPECT_PV_OK(filter.SetDustMap(std::move(map), false));
    TestPlane out;
    EXPECT_PV_OK(kvtest::PullAll(&filter, &out, kvtest::PullOrder::RandomOrder, 5));
    PravonErrorPtr(PravonDisconnect(source, &filter));
    return out;
}

TestPlane CorrectionPlane(const CDustMap& map) {
    TestPlane plane;
    EXPECT_PV_OK(kvtest::PullAll(map.GetCorrectionMap(), &plane));
    return plane;
}

// The map compares each pixel with the mean of its 9 x 9 window, which holds the spot too: a plus spot of
// transmission t leaves the corrected pixel at that mean, 1 - 5 (1 - t) / 81 of the clear level (at most
// 2.5 % off for these spots), and the map's steps of 1/128 add 0.8 %.
constexpr double kSpotTolerance = 0.035;
// The light corrections are smoothed over 3 x 3, so the ring just around a spot is touched too; from two
// pixels away the image must come through unchanged.
constexpr LONG kUntouchedFrom = 2;

// Checks the corrected image against the clear level: spots within the tolerance, clear areas unchanged.
void ExpectSpotsGone(const TestPlane& dusty, const TestPlane& corrected, const std::vector<Spot>& spots,
                     double clear, LONG channels) {
    ASSERT_EQ(corrected.width, dusty.width);
    ASSERT_EQ(corrected.height, dusty.height);
    double worstSpot = 0;
    LONG changedClear = 0;
    for (LONG y = 0; y < dusty.height; ++y)
        for (LONG x = 0; x < dusty.width; ++x)
            for (LONG c = 0; c < channels; ++c) {
                const ULONG out = corrected.Sample(x, y, c);
                if (TransmissionAt(spots, x, y) < 1)
                    worstSpot = std::max(worstSpot, std::abs(out - clear) / clear);
                else if (DistanceToSpots(spots, x, y) >= kUntouchedFrom && out != dusty.Sample(x, y, c))
                    ++changedClear;
            }
    EXPECT_LE(worstSpot, kSpotTolerance);
    EXPECT_EQ(changedClear, 0);
}

TEST(DustMapBuild, SpotsOfTheReferenceAreCorrectedAndClearAreasKept) {
    Scene scene(ReferencePlane(kWidth, kHeight, kSpots));
    const TestPlane dusty = DustyRgb16(kWidth, kHeight, kLevel, kSpots);
    PravonImagePtr source = kvtest::MakeImage(scene.manager, dusty);
    std::vector<std::pair<LONG, LONG>> progress;
    const auto map = scene.Build(source.get(), true, false, &progress);
    ASSERT_TRUE(map->IsComplete());
    ASSERT_NE(map->GetCorrectionMap(), nullptr);
    // Nine phases of 8 x 5 tiles, counted up one tile at a time to the end.
    const LONG tiles = 8 * 5;
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(9 * tiles, 9 * tiles));
    for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_LE(progress[i - 1].first, progress[i].first);
    ExpectSpotsGone(dusty, Corrected(scene.manager, source.get(), map, true), kSpots, kLevel, 3);
}

TEST(DustMapBuild, AQuarterTurnedImageGetsTheReferenceTurnedWithIt) {
    Scene scene(ReferencePlane(kWidth, kHeight, kSpots));
    const TestPlane dusty = QuarterTurn(DustyRgb16(kWidth, kHeight, kLevel, kSpots));
    PravonImagePtr source = kvtest::MakeImage(scene.manager, dusty);
    ASSERT_PV_OK(source->SetTransform(false, 90, false));
    std::vector<std::pair<LONG, LONG>> progress;
    const auto map = scene.Build(source.get(), true, false, &progress);
    ASSERT_TRUE(map->IsComplete());
    EXPECT_EQ(map->GetWidth(), kHeight);
    EXPECT_EQ(map->GetOrientationWord(), 180u);
    // The orientation is a phase of its own.
    EXPECT_EQ(progress.back().second, 10 * 5 * 8);
    ExpectSpotsGone(dusty, Corrected(scene.manager, source.get(), map, true), QuarterTurn(kSpots, kHeight),
                    kLevel, 3);
}

TEST(DustMapBuild, An8BitPictureIsCorrectedInLinearLightThroughTheCameraCurve) {
    // The spots take their light away in linear light, before the camera's curve made the samples.
    DustTuning camera;
    camera.cameraType = 257;
    double clearLinear = 0;
    ASSERT_TRUE(KvDust::CameraCurveInverse(camera, 180 / 255.0, &clearLinear));
    TestPlane dusty(kWidth, kHeight, PravonColorSpace::kRGB8);
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x) {
            double sample = 0;
            KvDust::CameraCurve(camera, clearLinear * TransmissionAt(kSpots, x, y), &sample);
            for (LONG c = 0; c < 3; ++c)
                dusty.SetSample(x, y, c, static_cast<ULONG>(std::lround(sample * 255)));
        }
    Scene scene(ReferencePlane(kWidth, kHeight, kSpots));
    PravonImagePtr source = kvtest::MakeImage(scene.manager, dusty);
    const auto map = scene.Build(source.get(), false, false);
    ASSERT_TRUE(map->IsComplete());
    EXPECT_EQ(map->GetToneTable().size(), 65792u);
    const TestPlane corrected = Corrected(scene.manager, source.get(), map, false);
    // The linear bound, seen through a curve of about gamma 2.2 at 180: 1.6 % of it, and a sample of
    // rounding.
    const double allowed = 180 * (1 - std::pow(1 - kSpotTolerance, 1 / 2.2)) + 1;
    double worst = 0;
    LONG changedClear = 0;
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x)
            for (LONG c = 0; c < 3; ++c) {
                const double out = corrected.Sample(x, y, c);
                if (TransmissionAt(kSpots, x, y) < 1)
                    worst = std::max(worst, std::abs(out - 180));
                else if (DistanceToSpots(kSpots, x, y) >= kUntouchedFrom)
                    changedClear += out != dusty.Sample(x, y, c);
            }
    EXPECT_LE(worst, allowed);
    EXPECT_EQ(changedClear, 0);
}

TEST(DustMapBuild, AMosaicIsDemosaicedAndItsMapFitsTheDemosaicedImage) {
    // The sensor is the reference's size; the demosaicing gives up 6 pixels on each side.
    constexpr LONG kFrame = CDeBayerBase::kFrame;
    const std::vector<Spot> sensorSpots = Shifted(kSpots, kFrame, kFrame);
    Scene scene(ReferencePlane(kWidth + 2 * kFrame, kHeight + 2 * kFrame, sensorSpots), true);
    PravonImagePtr dusty = kvtest::MakeImage(
        scene.manager, DustyMosaic(kWidth + 2 * kFrame, kHeight + 2 * kFrame, 2000, sensorSpots));
    PravonImagePtr clean =
        kvtest::MakeImage(scene.manager, DustyMosaic(kWidth + 2 * kFrame, kHeight + 2 * kFrame, 2000, {}));
    std::vector<std::pair<LONG, LONG>> progress;
    const auto map = scene.Build(dusty.get(), false, false, &progress);
    ASSERT_TRUE(map->IsComplete());
    EXPECT_EQ(map->GetWidth(), kWidth);
    EXPECT_EQ(map->GetHeight(), kHeight);
    EXPECT_EQ(map->GetToneTable().size(), 131072u);
    EXPECT_EQ(progress.back().second, 10 * 5 * 8);

    // The same demosaicing develops the images that the filter corrects, through the raw tone tables.
    const auto develop = [&](IPravonImage* mosaic, std::shared_ptr<const CDustMap> m) {
        CDeBayerSingleHQ4Filter demosaic(&scene.manager);
        EXPECT_PV_OK(PravonConnect(mosaic, &demosaic));
        const BYTE cfa[] = {0, 2, 0, 2, 0, 1, 1, 2};
        EXPECT_PV_OK(demosaic.SetCFAPattern(cfa, sizeof cfa, false));
        TestPlane out;
        if (m)
            out = Corrected(scene.manager, &demosaic, std::move(m), false);
        else
            EXPECT_PV_OK(kvtest::PullAll(&demosaic, &out));
        PravonErrorPtr(PravonDisconnect(mosaic, &demosaic));
        return out;
    };
    const TestPlane clear = develop(clean.get(), nullptr);
    const TestPlane uncorrected = develop(dusty.get(), nullptr);
    const TestPlane corrected = develop(dusty.get(), map);
    // In linear light, as the map measures it: the demosaicing's square-root domain squared.
    const WORD* square = GetSquareTable();
    const double clearLinear = square[clear.Sample(kWidth / 2, 20, 1)];
    double worstSpot = 0;
    double worstBefore = 0;
    LONG changedClear = 0;
    // The map measures luminance, (R + 2G + B) / 4 in linear light; the interpolation may tint a spot's
    // pixels, which one gain for all channels does not undo, so the check is made on the luminance.
    const auto luminance = [&](const TestPlane& p, LONG x, LONG y) {
        return (square[p.Sample(x, y, 0)] + 2.0 * square[p.Sample(x, y, 1)] + square[p.Sample(x, y, 2)]) / 4;
    };
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x) {
            if (TransmissionAt(kSpots, x, y) < 1) {
                worstSpot = std::max(worstSpot, std::abs(luminance(corrected, x, y) - clearLinear));
                worstBefore = std::max(worstBefore, std::abs(luminance(uncorrected, x, y) - clearLinear));
            } else if (DistanceToSpots(kSpots, x, y) >= 4) {
                for (LONG c = 0; c < 3; ++c)
                    changedClear += corrected.Sample(x, y, c) != uncorrected.Sample(x, y, c);
            }
        }
    // The same bound as from RGB: the spot's luminance is measured against its window's mean alike.
    EXPECT_GE(worstBefore / clearLinear, 0.3);
    EXPECT_LE(worstSpot / clearLinear, kSpotTolerance);
    EXPECT_EQ(changedClear, 0);
}

TEST(DustMapBuild, AReferenceTheBlurClearsGivesACompleteMapWithoutCorrection) {
    // A wider aperture than the reference's blurs faint spots away: no pixel stays dark enough.
    CPravonMemoryManager manager(32);
    CDustReference reference(&manager);
    const Bytes blob = SceneReference(ReferencePlane(kWidth, kHeight, {{100, 100, 0.97}}));
    ASSERT_PV_OK(reference.Load(static_cast<ULONG>(blob.size()), blob.data()));
    CameraTags t = DefaultCameraTags();
    t.fNumber = 2.8;
    PravonTagControlPtr tags = MakeTags(t);
    CDustAnalyzer analyzer(&manager);
    ASSERT_PV_OK(analyzer.Begin(&reference, tags.get()));
    for (LONG position = 0, total = 1; position < total;)
        ASSERT_PV_OK(analyzer.Step(&position, &total));
    ASSERT_EQ(analyzer.GetAnalysedImage(), nullptr);

    const TestPlane image = DustyRgb16(kWidth, kHeight, kLevel, {});
    PravonImagePtr source = kvtest::MakeImage(manager, image);
    auto map = std::make_shared<CDustMap>(&manager);
    ASSERT_PV_OK(map->Begin(&analyzer, source.get(), false, false));
    EXPECT_TRUE(map->IsComplete());
    EXPECT_EQ(map->GetCorrectionMap(), nullptr);
    EXPECT_EQ(map->GetDataSize(), 40 + map->GetCompressedToneTable().size());
    EXPECT_TRUE(kvtest::PlanesMatch(Corrected(manager, source.get(), map, false), image));
}

TEST(DustMapBuild, StoppingInAnyPhaseLeavesNoMapAndTheFilterPassesThrough) {
    Scene scene(ReferencePlane(kWidth, kHeight, kSpots));
    const TestPlane dusty = QuarterTurn(DustyRgb16(kWidth, kHeight, kLevel, kSpots));
    PravonImagePtr source = kvtest::MakeImage(scene.manager, dusty);
    ASSERT_PV_OK(source->SetTransform(false, 90, false));
    for (LONG phase = CDustMapBuild::kOrient; phase < CDustMapBuild::kDone; ++phase) {
        if (phase == CDustMapBuild::kDemosaic || phase == CDustMapBuild::kStartLuminance ||
            phase == CDustMapBuild::kStartCompression)
            continue; // no mosaic here; the set-up phases run within the next phase's first step
        SCOPED_TRACE(phase);
        auto map = std::make_shared<CDustMap>(&scene.manager);
        ASSERT_PV_OK(map->Begin(&scene.analyzer, source.get(), true, false));
        LONG position = 0;
        LONG total = 0;
        while (map->GetState() != phase)
            ASSERT_PV_OK(map->Step(&position, &total));
        ASSERT_PV_OK(map->Step(&position, &total)); // some of the phase done
        EXPECT_FALSE(map->IsComplete());
        // A filter given the half-built map leaves the image alone.
        EXPECT_TRUE(kvtest::PlanesMatch(Corrected(scene.manager, source.get(), map, true), dusty));
        map->Abort();
        EXPECT_EQ(map->GetState(), CDustMap::kIdle);
        EXPECT_EQ(map->GetCorrectionMap(), nullptr);
        EXPECT_EQ(map->GetDataSize(), 0u);
        EXPECT_PV_KIND(map->Step(&position, &total), PravonKind::kInvalidState);
    }
}

TEST(DustMapBuild, ABuiltMapIsStoredAndReadBackByteForByte) {
    Scene scene(ReferencePlane(kWidth, kHeight, kSpots));
    PravonImagePtr source = kvtest::MakeImage(scene.manager, DustyRgb16(kWidth, kHeight, kLevel, kSpots));
    const auto map = scene.Build(source.get(), false, false);
    ASSERT_TRUE(map->IsComplete());
    Bytes blob(map->GetDataSize());
    ASSERT_PV_OK(map->WriteData(static_cast<ULONG>(blob.size()), blob.data()));
    std::shared_ptr<CDustMap> read;
    ASSERT_EQ(CDustMap::LoadDustMap(&scene.manager, blob.data(), static_cast<ULONG>(blob.size()), &read), 0);
    Bytes again(read->GetDataSize());
    ASSERT_PV_OK(read->WriteData(static_cast<ULONG>(again.size()), again.data()));
    EXPECT_EQ(again, blob);
    EXPECT_TRUE(kvtest::PlanesMatch(CorrectionPlane(*read), CorrectionPlane(*map)));
    // Building again from the same analysis gives the same map.
    const auto rebuilt = scene.Build(source.get(), false, false);
    Bytes third(rebuilt->GetDataSize());
    ASSERT_PV_OK(rebuilt->WriteData(static_cast<ULONG>(third.size()), third.data()));
    EXPECT_EQ(third, blob);
}

TEST(DustMapBuild, TheFilterGivesTheSameOutputAtEveryTileSize) {
    Scene scene(ReferencePlane(kWidth, kHeight, kSpots));
    const TestPlane dusty = DustyRgb16(kWidth, kHeight, kLevel, kSpots);
    PravonImagePtr source = kvtest::MakeImage(scene.manager, dusty);
    const std::shared_ptr<const CDustMap> map = scene.Build(source.get(), false, false);
    const kvtest::GraphBuilder graph = [&](IPravonManager& manager, kvtest::TestGraph& g) -> IPravonError* {
        IPravonImage* image = g.Own(kvtest::MakeImage(manager, dusty));
        auto* filter = g.Own(new CFltDust(&manager));
        if (IPravonError* e = PravonConnect(image, filter))
            return e;
        if (IPravonError* e = filter->SetDustMap(map, false))
            return e;
        g.output = filter;
        return nullptr;
    };
    TestPlane first;
    EXPECT_TRUE(kvtest::SameAtEveryTileSize(graph, &first, {16, 256}));
    EXPECT_FALSE(kvtest::PlanesMatch(dusty, first));
}

TEST(DustMapBuild, BeginRefusesWhatItCannotMap) {
    Scene scene(ReferencePlane(kWidth, kHeight, kSpots));
    PravonImagePtr rgb = kvtest::MakeImage(scene.manager, DustyRgb16(kWidth, kHeight, kLevel, {}));
    PravonImagePtr grey =
        kvtest::MakeImage(scene.manager, kvtest::MakePlane(kWidth, kHeight, PravonColorSpace::kGrey16,
                                                           kvtest::FillPattern::Constant, 9));
    PravonImagePtr small = kvtest::MakeImage(scene.manager, DustyRgb16(99, 120, kLevel, {}));
    PravonImagePtr mosaic = kvtest::MakeImage(scene.manager, DustyMosaic(kWidth, kHeight, 2000, {}));
    CDustAnalyzer idle(&scene.manager);
    CDustMap map(&scene.manager);
    EXPECT_PV_KIND(map.Begin(nullptr, rgb.get(), false, false), PravonKind::kBadArgument);
    EXPECT_PV_KIND(map.Begin(&scene.analyzer, nullptr, false, false), PravonKind::kBadArgument);
    EXPECT_PV_KIND(map.Begin(&idle, rgb.get(), false, false), PravonKind::kNoSource);
    EXPECT_PV_KIND(map.Begin(&scene.analyzer, grey.get(), false, false), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(map.Begin(&scene.analyzer, small.get(), false, false), PravonKind::kNoSource);
    // The scene's tags carry no colour-filter layout.
    EXPECT_PV_KIND(map.Begin(&scene.analyzer, mosaic.get(), false, false), PravonKind::kOutOfRange);
    EXPECT_EQ(map.GetState(), CDustMap::kIdle);
    ASSERT_PV_OK(map.Begin(&scene.analyzer, rgb.get(), false, false));
    EXPECT_PV_KIND(map.Begin(&scene.analyzer, rgb.get(), false, false), PravonKind::kInvalidState);
    // A map in the middle of its build is not written.
    Bytes blob(1 << 20);
    EXPECT_PV_KIND(map.WriteData(static_cast<ULONG>(blob.size()), blob.data()), PravonKind::kNoSource);
}

} // namespace
