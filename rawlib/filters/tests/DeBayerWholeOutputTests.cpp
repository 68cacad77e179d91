// The standard demosaicing's whole output against the reference interpolation, bit for bit: at every tile
// size, in both pull orders and with both sets of row routines, on the sample scene and on random mosaics
// of every Bayer phase, square and non-square, with and without curves and crops, with samples beyond 12
// bits and with levels whose green activities differ by exactly the direction threshold.
#include "rawlib/filters/tests/DeBayerReference.h"

#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

using namespace kvtest;

// A mosaic of independent samples from a small generator of our own: uniform in 0..top, or, with levels
// given, drawn from those.
TestPlane RandomMosaic(LONG width, LONG height, std::uint32_t seed, ULONG top,
                       const std::vector<ULONG>& levels = {}) {
    TestPlane plane(width, height, PravonColorSpace::kRawMosaic16);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const ULONG r = static_cast<ULONG>(state >> 32);
            plane.SetSample(x, y, 0, levels.empty() ? r % (top + 1) : levels[r % levels.size()]);
        }
    return plane;
}

// Two levels whose square roots lie exactly the direction threshold apart (sqrt-table[1034] -
// sqrt-table[608] = 30717): every activity is a multiple of the threshold, so the activities of many
// sites differ by exactly the threshold, where the average of both estimates must still be taken.
const std::vector<ULONG> kThresholdLevels = {608, 1034};

