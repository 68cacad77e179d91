// The high-quality demosaicing as a filter: its tuning by sensitivity, its colour-filter check, flat input,
// the same output at every tile size and pull order, exact invalidation by its halo, its quality against
// the sample scene next to the standard demosaicing, and whole outputs against the reference.
#include "rawlib/filters/tests/DeBayerChangeReach.h"
#include "rawlib/filters/tests/DeBayerHQ4TestSupport.h"
#include "rawlib/filters/tests/DeBayerReference.h"

#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"
#include "testing/NotificationRecorder.h"
#include "testing/TileSizeSweep.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace kvtest;

// The sample scene's mosaic through a Bayer layout, without white-balance gains, with noise of +-noise
// added from column noiseFrom on.
TestPlane SceneMosaic(const CKvSampleScene& scene, const BayerLayout& layout, LONG noiseFrom = 0,
                      LONG noise = 0) {
    const LONG w = scene.GetWidth();
    const LONG h = scene.GetHeight();
    const std::vector<WORD> samples =
        CKvSampleScene::Mosaic(scene.Render(), w, h, layout.descriptor.data() + 4, 1.0, 1.0);
    std::mt19937 random(3);
    TestPlane plane(w, h, PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < h; ++y)
        for (LONG x = 0; x < w; ++x) {
            LONG v = samples[static_cast<std::size_t>(y) * w + x];
            if (noise > 0 && x >= noiseFrom)
                v = std::clamp<LONG>(v + static_cast<LONG>(random() % (2 * noise + 1)) - noise, 0, 4095);
            plane.SetSample(x, y, 0, static_cast<ULONG>(v));
        }
    return plane;
}

TEST(HQ4Tuning, SensitivitiesInTheTablesSetAllThreeLevels) {
    struct Case {
        bool base125;
        LONG sensitivity;
        LONG level; // 0: not in the table
    };
    // The levels as the two tables list them, probed at their steps and beyond them.
    const Case cases[] = {
        {false, 200, 3},  {false, 250, 3},  {false, 280, 4},  {false, 500, 4}, {false, 570, 6},
        {false, 1010, 6}, {false, 1130, 7}, {false, 1600, 7}, {false, -1, 15}, {false, -2, 30},
        {false, 125, 0},  {false, 3200, 0}, {false, 0, 0},    {true, 125, 3},  {true, 140, 4},
        {true, 200, 4},   {true, 280, 6},   {true, 500, 6},   {true, 570, 7},  {true, 800, 7},
        {true, -1, 15},   {true, -2, 30},   {true, 1600, 0},  {true, 1010, 0}, {true, -3, 0},
    };
    for (const Case& c : cases) {
        HQ4Tuning tuning;
        tuning.level[0] = 9;
        tuning.level[1] = 10;
        tuning.level[2] = 11;
        tuning.further[3] = 99;
        const HQ4Tuning before = tuning;
        const bool missing = c.base125 ? tuning.SetBySensitivityBase125(c.sensitivity)
                                       : tuning.SetBySensitivity(c.sensitivity);
        SCOPED_TRACE(testing::Message() << (c.base125 ? "base 125, " : "base 200, ") << c.sensitivity);
        EXPECT_EQ(missing, c.level == 0);
        if (c.level == 0) {
            EXPECT_EQ(tuning, before) << "a sensitivity not in the table leaves the record alone";
            continue;
        }
        const LONG expected[9] = {c.level, c.level, c.level, 6, 15, 1, 14, 1, 1};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(tuning.level[i], expected[i]);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(tuning.further[i], expected[3 + i]);
    }
}

