// The scale filter: its modes and setters, geometry and mappings, notifications, and its output against
// the closed-form reference at every tile size.
#include "filters/CPravonFilterScale.h"
#include "filters/tests/ProbeFilter.h"
#include "filters/tests/ScaleReference.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace kvtest;
using Scale = CPravonFilterScale;

// A source image under a scale filter, with a recorder downstream.
struct Scaling {
    explicit Scaling(const TestPlane& p, LONG method = Scale::kLinear, LONG tileSize = 16)
        : manager(tileSize), plane(p), source(MakeImage(manager, plane)), filter(&manager, method) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
        recorder.Clear();
    }
    TestPlane Pull(PullOrder order = PullOrder::TileOrder) {
        TestPlane out;
        EXPECT_PV_OK(PullAll(&filter, &out, order));
        return out;
    }
    // Gives the source new pixels (and size) and tells the filter as a source would.
    void Replace(const TestPlane& next) {
        IPravonDataDestination::ChangeSize change{plane.width, plane.height, next.width, next.height};
        const bool resized = next.width != plane.width || next.height != plane.height;
        ASSERT_PV_OK(source->SetSize(next.width, next.height));
        ASSERT_PV_OK(WritePlane(source.get(), next));
        plane = next;
        if (resized) {
            ASSERT_PV_OK(PravonSendDataNotification(source.get(), PravonNotification::kSize, &change));
        } else {
            PravonRect all{0, 0, next.width, next.height};
            ASSERT_PV_OK(PravonSendDataNotification(source.get(), PravonNotification::kData, &all));
        }
    }

    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    Scale filter;
    NotificationRecorder recorder;
};

