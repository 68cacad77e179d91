#include "rawlib/filters/CFltPlaceHolder.h"
#include "rawlib/filters/CFltThreshold.h"
#include "rawlib/filters/CFltVisualCrop.h"

#include "testing/FilterOverPlane.h"
#include "testing/ImageCompare.h"

#include <gtest/gtest.h>

namespace {

using namespace kvtest;

// A horizontal ramp through every 8-bit value (x * step for x = 0 .. 255), the same in every channel and row.
TestPlane Ramp(LONG colorSpace, ULONG step) {
    TestPlane plane(256, 3, colorSpace);
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG c = 0; c < plane.Channels(); ++c)
                plane.SetSample(x, y, c, static_cast<ULONG>(x) * step);
    return plane;
}

TEST(ShowLostDetail, MasksAGradientAgainstTheThreshold) {
    const struct {
        LONG colorSpace;
        ULONG step; // sample = x * step
        BYTE threshold;
        ULONG stays; // the one sample value that keeps its value; below it 0, above it the maximum
    } cases[] = {
        {PravonColorSpace::kGrey8, 1, 255, 255},
        {PravonColorSpace::kRGB8, 1, 0, 0},
        {PravonColorSpace::kRGB8, 1, 128, 128},
        {PravonColorSpace::kCMYK8, 1, 200, 200},
        // 16-bit samples meet the threshold's 16-bit value: 255 -> 65535, 128 -> 32896.
        {PravonColorSpace::kGrey16, 257, 255, 65535},
        {PravonColorSpace::kRGB16, 257, 0, 0},
        {PravonColorSpace::kRGB16, 257, 128, 32896},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << c.colorSpace << std::dec
                                        << ", threshold " << int(c.threshold));
        const TestPlane plane = Ramp(c.colorSpace, c.step);
        FilterOverPlane<CFltThreshold> graph(plane, 16);
        ASSERT_PV_OK(graph.filter->SetThreshold(c.threshold, false));
        const TestPlane out = graph.Pull();
        const ULONG top = c.step == 1 ? 255 : 65535;
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                for (LONG ch = 0; ch < plane.Channels(); ++ch) {
                    const ULONG s = plane.Sample(x, y, ch);
                    const ULONG expected = s == c.stays ? s : s < c.stays ? 0 : top;
                    ASSERT_EQ(out.Sample(x, y, ch), expected) << "at " << x << "," << y;
                }
    }
}

TEST(ShowLostDetail, HighlightsAndShadowsAreTheTwoEnds) {
    FilterOverPlane<CFltThreshold> graph(Ramp(PravonColorSpace::kGrey8, 1), 16);
    EXPECT_EQ(graph.filter->GetThreshold(), 255) << "a new filter shows lost highlights";
    ASSERT_PV_OK(graph.filter->ShowLostShadows(false));
    EXPECT_EQ(graph.filter->GetThreshold(), 0);
    TestPlane out = graph.Pull();
    EXPECT_EQ(out.Sample(0, 0, 0), 0u);
    EXPECT_EQ(out.Sample(1, 0, 0), 255u);
    ASSERT_PV_OK(graph.filter->ShowLostHighlights(false));
    out = graph.Pull();
    EXPECT_EQ(out.Sample(254, 0, 0), 0u) << "the change reached the cached output";
    EXPECT_EQ(out.Sample(255, 0, 0), 255u);
}

TEST(ShowLostDetail, AnnouncesAnEffectiveChangeOverTheWholeImage) {
    FilterOverPlane<CFltThreshold> graph(MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Random, 1),
                                         16);
    ASSERT_PV_OK(graph.filter->SetThreshold(255, true));
    EXPECT_TRUE(graph.recorder.heard.empty()) << "unchanged";
    ASSERT_PV_OK(graph.filter->SetThreshold(9, false));
    EXPECT_TRUE(graph.recorder.heard.empty()) << "not asked to notify";
    ASSERT_PV_OK(graph.filter->ShowLostShadows(true));
    ASSERT_EQ(graph.recorder.heard.size(), 1u);
    EXPECT_EQ(graph.recorder.heard[0].type, PravonNotification::kData);
    EXPECT_EQ(*graph.recorder.heard[0].rect, (PravonRect{0, 0, 30, 20}));
}

