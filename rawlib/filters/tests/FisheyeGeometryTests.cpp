#include "rawlib/filters/CFisheyeGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr int kEntries = 4096;

std::vector<double> Table(const std::function<double(double)>& v) {
    std::vector<double> table(kEntries);
    for (int i = 0; i < kEntries; ++i)
        table[i] = v(i / 4095.0);
    return table;
}

TEST(FisheyeGeometry, CentreAndHalfDiagonalComeFromWholePixels) {
    const std::vector<double> identity = Table([](double u) { return u; });
    struct Case {
        LONG width, height;
        double cx, cy, radius;
    };
    const Case cases[] = {{8, 6, 4, 3, 5},
                          {7, 5, 3, 2, std::sqrt(6.0 + 12.0)},
                          {1, 1, 0, 0, 1},
                          {2, 1, 1, 0, 1},
                          {1, 3, 0, 1, std::sqrt(2.0)}};
    for (const Case& c : cases) {
        const CFisheyeGeometry g(identity.data(), c.width, c.height);
        EXPECT_EQ(g.GetCentreX(), c.cx) << c.width << "x" << c.height;
        EXPECT_EQ(g.GetCentreY(), c.cy) << c.width << "x" << c.height;
        EXPECT_DOUBLE_EQ(g.GetRadius(), c.radius) << c.width << "x" << c.height;
    }
}

TEST(FisheyeGeometry, PointsMoveAlongTheirRayToTheTablesRadius) {
    // 8 x 6: centre (4, 3), half diagonal 5. The table halves every radius.
    const std::vector<double> half = Table([](double u) { return u / 2; });
    const CFisheyeGeometry g(half.data(), 8, 6);
    struct Case {
        double x, y, mx, my;
    };
    const Case cases[] = {
        {4, 3, 4, 3},    // the centre stays
        {8, 3, 6, 3},    // radius 4 (entry 3276 exactly) to 2
        {4, 0, 4, 1.5},  // radius 3 to 1.5
        {8, 6, 6, 4.5},  // the corner: radius 5 (the last entry) to 2.5
        {12, 9, 6, 4.5}, // beyond the half diagonal: the last entry
        {0, 0, 2, 1.5},
    };
    for (const Case& c : cases) {
        double x = c.x, y = c.y;
        g.Map(x, y);
        EXPECT_NEAR(x, c.mx, 1e-12) << c.x << "," << c.y;
        EXPECT_NEAR(y, c.my, 1e-12) << c.x << "," << c.y;
    }
    // Between entries the table is interpolated: radius 1.5 sits half way between entries 1228 and 1229.
    const std::vector<double> square = Table([](double u) { return u * u; });
    const CFisheyeGeometry s(square.data(), 8, 6);
    double x = 5.5, y = 3;
    s.Map(x, y);
    const double v = (square[1228] + square[1229]) / 2;
    EXPECT_NEAR(x, 4 + v * 5, 1e-12);
    EXPECT_EQ(y, 3);
}

TEST(FisheyeGeometry, HeldPointsStayInThePicture) {
    const std::vector<double> outward = Table([](double u) { return 3 * u; });
    const CFisheyeGeometry g(outward.data(), 8, 6);
    double x = 7, y = 5;
    g.MapHeld(x, y);
    EXPECT_EQ(x, 8);
    EXPECT_EQ(y, 6);
    x = 1, y = 0;
    g.MapHeld(x, y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    const std::vector<double> broken = Table([](double) { return std::numeric_limits<double>::quiet_NaN(); });
    const CFisheyeGeometry b(broken.data(), 8, 6);
    x = 7, y = 5;
    b.MapHeld(x, y);
    EXPECT_EQ(x, 0) << "a point that lands nowhere is held to the origin";
    EXPECT_EQ(y, 0);
}

// The box of the mapped boundary pixels of rect, as a rectangle map states it.
PravonDblRect BruteForce(const CFisheyeGeometry& g, const PravonDblRect& rect, LONG width, LONG height) {
    double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
    auto take = [&](double x, double y) {
        g.Map(x, y);
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    };
    for (double x = rect.left; x <= rect.right; ++x) {
        take(x, rect.top);
        take(x, rect.bottom);
    }
    for (double y = rect.top; y <= rect.bottom; ++y) {
        take(rect.left, y);
        take(rect.right, y);
    }
    auto low = [](double v, LONG size) { return v < 0 ? 0 : v > size ? size : std::floor(v); };
    auto high = [](double v, LONG size) { return v < 0 ? 0 : v >= size ? size : std::floor(v) + 1; };
    return {low(left, width), low(top, height), high(right, width), high(bottom, height)};
}

TEST(FisheyeGeometry, RectanglesMapToTheBoxOfTheirMappedEdges) {
    // A barrel table (mapped radius over radius falls) puts an edge's extreme where it crosses a centre line;
    // a pincushion table puts it at the corners. Both are monotonic, so corners and crossings find it.
    const std::vector<double> tables[] = {Table([](double u) { return std::sqrt(u); }),
                                          Table([](double u) { return u * u; }),
                                          Table([](double u) { return std::sin(u * 1.4) / std::sin(1.4); })};
    const PravonDblRect rects[] = {{10, 5, 40, 30}, {90, 10, 130, 40},  {5, 60, 60, 75},
                                   {0, 0, 200, 80}, {150, 50, 190, 79}, {99, 39, 101, 41}};
    for (const auto& table : tables) {
        const CFisheyeGeometry g(table.data(), 200, 80);
        for (const PravonDblRect& rect : rects) {
            const PravonDblRect mapped = g.MapRect(rect);
            const PravonDblRect expected = BruteForce(g, rect, 200, 80);
            EXPECT_EQ(mapped.left, expected.left) << rect.left << "," << rect.top;
            EXPECT_EQ(mapped.top, expected.top) << rect.left << "," << rect.top;
            EXPECT_EQ(mapped.right, expected.right) << rect.left << "," << rect.top;
            EXPECT_EQ(mapped.bottom, expected.bottom) << rect.left << "," << rect.top;
        }
    }
}

TEST(FisheyeGeometry, ARectangleAcrossTheCentreLineTakesItsTopFromTheCrossing) {
    const std::vector<double> barrel = Table([](double u) { return std::sqrt(u); });
    const CFisheyeGeometry g(barrel.data(), 200, 80);
    const PravonDblRect rect{90, 30, 130, 38};
    double cornerX = 90, cornerY = 30, crossX = 100, crossY = 30;
    g.Map(cornerX, cornerY);
    g.Map(crossX, crossY);
    ASSERT_LT(crossY, cornerY) << "the crossing lies higher than the corners";
    ASSERT_GT(crossY, 0);
    EXPECT_EQ(g.MapRect(rect).top, std::floor(crossY));
}

TEST(FisheyeGeometry, AOnePixelPictureAndBrokenTablesStayInBounds) {
    const std::vector<double> identity = Table([](double u) { return u; });
    const CFisheyeGeometry one(identity.data(), 1, 1);
    const PravonDblRect r = one.MapRect({0, 0, 1, 1});
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 1);
    EXPECT_EQ(r.bottom, 1);

    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e308}) {
        const std::vector<double> broken = Table([bad](double) { return bad; });
        const CFisheyeGeometry g(broken.data(), 50, 40);
        const PravonDblRect m = g.MapRect({10, 10, 30, 20});
        for (double edge : {m.left, m.right})
            EXPECT_TRUE(edge >= 0 && edge <= 50) << bad;
        for (double edge : {m.top, m.bottom})
            EXPECT_TRUE(edge >= 0 && edge <= 40) << bad;
    }
}

} // namespace
