#include "rawlib/filters/dust/KvDustMapSteps.h"
#include "rawlib/filters/dust/KvDustToneTables.h"

#include "rawlib/filters/CDeBayerBase.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

using namespace KvDust;

TEST(DustMapSteps, TheReferenceIsSampledAtTheScaleTheAspectRatiosGive) {
    // Worked from the rules on image aspect u = W / H, v = W / reference width and the reference's aspect.
    struct Case {
        LONG width, height, refWidth, refHeight;
        double sx, sy;
    } const cases[] = {
        {240, 160, 240, 160, 1, 1},             // same size, square pixels
        {180, 120, 240, 160, 4.0 / 3, 4.0 / 3}, // three quarters of the reference's width
        {320, 213, 240, 160, 0.75, 0.75},       // v = 4/3
        {300, 100, 300, 200, 1, 2},             // a wide image of a 3:2 reference
        {300, 100, 225, 150, 0.75, 1.5},        // ... a third wider than the reference
        {300, 100, 300, 100, 1, 1},             // both wide
        {240, 160, 240, 80, 1, 0.5},            // a wide reference
        {180, 120, 240, 80, 4.0 / 3, 2.0 / 3},
    };
    for (const Case& c : cases) {
        double sx = 0;
        double sy = 0;
        SamplingScale(c.width, c.height, c.refWidth, c.refHeight, &sx, &sy);
        EXPECT_DOUBLE_EQ(sx, c.sx) << c.width << "x" << c.height << " on " << c.refWidth << "x"
                                   << c.refHeight;
        EXPECT_DOUBLE_EQ(sy, c.sy) << c.width << "x" << c.height << " on " << c.refWidth << "x"
                                   << c.refHeight;
    }
}

TEST(DustMapSteps, SamplingMapsOfTheSameSizeReadPixelForPixel) {
    // 14 extra entries: 7 positions before the first column and 7 after the last.
    const std::vector<LONG> same = SamplingMap(240 + 14, 240, 1.0);
    for (LONG x = -7; x < 247; ++x)
        EXPECT_EQ(same[x + 7], x * 4096) << x;
    // At 4/3 the centre stays put and the steps are 4/3 of a pixel.
    const std::vector<LONG> wider = SamplingMap(180 + 14, 240, 4.0 / 3);
    EXPECT_NEAR(wider[(180 + 13) / 2 + 1] - wider[(180 + 13) / 2], 4096 * 4.0 / 3, 1);
    EXPECT_NEAR((wider.front() + wider.back()) / 2.0 / 4096, 119.5, 1e-3);
}

