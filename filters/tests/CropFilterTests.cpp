#include "filters/CCropFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

using namespace kvtest;

// Codes of every depth the crop copies: packed 1, 2 and 4-bit grey, and 8 and 16-bit samples with 1 to 4
// channels.
constexpr LONG kGrey1 = 0x01020001;
constexpr LONG kGrey2 = 0x02020001;
constexpr LONG kGrey4 = 0x04020001;
constexpr LONG kTwo8 = 0x08040001;
constexpr LONG kTwo16 = 0x10040001;
constexpr LONG kFour16 = 0x10080202;
const LONG kEveryDepth[] = {kGrey1,
                            kGrey2,
                            kGrey4,
                            PravonColorSpace::kGrey8,
                            kTwo8,
                            PravonColorSpace::kRGB8,
                            PravonColorSpace::kCMYK8,
                            PravonColorSpace::kGrey16,
                            kTwo16,
                            PravonColorSpace::kRGB16,
                            kFour16};

// The crop worked out pixel by pixel: the output is the source's size cut to the rectangle's, and a
// pixel that falls outside the source is zero.
TestPlane Reference(const TestPlane& source, const PravonRect& r) {
    TestPlane out(std::min(source.width, r.right - r.left), std::min(source.height, r.bottom - r.top),
                  source.colorSpace);
    const LONG channels = source.BitsPerSample() < 8 ? 1 : source.Channels();
    for (LONG y = 0; y < out.height; ++y)
        for (LONG x = 0; x < out.width; ++x) {
            const LONG sx = r.left + x;
            const LONG sy = r.top + y;
            if (sx < 0 || sy < 0 || sx >= source.width || sy >= source.height)
                continue;
            for (LONG c = 0; c < channels; ++c)
                out.SetSample(x, y, c, source.Sample(sx, sy, c));
        }
    return out;
}

GraphBuilder CropOf(const TestPlane& plane, const PravonRect& rect) {
    return [plane, rect](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* crop = graph.Own(new CCropFilter(&manager));
        if (IPravonError* e = PravonConnect(source, crop))
            return e;
        if (IPravonError* e = crop->SetCrop(rect, false))
            return e;
        graph.output = crop;
        return nullptr;
    };
}

// A 300 x 200 source under a crop filter, with a recorder downstream.
struct Cropped {
    Cropped()
        : manager(64), plane(MakePlane(300, 200, PravonColorSpace::kRGB8, FillPattern::Coordinates)),
          source(MakeImage(manager, plane)), crop(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &crop));
        EXPECT_PV_OK(PravonConnect(&crop, &recorder));
    }
    ~Cropped() {
        PravonErrorPtr(PravonDisconnect(&crop, &recorder));
        PravonErrorPtr(PravonDisconnect(source.get(), &crop));
    }
    // The source takes a new size and says so.
    IPravonError* Resize(LONG width, LONG height) {
        LONG oldWidth = 0;
        LONG oldHeight = 0;
        if (IPravonError* e = source->GetSize(&oldWidth, &oldHeight))
            return e;
        if (IPravonError* e = source->SetSize(width, height))
            return e;
        plane = MakePlane(width, height, PravonColorSpace::kRGB8, FillPattern::Coordinates, 3);
        if (IPravonError* e = WritePlane(source.get(), plane))
            return e;
        IPravonDataDestination::ChangeSize change{oldWidth, oldHeight, width, height};
        return PravonSendDataNotification(source.get(), PravonNotification::kSize, &change);
    }

    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    CCropFilter crop;
    NotificationRecorder recorder;
};

TEST(CropFilter, EqualsTheCroppedSourceAtEveryTileSizeAndDepth) {
    const PravonRect inside{3, 5, 40, 29};
    for (LONG colorSpace : kEveryDepth) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << colorSpace);
        const TestPlane plane = MakePlane(45, 31, colorSpace, FillPattern::Random, 11);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(CropOf(plane, inside), &out));
        EXPECT_TRUE(PlanesMatch(plane.Crop(inside), out));
    }
}

TEST(CropFilter, PixelsOutsideTheSourceComeOutAsZeros) {
    const PravonRect rects[] = {
        {-6, -4, 20, 15},    // negative corner, as stored settings may carry
        {30, 20, 60, 40},    // past the right and bottom edges
        {-30, -20, -10, -5}, // wholly outside, above and left
        {100, 90, 120, 100}, // wholly outside, below and right
        {-5, -3, 50, 40},    // larger than the source on every side
    };
    for (LONG colorSpace : {kGrey1, kGrey4, PravonColorSpace::kRGB8, PravonColorSpace::kRGB16}) {
        const TestPlane plane = MakePlane(45, 31, colorSpace, FillPattern::Random, 5);
        for (const PravonRect& rect : rects) {
            SCOPED_TRACE(testing::Message()
                         << "colour space 0x" << std::hex << colorSpace << std::dec << ", crop " << rect.left
                         << "," << rect.top << "," << rect.right << "," << rect.bottom);
            TestPlane out;
            ASSERT_TRUE(SameAtEveryTileSize(CropOf(plane, rect), &out));
            EXPECT_TRUE(PlanesMatch(Reference(plane, rect), out));
        }
    }
}

