// The unsharp mask's tonal and hue windows: gates, ramps and plateaus worked out by hand from the bounds in
// 65536ths, and the filter weighing its sharpening by them.
#include "filters/CUnsharpMaskFilter.h"
#include "filters/CUnsharpMaskRange.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;

constexpr double kOff = -1; // the value does not pass the gate

struct WeightCase {
    LONG value;
    double weight;
};

double ValueWeightOf(const CUnsharpMaskRange& range, LONG value) {
    double w = 0;
    return range.ValueWeight(value, &w) ? w : kOff;
}

double HueWeightOf(const CUnsharpMaskRange& range, LONG hue, LONG chroma) {
    double w = 0;
    return range.HueWeight(hue, chroma, &w) ? w : kOff;
}

TEST(UnsharpMaskRange, TheValueFormRampsUpAndDownAroundItsBounds) {
    // 0.25 and 0.75 with softness 0.1 (6554): the window runs from 16384 - 3277 to 49152 + 3277, its
    // ramps 6554 wide.
    CUnsharpMaskRange range;
    range.Set(0.25, 0.1, 0.75, 0.1);
    EXPECT_FALSE(range.IsFull());
    const CUnsharpMaskRange::CPoints& p = range.GetPoints();
    EXPECT_EQ(p.start, 13107);
    EXPECT_EQ(p.rampUpEnd, 19661);
    EXPECT_EQ(p.rampDownStart, 45875);
    EXPECT_EQ(p.end, 52429);
    const WeightCase cases[] = {
        {0, kOff},  {13106, kOff}, {13107, 0}, {16384, 3277.0 / 6554}, {19661, 1},    {30000, 1},
        {45875, 1}, {49152, 0.5},  {52429, 0}, {52430, kOff},          {65535, kOff},
    };
    for (const WeightCase& c : cases)
        EXPECT_DOUBLE_EQ(ValueWeightOf(range, c.value), c.weight) << c.value;

    // Hard bounds: a plain gate of weight 1.
    range.Set(0.5, 0, 1, 0);
    EXPECT_EQ(ValueWeightOf(range, 32767), kOff);
    EXPECT_EQ(ValueWeightOf(range, 32768), 1);
    EXPECT_EQ(ValueWeightOf(range, 65535), 1);
    // Ramps that overlap take the smaller of the two.
    range.Set(0.5, 0.5, 0.5, 0.5);
    EXPECT_DOUBLE_EQ(ValueWeightOf(range, 32768), 0.5);
    EXPECT_DOUBLE_EQ(ValueWeightOf(range, 24576), 0.25);
    range.Set(0, 0, 1, 0);
    EXPECT_TRUE(range.IsFull());
}