TEST(DustMapSteps, ContrastThresholdsByCameraSensitivityAndGroup) {
    struct Case {
        ULONG cameraType;
        LONG sensitivity;
        LONG group;
        LONG z;
    } const cases[] = {
        {260, 1600, 0, 10}, {260, 1600, 4, 8}, {260, 200, 4, 6},  {260, -2, 0, 15},
        {257, 200, 0, 3},   {258, 999, 0, 4},  {1025, -2, 0, 13}, {1026, 800, 1, 5},
        {259, 125, 0, 3},   {259, -2, 0, 12},  {259, 999, 0, 4},  {259, 1600, 0, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ContrastThreshold(c.cameraType, c.sensitivity, c.group), c.z)
            << c.cameraType << " " << c.sensitivity << " " << c.group;
    struct Group {
        bool mosaic;
        ULONG word;
        LONG quality;
        LONG group;
    } const groups[] = {{true, 3, 8, 0},   {true, 3, 16, 4}, {false, 1, 8, 1},
                        {false, 2, 1, 1},  {false, 4, 4, 1}, {false, 3, 8, 3},
                        {false, 5, 16, 6}, {false, 0, 8, 0}, {false, 9, 16, 4}};
    for (const Group& g : groups)
        EXPECT_EQ(ContrastGroup(g.mosaic, g.word, g.quality), g.group) << g.mosaic << " " << g.word;
}

// A 21 x 21 scene of one luminance with a different centre, everything else given.
struct Window {
    DustPlane16 luminance;
    DustPlane8 spread, second, correction;
    explicit Window(WORD around, WORD centre) {
        EXPECT_EQ(luminance.Allocate(21, 21), nullptr);
        EXPECT_EQ(spread.Allocate(21, 21), nullptr);
        EXPECT_EQ(second.Allocate(21, 21), nullptr);
        EXPECT_EQ(correction.Allocate(21, 21), nullptr);
        std::fill(luminance.data.begin(), luminance.data.end(), around);
        luminance.Row(10)[10] = centre;
    }
    BYTE Run() {
        Correction(spread, second, luminance, PravonRect{0, 0, 21, 21}, &correction);
        return correction.At(10, 10);
    }
};

TEST(DustMapSteps, APixelAtHalfItsWindowsMeanGetsHalfTheLight) {
    // 24 of 4900 and one of 2400 in a 5 x 5 window: the mean is 4800, twice the centre.
    Window w(4900, 2400);
    w.spread.Row(10)[10] = 2;
    EXPECT_EQ(w.Run(), 64);
    // Texture wins over any luminance, and no radius means no correction.
    w.second.Row(10)[10] = 255;
    EXPECT_EQ(w.Run(), kNoDust);
    Window none(4900, 2400);
    EXPECT_EQ(none.Run(), kNoDust);
    // A brighter pixel than its surroundings is not corrected.
    Window bright(4900, 9000);
    bright.spread.Row(10)[10] = 2;
    EXPECT_EQ(bright.Run(), kNoDust);
}

TEST(DustMapSteps, LightCorrectionsAreSmoothedOverTheirNeighbours) {
    // A centre at 3/4 of the mean gives 96, above the smoothing level: it takes the mean of its 3 x 3 first
    // values, eight of them 128.
    Window w(4000, 3000);
    w.spread.Row(10)[10] = 1;
    const double mean = (8 * 4000 + 3000) / 9.0;
    const auto first = static_cast<LONG>(std::floor(3000 / mean * 128 + 0.5));
    ASSERT_GT(first, 90);
    EXPECT_EQ(w.Run(), (8 * 128 + first) / 9);
    EXPECT_EQ(w.correction.At(9, 10), (8 * 128 + first) / 9);
    EXPECT_EQ(w.correction.At(8, 10), 128);
}

TEST(DustMapSteps, TheTextureMaskCountsTheOctagonOfRadiusEight) {
    // The octagon: on the square of radius 8 within |dx| + |dy| <= 11, and on |dx| + |dy| = 11 inside it.
    const auto onRing = [](LONG dx, LONG dy) {
        const LONG m = std::max(std::abs(dx), std::abs(dy));
        const LONG s = std::abs(dx) + std::abs(dy);
        return (m == 8 && s <= 11) || (m < 8 && s == 11);
    };
    DustPlane8 flags;
    DustPlane8 second;
    ASSERT_EQ(flags.Allocate(41, 41), nullptr);
    ASSERT_EQ(second.Allocate(41, 41), nullptr);
    const PravonRect centre{20, 20, 21, 21};
    const auto run = [&](auto mark) {
        std::fill(flags.data.begin(), flags.data.end(), 0);
        LONG marked = 0;
        for (LONG dy = -10; dy <= 10; ++dy)
            for (LONG dx = -10; dx <= 10; ++dx)
                if (mark(dx, dy, marked)) {
                    flags.Row(20 + dy)[20 + dx] = 0x01;
                    ++marked;
                }
        flags.Row(20)[20] = 0x80;
        SecondMap(flags, centre, &second);
        return second.At(20, 20);
    };
    LONG ringSize = 0;
    for (LONG dy = -8; dy <= 8; ++dy)
        for (LONG dx = -8; dx <= 8; ++dx)
            ringSize += onRing(dx, dy);
    EXPECT_EQ(ringSize, 44);
    EXPECT_EQ(run([&](LONG dx, LONG dy, LONG) { return !onRing(dx, dy) && (dx || dy); }), 0);
    EXPECT_EQ(run([&](LONG dx, LONG dy, LONG n) { return onRing(dx, dy) && n < 3; }), 0);
    EXPECT_EQ(run([&](LONG dx, LONG dy, LONG n) { return onRing(dx, dy) && n < 4; }), 255);
    // Without the pixel's own texture bit the mask stays clear.
    flags.Row(20)[20] = 0;
    SecondMap(flags, centre, &second);
    EXPECT_EQ(second.At(20, 20), 0);
    // Near the border the positions outside count as textured.
    std::fill(flags.data.begin(), flags.data.end(), 0);
    flags.Row(20)[3] = 0x80;
    SecondMap(flags, PravonRect{3, 20, 4, 21}, &second);
    EXPECT_EQ(second.At(3, 20), 255);
}

TEST(DustMapSteps, RawToneTablesAreTheDemosaicingsSquareAndRoot) {
    std::vector<WORD> table;
    DustTuning tuning;
    ASSERT_EQ(BuildToneTable(PravonColorSpace::kRGB16, true, tuning, &table), nullptr);
    ASSERT_EQ(table.size(), 131072u);
    const WORD* square = GetSquareTable();
    const LONG* root = GetSqrtTable();
    for (ULONG v = 0; v < 65536; v += 97)
        EXPECT_EQ(table[v], square[v]) << v;
    // At every 12-bit step the inverse is the root table's entry in 16 bits.
    for (ULONG s = 0; s < 4096; s += 13) {
        const ULONG l = s * 65535 / 4095;
        if (l * 4095 % 65535 == 0 || s * 65535 % 4095 == 0) {
            EXPECT_NEAR(table[65536 + s * 65535 / 4095], root[s] / 4.0, 1.0) << s;
        }
    }
    EXPECT_PV_KIND(BuildToneTable(PravonColorSpace::kRGB8, true, tuning, &table), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(BuildToneTable(PravonColorSpace::kGrey16, false, tuning, &table), PravonKind::kOutOfRange);
}

TEST(DustMapSteps, CameraCurvesGoBackAndForthForEveryRow) {
    struct Case {
        ULONG cameraType;
        ULONG colorMode;
        ULONG selector;
        ULONG row;
    } const cases[] = {{257, 0, 0, 2}, {258, 2, 1, 2}, {259, 0, 3, 2},  {259, 2, 2, 2},
                       {260, 0, 0, 0}, {260, 0, 0, 4}, {1025, 0, 0, 2}, {1026, 0, 0, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cameraType * 100 + c.row);
        DustTuning tuning;
        tuning.cameraType = c.cameraType;
        tuning.colorMode = c.colorMode;
        tuning.toneCurveSelector = c.selector;
        tuning.toneCurveRow = c.row;
        double last = -1;
        // Through the dark toe (where the newer curves are inverted by Cardano's method) and up to white.
        for (double x = 0; x <= 1.0; x += x < 0.02 ? 0.0005 : 0.01) {
            double s = 0;
            double back = 0;
            ASSERT_TRUE(CameraCurve(tuning, x, &s));
            ASSERT_TRUE(CameraCurveInverse(tuning, s, &back));
            EXPECT_NEAR(back, x, 1e-9 + 1e-6 * x) << x;
            EXPECT_GT(s, last) << x;
            last = s;
        }
        double white = 0;
        ASSERT_TRUE(CameraCurve(tuning, 1.0, &white));
        EXPECT_NEAR(white, 1.0, 1e-9);
        std::vector<WORD> table;
        ASSERT_EQ(BuildToneTable(PravonColorSpace::kRGB16, false, tuning, &table), nullptr);
        // A sample through the forward part and back comes home within the rounding of both parts: half a
        // linear step, which spans many samples where the curve is steep, and half a sample.
        for (ULONG v = 0; v < 65536; v += 911) {
            const double x = table[v] / kLinearWhite;
            double here = 0;
            double next = 0;
            CameraCurve(tuning, x, &here);
            CameraCurve(tuning, x + 1 / kLinearWhite, &next);
            EXPECT_NEAR(table[65536 + table[v]], v, 1 + (next - here) * 65535) << v;
        }
        ASSERT_EQ(BuildToneTable(PravonColorSpace::kRGB8, false, tuning, &table), nullptr);
        ASSERT_EQ(table.size(), 65792u);
        for (ULONG v = 16; v < 256; ++v)
            EXPECT_NEAR(table[256 + table[v]], v, 1) << v;
    }
    DustTuning unknown;
    unknown.cameraType = 513;
    double s = 0;
    EXPECT_FALSE(CameraCurve(unknown, 0.5, &s));
}

} // namespace
