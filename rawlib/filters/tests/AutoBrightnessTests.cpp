#include "rawlib/filters/CFltAutoBrightness.h"
#include "rawlib/settings/CKvBrightness.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

namespace {

using namespace kvtest;

// A grey plane of width x height whose pixels take the values of the histogram, value by value.
TestPlane PlaneOf(LONG width, LONG height, LONG colorSpace, const std::map<ULONG, LONG>& histogram) {
    TestPlane plane(width, height, colorSpace);
    LONG pixel = 0;
    for (const auto& [value, count] : histogram)
        for (LONG i = 0; i < count; ++i, ++pixel)
            for (LONG c = 0; c < plane.Channels(); ++c)
                plane.SetSample(pixel % width, pixel / width, c, value);
    EXPECT_EQ(pixel, width * height) << "the histogram must fill the plane";
    return plane;
}

// source -> histogram -> auto brightness -> recorder.
struct Chain {
    explicit Chain(const TestPlane& p, LONG tileSize = 16)
        : manager(tileSize), plane(p), source(MakeImage(manager, plane)), histogram(&manager),
          filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &histogram));
        EXPECT_PV_OK(PravonConnect(&histogram, &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    ~Chain() {
        PravonErrorPtr(PravonDisconnect(&filter, &recorder));
        PravonErrorPtr(PravonDisconnect(&histogram, &filter));
        PravonErrorPtr(PravonDisconnect(source.get(), &histogram));
    }
    // Attaches the histogram and counts it whole; its completion measures the levels.
    void Measure() {
        ASSERT_PV_OK(filter.SetHistogram(&histogram, false));
        ASSERT_PV_OK(histogram.ForceCompletion());
    }
    TestPlane Pull() {
        TestPlane out;
        EXPECT_PV_OK(PullAll(&filter, &out, PullOrder::RandomOrder, 9));
        return out;
    }

    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    CPravonFilterHistogram histogram;
    CFltAutoBrightness filter;
    NotificationRecorder recorder;
};

TEST(AutoBrightness, LevelsOfHandBuiltHistograms) {
    struct Case {
        const char* name;
        LONG width;
        LONG height;
        LONG colorSpace;
        std::map<ULONG, LONG> histogram;
        LONG black;
        LONG white;
        // The low and high clip points on the sample scale, which the stretch maps to 328 and 65207.
        double low;
        double high;
    };
    const Case cases[] = {
        // 100 pixels are clipped at each end: the low clip point is 1000, the high one 50000.
        {"16-bit, clipped ends",
         200,
         100,
         PravonColorSpace::kGrey16,
         {{10, 99}, {1000, 9901}, {50000, 9901}, {60000, 99}},
         752,
         50247,
         1000,
         50000},
        // 128 pixels at each end: 20 and 230, on the 16-bit scale 20 x 257 and 230 x 257.
        {"8-bit, clipped ends",
         256,
         100,
         PravonColorSpace::kGrey8,
         {{3, 127}, {20, 12673}, {230, 12673}, {250, 127}},
         4867,
         59382,
         20 * 257,
         230 * 257},
        // Every value 200 times: the clip points 1 and 254 already span the full range.
        {"8-bit, flat", 256, 200, PravonColorSpace::kGrey8, {}, 0, 65535, -1, -1},
        // All pixels in one bin leave no range to stretch.
        {"16-bit, one bin", 50, 20, PravonColorSpace::kGrey16, {{30000, 1000}}, 0, 65535, -1, -1},
        {"8-bit, one bin", 50, 20, PravonColorSpace::kGrey8, {{128, 1000}}, 0, 65535, -1, -1},
        // A black picture: the high scan stops at bin 1, a bin above the low clip point.
        {"8-bit, black", 50, 20, PravonColorSpace::kGrey8, {{0, 1000}}, 0, 258, -1, -1},
    };
    for (const Case& c : cases) {
        std::map<ULONG, LONG> histogram = c.histogram;
        if (histogram.empty())
            for (ULONG v = 0; v < 256; ++v)
                histogram[v] = c.width * c.height / 256;
        Chain chain(PlaneOf(c.width, c.height, c.colorSpace, histogram));
        chain.Measure();
        EXPECT_EQ(chain.filter.GetBlackLevel(0), c.black) << c.name;
        EXPECT_EQ(chain.filter.GetWhiteLevel(0), c.white) << c.name;
        for (LONG channel = 1; channel < CFltAutoBrightness::kChannels; ++channel) {
            EXPECT_EQ(chain.filter.GetBlackLevel(channel), -1) << c.name << ": grey has one channel";
            EXPECT_EQ(chain.filter.GetWhiteLevel(channel), -1) << c.name;
        }
        if (c.low >= 0) {
            // The levels are truncated to whole samples: each end may be a sample off.
            const double stretch = 65535.0 / (c.white - c.black);
            EXPECT_NEAR((c.low - c.black) * stretch, 328, 2 * stretch) << c.name;
            EXPECT_NEAR((c.high - c.black) * stretch, 65207, 2 * stretch) << c.name;
        }
    }
}

TEST(AutoBrightness, EachRgbChannelIsMeasuredAndTheAllChannelLevelsSpanThem) {
    // Red spans 1000..50000, green 2000..40000, blue 3000..60000, 100 of 20000 pixels clipped at each end.
    TestPlane plane(200, 100, PravonColorSpace::kRGB16);
    const ULONG ends[3][4] = {{10, 1000, 50000, 60000}, {10, 2000, 40000, 60000}, {10, 3000, 60000, 65000}};
    for (LONG y = 0; y < 100; ++y)
        for (LONG x = 0; x < 200; ++x) {
            const LONG i = y * 200 + x;
            const int band = i < 99 ? 0 : i < 10000 ? 1 : i < 19901 ? 2 : 3;
            for (LONG c = 0; c < 3; ++c)
                plane.SetSample(x, y, c, ends[c][band]);
        }
    Chain chain(plane);
    chain.Measure();
    const LONG expected[3][2] = {{752, 50247}, {1807, 40192}, {2711, 60288}};
    for (LONG c = 0; c < 3; ++c) {
        const double stretch = 65535.0 / (expected[c][1] - expected[c][0]);
        EXPECT_NEAR((ends[c][1] - expected[c][0]) * stretch, 328, 2 * stretch) << "channel " << c;
        EXPECT_NEAR((ends[c][2] - expected[c][0]) * stretch, 65207, 2 * stretch) << "channel " << c;
        EXPECT_EQ(chain.filter.GetBlackLevel(c), expected[c][0]) << "channel " << c;
        EXPECT_EQ(chain.filter.GetWhiteLevel(c), expected[c][1]) << "channel " << c;
    }
    EXPECT_EQ(chain.filter.GetBlackLevel(3), -1) << "RGB has three channels";
    EXPECT_EQ(chain.filter.GetBlackLevel(-1), 752);
    EXPECT_EQ(chain.filter.GetWhiteLevel(-1), 60288);
}

TEST(AutoBrightness, AChannelOutsideTheFourIsRefusedAndReadsAsUnmeasured) {
    CPravonMemoryManager manager;
    CFltAutoBrightness filter(&manager);
    ASSERT_PV_OK(filter.SetLevels(-1, 100, 60000, false));
    EXPECT_PV_KIND(filter.SetLevels(4, 1, 2, false), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(filter.SetLevels(1000, 1, 2, false), PravonKind::kOutOfRange);
    for (LONG channel : {4, 5, 1000}) {
        EXPECT_EQ(filter.GetBlackLevel(channel), -1);
        EXPECT_EQ(filter.GetWhiteLevel(channel), -1);
    }
    for (LONG channel = 0; channel < 4; ++channel) {
        EXPECT_EQ(filter.GetBlackLevel(channel), 100) << "unchanged by the refused call";
        EXPECT_EQ(filter.GetWhiteLevel(channel), 60000);
    }
    ASSERT_PV_OK(filter.SetLevels(2, 50, 65000, false));
    EXPECT_EQ(filter.GetBlackLevel(-1), 50);
    EXPECT_EQ(filter.GetWhiteLevel(-1), 65000);
    ASSERT_PV_OK(filter.SetLevels(1, -1, -1, false));
    EXPECT_EQ(filter.GetBlackLevel(-1), 100) << "the scan ends at the first unmeasured channel";
    EXPECT_EQ(filter.GetWhiteLevel(-1), 60000);
}

TEST(AutoBrightness, TheAutomaticBrightnessIsCappedAndZeroWithoutARange) {
    struct Case {
        LONG black;
        LONG white;
        bool automatic;
        LONG expected;
    };
    const Case cases[] = {
        {-1, -1, true, 0},       {0, -1, true, 0},        {-1, 30000, true, 0},    {0, 32768, true, 256},
        {0, 65535, true, 0},     {999, 1000, true, 512},  {0, 131070, true, -255}, {752, 50247, true, 99},
        {40000, 30000, true, 0}, {65535, 70000, true, 0}, {70000, 80000, true, 0}, {40000, 32768, false, 256},
    };
    for (const Case& c : cases) {
        CPravonMemoryManager manager;
        CFltAutoBrightness filter(&manager);
        ASSERT_PV_OK(filter.SetAuto(c.automatic, false));
        ASSERT_PV_OK(filter.SetLevels(-1, c.black, c.white, false));
        EXPECT_EQ(filter.GetAutoBrightness(), c.expected) << c.black << ".." << c.white;
        EXPECT_LE(filter.GetAutoBrightness(), 512);
    }
}

// The 16-bit rule scales in 16.16 fixed point with a truncated factor and a truncated result: up to two
// samples below the exact stretch.
constexpr double kFixedPoint = 2;

// What the filter makes of a 16-bit sample for black and white ends, worked out in double.
double Stretched(double t, double black, double white) {
    return std::clamp((t - black) * 65535.0 / (white - black), 0.0, 65535.0);
}

TEST(AutoBrightness, TheMappingStretchesBetweenTheEndsTheBrightnessMoves) {
    struct Case {
        const char* name;
        LONG black;
        LONG white;
        LONG brightness;
        double mappedBlack;
        double mappedWhite;
    };
    const Case cases[] = {
        {"nothing measured", -1, -1, 0, 0, 65535},
        // +256: the white end at B + (65535 - B) / 2.
        {"one stop brighter", -1, -1, 256, 0, 32768},
        // B + (65535 - B) / 2, rounded.
        {"one stop brighter from a black level", 1000, 60000, 256, 1000, 33268},
        {"one stop darker", -1, -1, -256, 32768, 65535},
        // A measured black above 52428 is used as 52428; a white level does not survive brightness 0.
        {"a high black", 60000, 65000, 0, 52428, 65535},
        {"a measured range", 752, 50247, 0, 752, 65535},
    };
    const TestPlane plane = MakePlane(40, 30, PravonColorSpace::kGrey16, FillPattern::Random, 3);
    for (const Case& c : cases) {
        Chain chain(plane);
        ASSERT_PV_OK(chain.filter.SetAuto(true, false));
        ASSERT_PV_OK(chain.filter.SetLevels(-1, c.black, c.white, false));
        ASSERT_PV_OK(chain.filter.SetBrightness(c.brightness, false));
        const TestPlane out = chain.Pull();
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x) {
                const double expected = Stretched(plane.Sample(x, y, 0), c.mappedBlack, c.mappedWhite);
                ASSERT_NEAR(out.Sample(x, y, 0), expected, kFixedPoint) << c.name << " at " << x << "," << y;
            }
    }
}

TEST(AutoBrightness, NothingMeasuredMapsEveryDepthOntoItself) {
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kRGB8, PravonColorSpace::kGrey16,
                            PravonColorSpace::kRGB16}) {
        const TestPlane plane = MakePlane(33, 21, colorSpace, FillPattern::Random, 4);
        Chain chain(plane);
        ASSERT_PV_OK(chain.filter.SetAuto(true, false));
        EXPECT_FALSE(chain.filter.IsPassThrough());
        EXPECT_TRUE(PlanesMatch(plane, chain.Pull())) << std::hex << colorSpace;
    }
}