TEST(CropFilter, ATileMadeForAnEarlierCropKeepsNoPixelsThatTheNewCropDoesNotCover) {
    CPravonMemoryManager manager(16);
    const TestPlane plane = MakePlane(40, 40, PravonColorSpace::kRGB8, FillPattern::Random, 2);
    PravonImagePtr source = MakeImage(manager, plane);
    CCropFilter crop(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &crop));
    TestPlane out;
    ASSERT_PV_OK(crop.SetCrop(CPravonRect(0, 0, 20, 20), false));
    ASSERT_PV_OK(PullAll(&crop, &out));
    for (const PravonRect& next : {PravonRect{-10, -10, 10, 10}, PravonRect{30, 25, 50, 45}}) {
        ASSERT_PV_OK(crop.SetCrop(next, false));
        ASSERT_PV_OK(PullAll(&crop, &out));
        EXPECT_TRUE(PlanesMatch(Reference(plane, next), out));
    }
    EXPECT_EQ(manager.GetLockCount(), 0);
    PravonErrorPtr(PravonDisconnect(source.get(), &crop));
}

TEST(CropFilter, AnAllZeroRectangleStandsForTheWholeSourceAndPassesItThrough) {
    Cropped c;
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(0, 0, 0, 0), false));
    EXPECT_EQ(c.crop.GetCrop(), CPravonRect(0, 0, 300, 200));
    EXPECT_TRUE(c.crop.IsPassThrough());
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.crop, &out));
    EXPECT_TRUE(PlanesMatch(c.plane, out));

    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(1, 0, 300, 200), false));
    EXPECT_FALSE(c.crop.IsPassThrough());
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(0, 0, 300, 200), false));
    EXPECT_TRUE(c.crop.IsPassThrough()) << "the whole source named in full passes through too";

    CPravonMemoryManager manager;
    CCropFilter unconnected(&manager);
    EXPECT_TRUE(unconnected.IsPassThrough()) << "a new crop filter passes its source through";
    ASSERT_PV_OK(unconnected.SetCrop(CPravonRect(0, 0, 10, 10), false));
    EXPECT_FALSE(unconnected.IsPassThrough());
    ASSERT_PV_OK(unconnected.SetCrop(CPravonRect(), false));
    EXPECT_TRUE(unconnected.IsPassThrough()) << "without a source, all zero is the whole source";
}

TEST(CropFilter, MapsCoordinatesByTheCropCornerBothWays) {
    Cropped c;
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(100, 50, 200, 150), false));
    LONG x = 0;
    LONG y = 0;
    ASSERT_PV_OK(c.crop.DefilterPoint(&x, &y, nullptr, 0));
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);

    const PravonRect source{120, 60, 170, 90};
    PravonRect r = source;
    ASSERT_PV_OK(c.crop.FilterRect(&r, nullptr, 0));
    EXPECT_EQ(r, CPravonRect(20, 10, 70, 40));
    ASSERT_PV_OK(c.crop.DefilterRect(&r, nullptr, 0));
    EXPECT_EQ(r, source);

    PravonDblRect d{120.5, 60.25, 170, 90};
    ASSERT_PV_OK(c.crop.FilterRect(&d, nullptr, 0));
    EXPECT_DOUBLE_EQ(d.left, 20.5);
    EXPECT_DOUBLE_EQ(d.bottom, 40);
    ASSERT_PV_OK(c.crop.DefilterRect(&d, nullptr, 0));
    EXPECT_DOUBLE_EQ(d.left, 120.5);
    EXPECT_DOUBLE_EQ(d.top, 60.25);

    ASSERT_PV_OK(c.crop.Enable(false, false));
    r = source;
    ASSERT_PV_OK(c.crop.FilterRect(&r, nullptr, 0));
    EXPECT_EQ(r, source) << "a disabled crop moves nothing";

    ASSERT_PV_OK(c.crop.Enable(true, false));
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(-20, -10, 80, 90), false));
    x = 0;
    y = 0;
    ASSERT_PV_OK(c.crop.DefilterPoint(&x, &y, nullptr, 0));
    EXPECT_EQ(x, -20);
    EXPECT_EQ(y, -10);
}

