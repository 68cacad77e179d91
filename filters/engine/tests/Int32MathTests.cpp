// The 32-bit arithmetic helpers against hand-worked values, at the ends of the range and for every sign.
#include "filters/engine/Int32Math.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace Int32Math;

TEST(Int32Math, FloorAndCeilingDivisionRoundTheRightWayForEverySign) {
    struct Case {
        std::int64_t a, b, floor, ceil;
    };
    constexpr Case kCases[] = {
        {7, 2, 3, 4},      {-7, 2, -4, -3},
        {7, -2, -4, -3},   {-7, -2, 3, 4},
        {6, 3, 2, 2},      {-6, 3, -2, -2},
        {0, 5, 0, 0},      {1, 1000, 0, 1},
        {-1, 1000, -1, 0}, {9000000000, 7, 1285714285, 1285714286},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(FloorDiv(c.a, c.b), c.floor) << c.a << " / " << c.b;
        EXPECT_EQ(CeilDiv(c.a, c.b), c.ceil) << c.a << " / " << c.b;
    }
    static_assert(FloorDiv(-1, 2) == -1 && CeilDiv(1, 2) == 1);
}

TEST(Int32Math, SaturationHoldsTheEndsOfTheRange) {
    EXPECT_EQ(Saturate(std::int64_t{kMax} + 1), kMax);
    EXPECT_EQ(Saturate(std::int64_t{kMin} - 1), kMin);
    EXPECT_EQ(Saturate(-5), -5);
    EXPECT_EQ(SaturatedAdd(kMax, 1), kMax);
    EXPECT_EQ(SaturatedAdd(kMin, -kMax), kMin);
    EXPECT_EQ(SaturatedAdd(kMax, -kMax), 0);
    EXPECT_EQ(SaturatedAdd(-3, 10), 7);
}

TEST(Int32Math, TruncationTowardZeroIsHeldInRangeAndNotANumberGivesZero) {
    struct Case {
        double v;
        LONG expected;
    };
    const Case kCases[] = {
        {2.9, 2},
        {-2.9, -2},
        {2147483646.5, 2147483646},
        {3e9, kMax},
        {-3e9, kMin},
        {-2147483648.7, kMin},
        {std::numeric_limits<double>::infinity(), kMax},
        {-std::numeric_limits<double>::infinity(), kMin},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(SaturatedTrunc(c.v), c.expected) << c.v;
}

} // namespace
