#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include "testing/ImageCompare.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using namespace kvtest;

constexpr LONG kRGB16 = PravonColorSpace::kRGB16;

// Smooth colour: two low-frequency waves per channel, well inside the 12-bit range.
ULONG SmoothScene(LONG x, LONG y, int channel) {
    static constexpr double kFx[3] = {0.031, 0.023, 0.041};
    static constexpr double kFy[3] = {0.019, 0.037, 0.027};
    static constexpr double kPhase[3] = {0.0, 1.3, 2.6};
    const double v = 0.5 + 0.25 * std::sin(kFx[channel] * x + kFy[channel] * y + kPhase[channel]) +
                     0.15 * std::cos(0.013 * x - 0.021 * y + kPhase[channel]);
    return static_cast<ULONG>(std::lround(4095.0 * std::clamp(v, 0.02, 0.98)));
}

ULONG RandomScene(LONG x, LONG y, int channel) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(channel) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h % 4096;
}

TEST(DeBayerSingleFilter, AFlatGreyMosaicGivesGreyEverywhereForEveryLayout) {
    const ULONG level = 1234;
    for (const auto& layout : BayerLayouts()) {
        for (bool nonSquare : {false, true}) {
            Demosaic d(FlatMosaic(37, 29, level), layout.descriptor, 16);
            ASSERT_PV_OK(d.filter->SetNonSquareMode(nonSquare, nullptr, false));
            EXPECT_TRUE(GreyEverywhere(d.Pull(), level, nonSquare)) << layout.name;
        }
    }
}

// The demosaiced output squared back to linear light, against the scene it was sampled from.
double ColourPsnr(const TestPlane& out, const Scene& scene) {
    const WORD* square = GetSquareTable();
    TestPlane linear(out.width, out.height, kRGB16);
    TestPlane truth(out.width, out.height, kRGB16);
    for (LONG y = 0; y < out.height; ++y)
        for (LONG x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                linear.SetSample(x, y, c, square[out.Sample(x, y, c)]);
                truth.SetSample(x, y, c,
                                static_cast<ULONG>(std::lround(scene(x + 6, y + 6, c) * 65535.0 / 4095.0)));
            }
    return ComparePlanes(truth, linear).psnr;
}

// On this scene the interpolation comes within about 70 dB of the truth for every layout, while the same
// output one pixel out of place scores about 45 dB and swapped channels far less; 60 dB leaves room for
// rounding and none for a slip.
TEST(DeBayerSingleFilter, ASmoothSceneComesBackCloseToItsColours) {
    for (const auto& layout : BayerLayouts()) {
        Demosaic d(MakeMosaic(160, 120, layout.descriptor, SmoothScene), layout.descriptor);
        EXPECT_GT(ColourPsnr(d.Pull(), SmoothScene), 60.0) << layout.name;
    }
}

TEST(DeBayerSingleFilter, AStepEdgeIsInterpolatedAlongIt) {
    const ULONG bright = 4095;
    const ULONG dark = 1000;
    const WORD darkRoot = static_cast<WORD>(GetSqrtTable()[dark] >> 2);
    // Rows from 20 down are dark: at the red and blue sites of row 20 the rows above would pull green up.
    Demosaic rows(MakeMosaic(40, 40, BayerLayouts()[0].descriptor,
                             [&](LONG, LONG y, int) { return y < 20 ? bright : dark; }));
    const TestPlane horizontal = rows.Pull();
    for (LONG x = 0; x < horizontal.width; ++x)
        ASSERT_EQ(horizontal.Sample(x, 20 - 6, 1), darkRoot) << x;
    Demosaic columns(MakeMosaic(40, 40, BayerLayouts()[0].descriptor,
                                [&](LONG x, LONG, int) { return x < 20 ? bright : dark; }));
    const TestPlane vertical = columns.Pull();
    for (LONG y = 0; y < vertical.height; ++y)
        ASSERT_EQ(vertical.Sample(20 - 6, y, 1), darkRoot) << y;
}

TEST(DeBayerSingleFilter, SamplesBeyondTwelveBitsReadAsTheLargestOne) {
    TestPlane wild = MakeMosaic(40, 30, BayerLayouts()[0].descriptor, RandomScene);
    TestPlane capped = wild;
    for (LONG y = 0; y < wild.height; ++y)
        for (LONG x = (y % 3); x < wild.width; x += 3) {
            wild.SetSample(x, y, 0, 4096 + static_cast<ULONG>(x * 997 + y * 31) % 61440);
            capped.SetSample(x, y, 0, 4095);
        }
    Demosaic a(wild);
    Demosaic b(capped);
    EXPECT_TRUE(PlanesMatch(b.Pull(), a.Pull()));
}

