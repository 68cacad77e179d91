// The colour noise reduction against a reference written here from the filter's rules (window radius,
// Gaussian of the difference, box mean of the chrominance at high strength, edges clamped), at the
// strengths where the rules change; its weights against hand-worked values; both paths at every tile size;
// the setter's notifications; the refused colour space; the area a source change makes again.
#include "rawlib/filters/detail/CFltColorNoise.h"
#include "rawlib/filters/detail/tests/DetailTestSupport.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace kvtest;
using PravonColorSpace::kLab16;

struct Rules {
    double strength;
    double sigma;
    LONG radius;
    bool box;
};

// Where the rules change: radius 1 below 0.5, 2 below 0.91, 3 from there; the box mean from 0.9.
const Rules kRules[] = {
    {0.0, 1.0, 1, false},   {0.3, 1.03, 1, false},      {0.49, 1.049, 1, false}, {0.5, 5.0, 2, false},
    {0.7, 5.075, 2, false}, {0.905, 5.151875, 2, true}, {0.91, 20.0, 3, true},   {1.0, 20.0, 3, true},
};

// The weight of a difference of d sample steps (the table is read at d >> 4).
std::vector<LONG> Weights(double sigma) {
    std::vector<LONG> w(4096);
    const double k = -1 / (sigma * sigma);
    for (LONG i = 0; i < 4096; ++i)
        w[i] = static_cast<LONG>(std::trunc(1337 * std::exp(k * (static_cast<double>(i) * i) / 256) + 0.5));
    return w;
}

TestPlane Reference(const TestPlane& source, const Rules& rules) {
    const std::vector<LONG> weight = Weights(rules.sigma);
    const LONG r = rules.radius;
    // The input of the weighted mean, at every position a window reads: the source, or for the
    // chrominance at high strength its 15 x 15 mean, both from the edge-clamped source.
    auto input = [&](LONG x, LONG y, LONG c) -> LONG {
        if (c == 0 || !rules.box)
            return Clamped(source, x, y, c);
        LONG sum = 0;
        for (LONG j = -7; j <= 7; ++j)
            for (LONG i = -7; i <= 7; ++i)
                sum += Clamped(source, x + i, y + j, c);
        return sum / 225;
    };
    const LONG w = source.width + 2 * r;
    const LONG h = source.height + 2 * r;
    std::vector<LONG> in(static_cast<std::size_t>(w * h * 3));
    for (LONG y = 0; y < h; ++y)
        for (LONG x = 0; x < w; ++x)
            for (LONG c = 0; c < 3; ++c)
                in[static_cast<std::size_t>((y * w + x) * 3 + c)] = input(x - r, y - r, c);
    auto at = [&](LONG x, LONG y, LONG c) {
        return in[static_cast<std::size_t>(((y + r) * w + x + r) * 3 + c)];
    };

    TestPlane out(source.width, source.height, kLab16);
    for (LONG y = 0; y < source.height; ++y)
        for (LONG x = 0; x < source.width; ++x)
            for (LONG c = 0; c < 3; ++c) {
                const LONG centre = at(x, y, c);
                double sumW = 0;
                double sumWV = 0;
                for (LONG dy = -r; dy <= r; ++dy)
                    for (LONG dx = -r; dx <= r; ++dx) {
                        const LONG v = at(x + dx, y + dy, c);
                        const LONG wv = weight[static_cast<std::size_t>(std::abs(centre - v) / 16)];
                        sumW += wv;
                        sumWV += static_cast<double>(wv) * v;
                    }
                out.SetSample(x, y, c, static_cast<ULONG>(std::floor(sumWV / sumW)));
            }
    return out;
}

FilterMaker Noise(double strength) {
    return [strength](IPravonManager& manager) {
        auto* filter = new CFltColorNoise(&manager);
        EXPECT_PV_OK(filter->SetStrength(strength, false));
        return filter;
    };
}