TEST(AutoBrightness, EightBitSamplesGoThroughATableOfTheEnds) {
    const TestPlane plane = MakePlane(16, 16, PravonColorSpace::kRGB8, FillPattern::Coordinates);
    Chain chain(plane);
    ASSERT_PV_OK(chain.filter.SetAuto(true, false));
    ASSERT_PV_OK(chain.filter.SetLevels(-1, 5120, 60000, false));
    ASSERT_PV_OK(chain.filter.SetBrightness(-128, false));
    // Black: 65535 - 2^-0.5 x (65535 - 5120) + 0.5 -> 22815 (at most 60000 - 6553); white stays 60000.
    const LONG b8 = 22815 / 256;
    const LONG w8 = 60000 / 256;
    const TestPlane out = chain.Pull();
    for (LONG y = 0; y < 16; ++y)
        for (LONG x = 0; x < 16; ++x)
            for (LONG c = 0; c < 3; ++c) {
                const LONG i = static_cast<LONG>(plane.Sample(x, y, c));
                const LONG expected = i < b8 ? 0 : i >= w8 ? 255 : (i - b8) * 255 / (w8 - b8);
                ASSERT_EQ(static_cast<LONG>(out.Sample(x, y, c)), expected) << x << "," << y << "," << c;
            }
}

