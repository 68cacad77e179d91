// The standard demosaicing's invalidation against its interpolation windows: a changed mosaic rectangle
// makes the output area its halo names invalid and nothing else; that area is exactly the output pixels
// whose windows read the change on square pixels, and holds them with at most the first column and row to
// spare on non-square ones; the output made again equals a fresh one.
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

struct Case {
    bool nonSquare;
    PravonRect crop;
    PravonRect change;
};

const Case kCases[] = {
    {false, {}, {30, 27, 31, 28}}, {false, {5, 9, 50, 47}, {21, 40, 25, 43}}, {false, {}, {4, 4, 7, 6}},
    {true, {}, {30, 27, 31, 28}},  {true, {7, 4, 40, 61}, {33, 21, 36, 26}},  {true, {}, {57, 49, 59, 51}},
};

TEST(DeBayerHalo, AMosaicChangeInvalidatesTheOutputItsWindowsReach) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << (c.nonSquare ? "non-square" : "square") << ", change at "
                                        << c.change.left << ", " << c.change.top);
        const auto& layout = BayerLayouts()[1];
        const TestPlane before = NoiseMosaic(64, 53);
        Demosaic d(before, layout.descriptor, 16);
        ASSERT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
        ASSERT_PV_OK(d.filter->SetCropRect(c.crop, nullptr, false));
        const TestPlane original = d.Pull();
        const PravonRect crop = d.filter->GetCropRect();

        TestPlane after = before;
        for (LONG y = c.change.top; y < c.change.bottom; ++y)
            for (LONG x = c.change.left; x < c.change.right; ++x)
                after.SetSample(x, y, 0, 4095 - before.Sample(x, y, 0));
        ASSERT_PV_OK(WritePlane(d.source.get(), after));
        PravonRect changed = c.change;
        ASSERT_PV_OK(PravonSendDataNotification(d.source.get(), PravonNotification::kData, &changed));
        TestPlane invalid;
        ASSERT_PV_OK(InvalidArea(d.filter.get(), &invalid));

        Demosaic fresh(after, layout.descriptor, 16);
        ASSERT_PV_OK(fresh.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
        ASSERT_PV_OK(fresh.filter->SetCropRect(c.crop, nullptr, false));
        const TestPlane expected = fresh.Pull();
        EXPECT_TRUE(PlanesMatch(expected, d.Pull()));

        // Which output pixels read the change: the box around them is what the halo must name.
        CPravonRect box(original.width, original.height, -1, -1);
        for (LONG y = 0; y < original.height; ++y) {
            const Window rows = Rows(y + crop.top, c.nonSquare);
            const bool rowReads = rows.last >= c.change.top && rows.first < c.change.bottom;
            for (LONG x = 0; x < original.width; ++x) {
                const Window columns = Columns(x + crop.left, c.nonSquare);
                const bool reader =
                    rowReads && columns.last >= c.change.left && columns.first < c.change.right;
                bool differs = false;
                for (LONG channel = 0; channel < 3; ++channel)
                    differs = differs || expected.Sample(x, y, channel) != original.Sample(x, y, channel);
                EXPECT_TRUE(!differs || reader) << "a change beyond the windows at " << x << ", " << y;
                if (reader)
                    box = CPravonRect(std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                                      std::max(box.bottom, y + 1));
            }
        }
        ASSERT_FALSE(box.Empty());
        if (!c.nonSquare) {
            EXPECT_TRUE(PlanesMatch(RectMask(original.width, original.height, box), invalid))
                << "square pixels are invalidated exactly";
            continue;
        }
        // The rounding of the non-square mapping may take in one more column on the left and one more row
        // on top, never less and nothing else.
        bool matched = false;
        for (LONG dx : {0, 1})
            for (LONG dy : {0, 1}) {
                const CPravonRect grown(std::max<LONG>(box.left - dx, 0), std::max<LONG>(box.top - dy, 0),
                                        box.right, box.bottom);
                matched =
                    matched ||
                    ComparePlanes(RectMask(original.width, original.height, grown), invalid).differing == 0;
            }
        EXPECT_TRUE(matched) << "readers from " << box.left << ", " << box.top << " to " << box.right << ", "
                             << box.bottom;
    }
}

} // namespace