TEST(ScaleFilter, ANewFilterPassesItsSourceThrough) {
    Scaling s(MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    EXPECT_EQ(s.filter.GetFilterCode(), 0x7363616C);
    EXPECT_STREQ(s.filter.GetFilterDescription(), "Scale");
    EXPECT_EQ(s.filter.GetMethod(), Scale::kLinear);
    EXPECT_TRUE(s.filter.IsPassThrough());
    EXPECT_EQ(s.filter.GetScale(), 1.0);
    EXPECT_TRUE(PlanesMatch(s.plane, s.Pull()));
}

TEST(ScaleFilter, ScaleModeRoundsEachSideToTheNearestPixel) {
    TestPlane big(3000, 2000, PravonColorSpace::kGrey8);
    Scaling s(big);
    IPravonDataSource* const sources[1] = {s.source.get()};
    LONG w = 0, h = 0;
    ASSERT_PV_OK(s.filter.SetScale(0.5, false));
    ASSERT_PV_OK(s.filter.GetFilteredSize(sources, 1, &w, &h));
    EXPECT_EQ(w, 1500);
    EXPECT_EQ(h, 1000);
    ASSERT_PV_OK(s.filter.SetScale(0.3333, false));
    ASSERT_PV_OK(s.filter.GetFilteredSize(sources, 1, &w, &h));
    EXPECT_EQ(w, 1000);
    EXPECT_EQ(h, 667);
    ASSERT_PV_OK(s.filter.SetScale(0.25, 0.5, false));
    double sx = 0, sy = 0;
    s.filter.GetScale(&sx, &sy);
    EXPECT_EQ(sx, 0.25);
    EXPECT_EQ(sy, 0.5);
    EXPECT_EQ(s.filter.GetScale(), 0.375);
}

TEST(ScaleFilter, FactorsWithinATenBillionthChangeNothing) {
    Scaling s(MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    ASSERT_PV_OK(s.filter.SetScale(1.0, 1.0, true));
    ASSERT_PV_OK(s.filter.SetScale(1.00000000005, 1.0, true));
    EXPECT_TRUE(s.recorder.heard.empty());
    ASSERT_PV_OK(s.filter.SetScale(0.5, 0.5, false));
    EXPECT_FALSE(s.filter.IsPassThrough());
    ASSERT_PV_OK(s.filter.SetScale(1.00000000005, 1.0, false));
    double sx = 0;
    s.filter.GetScale(&sx, nullptr);
    EXPECT_EQ(sx, 1.00000000005);
    EXPECT_TRUE(s.filter.IsPassThrough());
}

TEST(ScaleFilter, FixedSizeEqualToTheOnlySourcePassesThrough) {
    Scaling s(MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    ASSERT_PV_OK(s.filter.SetSize(30, 20, false));
    EXPECT_TRUE(s.filter.IsPassThrough());
    ASSERT_PV_OK(s.filter.SetSize(31, 20, false));
    EXPECT_FALSE(s.filter.IsPassThrough());
    PravonImagePtr second = MakeImage(s.manager, s.plane);
    ASSERT_PV_OK(PravonConnect(second.get(), &s.filter));
    ASSERT_PV_OK(s.filter.SetSize(30, 20, false));
    EXPECT_FALSE(s.filter.IsPassThrough()) << "two sources";
    ASSERT_PV_OK(PravonDisconnect(second.get(), &s.filter));
}

TEST(ScaleFilter, FactorsOfZeroOrBelowSelectTheStoredSize) {
    Scaling s(MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    ASSERT_PV_OK(s.filter.SetSize(12, 8, false));
    ASSERT_PV_OK(s.filter.SetScale(2.0, false));
    ASSERT_PV_OK(s.filter.SetScale(-1.0, 2.0, false));
    LONG w = 0, h = 0;
    ASSERT_PV_OK(s.filter.GetWidth(&w));
    ASSERT_PV_OK(s.filter.GetHeight(&h));
    EXPECT_EQ(w, 12);
    EXPECT_EQ(h, 8);
}

TEST(ScaleFilter, ImpossibleSizesAreRefusedAndChangeNothing) {
    Scaling s(MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    ASSERT_PV_OK(s.filter.SetSize(12, 8, false));
    EXPECT_PV_KIND(s.filter.SetSize(-5, 8, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(s.filter.SetScale(std::nan(""), 1.0, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(s.filter.SetScale(INFINITY, true), PravonKind::kOutOfRange);
    LONG w = 0, h = 0;
    ASSERT_PV_OK(s.filter.GetWidth(&w));
    ASSERT_PV_OK(s.filter.GetHeight(&h));
    EXPECT_EQ(w, 12);
    EXPECT_EQ(h, 8);
    EXPECT_TRUE(s.recorder.heard.empty());

    // A factor whose output would leave 32 bits is reported where the size is computed.
    ASSERT_PV_OK(s.filter.SetScale(1e9, false));
    IPravonDataSource* const sources[1] = {s.source.get()};
    EXPECT_PV_KIND(s.filter.GetFilteredSize(sources, 1, &w, &h), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(s.filter.GetWidth(&w), PravonKind::kOutOfRange);
}

TEST(ScaleFilter, IntegerRectanglesAreRoundedOutwards) {
    PravonRect r{1, 1, 3, 3};
    Scale::FilterRect(&r, 4, 4, 3, 3);
    EXPECT_EQ(r, CPravonRect(0, 0, 3, 3));
    r = {-1, -1, -1, -1};
    Scale::FilterRect(&r, 4, 4, 3, 3);
    EXPECT_EQ(r, CPravonRect(-1, -1, 0, 0));
    r = {-3, 5, 7, 9};
    Scale::DefilterRect(&r, 10, 10, 4, 4);
    EXPECT_EQ(r, CPravonRect(-8, 12, 18, 23));
    r = {1, 1, 3, 3};
    Scale::FilterRect(&r, 0.3, 0.7);
    EXPECT_EQ(r, CPravonRect(0, 0, 1, 3));
    LONG x = -7, y = 7;
    Scale::FilterPoint(&x, &y, 0.5);
    EXPECT_EQ(x, -3);
    EXPECT_EQ(y, 3);
    Scale::DefilterPoint(&x, &y, 0.25, 0.5);
    EXPECT_EQ(x, -12);
    EXPECT_EQ(y, 6);
}

TEST(ScaleFilter, MappingsDivideNeitherByZeroNorOverflow) {
    LONG x = 9, y = 9;
    Scale::FilterPoint(&x, &y, 0, 10, 5, 5);
    EXPECT_EQ(x, 9) << "a zero source width leaves x alone";
    EXPECT_EQ(y, 4);
    PravonRect r{1, 2, 3, 4};
    Scale::DefilterRect(&r, 10, 10, 0, 0);
    EXPECT_EQ(r, CPravonRect(1, 2, 3, 4));
    double dx = 3, dy = 3;
    Scale::DefilterPoint(&dx, &dy, 0.0);
    Scale::DefilterPoint(&dx, &dy, 0.0, 2.0);
    EXPECT_EQ(dx, 3.0);
    EXPECT_EQ(dy, 1.5);
    // 60000 * 50000 does not fit 32 bits.
    x = 50000;
    y = 59999;
    Scale::FilterPoint(&x, &y, 50000, 60000, 60000, 50000);
    EXPECT_EQ(x, 60000);
    EXPECT_EQ(y, 49999);
    r = {0, 0, 100000, 100000};
    Scale::FilterRect(&r, 100000, 100000, 70000, 30000);
    EXPECT_EQ(r, CPravonRect(0, 0, 70000, 30000));
}

TEST(ScaleFilter, RectanglesMappedThereAndBackCoverWhereTheyStarted) {
    const LONG sizes[][4] = {{4, 4, 3, 3}, {37, 23, 11, 50}, {3000, 2000, 1001, 667}, {5, 7, 13, 2}};
    const PravonRect rects[] = {{0, 0, 1, 1}, {1, 2, 3, 5}, {-4, -1, 9, 6}, {2, 3, 2, 3}};
    for (const auto& z : sizes) {
        for (PravonRect r : rects) {
            PravonRect m = r;
            Scale::FilterRect(&m, z[0], z[1], z[2], z[3]);
            Scale::DefilterRect(&m, z[0], z[1], z[2], z[3]);
            EXPECT_TRUE(m.left <= r.left && m.top <= r.top && m.right >= r.right && m.bottom >= r.bottom);
            m = r;
            Scale::DefilterRect(&m, z[0], z[1], z[2], z[3]);
            Scale::FilterRect(&m, z[0], z[1], z[2], z[3]);
            EXPECT_TRUE(m.left <= r.left && m.top <= r.top && m.right >= r.right && m.bottom >= r.bottom);
        }
        PravonDblRect d{1.25, -2.5, 7.75, 9.0};
        Scale::FilterRect(&d, z[0], z[1], z[2], z[3]);
        Scale::DefilterRect(&d, z[0], z[1], z[2], z[3]);
        EXPECT_NEAR(d.left, 1.25, 1e-9);
        EXPECT_NEAR(d.bottom, 9.0, 1e-9);
    }
    for (double f : {0.3333, 0.7, 1.5, 2.0}) {
        for (PravonRect r : rects) {
            PravonRect m = r;
            Scale::FilterRect(&m, f, f * 1.1);
            Scale::DefilterRect(&m, f, f * 1.1);
            EXPECT_TRUE(m.left <= r.left && m.top <= r.top && m.right >= r.right && m.bottom >= r.bottom)
                << f;
        }
    }
}

TEST(ScaleFilter, TheFilterMapsByItsModeAndOnlyWhileItScales) {
    Scaling s(MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    PravonRect r{10, 10, 20, 20};
    ASSERT_PV_OK(s.filter.FilterRect(&r, nullptr, 0));
    EXPECT_EQ(r, CPravonRect(10, 10, 20, 20)) << "passing through";

    ASSERT_PV_OK(s.filter.SetSize(10, 40, false));
    ASSERT_PV_OK(s.filter.FilterRect(&r, nullptr, 0));
    EXPECT_EQ(r, CPravonRect(2, 20, 5, 40)) << "the first source's size, 40 x 20, to 10 x 40";
    ASSERT_PV_OK(s.filter.DefilterRect(&r, nullptr, 0));
    EXPECT_EQ(r, CPravonRect(8, 10, 20, 20));
    TestPlane other(80, 80, PravonColorSpace::kRGB8);
    PravonImagePtr otherImage = MakeImage(s.manager, other);
    IPravonDataSource* const given[1] = {otherImage.get()};
    double x = 40, y = 40;
    ASSERT_PV_OK(s.filter.FilterPoint(&x, &y, given, 1));
    EXPECT_EQ(x, 5.0) << "the given sources' size";
    EXPECT_EQ(y, 20.0);

    ASSERT_PV_OK(s.filter.SetScale(0.5, 2.0, false));
    LONG lx = 7, ly = 7;
    ASSERT_PV_OK(s.filter.FilterPoint(&lx, &ly, nullptr, 0));
    EXPECT_EQ(lx, 3);
    EXPECT_EQ(ly, 14);
    ASSERT_PV_OK(s.filter.DefilterPoint(&lx, &ly, nullptr, 0));
    EXPECT_EQ(lx, 6);
    EXPECT_EQ(ly, 7);

    ASSERT_PV_OK(s.filter.Enable(false, false));
    ASSERT_PV_OK(s.filter.FilterPoint(&lx, &ly, nullptr, 0));
    EXPECT_EQ(lx, 6) << "disabled";

    Scale lone(&s.manager, Scale::kLinear);
    ASSERT_PV_OK(lone.SetSize(5, 5, false));
    EXPECT_PV_KIND(lone.FilterRect(&r, nullptr, 0), PravonKind::kNoSource);
}

TEST(ScaleFilter, SettersAnnounceTheirChangeOnlyWhenAskedEnabledAndConnected) {
    Scaling s(MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    ASSERT_PV_OK(s.filter.SetScale(0.5, true));
    ASSERT_EQ(s.recorder.heard.size(), 1u);
    EXPECT_EQ(s.recorder.heard[0].type, PravonNotification::kSize);
    ASSERT_TRUE(s.recorder.heard[0].size);
    EXPECT_EQ(s.recorder.heard[0].size->oldWidth, 40);
    EXPECT_EQ(s.recorder.heard[0].size->oldHeight, 20);
    EXPECT_EQ(s.recorder.heard[0].size->newWidth, 20);
    EXPECT_EQ(s.recorder.heard[0].size->newHeight, 10);

    s.recorder.Clear();
    ASSERT_PV_OK(s.filter.SetSize(7, 9, true));
    ASSERT_EQ(s.recorder.heard.size(), 1u);
    EXPECT_EQ(s.recorder.heard[0].size->oldWidth, 20);
    EXPECT_EQ(s.recorder.heard[0].size->newWidth, 7);
    EXPECT_EQ(s.recorder.heard[0].size->newHeight, 9);

    s.recorder.Clear();
    ASSERT_PV_OK(s.filter.SetMethod(Scale::kCubic, true));
    ASSERT_PV_OK(s.filter.SetMethod(Scale::kCubic, true));
    ASSERT_EQ(s.recorder.heard.size(), 1u);
    EXPECT_EQ(s.recorder.heard[0].type, PravonNotification::kData);
    EXPECT_EQ(*s.recorder.heard[0].rect, CPravonRect(0, 0, 7, 9));

    s.recorder.Clear();
    ASSERT_PV_OK(s.filter.SetMethod(Scale::kNearest, false));
    ASSERT_PV_OK(s.filter.SetSize(8, 9, false));
    ASSERT_PV_OK(s.filter.Enable(false, false));
    ASSERT_PV_OK(s.filter.SetSize(9, 9, true));
    ASSERT_PV_OK(s.filter.SetMethod(Scale::kLinear, true));
    EXPECT_TRUE(s.recorder.heard.empty());
}

TEST(ScaleFilter, ASourceSizeChangeIsScaledInScaleMode) {
    Scaling s(MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    ASSERT_PV_OK(s.filter.SetScale(0.5, false));
    (void)s.Pull();
    s.Replace(MakePlane(30, 10, PravonColorSpace::kRGB8, FillPattern::Random, 4));
    ASSERT_EQ(s.recorder.Count(PravonNotification::kSize), 1u);
    const auto& change = *s.recorder.heard[0].size;
    EXPECT_EQ(change.oldWidth, 20);
    EXPECT_EQ(change.oldHeight, 10);
    EXPECT_EQ(change.newWidth, 15);
    EXPECT_EQ(change.newHeight, 5);
    EXPECT_TRUE(PlanesMatch(ReferenceScale(s.plane, 15, 5, Scale::kLinear), s.Pull()));
}

TEST(ScaleFilter, ASourceSizeChangeInFixedSizeModeRenewsTheWholeOutput) {
    Scaling s(MakePlane(64, 48, PravonColorSpace::kRGB8, FillPattern::Random), Scale::kLinear, 8);
    ASSERT_PV_OK(s.filter.SetSize(20, 12, false));
    (void)s.Pull();
    s.Replace(MakePlane(80, 60, PravonColorSpace::kRGB8, FillPattern::Random, 6));
    ASSERT_EQ(s.recorder.heard.size(), 1u);
    EXPECT_EQ(s.recorder.heard[0].type, PravonNotification::kData);
    EXPECT_EQ(*s.recorder.heard[0].rect, CPravonRect(0, 0, 20, 12))
        << "the whole output, in output coordinates";
    EXPECT_TRUE(PlanesMatch(ReferenceScale(s.plane, 20, 12, Scale::kLinear), s.Pull(PullOrder::RandomOrder)));

    // A source of the output's size is passed through, and one of another size scaled again.
    s.Replace(MakePlane(20, 12, PravonColorSpace::kRGB8, FillPattern::Random, 7));
    EXPECT_TRUE(s.filter.IsPassThrough());
    EXPECT_TRUE(PlanesMatch(s.plane, s.Pull()));
    s.Replace(MakePlane(33, 17, PravonColorSpace::kRGB8, FillPattern::Random, 8));
    EXPECT_FALSE(s.filter.IsPassThrough());
    EXPECT_TRUE(PlanesMatch(ReferenceScale(s.plane, 20, 12, Scale::kLinear), s.Pull()));
}

TEST(ScaleFilter, AnUpdateOfEverythingRecomputesPassThroughFromTheSizes) {
    Scaling s(MakePlane(40, 20, PravonColorSpace::kRGB8, FillPattern::Random));
    ASSERT_PV_OK(s.filter.SetSize(40, 21, false));
    ASSERT_PV_OK(s.source->SetSize(40, 21));
    ASSERT_PV_OK(PravonSendDataNotification(s.source.get(), PravonNotification::kUpdateAll, nullptr));
    EXPECT_TRUE(s.filter.IsPassThrough());
    EXPECT_EQ(s.recorder.Count(PravonNotification::kUpdateAll), 1u);
}

TEST(ScaleFilter, AColourSpaceChangeSetsTheRoutinesUpAgain) {
    Scaling s(MakePlane(40, 20, PravonColorSpace::kRGB16, FillPattern::Random), Scale::kCubic);
    ASSERT_PV_OK(s.filter.SetSize(70, 9, false));
    (void)s.Pull();
    EXPECT_EQ(s.filter.GetPipeline().GetChannels(), 3);
    const TestPlane grey = MakePlane(40, 20, PravonColorSpace::kGrey8, FillPattern::Random, 2);
    ASSERT_PV_OK(s.source->SetColorSpace(grey.colorSpace));
    ASSERT_PV_OK(WritePlane(s.source.get(), grey));
    IPravonDataDestination::ChangeColorSpace change{PravonColorSpace::kRGB16, PravonColorSpace::kGrey8};
    ASSERT_PV_OK(PravonSendDataNotification(s.source.get(), PravonNotification::kColorSpace, &change));
    EXPECT_TRUE(PlanesMatch(ReferenceScale(grey, 70, 9, Scale::kCubic), s.Pull()));
    EXPECT_EQ(s.filter.GetPipeline().GetChannels(), 1);
}

TEST(ScaleFilter, SourcesOfOtherColourSpacesAreRefused) {
    for (LONG colorSpace : {0x08020100, 0x01020001, PravonColorSpace::kRawMosaic16}) {
        for (LONG method : {0, 1, 2}) {
            TestPlane plane(9, 9, colorSpace);
            Scaling s(plane, method);
            ASSERT_PV_OK(s.filter.SetSize(5, 5, false));
            void* data = nullptr;
            IPravonError* e = s.filter.LockTile(0, 0, &data, nullptr);
            ASSERT_NE(e, nullptr) << std::hex << colorSpace;
            EXPECT_TRUE(e->HasText("Bad source data color space"));
            EXPECT_EQ(e->GetComponent(), Scale::kCode);
            EXPECT_PV_KIND(e, PravonKind::kUnsupportedColorSpace);
            EXPECT_EQ(s.manager.GetLockCount(), 0);
        }
    }
}

TEST(ScaleFilter, AnEmptySourceLeavesTheOutputUntouched) {
    Scaling s(TestPlane(0, 0, PravonColorSpace::kRGB8));
    // Tiles the filter writes whole start poisoned: the black comes from the filter.
    s.manager.GetTilePool().SetUnwrittenFill(CPravonTilePool::Fill::kPoison);
    ASSERT_PV_OK(s.filter.SetSize(10, 6, false));
    TestPlane out = s.Pull();
    EXPECT_TRUE(PlanesMatch(TestPlane(10, 6, PravonColorSpace::kRGB8), out));
    // Changes of an empty source reach the mappings without a division by zero.
    PravonRect all{0, 0, 0, 0};
    EXPECT_PV_OK(PravonSendDataNotification(s.source.get(), PravonNotification::kData, &all));
    PravonRect r{0, 0, 3, 3};
    EXPECT_PV_OK(s.filter.DefilterRect(&r, nullptr, 0));
    ASSERT_PV_OK(s.filter.SetScale(0.5, false));
    EXPECT_PV_OK(s.filter.FilterRect(&r, nullptr, 0));
}

struct SweepCase {
    LONG colorSpace;
    LONG sw, sh, dw, dh;
};

// Reductions and enlargements with whole and broken ratios, directions that keep their size, a 1-pixel
// source and an output of one pixel.
const SweepCase kSweep[] = {
    {PravonColorSpace::kRGB8, 37, 23, 11, 16},  {PravonColorSpace::kRGB16, 37, 23, 83, 50},
    {PravonColorSpace::kGrey8, 40, 40, 10, 10}, {PravonColorSpace::kGrey16, 17, 29, 17, 61},
    {PravonColorSpace::kCMYK8, 29, 31, 47, 31}, {PravonColorSpace::kLab16, 23, 19, 16, 40},
    {PravonColorSpace::kRGB8, 1, 1, 5, 3},      {PravonColorSpace::kRGB16, 37, 23, 1, 1},
    {PravonColorSpace::kBGR8, 61, 7, 19, 22},
};

TEST(ScaleFilter, OutputMatchesTheReferenceAtEveryTileSizeAndPullOrder) {
    for (const SweepCase& c : kSweep) {
        const TestPlane plane = MakePlane(c.sw, c.sh, c.colorSpace, FillPattern::Random, c.dw);
        for (LONG method : {0, 1, 2}) {
            TestPlane out;
            auto build = [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
                IPravonImage* source = graph.Own(MakeImage(manager, plane));
                Scale* filter = graph.Own(new Scale(&manager, method));
                graph.output = filter;
                if (IPravonError* e = PravonConnect(source, filter))
                    return e;
                return filter->SetSize(c.dw, c.dh, false);
            };
            const std::string what = std::to_string(c.sw) + "x" + std::to_string(c.sh) + " -> " +
                                     std::to_string(c.dw) + "x" + std::to_string(c.dh) + " method " +
                                     std::to_string(method);
            ASSERT_TRUE(SameAtEveryTileSize(build, &out)) << what;
            EXPECT_TRUE(PlanesMatch(ReferenceScale(plane, c.dw, c.dh, method), out)) << what;
        }
    }
}

TEST(ScaleFilter, AChangedSourceAreaRenewsEveryOutputPixelThatReadsIt) {
    for (LONG method : {0, 1, 2}) {
        for (auto [dw, dh] : {std::pair<LONG, LONG>{97, 61}, {19, 11}}) {
            Scaling s(MakePlane(40, 24, PravonColorSpace::kRGB8, FillPattern::Random, 1), method, 8);
            ASSERT_PV_OK(s.filter.SetSize(dw, dh, false));
            (void)s.Pull();
            PravonRect changed{15, 9, 17, 12};
            const TestPlane next = s.plane.Inverted(changed);
            ASSERT_PV_OK(WritePlane(s.source.get(), next));
            ASSERT_PV_OK(PravonSendDataNotification(s.source.get(), PravonNotification::kData, &changed));
            EXPECT_TRUE(PlanesMatch(ReferenceScale(next, dw, dh, method), s.Pull())) << method << " " << dw;
        }
    }
}

TEST(ScaleFilter, AProcessingPassGivesWhatThePullGives) {
    const TestPlane plane = MakePlane(45, 33, PravonColorSpace::kRGB16, FillPattern::Random, 9);
    Scaling s(plane, Scale::kCubic);
    ASSERT_PV_OK(s.filter.SetScale(1.7, 0.6, false));
    const TestPlane pulled = s.Pull();
    IPravonImage* raw = nullptr;
    ASSERT_PV_OK(s.manager.CreateImage(1, &raw));
    PravonImagePtr target(raw);
    IPravonDataSource* const sources[1] = {s.source.get()};
    ASSERT_PV_OK(s.filter.Process(sources, 1, target.get()));
    TestPlane passed;
    ASSERT_PV_OK(PullAll(target.get(), &passed));
    EXPECT_TRUE(PlanesMatch(pulled, passed));
    EXPECT_EQ(pulled.width, 77);
    EXPECT_EQ(pulled.height, 20);
    EXPECT_TRUE(PlanesMatch(ReferenceScale(plane, pulled.width, pulled.height, Scale::kCubic), pulled));
}

} // namespace
