#include "rawlib/filters/CFltChannelMixer.h"
#include "rawlib/filters/CFltSatComp.h"

#include "testing/FilterOverPlane.h"
#include "testing/ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace kvtest;

TestPlane OnePixelRow(LONG colorSpace, const std::vector<std::array<ULONG, 3>>& pixels) {
    TestPlane plane(static_cast<LONG>(pixels.size()), 1, colorSpace);
    for (LONG x = 0; x < plane.width; ++x)
        for (LONG c = 0; c < 3; ++c)
            plane.SetSample(x, 0, c, pixels[static_cast<std::size_t>(x)][static_cast<std::size_t>(c)]);
    return plane;
}

TEST(ChannelMixer, GivesEverySampleTheTruncatedWeightedSumWorkedByHand) {
    const struct {
        LONG colorSpace;
        std::array<ULONG, 3> pixel;
        ULONG grey;
    } cases[] = {
        // 0.299 + 0.587 + 0.114 is just below 1 in doubles: white loses one step.
        {PravonColorSpace::kRGB8, {255, 255, 255}, 254},
        {PravonColorSpace::kRGB8, {0, 0, 0}, 0},
        {PravonColorSpace::kRGB8, {10, 20, 30}, 18},                // 2.99 + 11.74 + 3.42 = 18.15
        {PravonColorSpace::kRGB8, {200, 100, 50}, 124},             // 59.8 + 58.7 + 5.7 = 124.2
        {PravonColorSpace::kRGB8, {0, 255, 0}, 149},                // 149.685
        {PravonColorSpace::kLCh8, {100, 50, 200}, 82},              // 29.9 + 29.35 + 22.8 = 82.05
        {PravonColorSpace::kRGB16, {1001, 2003, 3007}, 1817},       // 299.299 + 1175.761 + 342.798
        {PravonColorSpace::kRGB16, {65535, 0, 0}, 19594},           // 19594.965
        {PravonColorSpace::kLab16, {0, 0, 65535}, 7470},            // 7470.99
        {PravonColorSpace::kYCbCr16, {40001, 30000, 20000}, 31850}, // 11960.299 + 17610 + 2280
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "colour space 0x" << std::hex << c.colorSpace << std::dec << ", pixel " << c.pixel[0]
                     << "," << c.pixel[1] << "," << c.pixel[2]);
        FilterOverPlane<CFltChannelMixer> graph(OnePixelRow(c.colorSpace, {c.pixel, c.pixel}), 16);
        const TestPlane out = graph.Pull();
        ASSERT_EQ(out.colorSpace, c.colorSpace) << "the mixer keeps the layout";
        for (LONG x = 0; x < 2; ++x)
            for (LONG ch = 0; ch < 3; ++ch)
                EXPECT_EQ(out.Sample(x, 0, ch), c.grey);
    }
}

TEST(ChannelMixer, RefusesSourcesThatAreNotOfThreeChannels) {
    // Grey and CMYK are known but have the wrong count; BGR and 8-bit Lab are not known at all.
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kGrey16, PravonColorSpace::kCMYK8,
                            PravonColorSpace::kBGR8, PravonColorSpace::kLab8}) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << colorSpace);
        FilterOverPlane<CFltChannelMixer> graph(MakePlane(9, 9, colorSpace, FillPattern::Random, 4), 16);
        TestPlane out;
        EXPECT_PV_KIND(PullAll(graph.filter.get(), &out), PravonKind::kUnsupportedColorSpace);
    }
}

TEST(ChannelMixer, IsTheSameAtEveryTileSize) {
    for (LONG colorSpace : {PravonColorSpace::kRGB8, PravonColorSpace::kRGB16}) {
        const TestPlane plane = MakePlane(37, 23, colorSpace, FillPattern::Random, 8);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(
            FilterGraph<CFltChannelMixer>(plane, [](CFltChannelMixer&) { return nullptr; }), &out));
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x) {
                ASSERT_EQ(out.Sample(x, y, 0), out.Sample(x, y, 1));
                ASSERT_EQ(out.Sample(x, y, 0), out.Sample(x, y, 2));
                // Within one step of the exact weighted sum, and never above it.
                const double exact = 0.299 * plane.Sample(x, y, 0) + 0.587 * plane.Sample(x, y, 1) +
                                     0.114 * plane.Sample(x, y, 2);
                ASSERT_LE(out.Sample(x, y, 0), exact + 1e-6);
                ASSERT_GT(out.Sample(x, y, 0) + 1.0, exact - 1e-6);
            }
    }
}

