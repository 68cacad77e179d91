#include "plugin_framework/GraphTypes.h"

#include <gtest/gtest.h>

#include <limits>

using namespace graphtypes;

namespace {

TEST(Geometry, DoubleSizesAndPointsCompareWithinTheTolerance) {
    EXPECT_EQ(TSize_T<double>(1.00005, 2), TSize_T<double>(1, 2));
    EXPECT_NE(TSize_T<double>(1.0002, 2), TSize_T<double>(1, 2));
    EXPECT_EQ(TPoint_T<double>(3, 4.00009), TPoint_T<double>(3, 4));
}

TEST(Geometry, DoubleRectanglesAreEqualOnlyExactlyYetDifferOnlyNoticeably) {
    const TRect_T<double> a(0, 0, 1.00005, 1);
    const TRect_T<double> b(0, 0, 1, 1);
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(a != b);
    EXPECT_TRUE(TRect_T<double>(0, 0, 1.001, 1) != b);
}

TEST(Geometry, RoundToLongGoesHalfAwayFromZeroAndStaysInRange) {
    EXPECT_EQ(RoundToLong(2.5), 3);
    EXPECT_EQ(RoundToLong(-2.5), -3);
    EXPECT_EQ(RoundToLong(0), 0);
    EXPECT_EQ(RoundToLong(-0.4), 0);
    EXPECT_EQ(RoundToLong(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(RoundToLong(1e20), 2147483647);
    EXPECT_EQ(RoundToLong(-1e20), -2147483647 - 1);
    EXPECT_EQ(TSize_T<LONG>(TSize_T<double>(2.5, -2.5)), TSize_T<LONG>(3, -3));
}

TEST(Geometry, IntersectionOfRectanglesThatOnlyTouchIsEmptyAndZero) {
    TRect_T<LONG> r(1, 1, 2, 2);
    EXPECT_FALSE(r.Intersect(TRect_T<LONG>(0, 0, 10, 10), TRect_T<LONG>(10, 0, 20, 10)));
    EXPECT_TRUE(r.IsNull());
    EXPECT_TRUE(r.Intersect(TRect_T<LONG>(0, 0, 10, 10), TRect_T<LONG>(5, -5, 20, 7)));
    EXPECT_EQ(r, TRect_T<LONG>(5, 0, 10, 7));
}

TEST(Geometry, RectanglesKeepNegativeSizes) {
    const TRect_T<LONG> r(10, 0, 4, 3);
    EXPECT_EQ(r.Width(), -6);
    EXPECT_FALSE(r.IsEmpty());
    EXPECT_TRUE(TRect_T<LONG>(4, 0, 4, 3).IsEmpty());
    const TRect_T<LONG> placed(TPoint_T<LONG>(2, 3), TSize_T<LONG>(5, 6));
    EXPECT_EQ(placed, TRect_T<LONG>(2, 3, 7, 9));
    TRect_T<double> grown(placed);
    grown.Inflate(1, 1, 2, 2);
    EXPECT_EQ(grown, TRect_T<double>(1, 2, 9, 11));
}

} // namespace