TEST(HQ4Tuning, TheDefaultsAndThePlacesInTheTables) {
    HQ4Tuning tuning;
    tuning.level[1] = 20;
    tuning.further[0] = 0;
    tuning.Reset();
    const HQ4Tuning defaults;
    EXPECT_EQ(tuning, defaults);
    EXPECT_EQ(defaults.level[0], 3);
    EXPECT_EQ(defaults.further[4], 1);
    // The dust map picks its thresholds by these places: a sensitivity not listed is one past the end.
    EXPECT_EQ(HQ4SensitivityTables::IndexOf(HQ4SensitivityTables::Base200(), 200), 0u);
    EXPECT_EQ(HQ4SensitivityTables::IndexOf(HQ4SensitivityTables::Base200(), 1600), 12u);
    EXPECT_EQ(HQ4SensitivityTables::IndexOf(HQ4SensitivityTables::Base200(), -2), 14u);
    EXPECT_EQ(HQ4SensitivityTables::IndexOf(HQ4SensitivityTables::Base200(), 100), 15u);
    EXPECT_EQ(HQ4SensitivityTables::IndexOf(HQ4SensitivityTables::Base125(), 125), 0u);
    EXPECT_EQ(HQ4SensitivityTables::IndexOf(HQ4SensitivityTables::Base125(), -1), 12u);
    EXPECT_EQ(HQ4SensitivityTables::IndexOf(HQ4SensitivityTables::Base125(), 1600), 14u);
}

TEST(DeBayerHQ4Filter, NamesItselfAndChecksTheColourFilterPatternUnderItsOwnCode) {
    const TestPlane mosaic = FlatMosaic(30, 30, 500);
    HQ4Demosaic d(mosaic);
    EXPECT_EQ(d.filter->GetFilterCode(), FourCC("db1g"));
    EXPECT_STREQ(d.filter->GetFilterDescription(),
                 "De-Bayer single resolution high quality interpolation filter V4");
    for (const auto& layout : BayerLayouts()) {
        ASSERT_PV_OK(d.filter->SetCFAPattern(layout.descriptor.data(), 8, false));
        EXPECT_EQ(d.filter->GetGreenPhase(), layout.greenPhase) << layout.name;
        EXPECT_EQ(d.filter->GetRedRowPhase(), layout.redRowPhase) << layout.name;
    }
    const BYTE wide[10] = {0, 3, 0, 2, 0, 1, 0, 1, 2, 1};
    const BYTE rowGreen[8] = {0, 2, 0, 2, 1, 1, 0, 2};
    for (const auto& [bytes, size] : {std::pair{wide, 10u}, std::pair{rowGreen, 8u}}) {
        PravonErrorPtr err(d.filter->SetCFAPattern(bytes, size, false));
        ASSERT_TRUE(err);
        EXPECT_EQ(err->GetKind(), PravonKind::kInvalidState);
        EXPECT_EQ(err->GetComponent(), FourCC("db1g"));
    }
}

TEST(DeBayerHQ4Filter, AFlatMosaicGivesGreyEverywhereForEveryLayout) {
    const ULONG level = 2345;
    for (const auto& layout : BayerLayouts()) {
        for (bool nonSquare : {false, true}) {
            HQ4Demosaic d(FlatMosaic(41, 37, level), layout.descriptor, 16);
            ASSERT_PV_OK(d.filter->SetNonSquareMode(nonSquare, nullptr, false));
            EXPECT_TRUE(GreyEverywhere(d.Pull(), level, nonSquare)) << layout.name;
        }
    }
}

TEST(DeBayerHQ4Filter, SamplesBeyondTwelveBitsReadAsTheLargestOne) {
    const CKvSampleScene scene(60, 50);
    TestPlane wild = SceneMosaic(scene, BayerLayouts()[2]);
    TestPlane capped = wild;
    for (LONG y = 0; y < wild.height; ++y)
        for (LONG x = y % 3; x < wild.width; x += 3) {
            wild.SetSample(x, y, 0, 4096 + static_cast<ULONG>(x * 997 + y * 31) % 61440);
            capped.SetSample(x, y, 0, 4095);
        }
    HQ4Demosaic a(wild, BayerLayouts()[2].descriptor);
    HQ4Demosaic b(capped, BayerLayouts()[2].descriptor);
    EXPECT_TRUE(PlanesMatch(b.Pull(), a.Pull()));
}