TEST(ColorNoise, StrengthChoosesSigmaRadiusAndBoxMean) {
    for (const Rules& rules : kRules) {
        SCOPED_TRACE(testing::Message() << "strength " << rules.strength);
        EXPECT_NEAR(CFltColorNoise::Sigma(rules.strength), rules.sigma, 1e-12);
        EXPECT_EQ(CFltColorNoise::Radius(rules.strength), rules.radius);
        EXPECT_EQ(CFltColorNoise::UsesBoxMean(rules.strength), rules.box);
    }
}

TEST(ColorNoise, WeightsFallAsAGaussianOfTheDifference) {
    std::vector<WORD> table(4096);
    CFltColorNoise::FillWeightTable(0.0, table.data()); // sigma 1
    EXPECT_EQ(table[0], 1337);
    EXPECT_EQ(table[16], 492); // trunc(1337 / e + 0.5)
    EXPECT_EQ(table[4095], 0);
    for (const Rules& rules : kRules) {
        CFltColorNoise::FillWeightTable(rules.strength, table.data());
        const std::vector<LONG> expected = Weights(rules.sigma);
        for (LONG i = 0; i < 4096; ++i)
            ASSERT_EQ(table[i], expected[i]) << "strength " << rules.strength << ", entry " << i;
    }
}

TEST(ColorNoise, AZeroSigmaKeepsTheCentreWeightAndNoOther) {
    // Strength -10 makes sigma exactly 0: the Gaussian's limit, not a table of undefined values.
    std::vector<WORD> table(4096, 7);
    CFltColorNoise::FillWeightTable(-10.0, table.data());
    EXPECT_EQ(table[0], CFltColorNoise::kCentreWeight);
    for (LONG i = 1; i < 4096; ++i)
        ASSERT_EQ(table[i], 0) << i;
    // Far below, sigma squared is huge: every difference weighs fully.
    CFltColorNoise::FillWeightTable(-1e300, table.data());
    EXPECT_EQ(table[4095], CFltColorNoise::kCentreWeight);
    const TestPlane plane = TexturedPlane(19, 17, kLab16, 5, 3000);
    for (double strength : {-10.0, -1e300, std::nan("")}) {
        const TestPlane out = PullThrough(plane, Noise(strength));
        EXPECT_EQ(out.width, plane.width) << strength;
    }
}

TEST(ColorNoise, MatchesTheReferenceAtEveryRuleChange) {
    const TestPlane plane = TexturedPlane(37, 29, kLab16, 11, 2500);
    for (const Rules& rules : kRules) {
        SCOPED_TRACE(testing::Message() << "strength " << rules.strength);
        TestPlane out;
        ASSERT_TRUE(
            SameOnBothPathsAtEveryTileSize(FilterOver(plane, Noise(rules.strength)), &out, {7, 16, 256}));
        EXPECT_TRUE(PlanesMatch(Reference(plane, rules), out));
    }
}

TEST(ColorNoise, BothPathsAgreeOnOddWidthsAndTheRangeEnds) {
    // Widths around the plain path's block of eight and the AVX2 path's of sixteen, and tiles of odd
    // widths, on noise over the whole range.
    for (LONG width : {1, 5, 8, 9, 15, 16, 17, 23, 33, 61}) {
        const TestPlane plane = MakePlane(width, 21, kLab16, FillPattern::Random, static_cast<ULONG>(width));
        for (double strength : {0.3, 0.7, 0.95}) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", strength " << strength);
            EXPECT_TRUE(
                SameOnBothPathsAtEveryTileSize(FilterOver(plane, Noise(strength)), nullptr, {7, 13, 256}));
        }
    }
}

TEST(ColorNoise, AUniformImageIsUnchanged) {
    const TestPlane plane = MakePlane(30, 22, kLab16, FillPattern::Constant, 41234);
    for (double strength : {0.2, 0.6, 0.95}) {
        TestPlane out;
        ASSERT_TRUE(SameOnBothPathsAtEveryTileSize(FilterOver(plane, Noise(strength)), &out));
        EXPECT_TRUE(PlanesMatch(plane, out)) << strength;
    }
}