TEST(AutoBrightness, OnlyTheFirstSampleOfLightnessSpacesIsMappedAndOtherSpacesPassUnchanged) {
    for (LONG colorSpace : {PravonColorSpace::kLCh8, PravonColorSpace::kLab16, PravonColorSpace::kYCbCr16,
                            PravonColorSpace::kBGR8, PravonColorSpace::kCMYK8}) {
        const TestPlane plane = MakePlane(20, 20, colorSpace, FillPattern::Random, 6);
        Chain chain(plane);
        ASSERT_PV_OK(chain.filter.SetBrightness(256, false));
        const TestPlane out = chain.Pull();
        const bool firstMapped = colorSpace == PravonColorSpace::kLCh8 ||
                                 colorSpace == PravonColorSpace::kLab16 ||
                                 colorSpace == PravonColorSpace::kYCbCr16;
        const ULONG top = (1u << plane.BitsPerSample()) - 1;
        bool changed = false;
        for (LONG y = 0; y < 20; ++y)
            for (LONG x = 0; x < 20; ++x) {
                for (LONG c = firstMapped ? 1 : 0; c < plane.Channels(); ++c)
                    ASSERT_EQ(out.Sample(x, y, c), plane.Sample(x, y, c)) << std::hex << colorSpace;
                if (firstMapped) {
                    EXPECT_GE(out.Sample(x, y, 0), std::min(top, plane.Sample(x, y, 0))) << "brighter";
                    changed = changed || out.Sample(x, y, 0) != plane.Sample(x, y, 0);
                }
            }
        EXPECT_EQ(changed, firstMapped) << std::hex << colorSpace;
    }
}