TEST(DeBayerHQ4Filter, AMosaicOfAnotherColourSpaceIsRefused) {
    CPravonMemoryManager manager(32);
    PravonImagePtr rgb = MakeImage(manager, MakePlane(40, 40, PravonColorSpace::kRGB16, FillPattern::Random));
    CDeBayerSingleHQ4Filter filter(&manager);
    ASSERT_PV_OK(PravonConnect(rgb.get(), &filter));
    void* data = nullptr;
    PravonErrorPtr err(filter.LockTile(0, 0, &data, nullptr));
    ASSERT_TRUE(err);
    EXPECT_TRUE(err->HasText("Bad source data color space")) << err->Describe();
}

// Tiles of 7 cannot hold the window of one output pixel, so the cursor's six tiles take turns; the
// output stays the same.
TEST(DeBayerHQ4Filter, TheOutputIsTheSameAtEveryTileSizeAndPullOrder) {
    const CKvSampleScene scene(300, 270);
    const BayerLayout& layout = BayerLayouts()[1];
    const TestPlane mosaic = SceneMosaic(scene, layout, 200, 300);
    std::vector<WORD> red(4096), blue(4096);
    for (int i = 0; i < 4096; ++i) {
        red[i] = static_cast<WORD>(std::min(i * 1.9, 4095.0));
        blue[i] = static_cast<WORD>(std::min(i * 1.4, 4095.0));
    }
    struct Setting {
        bool nonSquare;
        PravonRect crop;
        bool curves;
    };
    for (const Setting s : {Setting{false, {}, true}, Setting{true, {}, false},
                            Setting{false, {9, 3, 270, 250}, false}, Setting{true, {5, 4, 200, 300}, true}}) {
        EXPECT_TRUE(SameAtEveryTileSize(
            [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
                IPravonImage* source = graph.Own(MakeImage(manager, mosaic));
                auto* filter = graph.Own(new CDeBayerSingleHQ4Filter(&manager));
                if (IPravonError* e = PravonConnect(source, filter))
                    return e;
                if (IPravonError* e = filter->SetCFAPattern(layout.descriptor.data(), 8, false))
                    return e;
                if (IPravonError* e = filter->SetNonSquareMode(s.nonSquare, nullptr, false))
                    return e;
                if (IPravonError* e = filter->SetCropRect(s.crop, nullptr, false))
                    return e;
                if (s.curves)
                    if (IPravonError* e =
                            filter->SetParameters(12, 12, red.data(), nullptr, blue.data(), false))
                        return e;
                graph.output = filter;
                return nullptr;
            },
            nullptr, {7, 16, 128, 256}))
            << (s.nonSquare ? "non-square" : "square") << ", crop " << s.crop.left;
    }
}

TEST(DeBayerHQ4Filter, ANewTuningRenewsTheOutputWithoutAnnouncingIt) {
    const CKvSampleScene scene(80, 70);
    const TestPlane mosaic = SceneMosaic(scene, BayerLayouts()[0], 0, 500);
    HQ4Demosaic d(mosaic);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(d.filter.get(), &recorder));
    const TestPlane levelThree = d.Pull();
    HQ4Tuning strong;
    ASSERT_FALSE(strong.SetBySensitivity(-2));
    recorder.Clear();
    ASSERT_PV_OK(d.filter->SetTuning(strong));
    EXPECT_TRUE(recorder.heard.empty());
    EXPECT_EQ(d.filter->GetTuning(), strong);
    const TestPlane levelThirty = d.Pull();
    EXPECT_GT(ComparePlanes(levelThree, levelThirty).differing, 100u);

    HQ4Demosaic fresh(mosaic);
    ASSERT_PV_OK(fresh.filter->SetTuning(strong));
    EXPECT_TRUE(PlanesMatch(fresh.Pull(), levelThirty));
}