TEST(ShowLostDetail, RefusesOtherColourSpacesAndIsTheSameAtEveryTileSize) {
    for (LONG colorSpace : {PravonColorSpace::kLCh8, PravonColorSpace::kBGR8, PravonColorSpace::kLab16}) {
        FilterOverPlane<CFltThreshold> graph(MakePlane(8, 8, colorSpace, FillPattern::Random, 2), 16);
        TestPlane out;
        EXPECT_PV_KIND(PullAll(graph.filter.get(), &out), PravonKind::kUnsupportedColorSpace);
    }
    const TestPlane plane = MakePlane(39, 21, PravonColorSpace::kRGB16, FillPattern::Random, 3);
    EXPECT_TRUE(SameAtEveryTileSize(
        FilterGraph<CFltThreshold>(plane, [](CFltThreshold& f) { return f.SetThreshold(100, false); })));
}

// Visual crop.

// What the display shows of one sample at (x, y) for the rectangle: kept inside, dimmed to a quarter above
// a grey floor outside. Inside is top < y < bottom and left < x < right at 8 bits, left <= x <= right at 16.
ULONG Shown(const TestPlane& plane, LONG x, LONG y, LONG channel, const PravonRect& r) {
    const bool wide = plane.BitsPerSample() == 16;
    const bool inside =
        r.top < y && y < r.bottom && (wide ? r.left <= x && x <= r.right : r.left < x && x < r.right);
    const ULONG s = plane.Sample(x, y, channel);
    return inside ? s : (wide ? 0x4000 : 64) + s / 4;
}

TEST(VisualCrop, DimsWhatLiesOutsideWithTheEdgesOfEachDepth) {
    const PravonRect rect{3, 2, 12, 9};
    for (LONG colorSpace : {PravonColorSpace::kRGB8, PravonColorSpace::kRGB16}) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << colorSpace);
        const TestPlane plane = MakePlane(17, 13, colorSpace, FillPattern::Random, 4);
        TestPlane out;
        ASSERT_TRUE(
            SameAtEveryTileSize(FilterGraph<CFltVisualCrop>(
                                    plane, [rect](CFltVisualCrop& f) { return f.SetCropRect(rect, false); }),
                                &out));
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                for (LONG c = 0; c < 3; ++c)
                    ASSERT_EQ(out.Sample(x, y, c), Shown(plane, x, y, c, rect)) << "at " << x << "," << y;
    }
}

TEST(VisualCrop, TheLeftColumnIsDimmedAt8BitsAndKeptAt16) {
    const struct {
        LONG colorSpace;
        ULONG white;
        ULONG dimmedWhite;
        bool leftKept;
        bool rightKept;
    } cases[] = {
        {PravonColorSpace::kRGB8, 255, 64 + 63, false, false},
        {PravonColorSpace::kRGB16, 65535, 0x4000 + 0x3FFF, true, true},
    };
    for (const auto& c : cases) {
        FilterOverPlane<CFltVisualCrop> graph(MakePlane(10, 10, c.colorSpace, FillPattern::Constant, c.white),
                                              16);
        ASSERT_PV_OK(graph.filter->SetCropRect({2, 2, 6, 6}, false));
        const TestPlane out = graph.Pull();
        EXPECT_EQ(out.Sample(2, 4, 0), c.leftKept ? c.white : c.dimmedWhite) << "x = left";
        EXPECT_EQ(out.Sample(3, 4, 0), c.white);
        EXPECT_EQ(out.Sample(6, 4, 0), c.rightKept ? c.white : c.dimmedWhite) << "x = right";
        EXPECT_EQ(out.Sample(4, 2, 0), c.dimmedWhite) << "y = top";
        EXPECT_EQ(out.Sample(4, 6, 0), c.dimmedWhite) << "y = bottom";
        EXPECT_EQ(out.Sample(0, 0, 0), c.dimmedWhite);
    }
}