// Saturation compensation.

using Compensated = FilterOverPlane<CFltSatComp>;

// LCh pixels (lightness, chroma, hue) in one row.
TestPlane LchRow(LONG colorSpace, const std::vector<std::array<ULONG, 3>>& pixels) {
    return OnePixelRow(colorSpace, pixels);
}

TEST(SaturationCompensation, ScalesChromaByTheGainOfTheLightnessWorkedByHand) {
    const struct {
        LONG level;
        LONG colorSpace;
        std::array<ULONG, 3> pixel;
        ULONG chroma;
    } cases[] = {
        // Level 9: the shadow floor is 0, so black loses all chroma; white keeps trunc(0.7 x 30) / 128.
        {9, PravonColorSpace::kLCh8, {0, 200, 17}, 0},
        {9, PravonColorSpace::kLCh8, {255, 200, 17}, 32},  // 200 x 21 >> 7
        {9, PravonColorSpace::kLCh8, {100, 200, 17}, 139}, // mid-tones: 200 x trunc(128 x 0.7) >> 7
        // Level 5 at L = 30: 65 + 63 sin(1.5705 x 30 / 60) = 109.54, gain trunc(0.96 x 109) = 104.
        {5, PravonColorSpace::kLCh8, {30, 100, 3}, 81},
        // Level 1 leaves the mid-tones whole.
        {1, PravonColorSpace::kLCh8, {128, 77, 9}, 77},
        // 16-bit samples take the gain of the lightness's high byte.
        {9, PravonColorSpace::kLCh16, {0x00FF, 50000, 1234}, 0},
        {9, PravonColorSpace::kLCh16, {0xFF00, 50000, 1234}, 8203},  // 50000 x 21 >> 7
        {9, PravonColorSpace::kLCh16, {0x6400, 65535, 1234}, 45567}, // 65535 x 89 >> 7
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "level " << c.level << ", L " << c.pixel[0] << ", C " << c.pixel[1]);
        Compensated graph(LchRow(c.colorSpace, {c.pixel}), 16);
        ASSERT_PV_OK(graph.filter->SetCompensation(c.level, false));
        const TestPlane out = graph.Pull();
        EXPECT_EQ(out.Sample(0, 0, 0), c.pixel[0]) << "lightness is copied";
        EXPECT_EQ(out.Sample(0, 0, 1), c.chroma);
        EXPECT_EQ(out.Sample(0, 0, 2), c.pixel[2]) << "hue is copied";
    }
}

// The gain curve from the row of its level, written from the shape: quarter sines from the shadow floor up
// and down to the highlight floor, scaled by the level's factor.
LONG ReferenceGain(LONG level, int i) {
    static const double rows[10][5] = {
        {254, 128, 50, 128, 1.0}, {237, 114, 51, 117, 1.0}, {222, 100, 52, 105, 1.0}, {209, 88, 54, 93, 1.0},
        {198, 76, 57, 79, 0.98},  {190, 65, 60, 65, 0.96},  {184, 55, 64, 50, 0.94},  {180, 46, 69, 34, 0.92},
        {179, 37, 74, 17, 0.8},   {180, 30, 80, 0, 0.7}};
    const double* r = rows[level];
    double f = 128;
    if (i < r[2])
        f = r[3] + (128 - r[3]) * std::sin(1.5705 * i / r[2]);
    else if (i >= r[0])
        f = r[1] + (128 - r[1]) * std::sin(1.5705 * (255 - i) / (255 - r[0]));
    return static_cast<LONG>(r[4] * std::floor(f));
}