// The source rectangle an output pixel's stages read: twelve columns to the left, eleven to the right and
// eleven rows up and down around its square pixel; on non-square pixels also the next square column, the
// row above and the two below.
struct Reach {
    LONG first;
    LONG last;
};

Reach Columns(LONG u, bool nonSquare) {
    if (!nonSquare)
        return {u + 6 - 12, u + 6 + 11};
    const LONG x = 4 * (u / 3) + u % 3 + 6;
    return {x - 12, x + 1 + 11};
}

Reach Rows(LONG v, bool nonSquare) {
    if (!nonSquare)
        return {v + 6 - 11, v + 6 + 11};
    const LONG y = 2 * (v / 3) + (v % 3 == 2 ? 1 : 0) + 6;
    return {y - 1 - 11, y + 2 + 11};
}

TEST(DeBayerHQ4Filter, AMosaicChangeInvalidatesTheOutputItsStagesReach) {
    const MosaicChange cases[] = {
        {false, {}, {40, 37, 41, 38}},
        {false, {5, 9, 60, 57}, {21, 50, 25, 53}},
        {false, {}, {2, 3, 9, 6}},
        {true, {}, {40, 37, 41, 38}},
        {true, {7, 4, 50, 81}, {33, 21, 36, 26}},
        {true, {}, {67, 59, 69, 61}},
    };
    const CKvSampleScene scene(70, 63);
    const BayerLayout& layout = BayerLayouts()[3];
    const TestPlane before = SceneMosaic(scene, layout, 0, 600);
    for (const MosaicChange& c : cases)
        EXPECT_GT(CheckMosaicChangeReach<HQ4Demosaic>(before, layout.descriptor, c, Columns, Rows), 0);
}

// Colour PSNR in linear 16-bit light of a demosaiced output against the scene (rendered, 12-bit) over area
// (scene coordinates); shift moves the output one way against the scene.
double ColourPsnr(const TestPlane& out, const std::vector<WORD>& scene, LONG sceneWidth,
                  const PravonRect& area, LONG shift = 0) {
    const WORD* square = GetSquareTable();
    double squares = 0;
    double count = 0;
    for (LONG y = area.top; y < area.bottom; ++y)
        for (LONG x = area.left; x < area.right; ++x)
            for (int c = 0; c < 3; ++c) {
                const double truth =
                    scene[(static_cast<std::size_t>(y) * sceneWidth + x) * 3 + c] * 65535.0 / 4095.0;
                const double d =
                    square[out.Sample(x - CDeBayerBase::kFrame + shift, y - CDeBayerBase::kFrame, c)] - truth;
                squares += d * d;
                count += 1;
            }
    return 10.0 * std::log10(65535.0 * 65535.0 / (squares / count));
}