TestPlane SceneMosaic(LONG width, LONG height, const std::vector<BYTE>& descriptor, double redGain,
                      double blueGain) {
    const CKvSampleScene scene(width, height);
    const std::vector<WORD> samples =
        CKvSampleScene::Mosaic(scene.Render(), width, height, descriptor.data() + 4, redGain, blueGain);
    TestPlane plane(width, height, PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            plane.SetSample(x, y, 0, samples[static_cast<std::size_t>(y) * width + x]);
    return plane;
}

// The white-balance curves the development gives the filter: 12-bit input, red and blue scaled by the
// gains and held at 4095, green the identity.
struct Curves {
    Curves(double redGain, double blueGain) : red(4096), green(4096), blue(4096) {
        for (int i = 0; i < 4096; ++i) {
            red[i] = static_cast<WORD>(std::min(i * redGain, 4095.0));
            green[i] = static_cast<WORD>(i);
            blue[i] = static_cast<WORD>(std::min(i * blueGain, 4095.0));
        }
    }
    std::vector<WORD> red, green, blue;
};

enum class Input { Scene, Random, ThresholdLevels, Wild };

struct WholeCase {
    const char* name;
    Input input;
    int layout; // index into BayerLayouts()
    bool nonSquare;
    bool curves;
    PravonRect crop;
};

TestPlane MakeInput(const WholeCase& c) {
    const auto& descriptor = BayerLayouts()[static_cast<std::size_t>(c.layout)].descriptor;
    const std::uint32_t seed = static_cast<std::uint32_t>(c.layout * 2 + (c.nonSquare ? 1 : 0) + 1);
    switch (c.input) {
    case Input::Scene:
        return SceneMosaic(232, 172, descriptor, 1.9, 1.4);
    case Input::Random:
        return RandomMosaic(71, 59, seed, 4095);
    case Input::ThresholdLevels:
        return RandomMosaic(66, 53, seed, 0, kThresholdLevels);
    case Input::Wild:
        return RandomMosaic(57, 49, seed, 65535);
    }
    return {};
}

// clang-format off
const WholeCase kCases[] = {
    {"scene RGGB", Input::Scene, 0, false, true, {}},
    {"scene RGGB non-square", Input::Scene, 0, true, true, {}},
    {"scene GBRG without curves", Input::Scene, 2, false, false, {}},
    {"scene BGGR non-square cropped", Input::Scene, 3, true, true, {7, 5, 131, 188}},
    {"random RGGB", Input::Random, 0, false, false, {}},
    {"random RGGB non-square", Input::Random, 0, true, false, {}},
    {"random GRBG", Input::Random, 1, false, false, {}},
    {"random GRBG non-square", Input::Random, 1, true, false, {}},
    {"random GBRG", Input::Random, 2, false, false, {}},
    {"random GBRG non-square", Input::Random, 2, true, false, {}},
    {"random BGGR", Input::Random, 3, false, false, {}},
    {"random BGGR non-square", Input::Random, 3, true, false, {}},
    {"random GRBG with curves, cropped", Input::Random, 1, false, true, {3, 4, 50, 44}},
    {"random GBRG non-square with curves, cropped", Input::Random, 2, true, true, {1, 2, 40, 70}},
    {"threshold levels RGGB", Input::ThresholdLevels, 0, false, false, {}},
    {"threshold levels BGGR non-square", Input::ThresholdLevels, 3, true, false, {}},
    {"samples beyond 12 bits GRBG", Input::Wild, 1, false, false, {}},
    {"samples beyond 12 bits RGGB non-square", Input::Wild, 0, true, true, {}},
};
// clang-format on

// The reference takes the channel LUTs as the filter built them from the curves: their building has
// tests of its own.
TestPlane Expected(const TestPlane& mosaic, const BayerLayout& layout, CDeBayerSingleFilter& filter,
                   bool curves, bool nonSquare, LONG width, LONG height) {
    const ReferenceDemosaic reference(mosaic, layout, ChannelLuts(filter, curves).data());
    const PravonRect crop = filter.GetCropRect();
    return ReferencePicture(reference, width, height, nonSquare, crop.left, crop.top);
}

TEST(DeBayerWholeOutput, EveryCaseIsTheReferenceAtEveryTileSizePullOrderAndRoutineSet) {
    ASSERT_EQ(RootTable()[kThresholdLevels[1]] - RootTable()[kThresholdLevels[0]], kThreshold);
    ASSERT_EQ(CDeBayerSingleFilter::kDirectionThreshold, kThreshold);
    const Curves curves(1.9, 1.4);
    for (const WholeCase& c : kCases) {
        const TestPlane mosaic = MakeInput(c);
        const BayerLayout& layout = BayerLayouts()[static_cast<std::size_t>(c.layout)];
        TestPlane expected;
        for (bool plainRoutines : {false, true}) {
            std::unique_ptr<CCpuFeatureOverride> plain;
            if (plainRoutines)
                plain = std::make_unique<CCpuFeatureOverride>(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
            for (LONG tileSize : {7, 16, 64, 256}) {
                for (PullOrder order : {PullOrder::TileOrder, PullOrder::RandomOrder}) {
                    if (order == PullOrder::RandomOrder && tileSize != 16)
                        continue;
                    SCOPED_TRACE(testing::Message() << c.name << " at tile size " << tileSize
                                                    << (plainRoutines ? " with the plain routines" : ""));
                    Demosaic d(mosaic, layout.descriptor, tileSize);
                    ASSERT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
                    ASSERT_PV_OK(d.filter->SetCropRect(c.crop, nullptr, false));
                    if (c.curves) {
                        ASSERT_PV_OK(d.filter->SetParameters(12, 12, curves.red.data(), curves.green.data(),
                                                             curves.blue.data(), false));
                    }
                    TestPlane out;
                    ASSERT_PV_OK(PullAll(d.filter.get(), &out, order));
                    // The frame of six pixels goes on every side; non-square output is 3/4 as wide and 3/2
                    // as tall.
                    const LONG square[2] = {mosaic.width - 12, mosaic.height - 12};
                    const LONG width = c.crop.right > 0 ? c.crop.right - c.crop.left
                                       : c.nonSquare    ? square[0] * 3 / 4
                                                        : square[0];
                    const LONG height = c.crop.right > 0 ? c.crop.bottom - c.crop.top
                                        : c.nonSquare    ? square[1] * 3 / 2
                                                         : square[1];
                    ASSERT_EQ(out.width, width);
                    ASSERT_EQ(out.height, height);
                    if (expected.width == 0)
                        expected = Expected(mosaic, layout, *d.filter, c.curves, c.nonSquare, width, height);
                    EXPECT_TRUE(PlanesMatch(expected, out));
                }
            }
        }
    }
}

} // namespace