TEST(SaturationCompensation, GainTablesFollowTheirLevelsShape) {
    CPravonMemoryManager manager(16);
    CFltSatComp filter(&manager);
    for (LONG level = 0; level <= CFltSatComp::kMaxLevel; ++level) {
        ASSERT_PV_OK(filter.SetCompensation(level, false));
        filter.BuildGainTable();
        const auto& gain = filter.GetGainTable();
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(gain[static_cast<std::size_t>(i)], ReferenceGain(level, i))
                << "level " << level << ", " << i;
        // Gains never raise chroma.
        for (int i = 0; i < 256; ++i)
            ASSERT_LE(gain[static_cast<std::size_t>(i)], 128);
    }
    ASSERT_PV_OK(filter.SetCompensation(0, false));
    filter.BuildGainTable();
    for (LONG g : filter.GetGainTable())
        EXPECT_EQ(g, 128) << "level 0 is gain 1.0 everywhere";
}

TEST(SaturationCompensation, LevelZeroPassesTheSourceThrough) {
    const TestPlane plane = MakePlane(20, 20, PravonColorSpace::kLCh8, FillPattern::Random, 2);
    Compensated graph(plane, 16);
    ASSERT_PV_OK(graph.filter->SetCompensation(0, false));
    EXPECT_TRUE(graph.filter->IsPassThrough());
    EXPECT_TRUE(PlanesMatch(plane, graph.Pull()));
}

TEST(SaturationCompensation, EveryEffectiveChangeIsAnnouncedSwitchingOffAsWellAsOn) {
    Compensated graph(MakePlane(8, 8, PravonColorSpace::kLCh8, FillPattern::Random, 2), 16);
    const struct {
        LONG level;
        bool notify;
        std::size_t updates;
    } steps[] = {
        {1, true, 0}, // the level it starts with
        {0, true, 1}, // off: the downstream caches must drop the compensated tiles
        {0, true, 0}, {7, true, 1}, {3, false, 0}, {3, true, 0},
    };
    for (const auto& s : steps) {
        graph.recorder.Clear();
        ASSERT_PV_OK(graph.filter->SetCompensation(s.level, s.notify));
        EXPECT_EQ(graph.recorder.Count(PravonNotification::kUpdateAll), s.updates) << "level " << s.level;
        EXPECT_EQ(graph.recorder.heard.size(), s.updates);
    }
}

TEST(SaturationCompensation, TakesALevelOutsideTheTableAsOff) {
    for (LONG level : {10, 255, -1, -1000}) {
        Compensated graph(MakePlane(8, 8, PravonColorSpace::kLCh16, FillPattern::Random, 5), 16);
        ASSERT_PV_OK(graph.filter->SetCompensation(level, true));
        EXPECT_EQ(graph.filter->GetCompensation(), 0) << level;
        EXPECT_TRUE(graph.filter->IsPassThrough());
        EXPECT_EQ(graph.recorder.Count(PravonNotification::kUpdateAll), 1u) << "from level 1 to off";
    }
}

TEST(SaturationCompensation, RefusesSourcesOtherThanLch) {
    for (LONG colorSpace : {PravonColorSpace::kRGB8, PravonColorSpace::kLab16, PravonColorSpace::kGrey8}) {
        Compensated graph(MakePlane(8, 8, colorSpace, FillPattern::Random, 5), 16);
        TestPlane out;
        PravonErrorPtr err(PullAll(graph.filter.get(), &out));
        ASSERT_TRUE(err);
        EXPECT_TRUE(err->HasText("Bad source data color space"));
        EXPECT_EQ(err->GetKind(), PravonKind::kUnsupportedColorSpace);
    }
}

TEST(SaturationCompensation, IsTheSameAtEveryTileSizeAfterALevelChange) {
    const TestPlane plane = MakePlane(41, 19, PravonColorSpace::kLCh16, FillPattern::Random, 6);
    EXPECT_TRUE(SameAtEveryTileSize(
        FilterGraph<CFltSatComp>(plane, [](CFltSatComp& f) { return f.SetCompensation(8, false); })));
}

} // namespace