TEST(UnsharpMaskRange, TheHueFormWrapsAroundTheCircleAndWeighsByChroma) {
    // Reds: 0.9 to 0.1 across 0 with softness 0.1. The window runs from 55705 through 0 to 9831; the
    // plateau from 62259 to 3277.
    CUnsharpMaskRange range;
    range.Set(0.9, 0.1, 0.1, 0.1);
    EXPECT_TRUE(range.HasHueGate());
    EXPECT_TRUE(range.HasHuePlateau());
    EXPECT_FALSE(range.TakesLargerRamp());
    struct Case {
        LONG hue;
        LONG chroma;
        double weight;
    };
    const Case cases[] = {
        {0, 16384, 1},
        {0, 40000, 1}, // chroma beyond 16384 counts as 16384
        {0, 8192, 0.5},
        {3277, 16384, 1},
        {60000, 16384, 4295.0 / 6554},
        {60000, 4096, 0.25 * 4295.0 / 6554},
        {6554, 16384, 3277.0 / 6554},
        {9831, 16384, 0},
        {9832, 16384, kOff},
        {30000, 16384, kOff},
        {55705, 16384, kOff}, // the window is open at its start
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(HueWeightOf(range, c.hue, c.chroma), c.weight) << c.hue << ", " << c.chroma;
}

TEST(UnsharpMaskRange, HueWindowsWhoseRampsCrossTurnTheGateOrThePlateauOff) {
    struct Case {
        const char* name;
        double bounds[4];
        bool gate;
        bool plateau;
        bool larger;
    };
    const Case cases[] = {
        {"an ordinary window", {0.3, 0.1, 0.6, 0.1}, true, true, false},
        // Ramps each wider than the window: the ramp down starts inside the ramp up and ends past it.
        {"a narrow window", {0.5, 0.2, 0.55, 0.2}, true, false, false},
        // From 0 to 1 goes all the way round: no gate, and the larger ramp where both hold.
        {"the whole circle with soft bounds", {0, 0.2, 1, 0.2}, false, true, true},
        // The window's end lies in its own ramp up: it wraps onto itself.
        {"bounds that meet", {0.5, 0.2, 0.5, 0.2}, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CUnsharpMaskRange range;
        range.Set(c.bounds[0], c.bounds[1], c.bounds[2], c.bounds[3]);
        EXPECT_EQ(range.HasHueGate(), c.gate);
        EXPECT_EQ(range.HasHuePlateau(), c.plateau);
        EXPECT_EQ(range.TakesLargerRamp(), c.larger);
    }
    // The narrow window: 0.5 - 0.1 to 0.55 + 0.1, ramps of 13107. Half-way between the bounds both ramps
    // hold and the smaller counts.
    CUnsharpMaskRange narrow;
    narrow.Set(0.5, 0.2, 0.55, 0.2);
    const LONG start = 32768 - 6553;
    const LONG end = 36045 + 6553;
    const LONG mid = 34406;
    EXPECT_DOUBLE_EQ(HueWeightOf(narrow, mid, 16384), std::min(mid - start, end - mid) / 13107.0);
    EXPECT_EQ(HueWeightOf(narrow, 10000, 16384), kOff);
}

// A 5 x 5 picture of 10000 around one centre value, sharpened with the 3 x 3 box and power 1: the detail at
// the centre is 8 (u - 10000) / 9.
ULONG SharpenedCentre(LONG colorSpace, ULONG centre, ULONG chroma, ULONG hue, const double (&bounds)[4]) {
    CPravonMemoryManager manager(16);
    TestPlane plane(5, 5, colorSpace);
    for (LONG y = 0; y < 5; ++y)
        for (LONG x = 0; x < 5; ++x) {
            plane.SetSample(x, y, 0, 10000);
            if (plane.Channels() == 3) {
                plane.SetSample(x, y, 1, chroma);
                plane.SetSample(x, y, 2, hue);
            }
        }
    plane.SetSample(2, 2, 0, centre);
    const PravonImagePtr source(MakeImage(manager, plane));
    CUnsharpMaskFilter filter(&manager);
    EXPECT_PV_OK(PravonConnect(source.get(), &filter));
    EXPECT_PV_OK(filter.SetMaskMethod(CUnsharpMaskKernel::kBox, false));
    EXPECT_PV_OK(filter.SetRange(bounds[0], bounds[1], bounds[2], bounds[3], false));
    TestPlane out;
    EXPECT_PV_OK(PullAll(&filter, &out));
    EXPECT_PV_OK(PravonDisconnect(source.get(), &filter));
    EXPECT_EQ(out.Sample(0, 0, 0), 10000u);
    return out.Sample(2, 2, 0);
}

TEST(UnsharpMaskRange, TheFilterWeighsItsSharpeningByTheWindow) {
    const double tones[4] = {0.25, 0.1, 0.75, 0.1};
    // 16384 is half-way up the ramp: 16384 + 0.5 * 8 * 6384 / 9.
    EXPECT_EQ(SharpenedCentre(Cs::kGrey16, 16384, 0, 0, tones), 19221u);
    EXPECT_EQ(SharpenedCentre(Cs::kGrey16, 30000, 0, 0, tones), 47777u);
    EXPECT_EQ(SharpenedCentre(Cs::kGrey16, 60000, 0, 0, tones), 60000u) << "above the window";

    // The lightness of reds at half chroma gets half the detail of 8000; other hues none.
    const double reds[4] = {0.9, 0.1, 0.1, 0.1};
    EXPECT_EQ(SharpenedCentre(Cs::kLCh16, 19000, 8192, 0, reds), 23000u);
    EXPECT_EQ(SharpenedCentre(Cs::kLCh16, 19000, 16384, 0, reds), 27000u);
    EXPECT_EQ(SharpenedCentre(Cs::kLCh16, 19000, 16384, 30000, reds), 19000u);
}

} // namespace