TEST(VisualCrop, TheWholeSourceOrNothingPassesThrough) {
    const TestPlane plane = MakePlane(20, 15, PravonColorSpace::kRGB8, FillPattern::Random, 5);
    FilterOverPlane<CFltVisualCrop> graph(plane, 16);
    ASSERT_PV_OK(graph.filter->SetCropRect({0, 0, 20, 15}, false));
    EXPECT_TRUE(graph.filter->IsPassThrough());
    ASSERT_PV_OK(graph.filter->SetCropRect({1, 1, 5, 5}, false));
    EXPECT_FALSE(graph.filter->IsPassThrough());
    ASSERT_PV_OK(graph.filter->SetCropRect({0, 0, 0, 0}, false));
    EXPECT_TRUE(graph.filter->IsPassThrough());
    EXPECT_EQ(graph.filter->GetCropRect(), (PravonRect{0, 0, 20, 15}))
        << "all zero stands for the whole source";
    EXPECT_TRUE(PlanesMatch(plane, graph.Pull()));

    // Without a source only the all-zero rectangle passes through.
    CPravonMemoryManager manager(16);
    CFltVisualCrop alone(&manager);
    ASSERT_PV_OK(alone.SetCropRect({0, 0, 20, 15}, false));
    EXPECT_FALSE(alone.IsPassThrough());
    ASSERT_PV_OK(alone.SetCropRect({0, 0, 0, 0}, false));
    EXPECT_TRUE(alone.IsPassThrough());
    EXPECT_EQ(alone.GetCropRect(), (PravonRect{0, 0, 0, 0}));
}

TEST(VisualCrop, AnnouncesTheBoundingBoxOfTheOldAndTheNewRectangle) {
    FilterOverPlane<CFltVisualCrop> graph(MakePlane(40, 30, PravonColorSpace::kRGB16, FillPattern::Random, 6),
                                          16);
    ASSERT_PV_OK(graph.filter->SetCropRect({10, 5, 20, 25}, false));
    EXPECT_TRUE(graph.recorder.heard.empty());
    ASSERT_PV_OK(graph.filter->SetCropRect({2, 8, 15, 29}, true));
    ASSERT_EQ(graph.recorder.heard.size(), 1u);
    EXPECT_EQ(graph.recorder.heard[0].type, PravonNotification::kData);
    EXPECT_EQ(*graph.recorder.heard[0].rect, (PravonRect{2, 5, 20, 29}));
    ASSERT_PV_OK(graph.filter->Enable(false, false));
    graph.recorder.Clear();
    ASSERT_PV_OK(graph.filter->SetCropRect({1, 1, 2, 2}, true));
    EXPECT_TRUE(graph.recorder.heard.empty()) << "a disabled filter announces nothing";
}

TEST(VisualCrop, RefusesSourcesOtherThanRgb) {
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kLCh8, PravonColorSpace::kGrey16}) {
        FilterOverPlane<CFltVisualCrop> graph(MakePlane(8, 8, colorSpace, FillPattern::Random, 2), 16);
        ASSERT_PV_OK(graph.filter->SetCropRect({1, 1, 4, 4}, false));
        TestPlane out;
        PravonErrorPtr err(PullAll(graph.filter.get(), &out));
        ASSERT_TRUE(err);
        EXPECT_TRUE(err->HasText("Bad source data color space"));
    }
}

TEST(PlaceHolder, AlwaysPassesItsSourceThroughAndKeepsItsTag) {
    const TestPlane plane = MakePlane(25, 18, PravonColorSpace::kRGB16, FillPattern::Random, 7);
    for (LONG tag : {CFltPlaceHolder::kInfoTag, CFltPlaceHolder::kWBTag}) {
        FilterOverPlane<CFltPlaceHolder> graph(plane, 16, tag);
        EXPECT_EQ(graph.filter->GetTag(), tag);
        EXPECT_EQ(graph.filter->GetFilterCode(), 0x50486C64);
        EXPECT_TRUE(graph.filter->IsPassThrough());
        EXPECT_TRUE(PlanesMatch(plane, graph.Pull()));
        ASSERT_PV_OK(graph.filter->Enable(false, false));
        ASSERT_PV_OK(graph.filter->Enable(true, false));
        EXPECT_TRUE(graph.filter->IsPassThrough());
    }
}

} // namespace