TEST(ColorNoise, SmoothsChromaNoiseAndKeepsAnEdge) {
    // Grey with chroma noise, and a lightness step in the middle.
    TestPlane plane(40, 20, kLab16);
    ULONG seed = 1;
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x) {
            seed = seed * 1103515245u + 12345u;
            plane.SetSample(x, y, 0, x < 20 ? 20000 : 45000);
            plane.SetSample(x, y, 1, 32768 + (seed >> 16) % 801 - 400);
            plane.SetSample(x, y, 2, 32768 + (seed >> 8) % 801 - 400);
        }
    const TestPlane out = PullThrough(plane, Noise(0.7));
    auto spread = [](const TestPlane& p, LONG channel) {
        double sum = 0;
        for (LONG y = 0; y < p.height; ++y)
            for (LONG x = 0; x < p.width; ++x)
                sum += std::abs(static_cast<double>(p.Sample(x, y, channel)) - 32768);
        return sum;
    };
    EXPECT_LT(spread(out, 1), spread(plane, 1) / 3);
    EXPECT_LT(spread(out, 2), spread(plane, 2) / 3);
    for (LONG y = 0; y < plane.height; ++y) {
        EXPECT_EQ(out.Sample(19, y, 0), 20000u);
        EXPECT_EQ(out.Sample(20, y, 0), 45000u);
    }
}

TEST(ColorNoise, OnlyAnEffectiveChangeIsAnnouncedAndOnlyWhenEnabled) {
    CPravonMemoryManager manager(16);
    PravonImagePtr source = MakeImage(manager, MakePlane(24, 18, kLab16, FillPattern::Random, 3));
    CFltColorNoise filter(&manager);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));
    EXPECT_EQ(filter.GetStrength(), CFltColorNoise::kDefaultStrength);
    ASSERT_PV_OK(filter.SetStrength(0.5, true));
    EXPECT_EQ(recorder.heard.size(), 0u);
    ASSERT_PV_OK(filter.SetStrength(0.8, true));
    ASSERT_EQ(recorder.heard.size(), 1u);
    EXPECT_EQ(recorder.heard[0].type, PravonNotification::kData);
    EXPECT_TRUE(recorder.heard[0].rect == (PravonRect{0, 0, 24, 18}));
    ASSERT_PV_OK(filter.SetStrength(0.9, false));
    ASSERT_PV_OK(filter.Enable(false, false));
    ASSERT_PV_OK(filter.SetStrength(0.3, true));
    EXPECT_EQ(recorder.heard.size(), 1u);
    EXPECT_EQ(filter.GetStrength(), 0.3);
    PravonErrorPtr(PravonDisconnect(&filter, &recorder));
    PravonErrorPtr(PravonDisconnect(source.get(), &filter));
}

TEST(ColorNoise, OtherColourSpacesAreRefused) {
    for (LONG colorSpace : {PravonColorSpace::kRGB16, PravonColorSpace::kLab8, PravonColorSpace::kLCh16}) {
        CPravonMemoryManager manager(16);
        PravonImagePtr source = MakeImage(manager, MakePlane(9, 9, colorSpace, FillPattern::Random, 1));
        CFltColorNoise filter(&manager);
        ASSERT_PV_OK(PravonConnect(source.get(), &filter));
        TestPlane out;
        PravonErrorPtr err(PullAll(&filter, &out));
        ASSERT_TRUE(err);
        EXPECT_EQ(err->GetKind(), PravonKind::kUnsupportedColorSpace);
        EXPECT_NE(err->Describe().find("Bad source data color space"), std::string::npos);
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }
}

TEST(ColorNoise, ASourceChangeRemakesTheOutputItsWindowsReach) {
    const TestPlane plane = TexturedPlane(48, 40, kLab16, 9, 4000);
    const Rules* cases[] = {&kRules[1], &kRules[4], &kRules[7]};
    for (const Rules* rules : cases) {
        SCOPED_TRACE(testing::Message() << "strength " << rules->strength);
        const LONG halo = rules->radius + (rules->box ? 7 : 0);
        EXPECT_TRUE(ChangeRemakesItsHalo(plane, {20, 17, 23, 19}, halo, Noise(rules->strength)));
        EXPECT_TRUE(ChangeRemakesItsHalo(plane, {0, 35, 2, 40}, halo, Noise(rules->strength)));
    }
}

} // namespace
