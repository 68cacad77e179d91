// The standard demosaicing's invalidation against its interpolation windows: a changed mosaic rectangle
// makes the output area its halo names invalid and nothing else; that area is exactly the output pixels
// whose windows read the change on square pixels, and holds them with at most the first column and row to
// spare on non-square ones; the output made again equals a fresh one.
#include "rawlib/filters/tests/DeBayerChangeReach.h"
#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using namespace kvtest;

// Random 12-bit samples.
TestPlane NoiseMosaic(LONG width, LONG height) {
    TestPlane mosaic = MakePlane(width, height, PravonColorSpace::kRawMosaic16, FillPattern::Random, 17);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            mosaic.SetSample(x, y, 0, mosaic.Sample(x, y, 0) % 4096);
    return mosaic;
}

// The source columns (or rows) output position u of an axis reads: its square pixel's window of three on
// each side, and on non-square pixels the next square column, or the row above and the two below.
struct Window {
    LONG first;
    LONG last;
};

Window Columns(LONG u, bool nonSquare) {
    if (!nonSquare)
        return {u + 6 - 3, u + 6 + 3};
    const LONG x = 4 * (u / 3) + u % 3 + 6;
    return {x - 3, x + 1 + 3};
}

Window Rows(LONG v, bool nonSquare) {
    if (!nonSquare)
        return {v + 6 - 3, v + 6 + 3};
    const LONG y = 2 * (v / 3) + (v % 3 == 2 ? 1 : 0) + 6;
    return {y - 1 - 3, y + 2 + 3};
}

const MosaicChange kCases[] = {
    {false, {}, {30, 27, 31, 28}}, {false, {5, 9, 50, 47}, {21, 40, 25, 43}}, {false, {}, {4, 4, 7, 6}},
    {true, {}, {30, 27, 31, 28}},  {true, {7, 4, 40, 61}, {33, 21, 36, 26}},  {true, {}, {57, 49, 59, 51}},
};

TEST(DeBayerHalo, AMosaicChangeInvalidatesTheOutputItsWindowsReach) {
    const auto& layout = BayerLayouts()[1];
    const TestPlane before = NoiseMosaic(64, 53);
    for (const MosaicChange& c : kCases)
        CheckMosaicChangeReach<Demosaic>(before, layout.descriptor, c, Columns, Rows);
}

} // namespace