TEST(DeBayerSingleFilter, NonSquareOutputResamplesTheSquareOneByThreeQuartersAndOneAndAHalf) {
    const TestPlane mosaic = MakeMosaic(64, 52, BayerLayouts()[1].descriptor, RandomScene);
    Demosaic squareRun(mosaic, BayerLayouts()[1].descriptor);
    const TestPlane square = squareRun.Pull();
    Demosaic nonSquareRun(mosaic, BayerLayouts()[1].descriptor);
    ASSERT_PV_OK(nonSquareRun.filter->SetNonSquareMode(true, nullptr, false));
    const TestPlane resampled = nonSquareRun.Pull();
    ASSERT_EQ(resampled.width, 39);
    ASSERT_EQ(resampled.height, 60);

    static constexpr LONG kTaps[3][2] = {{3, 1}, {2, 2}, {1, 3}};
    static constexpr LONG kRows[3][4] = {
        {0, 16384, 0, 0}, {-606, 5461, 12743, -1213}, {-1213, 12743, 5461, -606}};
    LONG checked = 0;
    for (LONG y = 0; y < resampled.height; ++y) {
        const LONG row = static_cast<LONG>(y / 1.5); // square row at the output row's source position
        if (row < 1 || row + 2 >= square.height)
            continue;
        for (LONG x = 0; x < resampled.width; ++x) {
            const LONG column = static_cast<LONG>(x / 0.75);
            const LONG a = x % 3;
            for (int c = 0; c < 3; ++c) {
                LONG sum = 0;
                for (int k = 0; k < 4; ++k) {
                    const LONG p = static_cast<LONG>(square.Sample(column, row - 1 + k, c));
                    const LONG q = static_cast<LONG>(square.Sample(column + 1, row - 1 + k, c));
                    sum += kRows[y % 3][k] * ((kTaps[a][0] * p + kTaps[a][1] * q) / 4);
                }
                const ULONG expected = static_cast<ULONG>(std::clamp<LONG>(sum / 16384, 0, 65535));
                ASSERT_EQ(resampled.Sample(x, y, c), expected) << x << ", " << y << " channel " << c;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 39 * 50 * 3);
}

TEST(DeBayerSingleFilter, ACropShowsTheSamePixelsAsTheWholeOutput) {
    const TestPlane mosaic = MakeMosaic(90, 70, BayerLayouts()[2].descriptor, RandomScene);
    for (bool nonSquare : {false, true}) {
        Demosaic whole(mosaic, BayerLayouts()[2].descriptor, 16);
        ASSERT_PV_OK(whole.filter->SetNonSquareMode(nonSquare, nullptr, false));
        const TestPlane all = whole.Pull();
        for (const CPravonRect crop : {CPravonRect(13, 7, 53, 37), CPravonRect(1, 2, 30, 25)}) {
            Demosaic part(mosaic, BayerLayouts()[2].descriptor, 16);
            ASSERT_PV_OK(part.filter->SetNonSquareMode(nonSquare, nullptr, false));
            ASSERT_PV_OK(part.filter->SetCropRect(crop, nullptr, false));
            EXPECT_TRUE(PlanesMatch(all.Crop(crop), part.Pull())) << (nonSquare ? "non-square" : "square");
        }
    }
}

TEST(DeBayerSingleFilter, TheOutputIsTheSameAtEveryTileSize) {
    const TestPlane mosaic = MakeMosaic(75, 61, BayerLayouts()[3].descriptor, RandomScene);
    std::vector<WORD> red(4096);
    for (int i = 0; i < 4096; ++i)
        red[i] = static_cast<WORD>(std::min(i * 2, 4095));
    struct Setting {
        bool nonSquare;
        PravonRect crop;
        bool curves;
    };
    for (const Setting s : {Setting{false, {}, false}, Setting{true, {}, true},
                            Setting{true, {5, 4, 44, 70}, false}, Setting{false, {3, 9, 60, 40}, true}}) {
        EXPECT_TRUE(SameAtEveryTileSize([&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
            IPravonImage* source = graph.Own(MakeImage(manager, mosaic));
            auto* filter = graph.Own(new CDeBayerSingleFilter(&manager));
            if (IPravonError* e = PravonConnect(source, filter))
                return e;
            const auto& cfa = BayerLayouts()[3].descriptor;
            if (IPravonError* e = filter->SetCFAPattern(cfa.data(), 8, false))
                return e;
            if (IPravonError* e = filter->SetNonSquareMode(s.nonSquare, nullptr, false))
                return e;
            if (IPravonError* e = filter->SetCropRect(s.crop, nullptr, false))
                return e;
            if (s.curves)
                if (IPravonError* e = filter->SetParameters(12, 12, red.data(), nullptr, red.data(), false))
                    return e;
            graph.output = filter;
            return nullptr;
        }));
    }
}

// The window's rows are read across the source's own tiles, whatever their size beside the output's.
TEST(DeBayerSingleFilter, SourceTilesOfAnySizeGiveTheSameOutput) {
    const auto& cfa = BayerLayouts()[1].descriptor;
    const TestPlane mosaic = MakeMosaic(301, 67, cfa, RandomScene);
    for (bool nonSquare : {false, true}) {
        Demosaic same(mosaic, cfa, 64);
        ASSERT_PV_OK(same.filter->SetNonSquareMode(nonSquare, nullptr, false));
        const TestPlane expected = same.Pull();
        for (LONG sourceTileSize : {7, 16, 100, 256}) {
            CPravonMemoryManager sourceManager(sourceTileSize);
            CPravonMemoryManager filterManager(64);
            PravonImagePtr source = MakeImage(sourceManager, mosaic);
            CDeBayerSingleFilter filter(&filterManager);
            ASSERT_PV_OK(PravonConnect(source.get(), &filter));
            ASSERT_PV_OK(filter.SetCFAPattern(cfa.data(), static_cast<ULONG>(cfa.size()), false));
            ASSERT_PV_OK(filter.SetNonSquareMode(nonSquare, nullptr, false));
            TestPlane out;
            ASSERT_PV_OK(PullAll(&filter, &out));
            EXPECT_TRUE(PlanesMatch(expected, out))
                << (nonSquare ? "non-square" : "square") << ", source tiles of " << sourceTileSize;
            EXPECT_EQ(sourceManager.GetLockCount(), 0);
        }
    }
}

TEST(DeBayerSingleFilter, AChangedSourcePixelRenewsEveryOutputPixelInterpolatedFromIt) {
    const TestPlane before = MakeMosaic(60, 60, BayerLayouts()[0].descriptor, RandomScene);
    for (bool nonSquare : {false, true}) {
        Demosaic d(before, BayerLayouts()[0].descriptor, 16);
        ASSERT_PV_OK(d.filter->SetNonSquareMode(nonSquare, nullptr, false));
        d.Pull();
        // Source (28, 28) lies on output tile corners in both modes (22 and 16, 33).
        TestPlane after = before;
        after.SetSample(28, 28, 0, 4095 - before.Sample(28, 28, 0));
        after.SetSample(27, 29, 0, 4095 - before.Sample(27, 29, 0));
        ASSERT_PV_OK(WritePlane(d.source.get(), after));
        PravonRect changed{27, 28, 29, 30};
        ASSERT_PV_OK(PravonSendDataNotification(d.source.get(), PravonNotification::kData, &changed));
        Demosaic fresh(after, BayerLayouts()[0].descriptor, 16);
        ASSERT_PV_OK(fresh.filter->SetNonSquareMode(nonSquare, nullptr, false));
        EXPECT_TRUE(PlanesMatch(fresh.Pull(), d.Pull())) << (nonSquare ? "non-square" : "square");
    }
}

TEST(DeBayerSingleFilter, CurvesChangeTheChannelsTheyAreGivenFor) {
    const TestPlane mosaic = FlatMosaic(30, 30, 1000);
    Demosaic d(mosaic);
    std::vector<WORD> doubled(4096);
    for (int i = 0; i < 4096; ++i)
        doubled[i] = static_cast<WORD>(std::min(i * 2, 4095));
    ASSERT_PV_OK(d.filter->SetParameters(12, 12, doubled.data(), nullptr, nullptr, false));
    const TestPlane out = d.Pull();
    const WORD* square = GetSquareTable();
    for (LONG y = 0; y < out.height; ++y)
        for (LONG x = 0; x < out.width; ++x) {
            ASSERT_NEAR(square[out.Sample(x, y, 0)], 2000 * 16, 40) << x << ", " << y;
            ASSERT_NEAR(square[out.Sample(x, y, 1)], 1000 * 16, 40) << x << ", " << y;
            ASSERT_NEAR(square[out.Sample(x, y, 2)], 1000 * 16, 40) << x << ", " << y;
        }
}

} // namespace