TEST(AutoBrightness, ItPassesItsSourceThroughUntilAutomaticModeOrABrightnessIsSet) {
    CPravonMemoryManager manager;
    CFltAutoBrightness filter(&manager);
    EXPECT_TRUE(filter.IsPassThrough());
    ASSERT_PV_OK(filter.SetLevels(-1, 1000, 50000, false));
    EXPECT_TRUE(filter.IsPassThrough()) << "levels apply in automatic mode only";
    ASSERT_PV_OK(filter.SetBrightness(100, false));
    EXPECT_FALSE(filter.IsPassThrough());
    ASSERT_PV_OK(filter.SetBrightness(0, false));
    EXPECT_TRUE(filter.IsPassThrough());
    ASSERT_PV_OK(filter.SetAuto(true, false));
    EXPECT_FALSE(filter.IsPassThrough());
    ASSERT_PV_OK(filter.SetAuto(false, false));
    EXPECT_TRUE(filter.IsPassThrough());
}

TEST(AutoBrightness, AttachingAHistogramKeepsTheBrightnessApplied) {
    const TestPlane plane = MakePlane(20, 20, PravonColorSpace::kGrey16, FillPattern::Random, 2);
    Chain chain(plane);
    ASSERT_PV_OK(chain.filter.SetBrightness(256, false));
    ASSERT_PV_OK(chain.filter.SetHistogram(&chain.histogram, false));
    EXPECT_FALSE(chain.filter.IsPassThrough());
    const TestPlane out = chain.Pull();
    EXPECT_NEAR(out.Sample(3, 4, 0), Stretched(plane.Sample(3, 4, 0), 0, 32768), kFixedPoint);
}

