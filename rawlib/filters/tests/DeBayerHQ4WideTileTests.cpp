// The high-quality demosaicing over mosaics wider and taller than its tiles, pulled through tiles of 256 and
// 512 pixels and through tiles that do not divide the picture, with the stages compiled for AVX2 and for
// any processor: every output pixel against the interpolation worked out over whole planes in the test,
// bit for bit, in tile order and in random order, and again after a change of tuning.
#include "rawlib/filters/tests/DeBayerHQ4TestSupport.h"

#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace kvtest;

// Smooth shading with sharp-edged bars in both directions and noise over the lower half, so that every
// class and both edge strengths occur in every tile.
TestPlane BusyMosaic(LONG width, LONG height, const BayerLayout& layout, std::uint32_t seed) {
    std::mt19937 random(seed);
    return MakeMosaic(width, height, layout.descriptor, [&](LONG x, LONG y, int channel) -> ULONG {
        LONG v = 600 + (x * 7 + y * 3) % 1800 + channel * 300;
        if ((x / 9) % 4 == 0)
            v += 1500;
        if ((y / 13) % 5 == 0)
            v -= 500;
        if (y > height / 2)
            v += static_cast<LONG>(random() % 601) - 300;
        return static_cast<ULONG>(std::clamp<LONG>(v, 0, 4095));
    });
}

struct Case {
    LONG width;
    LONG height;
    int layout;
    LONG tileSize;
    bool nonSquare;
    PullOrder order;
    bool avx2;
};

constexpr Case kCases[] = {
    {600, 560, 0, 256, false, PullOrder::TileOrder, true},
    {600, 560, 1, 256, false, PullOrder::TileOrder, false},
    {1100, 540, 2, 512, false, PullOrder::TileOrder, true},
    {1100, 540, 3, 512, false, PullOrder::RandomOrder, false},
    {700, 420, 0, 200, false, PullOrder::RandomOrder, true},
    {700, 620, 1, 256, true, PullOrder::TileOrder, true},
    {700, 620, 2, 256, true, PullOrder::TileOrder, false},
    {530, 700, 3, 100, true, PullOrder::RandomOrder, true},
};

TEST(DeBayerHQ4WideTiles, EveryPixelOfEveryTileIsItsDefinition) {
    const auto luts = RootLuts();
    const LONG levels[3] = {HQ4Tuning::kDefaultLevel, HQ4Tuning::kDefaultLevel, HQ4Tuning::kDefaultLevel};
    std::uint32_t seed = 11;
    for (const Case& c : kCases) {
        if (c.avx2 && !CpuHas(CpuFeature::kAVX2))
            continue;
        const CCpuFeatureOverride path(0, c.avx2 ? 0 : CpuFeature::kAVX2 | CpuFeature::kAVX);
        const BayerLayout& layout = BayerLayouts()[static_cast<std::size_t>(c.layout)];
        const TestPlane mosaic = BusyMosaic(c.width, c.height, layout, seed++);
        HQ4Demosaic d(mosaic, layout.descriptor, c.tileSize);
        ASSERT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
        TestPlane out;
        ASSERT_PV_OK(PullAll(d.filter.get(), &out, c.order, seed));
        const ReferenceHQ4 reference(mosaic, layout, luts.data(), levels);
        EXPECT_TRUE(PlanesMatch(ReferencePicture(reference, out.width, out.height, c.nonSquare), out))
            << layout.name << ", " << c.width << " x " << c.height << ", tiles of " << c.tileSize
            << (c.nonSquare ? ", non-square" : "") << (c.avx2 ? ", AVX2" : ", plain");
    }
}

// A second pull after the tuning changed: no tile may keep what the stages worked out under the old one.
TEST(DeBayerHQ4WideTiles, ATuningChangeReachesEveryTile) {
    const auto luts = RootLuts();
    const BayerLayout& layout = BayerLayouts()[0];
    const TestPlane mosaic = BusyMosaic(600, 600, layout, 5);
    HQ4Demosaic d(mosaic, layout.descriptor, 256);
    const TestPlane first = d.Pull();
    const LONG defaults[3] = {HQ4Tuning::kDefaultLevel, HQ4Tuning::kDefaultLevel, HQ4Tuning::kDefaultLevel};
    EXPECT_TRUE(PlanesMatch(ReferencePicture(ReferenceHQ4(mosaic, layout, luts.data(), defaults), first.width,
                                             first.height, false),
                            first));
    HQ4Tuning tuning;
    const LONG strong[3] = {15, 15, 15};
    std::copy(std::begin(strong), std::end(strong), tuning.level);
    ASSERT_PV_OK(d.filter->SetTuning(tuning));
    const TestPlane second = d.Pull();
    EXPECT_TRUE(PlanesMatch(ReferencePicture(ReferenceHQ4(mosaic, layout, luts.data(), strong), second.width,
                                             second.height, false),
                            second));
}

} // namespace
