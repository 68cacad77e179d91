#include "filters/CPravonFilterGrid.h"

#include "testing/FilterOverPlane.h"
#include "testing/ImageCompare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

namespace {

using namespace kvtest;

constexpr BYTE kRed = 255;
constexpr BYTE kGreen = 10;
constexpr BYTE kBlue = 20;
constexpr ULONG kGrey = 128; // the source; never the grid colour

struct GridSettings {
    double interval;
    LONG unit;
    LONG divisions;
    LONG assumedWidth;
    double resolution;
};

IPravonError* Apply(CPravonFilterGrid& grid, const GridSettings& s) {
    if (IPravonError* e = grid.SetGridColor(kRed, kGreen, kBlue, false))
        return e;
    if (IPravonError* e = grid.SetGridInterval(s.interval, s.unit, s.divisions, false))
        return e;
    return grid.SetAssumedImageSize(s.assumedWidth, 0, s.resolution, false);
}

bool IsLine(const TestPlane& out, LONG x, LONG y) {
    return out.Sample(x, y, 0) == kRed && out.Sample(x, y, 1) == kGreen && out.Sample(x, y, 2) == kBlue;
}

// The columns of row y that carry the grid colour.
std::vector<LONG> LineColumns(const TestPlane& out, LONG y) {
    std::vector<LONG> columns;
    for (LONG x = 0; x < out.width; ++x)
        if (IsLine(out, x, y))
            columns.push_back(x);
    return columns;
}

TEST(Grid, IntervalsConvertByTheirUnit) {
    const struct {
        double interval;
        LONG unit;
        double pixels; // at 144 pixels per inch
    } cases[] = {
        {7, CPravonFilterGrid::kPixels, 7},
        {2, CPravonFilterGrid::kInches, 288},
        {2.54, CPravonFilterGrid::kCentimetres, 144},
        {25.4, CPravonFilterGrid::kMillimetres, 144},
        {3, CPravonFilterGrid::kPicas, 72},
        {36, CPravonFilterGrid::kPoints, 72},
        {0.5, 99, 72}, // an unknown unit counts as inches
    };
    CPravonMemoryManager manager(16);
    CPravonFilterGrid grid(&manager);
    for (const auto& c : cases) {
        ASSERT_PV_OK(grid.SetGridInterval(c.interval, c.unit, 3, false));
        EXPECT_NEAR(grid.GetGridIntervalInPixels(144), c.pixels, 1e-9) << "unit " << c.unit;
    }
}

TEST(Grid, VerticalLinesLieAtTheExpectedColumns) {
    // Rows 5 and 9 (5 mod 4 = 1) show the dashed major lines and hide the dotted minor ones; rows 8 and 4
    // (mod 4 = 0) show the minor lines and the solid centre only. No horizontal line crosses those rows.
    const struct {
        const char* what;
        LONG width;
        GridSettings settings;
        std::vector<LONG> dashedRow; // the columns drawn on a row y with y mod 4 != 0
        std::vector<LONG> dottedRow; // on a row with y mod 4 = 0
    } cases[] = {
        {"1 inch at 300 pixels per inch: majors 300 apart from the centre, minors 100 apart",
         1000,
         {1, CPravonFilterGrid::kInches, 3, 1000, 300},
         {200, 500, 800},
         {0, 100, 300, 400, 500, 600, 700, 900}},
        {"1 mm at 72 pixels per inch (2.83) doubled once to 5.67, too close for minors",
         60,
         {1, CPravonFilterGrid::kMillimetres, 3, 60, 72},
         {2, 8, 13, 19, 25, 30, 35, 41, 47, 52, 58},
         {30}},
        {"2 cm at 254 pixels per inch on an assumed width four times the image: 50 pixels",
         500,
         {2, CPravonFilterGrid::kCentimetres, 3, 2000, 254},
         {0, 50, 100, 150, 200, 250, 300, 350, 400, 450},
         {17,  33,  67,  83,  117, 133, 167, 183, 217, 233, 250,
          267, 283, 317, 333, 367, 383, 417, 433, 467, 483}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TestPlane plane =
            MakePlane(c.width, 12, PravonColorSpace::kGrey8, FillPattern::Constant, kGrey);
        for (LONG tileSize : {7, 64}) {
            FilterOverPlane<CPravonFilterGrid> graph(plane, tileSize);
            ASSERT_PV_OK(Apply(*graph.filter, c.settings));
            const TestPlane out = graph.Pull();
            EXPECT_EQ(LineColumns(out, 9), c.dashedRow);
            EXPECT_EQ(LineColumns(out, 8), c.dottedRow);
        }
    }
}

TEST(Grid, HorizontalLinesAreDashedAndDottedByColumns) {
    // 1 mm at 72 pixels per inch on a 12 x 60 image: rows 2, 8, ..., 58 as the columns above, all dashed.
    const TestPlane plane = MakePlane(12, 60, PravonColorSpace::kGrey8, FillPattern::Constant, kGrey);
    FilterOverPlane<CPravonFilterGrid> graph(plane, 16);
    ASSERT_PV_OK(Apply(*graph.filter, {1, CPravonFilterGrid::kMillimetres, 3, 12, 72}));
    const TestPlane out = graph.Pull();
    const std::set<LONG> rows = {2, 8, 13, 19, 25, 30, 35, 41, 47, 52, 58};
    for (LONG y = 0; y < out.height; ++y) {
        // Column 3 crosses no vertical line (those lie at 1, 6 and 11); column 4 (mod 4 = 0) lies in a gap.
        EXPECT_EQ(IsLine(out, 3, y), rows.count(y) == 1) << "row " << y;
        EXPECT_FALSE(IsLine(out, 4, y)) << "row " << y;
    }
}

// The grid drawn over a whole image at once, line by line over every line the pattern has.
TestPlane ReferenceGrid(const TestPlane& source, double spacing, LONG divisions) {
    TestPlane out(source.width, source.height, PravonColorSpace::kRGB8);
    const int shift = source.BitsPerSample() - 8;
    for (LONG y = 0; y < source.height; ++y)
        for (LONG x = 0; x < source.width; ++x)
            for (LONG c = 0; c < 3; ++c)
                out.SetSample(x, y, c, source.Sample(x, y, source.Channels() == 1 ? 0 : c) >> shift);
    const auto paint = [&](LONG x, LONG y) {
        if (x >= 0 && x < out.width && y >= 0 && y < out.height) {
            out.SetSample(x, y, 0, kRed);
            out.SetSample(x, y, 1, kGreen);
            out.SetSample(x, y, 2, kBlue);
        }
    };
    const auto lines = [&](LONG size, auto draw) {
        const LONG n = static_cast<LONG>(size / spacing) | 1;
        for (LONG j = -(n / 2) - 1; j <= n / 2; ++j) {
            const LONG major = static_cast<LONG>(spacing * j) + size / 2;
            draw(major, true, j == 0);
            for (LONG m = 1; m < divisions; ++m)
                draw(major + (static_cast<LONG>(spacing * m) + divisions / 2) / divisions, false, false);
        }
    };
    lines(out.width, [&](LONG x, bool major, bool centre) {
        for (LONG y = 0; y < out.height; ++y)
            if (centre || (major ? y % 4 != 0 : y % 4 == 0))
                paint(x, y);
    });
    lines(out.height, [&](LONG y, bool major, bool) {
        for (LONG x = 0; x < out.width; ++x)
            if (major ? x % 4 != 0 : x % 4 == 0)
                paint(x, y);
    });
    return out;
}

TEST(Grid, EverySourceDepthMatchesTheWholeImageReferenceAtEveryTileSize) {
    const struct {
        LONG colorSpace;
        GridSettings settings;
        double spacing; // worked by hand
        LONG divisions;
    } cases[] = {
        {PravonColorSpace::kGrey16, {10, CPravonFilterGrid::kPixels, 4, 90, 0}, 10, 1},
        {PravonColorSpace::kRGB8, {1, CPravonFilterGrid::kPoints, 2, 45, 720}, 20, 2},
        {PravonColorSpace::kRGB16, {1, CPravonFilterGrid::kPicas, 5, 180, 1200}, 100, 5},
        {PravonColorSpace::kGrey8, {1, CPravonFilterGrid::kPixels, 3, 90, 0}, 8, 1}, // 1 -> 2 -> 4 -> 8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "colour space 0x" << std::hex << c.colorSpace);
        const TestPlane plane = MakePlane(90, 70, c.colorSpace, FillPattern::Random, 11);
        TestPlane out;
        const GridSettings settings = c.settings;
        ASSERT_TRUE(
            SameAtEveryTileSize(FilterGraph<CPravonFilterGrid>(
                                    plane, [settings](CPravonFilterGrid& g) { return Apply(g, settings); }),
                                &out));
        EXPECT_TRUE(PlanesMatch(ReferenceGrid(plane, c.spacing, c.divisions), out));
    }
}

TEST(Grid, SpacingsWithoutALengthGiveThePlainCopy) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        GridSettings settings;
    } cases[] = {
        {"no assumed width", {1, CPravonFilterGrid::kInches, 3, 0, 300}},
        {"no resolution", {1, CPravonFilterGrid::kInches, 3, 40, 0}},
        {"a zero interval", {0, CPravonFilterGrid::kPixels, 3, 40, 0}},
        {"a negative interval", {-1, CPravonFilterGrid::kPixels, 3, 40, 0}},
        {"a negative assumed width", {10, CPravonFilterGrid::kPixels, 3, -40, 0}},
        {"a NaN interval", {nan, CPravonFilterGrid::kPixels, 3, 40, 0}},
        {"an infinite interval", {inf, CPravonFilterGrid::kPixels, 3, 40, 0}},
        {"a vanishing interval", {1e-320, CPravonFilterGrid::kPixels, 3, 40, 0}},
        {"an interval too large to scale",
         {std::numeric_limits<double>::max(), CPravonFilterGrid::kPixels, 3, 40, 0}},
    };
    const TestPlane plane = MakePlane(40, 30, PravonColorSpace::kRGB8, FillPattern::Random, 3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FilterOverPlane<CPravonFilterGrid> graph(plane, 16);
        ASSERT_PV_OK(Apply(*graph.filter, c.settings));
        EXPECT_TRUE(PlanesMatch(plane, graph.Pull()));
    }
}