TEST(CropFilter, ASourceThatShrinksMovesTheCropInsideIt) {
    Cropped c;
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(100, 50, 200, 150), false));
    ASSERT_PV_OK(c.Resize(150, 100));
    EXPECT_EQ(c.crop.GetCrop(), CPravonRect(50, 0, 150, 100));
    ASSERT_EQ(c.recorder.Count(PravonNotification::kSize), 1u);
    const IPravonDataDestination::ChangeSize first = *c.recorder.heard.back().size;
    EXPECT_EQ(first.oldWidth, 100);
    EXPECT_EQ(first.oldHeight, 100);
    EXPECT_EQ(first.newWidth, 100);
    EXPECT_EQ(first.newHeight, 100);
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.crop, &out));
    EXPECT_TRUE(PlanesMatch(c.plane.Crop(CPravonRect(50, 0, 150, 100)), out));

    ASSERT_PV_OK(c.Resize(80, 60));
    EXPECT_EQ(c.crop.GetCrop(), CPravonRect(0, 0, 80, 60));
    const IPravonDataDestination::ChangeSize second = *c.recorder.heard.back().size;
    EXPECT_EQ(second.oldWidth, 100);
    EXPECT_EQ(second.newWidth, 80);
    EXPECT_EQ(second.newHeight, 60);
    ASSERT_PV_OK(PullAll(&c.crop, &out));
    EXPECT_TRUE(PlanesMatch(c.plane, out));
}

TEST(CropFilter, SettingTheCropWithNotifyAnnouncesItsSizeEvenWhenUnchanged) {
    Cropped c;
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(10, 10, 110, 60), false));
    EXPECT_TRUE(c.recorder.heard.empty());
    for (int i = 0; i < 2; ++i)
        ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(10, 10, 110, 60), true));
    ASSERT_EQ(c.recorder.heard.size(), 2u);
    for (const NotificationRecorder::Heard& h : c.recorder.heard) {
        ASSERT_EQ(h.type, PravonNotification::kSize);
        EXPECT_EQ(h.size->oldWidth, 100);
        EXPECT_EQ(h.size->oldHeight, 50);
        EXPECT_EQ(h.size->newWidth, 100);
        EXPECT_EQ(h.size->newHeight, 50);
    }
    ASSERT_PV_OK(c.crop.Enable(false, false));
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(0, 0, 5, 5), true));
    EXPECT_EQ(c.recorder.heard.size(), 2u) << "a disabled crop tells nobody";
}

TEST(CropFilter, AnInvertedRectangleIsRefusedAndChangesNothing) {
    Cropped c;
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(10, 20, 110, 70), false));
    TestPlane before;
    ASSERT_PV_OK(PullAll(&c.crop, &before));
    constexpr LONG kMin = std::numeric_limits<LONG>::min();
    constexpr LONG kMax = std::numeric_limits<LONG>::max();
    for (const PravonRect& bad :
         {PravonRect{50, 20, 49, 70}, PravonRect{10, 70, 110, 69}, PravonRect{kMin, 0, kMax, 10}}) {
        EXPECT_PV_KIND(c.crop.SetCrop(bad, true), PravonKind::kOutOfRange);
        EXPECT_EQ(c.crop.GetCrop(), CPravonRect(10, 20, 110, 70));
    }
    EXPECT_FALSE(c.crop.IsPassThrough());
    EXPECT_TRUE(c.recorder.heard.empty());
    TestPlane after;
    ASSERT_PV_OK(PullAll(&c.crop, &after));
    EXPECT_TRUE(PlanesMatch(before, after));

    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(-40, -30, 60, 20), false)) << "a negative corner is accepted";
    ASSERT_PV_OK(c.crop.SetCrop(CPravonRect(7, 7, 7, 9), false)) << "so is an empty crop";
    LONG width = -1;
    ASSERT_PV_OK(c.crop.GetWidth(&width));
    EXPECT_EQ(width, 0);
}

TEST(CropFilter, AProcessingPassRendersWhatAPullShows) {
    Cropped c;
    const PravonRect rect{-8, 150, 92, 230};
    ASSERT_PV_OK(c.crop.SetCrop(rect, false));
    IPravonImage* raw = nullptr;
    ASSERT_PV_OK(c.manager.CreateImage(1, &raw));
    PravonImagePtr image(raw);
    IPravonDataSource* const sources[1] = {c.source.get()};
    ASSERT_PV_OK(c.crop.Process(sources, 1, image.get()));
    TestPlane rendered;
    ASSERT_PV_OK(PullAll(image.get(), &rendered));
    EXPECT_TRUE(PlanesMatch(Reference(c.plane, rect), rendered));

    ASSERT_PV_OK(c.crop.Enable(false, false));
    ASSERT_PV_OK(c.crop.Process(sources, 1, image.get()));
    ASSERT_PV_OK(PullAll(image.get(), &rendered));
    EXPECT_TRUE(PlanesMatch(c.plane, rendered)) << "a disabled crop renders its source unmoved";
    EXPECT_EQ(c.manager.GetLockCount(), 0);
}

} // namespace