TEST(AutoBrightness, AnotherHistogramForgetsTheLevels) {
    Chain chain(
        PlaneOf(200, 100, PravonColorSpace::kGrey16, {{10, 99}, {1000, 9901}, {50000, 9901}, {60000, 99}}));
    chain.Measure();
    ASSERT_EQ(chain.filter.GetBlackLevel(0), 752);
    IKvAutoBrightnessLevels& levels = chain.filter;
    CPravonFilterHistogram other(&chain.manager);
    ASSERT_PV_OK(chain.filter.SetHistogram(&other, false));
    EXPECT_EQ(levels.GetBlackLevel(-1), -1);
    EXPECT_EQ(levels.GetWhiteLevel(-1), -1);
    ASSERT_PV_OK(chain.filter.SetHistogram(nullptr, false));
}

TEST(AutoBrightness, OnlyTheAttachedHistogramsCompletionMeasures) {
    Chain chain(
        PlaneOf(200, 100, PravonColorSpace::kGrey16, {{10, 99}, {1000, 9901}, {50000, 9901}, {60000, 99}}));
    ASSERT_PV_OK(chain.histogram.ForceCompletion());
    EXPECT_EQ(chain.filter.GetBlackLevel(0), -1) << "no histogram attached";
    CPravonFilterHistogram other(&chain.manager);
    ASSERT_PV_OK(chain.filter.SetHistogram(&other, false));
    ASSERT_PV_OK(PravonSendDataNotification(&chain.histogram, CPravonFilterHistogram::kHistogramComplete,
                                            static_cast<CPravonFilterHistogram*>(&chain.histogram)));
    EXPECT_EQ(chain.filter.GetBlackLevel(0), -1) << "another histogram's completion";
    ASSERT_PV_OK(chain.filter.SetHistogram(&chain.histogram, false));
    EXPECT_EQ(chain.filter.GetBlackLevel(0), 752) << "an attached complete histogram is measured at once";
    EXPECT_EQ(chain.recorder.Count(CPravonFilterHistogram::kHistogramComplete), 2u)
        << "the completion goes on";
}

// Notes what the brightness record and the consumer downstream hear, in order.
class EventLog : public CPravonFilterWatcher, public IPravonDataDestination {
public:
    IPravonError* PravonFilterNotify(CPravonFilterBase*, LONG type, void*) override {
        if (type != kWatcherChange)
            events.push_back("watcher " + std::to_string(type));
        return nullptr;
    }
    IPravonError* PravonNotify(IPravonDataSource*, LONG type, void*) override {
        events.push_back("data " + std::to_string(type));
        return nullptr;
    }
    std::vector<std::string> events;
};