TEST(Grid, AHugeSpacingDrawsOnlyTheCentreLines) {
    for (double interval : {1e12, 1e300}) {
        SCOPED_TRACE(interval);
        const TestPlane plane = MakePlane(41, 31, PravonColorSpace::kGrey8, FillPattern::Constant, kGrey);
        FilterOverPlane<CPravonFilterGrid> graph(plane, 16);
        ASSERT_PV_OK(Apply(*graph.filter, {interval, CPravonFilterGrid::kPixels, 1000000, 41, 0}));
        const TestPlane out = graph.Pull();
        for (LONG y = 0; y < out.height; ++y)
            for (LONG x = 0; x < out.width; ++x) {
                const bool expected = x == 20 || (y == 15 && x % 4 != 0);
                ASSERT_EQ(IsLine(out, x, y), expected) << "at " << x << "," << y;
            }
    }
}

TEST(Grid, EffectiveChangesAreAnnouncedOverTheWholeSource) {
    FilterOverPlane<CPravonFilterGrid> graph(
        MakePlane(30, 20, PravonColorSpace::kGrey8, FillPattern::Random, 1), 16);
    ASSERT_PV_OK(graph.filter->SetGridColor(0, 0, 0, true));
    ASSERT_PV_OK(graph.filter->SetGridInterval(1.0, CPravonFilterGrid::kInches, 3, true));
    ASSERT_PV_OK(graph.filter->SetAssumedImageSize(0, 0, 0, true));
    EXPECT_TRUE(graph.recorder.heard.empty()) << "the defaults are unchanged";
    ASSERT_PV_OK(graph.filter->SetGridColor(1, 0, 0, false));
    EXPECT_TRUE(graph.recorder.heard.empty()) << "not asked to notify";

    ASSERT_PV_OK(graph.filter->SetGridInterval(5, CPravonFilterGrid::kPixels, 3, true));
    ASSERT_PV_OK(graph.filter->SetAssumedImageSize(30, 20, 96, true));
    ASSERT_EQ(graph.recorder.heard.size(), 2u);
    for (const auto& heard : graph.recorder.heard) {
        EXPECT_EQ(heard.type, PravonNotification::kData);
        ASSERT_TRUE(heard.rect);
        EXPECT_EQ(CPravonRect(*heard.rect), CPravonRect(0, 0, 30, 20));
    }
    LONG width = 0;
    double resolution = 0;
    graph.filter->GetAssumedImageSize(&width, nullptr, &resolution);
    EXPECT_EQ(width, 30);
    EXPECT_EQ(resolution, 96);

    graph.recorder.Clear();
    ASSERT_PV_OK(graph.filter->Enable(false, false));
    ASSERT_PV_OK(graph.filter->SetGridColor(2, 0, 0, true));
    EXPECT_TRUE(graph.recorder.heard.empty()) << "a disabled filter's settings change nothing downstream";
}

