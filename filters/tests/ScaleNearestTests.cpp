// Nearest-neighbour scaling end to end: every output pixel must be, byte for byte, the source pixel under
// the output pixel's centre (a centre on a border belongs to the left or upper pixel), worked out here
// from the sizes alone, for reductions, enlargements and mixed ratios, odd sizes, and tiles whose edges
// cut the chosen rows and columns anywhere, at every pixel size the filter takes, with the processor's
// row routines and with the plain ones, pulled in tile order and at random.
#include "filters/CPravonFilterScale.h"
#include "filters/CScalePipeline.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kvtest;

// The source pixel whose span [k, k + 1) x (source / output) holds the centre x + 0.5 of output pixel x,
// the left one when the centre lies on a border: the least k with 2 output (k + 1) >= (2x + 1) source.
std::int64_t CentrePixel(std::int64_t x, std::int64_t source, std::int64_t output) {
    const std::int64_t numerator = (2 * x + 1) * source;
    const std::int64_t denominator = 2 * output;
    return (numerator + denominator - 1) / denominator - 1;
}

struct Case {
    LONG sourceWidth, sourceHeight;
    LONG outputWidth, outputHeight;
    LONG tileSize;
};

constexpr Case kCases[] = {
    {64, 48, 16, 12, 16},     // 25 %, four source tiles to an output tile
    {61, 43, 15, 11, 16},     // about 25 % of odd sizes
    {257, 131, 64, 33, 64},   // one column and row past the tiles, kept or dropped
    {300, 200, 210, 140, 64}, // 70 %
    {97, 53, 146, 80, 16},    // enlarged about 150 %
    {45, 200, 180, 7, 16},    // wider and much shorter
    {33, 17, 33, 17, 16},     // the same size
    {1000, 9, 3, 250, 64},    // far fewer columns, far more rows
    {518, 70, 129, 257, 256}, // big tiles: every output run ends inside one
    {301, 67, 211, 47, 64},   // 70 % of odd sizes, runs ending at tile edges
    {1, 1, 1, 1, 16},         // one pixel
    {1, 40, 1, 28, 16},       // one column
    {40, 1, 28, 1, 16},       // one row
};

struct Space {
    const char* name;
    LONG code;
};

constexpr Space kSpaces[] = {
    {"grey8", PravonColorSpace::kGrey8}, {"rgb8", PravonColorSpace::kRGB8},
    {"cmyk8", PravonColorSpace::kCMYK8}, {"grey16", PravonColorSpace::kGrey16},
    {"rgb16", PravonColorSpace::kRGB16},
};

void CheckEveryPixel(const char* routines) {
    for (const Space& space : kSpaces) {
        for (const Case& c : kCases) {
            const TestPlane source =
                MakePlane(c.sourceWidth, c.sourceHeight, space.code, FillPattern::Random, 3);
            const std::size_t pixelBytes =
                static_cast<std::size_t>(PravonColorSpace::BitsPerPixel(space.code) / 8);
            for (PullOrder order : {PullOrder::TileOrder, PullOrder::RandomOrder}) {
                const std::string name =
                    std::string(routines) + " " + space.name + " " + std::to_string(c.sourceWidth) + "x" +
                    std::to_string(c.sourceHeight) + " to " + std::to_string(c.outputWidth) + "x" +
                    std::to_string(c.outputHeight) + ", tiles of " + std::to_string(c.tileSize) +
                    (order == PullOrder::RandomOrder ? ", at random" : "");
                CPravonMemoryManager manager(c.tileSize);
                PravonImagePtr image = MakeImage(manager, source);
                CPravonFilterScale filter(&manager, CPravonFilterScale::kNearest);
                ASSERT_PV_OK(PravonConnect(image.get(), &filter));
                ASSERT_PV_OK(filter.SetSize(c.outputWidth, c.outputHeight, false));
                TestPlane out;
                ASSERT_PV_OK(PullAll(&filter, &out, order, 5));
                ASSERT_PV_OK(PravonDisconnect(image.get(), &filter));
                ASSERT_EQ(out.width, c.outputWidth) << name;
                ASSERT_EQ(out.height, c.outputHeight) << name;
                LONG wrong = 0;
                for (LONG y = 0; y < c.outputHeight; ++y) {
                    const std::int64_t sy = CentrePixel(y, c.sourceHeight, c.outputHeight);
                    for (LONG x = 0; x < c.outputWidth; ++x) {
                        const std::int64_t sx = CentrePixel(x, c.sourceWidth, c.outputWidth);
                        const std::uint8_t* want =
                            source.Row(static_cast<LONG>(sy)) + static_cast<std::size_t>(sx) * pixelBytes;
                        const std::uint8_t* got = out.Row(y) + static_cast<std::size_t>(x) * pixelBytes;
                        if (std::memcmp(want, got, pixelBytes) != 0 && wrong++ < 3)
                            ADD_FAILURE() << name << ": output (" << x << ", " << y << ") is not source ("
                                          << sx << ", " << sy << ")";
                    }
                }
                EXPECT_EQ(wrong, 0) << name;
            }
        }
    }
}

TEST(ScaleNearest, EveryOutputPixelIsTheSourcePixelUnderItsCentre) {
    CheckEveryPixel("processor's routines");
}

TEST(ScaleNearest, TheAvx2RoutinesPickTheSamePixels) {
    if (!CpuHas(CpuFeature::kAVX2))
        GTEST_SKIP() << "the processor has no AVX2";
    const CCpuFeatureOverride avx2(0, CpuFeature::kAVX512BW);
    CheckEveryPixel("AVX2 routines");
}

TEST(ScaleNearest, ThePlainRoutinesPickTheSamePixels) {
    const CCpuFeatureOverride plain(0, CpuFeature::kAVX2);
    CheckEveryPixel("plain routines");
}

// The chosen columns of a run, found by steps from one division, against the centre rule pixel by pixel,
// clamped to the last source pixel, for small and extreme ratios and runs starting far out.
TEST(ScaleNearest, SourcePositionsFoundByStepsMatchTheCentreRule) {
    struct Run {
        LONG S, D;
        std::int64_t first;
        LONG count;
        std::int64_t last;
    };
    constexpr LONG kBig = (1 << 30) - 1;
    const Run runs[] = {
        {4, 2, 0, 40, 1000},
        {8, 2, 37, 70, 1000},
        {10, 7, 0, 300, 1000},
        {2, 3, 5, 300, 1000},
        {7, 2, 1, 64, 120},
        {2, 10, 0, 99, 1000},
        {3, 3, 0, 10, 9},
        {kBig, kBig - 1, 0, 50, kBig},
        {kBig - 2, kBig, 1000, 50, kBig},
        {kBig, 3, 0, 20, 3 * std::int64_t{kBig}},
        {5, 7, 400000, 30, 1000},
    };
    for (const Run& r : runs) {
        std::vector<std::int64_t> got(static_cast<std::size_t>(r.count), -1);
        CScalePipeline::NearestSources(r.first, r.count, r.S, r.D, r.last, got.data());
        for (LONG i = 0; i < r.count; ++i) {
            std::int64_t want = CentrePixel(r.first + i, r.S, r.D);
            want = want < 0 ? 0 : want > r.last ? r.last : want;
            ASSERT_EQ(got[static_cast<std::size_t>(i)], want)
                << r.S << "/" << r.D << " from " << r.first << ", position " << i;
        }
    }
}

} // namespace