// Measured on this 600 x 400 scene, over each area kept 16 pixels from its borders (more than either
// filter reads): the high-quality filter gives 31.6 to 31.8 dB on the patches (the standard 31.6 to 31.8,
// never more than 0.1 dB apart), 73.6 dB on the gradients (the standard 79.0: the sharpened luminance and
// the wider smoothing of the colour differences cost it on smooth colour, though its error stays below 15
// in 65535), 14.7 to 15.0 dB on the fine lines (the standard 13.1 to 13.3) and 28.2 dB on the zone plate
// (the standard 26.1 to 26.2). The same output one pixel out of place scores about 25, 50, 8.7 and 9.6 dB.
// So: the patches within 0.3 dB of the standard, the gradients above 70 dB, the lines and the zone plate at
// least 1 dB above the standard; a one-pixel slip fails all four.
TEST(DeBayerHQ4Filter, TheSampleSceneComesBackAsWellAsWithTheStandardFilterAndBetterAtEdges) {
    const CKvSampleScene scene(600, 400);
    const auto inset = [](const PravonRect& r) {
        return PravonRect{r.left + 16, r.top + 16, r.right - 16, r.bottom - 16};
    };
    const PravonRect patches = inset(scene.GetPatchArea());
    const PravonRect gradients = inset(scene.GetGradientArea());
    const PravonRect lines = inset(scene.GetLineArea());
    const PravonRect zonePlate = inset(scene.GetZonePlateArea());
    const std::vector<WORD> truth = scene.Render();
    const auto psnr = [&](const TestPlane& out, const PravonRect& area, LONG shift = 0) {
        return ColourPsnr(out, truth, scene.GetWidth(), area, shift);
    };
    for (const auto& layout : BayerLayouts()) {
        SCOPED_TRACE(layout.name);
        const TestPlane mosaic = SceneMosaic(scene, layout);
        HQ4Demosaic hq(mosaic, layout.descriptor, 128);
        Demosaic standard(mosaic, layout.descriptor, 128);
        const TestPlane high = hq.Pull();
        const TestPlane plain = standard.Pull();
        for (LONG shift : {0, 1, -1}) {
            SCOPED_TRACE(testing::Message() << "shifted by " << shift);
            const bool slipped = shift != 0;
            EXPECT_EQ(psnr(high, patches, shift) >= psnr(plain, patches) - 0.3, !slipped);
            EXPECT_EQ(psnr(high, gradients, shift) > 70.0, !slipped);
            EXPECT_EQ(psnr(high, lines, shift) >= psnr(plain, lines) + 1.0, !slipped);
            EXPECT_EQ(psnr(high, zonePlate, shift) >= psnr(plain, zonePlate) + 1.0, !slipped);
        }
    }
}

// The whole output of the sample scene, with noise over its right part, against the reference
// interpolation bit for bit, with the levels the sensitivity tables give (200: 3, 1600: 7, the second
// extended setting: 30), with the stages compiled for AVX2 and for any processor.
TEST(DeBayerHQ4Filter, TheSceneIsTheReferenceOnEveryProcessor) {
    struct Case {
        const char* name;
        int layout;
        bool nonSquare;
        PravonRect crop;
        LONG sensitivity;
        LONG level;
    };
    const Case cases[] = {
        {"RGGB", 0, false, {}, 200, 3},
        {"GBRG non-square cropped", 2, true, {7, 5, 131, 188}, 1600, 7},
        {"BGGR extended sensitivity", 3, false, {}, -2, 30},
    };
    const CKvSampleScene scene(232, 172);
    const auto luts = RootLuts();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BayerLayout& layout = BayerLayouts()[static_cast<std::size_t>(c.layout)];
        const TestPlane mosaic = SceneMosaic(scene, layout, 150, 200);
        HQ4Demosaic d(mosaic, layout.descriptor, 64);
        HQ4Tuning tuning;
        ASSERT_FALSE(tuning.SetBySensitivity(c.sensitivity));
        ASSERT_PV_OK(d.filter->SetTuning(tuning));
        ASSERT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
        ASSERT_PV_OK(d.filter->SetCropRect(c.crop, nullptr, false));
        const TestPlane out = d.Pull(PullOrder::RandomOrder);
        const LONG levels[3] = {c.level, c.level, c.level};
        const ReferenceHQ4 reference(mosaic, layout, luts.data(), levels);
        const PravonRect crop = d.filter->GetCropRect();
        const TestPlane expected =
            ReferencePicture(reference, out.width, out.height, c.nonSquare, crop.left, crop.top);
        // The frame of six pixels goes on every side.
        EXPECT_EQ(out.width, c.crop.right > 0 ? c.crop.right - c.crop.left : 220);
        EXPECT_EQ(out.height, c.crop.right > 0 ? c.crop.bottom - c.crop.top : 160);
        EXPECT_TRUE(PlanesMatch(expected, out));
        const CCpuFeatureOverride plain(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
        PravonRect all{0, 0, mosaic.width, mosaic.height};
        ASSERT_PV_OK(PravonSendDataNotification(d.source.get(), PravonNotification::kData, &all));
        EXPECT_TRUE(PlanesMatch(expected, d.Pull())) << "without AVX2";
    }
}

} // namespace