TEST(Grid, TheOutputStaysRgbWhenTheSourceColourSpaceChanges) {
    FilterOverPlane<CPravonFilterGrid> graph(
        MakePlane(30, 20, PravonColorSpace::kRGB16, FillPattern::Random, 4), 16);
    LONG colorSpace = 0;
    ASSERT_PV_OK(graph.filter->GetColorSpace(&colorSpace));
    EXPECT_EQ(colorSpace, PravonColorSpace::kRGB8);
    ASSERT_PV_OK(graph.source->SetColorSpace(PravonColorSpace::kGrey16));
    IPravonDataDestination::ChangeColorSpace change{PravonColorSpace::kRGB16, PravonColorSpace::kGrey16};
    ASSERT_PV_OK(PravonSendDataNotification(graph.source.get(), PravonNotification::kColorSpace, &change));
    ASSERT_EQ(graph.recorder.heard.size(), 1u);
    EXPECT_EQ(graph.recorder.heard[0].type, PravonNotification::kData);

    graph.recorder.Clear();
    ASSERT_PV_OK(graph.filter->Enable(false, false));
    ASSERT_PV_OK(PravonSendDataNotification(graph.source.get(), PravonNotification::kColorSpace, &change));
    ASSERT_EQ(graph.recorder.heard.size(), 1u);
    EXPECT_EQ(graph.recorder.heard[0].type, PravonNotification::kColorSpace);
}

TEST(Grid, OtherSourcesAreRefused) {
    FilterOverPlane<CPravonFilterGrid> graph(
        MakePlane(8, 8, PravonColorSpace::kCMYK8, FillPattern::Random, 3), 16);
    void* data = nullptr;
    PravonErrorPtr e(graph.filter->LockTile(0, 0, &data, nullptr));
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->HasText("Bad source data color space"));
}

} // namespace
