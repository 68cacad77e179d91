// How a change of the mosaic must reach a demosaicing filter's output: the output after the change equals a
// fresh filter's, only pixels whose windows read the change differ, and the invalid area is the box of those
// readers (the rounding of the non-square mapping may take in one more column on the left and one more row
// on top, never less and nothing else).
#pragma once

#include "rawlib/filters/tests/DeBayerTestSupport.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kvtest {

struct MosaicChange {
    bool nonSquare;
    PravonRect crop;
    PravonRect change;
};

// Fixture: Demosaic or a filter fixture like it. columns(u, nonSquare) and rows(v, nonSquare) give the first
// and last source column or row that output column u or row v (in uncropped output coordinates) reads.
// Answers how many output pixels the change altered.
template <class Fixture, class ColumnsOf, class RowsOf>
LONG CheckMosaicChangeReach(const TestPlane& before, const std::vector<BYTE>& descriptor,
                            const MosaicChange& c, ColumnsOf columns, RowsOf rows) {
    SCOPED_TRACE(testing::Message() << (c.nonSquare ? "non-square" : "square") << ", change at "
                                    << c.change.left << ", " << c.change.top);
    Fixture d(before, descriptor, 16);
    EXPECT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
    EXPECT_PV_OK(d.filter->SetCropRect(c.crop, nullptr, false));
    const TestPlane original = d.Pull();
    const PravonRect crop = d.filter->GetCropRect();

    TestPlane after = before;
    for (LONG y = c.change.top; y < c.change.bottom; ++y)
        for (LONG x = c.change.left; x < c.change.right; ++x)
            after.SetSample(x, y, 0, 4095 - before.Sample(x, y, 0));
    EXPECT_PV_OK(WritePlane(d.source.get(), after));
    PravonRect changed = c.change;
    EXPECT_PV_OK(PravonSendDataNotification(d.source.get(), PravonNotification::kData, &changed));
    TestPlane invalid;
    EXPECT_PV_OK(InvalidArea(d.filter.get(), &invalid));

    Fixture fresh(after, descriptor, 16);
    EXPECT_PV_OK(fresh.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
    EXPECT_PV_OK(fresh.filter->SetCropRect(c.crop, nullptr, false));
    const TestPlane expected = fresh.Pull();
    EXPECT_TRUE(PlanesMatch(expected, d.Pull()));

    // Which output pixels read the change: the box around them is what the halo must name.
    CPravonRect box(original.width, original.height, -1, -1);
    LONG differing = 0;
    for (LONG y = 0; y < original.height; ++y) {
        const auto rowReach = rows(y + crop.top, c.nonSquare);
        const bool rowReads = rowReach.last >= c.change.top && rowReach.first < c.change.bottom;
        for (LONG x = 0; x < original.width; ++x) {
            const auto columnReach = columns(x + crop.left, c.nonSquare);
            const bool reader =
                rowReads && columnReach.last >= c.change.left && columnReach.first < c.change.right;
            bool differs = false;
            for (LONG channel = 0; channel < 3; ++channel)
                differs = differs || expected.Sample(x, y, channel) != original.Sample(x, y, channel);
            differing += differs;
            EXPECT_TRUE(!differs || reader) << "a change beyond the reach at " << x << ", " << y;
            if (reader)
                box = CPravonRect(std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                                  std::max(box.bottom, y + 1));
        }
    }
    EXPECT_FALSE(box.Empty());
    if (box.Empty())
        return differing;
    if (!c.nonSquare) {
        EXPECT_TRUE(PlanesMatch(RectMask(original.width, original.height, box), invalid))
            << "square pixels are invalidated exactly";
        return differing;
    }
    bool matched = false;
    for (LONG dx : {0, 1})
        for (LONG dy : {0, 1}) {
            const CPravonRect grown(std::max<LONG>(box.left - dx, 0), std::max<LONG>(box.top - dy, 0),
                                    box.right, box.bottom);
            matched = matched ||
                      ComparePlanes(RectMask(original.width, original.height, grown), invalid).differing == 0;
        }
    EXPECT_TRUE(matched) << "readers from " << box.left << ", " << box.top << " to " << box.right << ", "
                         << box.bottom;
    return differing;
}

} // namespace kvtest