TEST(AutoBrightness, LevelsSetWithNotifyReachTheWatchersFirstThenDownstream) {
    CPravonMemoryManager manager(16);
    PravonImagePtr source =
        MakeImage(manager, MakePlane(20, 20, PravonColorSpace::kGrey8, FillPattern::Random, 1));
    CFltAutoBrightness filter(&manager);
    EventLog log;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &log));
    ASSERT_PV_OK(filter.AddWatcher(&log));
    ASSERT_PV_OK(filter.SetLevels(-1, 100, 200, true));
    EXPECT_TRUE(log.events.empty()) << "levels apply in automatic mode only";
    ASSERT_PV_OK(filter.SetAuto(true, true));
    ASSERT_PV_OK(filter.SetLevels(-1, 300, 40000, true));
    const std::vector<std::string> expected = {"data 0", "watcher 1000", "data 0"};
    EXPECT_EQ(log.events, expected);
    log.events.clear();
    ASSERT_PV_OK(filter.SetAuto(true, true));
    ASSERT_PV_OK(filter.SetBrightness(0, true));
    EXPECT_TRUE(log.events.empty()) << "unchanged settings announce nothing";
    ASSERT_PV_OK(filter.Enable(false, false));
    ASSERT_PV_OK(filter.SetBrightness(12, true));
    EXPECT_TRUE(log.events.empty()) << "a disabled filter announces nothing";
    ASSERT_PV_OK(filter.RemoveWatcher(&log));
    ASSERT_PV_OK(PravonDisconnect(&filter, &log));
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
}

TEST(AutoBrightness, ABrightnessRecordWatchingTheFilterFollowsTheMeasuredLevels) {
    Chain chain(
        PlaneOf(200, 100, PravonColorSpace::kGrey16, {{10, 99}, {1000, 9901}, {50000, 9901}, {60000, 99}}));
    CKvBrightness brightness;
    ASSERT_PV_OK(brightness.PravonFilterStartWatching(&chain.filter));
    ASSERT_PV_OK(chain.filter.SetAuto(true, false));
    ASSERT_PV_OK(chain.filter.SetHistogram(&chain.histogram, false));
    EXPECT_FALSE(brightness.IsMeasurementFresh()) << "nothing is counted yet";
    ASSERT_PV_OK(chain.histogram.ForceCompletion());
    EXPECT_TRUE(brightness.IsMeasurementFresh());
    EXPECT_EQ(brightness.GetBlackLevel(), 752);
    EXPECT_EQ(brightness.GetWhiteLevel(), 50247);
    EXPECT_EQ(brightness.GetMeasuredBrightness(), 99);

    // A copy of the record keeps the levels but watches nothing.
    CKvBrightness copy(brightness);
    EXPECT_EQ(copy.GetWatchCount(&chain.filter), 0);
    EXPECT_EQ(brightness.GetWatchCount(&chain.filter), 1);

    // Levels the caller sets with notify reach the record too.
    ASSERT_PV_OK(chain.filter.SetLevels(-1, 2000, 30000, true));
    EXPECT_EQ(brightness.GetBlackLevel(), 2000);
    EXPECT_EQ(brightness.GetWhiteLevel(), 30000);
    EXPECT_EQ(copy.GetBlackLevel(), 752);
    ASSERT_PV_OK(brightness.PravonFilterStopWatching(&chain.filter));
}

TEST(AutoBrightness, TheOutputIsTheSameAtEveryTileSize) {
    const TestPlane plane = MakePlane(45, 37, PravonColorSpace::kRGB16, FillPattern::Random, 21);
    EXPECT_TRUE(SameAtEveryTileSize([&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* histogram = graph.Own(new CPravonFilterHistogram(&manager));
        auto* filter = graph.Own(new CFltAutoBrightness(&manager));
        graph.output = filter;
        if (IPravonError* e = PravonConnect(source, histogram))
            return e;
        if (IPravonError* e = PravonConnect(histogram, filter))
            return e;
        if (IPravonError* e = filter->SetHistogram(histogram, false))
            return e;
        if (IPravonError* e = histogram->ForceCompletion())
            return e;
        if (IPravonError* e = filter->SetAuto(true, false))
            return e;
        return filter->SetBrightness(-40, false);
    }));
}

} // namespace
