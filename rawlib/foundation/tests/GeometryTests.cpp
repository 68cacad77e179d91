#include "rawlib/foundation/CKvPoint.h"
#include "rawlib/foundation/CKvRect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr LONG kMax = std::numeric_limits<LONG>::max();
constexpr LONG kMin = std::numeric_limits<LONG>::min();

void ExpectRect(const CKvRect& r, LONG top, LONG left, LONG bottom, LONG right) {
    EXPECT_EQ(r.GetTop(), top);
    EXPECT_EQ(r.GetLeft(), left);
    EXPECT_EQ(r.GetBottom(), bottom);
    EXPECT_EQ(r.GetRight(), right);
}

TEST(KvRect, IntersectTakesTheCommonPartAndZeroWhenRectanglesOnlyTouch) {
    const CKvRect a(0, 0, 10, 10);
    ExpectRect(a.Intersect(CKvRect(5, 5, 20, 20)), 5, 5, 10, 10);
    ExpectRect(a.Intersect(CKvRect(0, 10, 10, 20)), 0, 0, 0, 0);
    ExpectRect(a.Intersect(CKvRect(10, 0, 20, 10)), 0, 0, 0, 0);
    ExpectRect(CKvRect(kMin, kMin, kMax, kMax).Intersect(a), 0, 0, 10, 10);
}

TEST(KvRect, MoveToPutsTheTopLeftCornerAtThePoint) {
    CKvRect r(10, 20, 30, 50);
    r.MoveTo(3, 4);
    ExpectRect(r, 4, 3, 24, 33);
    r.MoveTo(CKvPoint(-1, -2));
    ExpectRect(r, -2, -1, 18, 29);
    r.MoveToOrigin();
    ExpectRect(r, 0, 0, 20, 30);
}

TEST(KvRect, EdgesConvertBetweenBothRecordLayouts) {
    CKvRect r(1, 2, 3, 4);
    KvBigRect big{};
    r.Get(big);
    EXPECT_TRUE(big.top == 1 && big.left == 2 && big.bottom == 3 && big.right == 4);
    PravonRect ltrb;
    r.GetLTRB(ltrb);
    EXPECT_TRUE(ltrb.left == 2 && ltrb.top == 1 && ltrb.right == 4 && ltrb.bottom == 3);
    r.SetLTRB(PravonRect{10, 20, 30, 45});
    ExpectRect(r, 20, 10, 45, 30);
    EXPECT_TRUE(r.Size().IsEqual(CKvPoint(20, 25)));
    EXPECT_TRUE(r.BottomRight().IsEqual(CKvPoint(30, 45)));
}

TEST(KvRect, RightAndBottomAreExclusive) {
    const CKvRect r(0, 0, 10, 20);
    EXPECT_TRUE(r.Contains(CKvPoint(0, 0)));
    EXPECT_TRUE(r.Contains(CKvPoint(19, 9)));
    EXPECT_FALSE(r.Contains(CKvPoint(20, 9)));
    EXPECT_FALSE(r.Contains(CKvPoint(19, 10)));
    EXPECT_FALSE(r.Contains(CKvPoint(-1, 0)));
    EXPECT_FALSE(r.IsEmpty());
    EXPECT_TRUE(CKvRect(0, 0, 0, 5).IsEmpty());
    EXPECT_TRUE(CKvRect(0, 5, 5, 5).IsEmpty());
    EXPECT_TRUE(CKvRect(5, 0, 0, 5).IsEmpty()) << "inverted edges are empty";
    EXPECT_FALSE(CKvRect(kMin, kMin, kMin + 1, kMin + 1).Contains(CKvPoint(kMin + 1, kMin)));
    EXPECT_TRUE(CKvRect(kMax - 1, kMax - 1, kMax, kMax).Contains(CKvPoint(kMax - 1, kMax - 1)));
}

TEST(KvRect, WidthAndHeightWrapModulo32BitsAcrossTheWholeRange) {
    const CKvRect whole(kMin, kMin, kMax, kMax);
    EXPECT_EQ(whole.Width(), -1) << "2^32 - 1 columns do not fit a LONG";
    EXPECT_EQ(whole.Height(), -1);
    EXPECT_FALSE(whole.IsEmpty()) << "emptiness compares edges, not the width";
    const CKvRect half(0, kMin, 1, 0);
    EXPECT_EQ(half.Width(), kMin);
    const CKvRect largest(0, -1, 1, kMax - 1);
    EXPECT_EQ(largest.Width(), kMax);
    EXPECT_DOUBLE_EQ(largest.GetAspect(), static_cast<double>(kMax));
}

TEST(KvRect, OffsetWrapsAtTheEdgesOfTheRangeAndIsUndoneByTheOppositeOffset) {
    CKvRect r(kMax - 5, kMax - 10, kMax, kMax);
    r.Offset(10, 10);
    ExpectRect(r, kMin + 4, kMax, kMin + 9, kMin + 9);
    EXPECT_EQ(r.Width(), 10);
    EXPECT_EQ(r.Height(), 5);
    r -= CKvPoint(10, 10);
    ExpectRect(r, kMax - 5, kMax - 10, kMax, kMax);
    r += CKvPoint(kMin, kMin);
    r -= CKvPoint(kMin, kMin);
    ExpectRect(r, kMax - 5, kMax - 10, kMax, kMax);
    r.MoveTo(kMin, kMin);
    ExpectRect(r, kMin, kMin, kMin + 5, kMin + 10);
}

TEST(KvRect, AspectAndRatioOfAZeroDivisorAreTheIeeeQuotient) {
    EXPECT_DOUBLE_EQ(CKvRect(0, 0, 2, 3).GetAspect(), 1.5);
    EXPECT_TRUE(std::isinf(CKvRect(0, 0, 0, 3).GetAspect()));
    EXPECT_GT(CKvRect(0, 0, 0, 3).GetAspect(), 0);
    EXPECT_TRUE(std::isnan(CKvRect(0, 0, 0, 0).GetAspect()));
    EXPECT_DOUBLE_EQ(CKvPoint(3, -4).GetRatio(), -0.75);
    EXPECT_LT(CKvPoint(-1, 0).GetRatio(), 0);
    EXPECT_TRUE(std::isinf(CKvPoint(-1, 0).GetRatio()));
}

// A rectangle whose left edge is read through an override: the composite operations must see it.
class CShiftedRect : public CKvRect {
public:
    CShiftedRect() : CKvRect(0, 0, 10, 10) {}
    LONG GetLeft() const override { return 4; }
};

TEST(KvRect, CompositeOperationsGoThroughTheVirtualAccessors) {
    CShiftedRect r;
    EXPECT_EQ(r.Width(), 6);
    EXPECT_TRUE(r.TopLeft().IsEqual(CKvPoint(4, 0)));
    EXPECT_FALSE(r.Contains(CKvPoint(2, 2)));
    ExpectRect(r.Intersect(CKvRect(0, 0, 5, 5)), 0, 4, 5, 5);
    ExpectRect(CKvRect(0, 0, 5, 5).Intersect(r), 0, 4, 5, 5);
    PravonRect ltrb;
    r.GetLTRB(ltrb);
    EXPECT_EQ(ltrb.left, 4);
}

TEST(KvPoint, ScaleTruncatesTowardZero) {
    CKvPoint p(7, -7);
    p.Scale(0.5);
    EXPECT_EQ(p.GetX(), 3);
    EXPECT_EQ(p.GetY(), -3);
    p.Divide(0.5);
    EXPECT_EQ(p.GetX(), 6);
    EXPECT_EQ(p.GetY(), -6);
    p.Divide(4);
    EXPECT_EQ(p.GetX(), 1);
    EXPECT_EQ(p.GetY(), -1);
}

TEST(KvPoint, ScaleByANonFiniteFactorOrDivideByZeroLeavesThePoint) {
    CKvPoint p(5, -6);
    p.Divide(0);
    p.Divide(-0.0);
    p.Scale(std::numeric_limits<double>::infinity());
    p.Scale(std::numeric_limits<double>::quiet_NaN());
    p.Divide(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(p.GetX(), 5);
    EXPECT_EQ(p.GetY(), -6);
}

TEST(KvPoint, ScaleSaturatesToTheCoordinateRange) {
    CKvPoint p(kMax, -3);
    p.Scale(1e12);
    EXPECT_EQ(p.GetX(), kMax);
    EXPECT_EQ(p.GetY(), kMin);
    CKvPoint q(2, kMin);
    q.Divide(1e-300);
    EXPECT_EQ(q.GetX(), kMax);
    EXPECT_EQ(q.GetY(), kMin);
    CKvPoint r(kMin, kMax);
    r.Scale(-1);
    EXPECT_EQ(r.GetX(), kMax) << "-(-2^31) does not fit and saturates";
    EXPECT_EQ(r.GetY(), -kMax);
}

TEST(KvPoint, OffsetsAddAndSubtractAndWrapAtTheRange) {
    CKvPoint p(1, 2);
    p.Offset(10, 20);
    p += CKvPoint(100, 200);
    EXPECT_TRUE(p.IsEqual(CKvPoint(111, 222)));
    p -= CKvPoint(11, 22);
    EXPECT_TRUE(p.IsEqual(CKvPoint(100, 200)));
    EXPECT_TRUE(p.IsNotEqual(CKvPoint(100, 201)));
    const CKvPoint sum = CKvPoint(kMax, kMin) + CKvPoint(1, -1);
    EXPECT_EQ(sum.GetX(), kMin);
    EXPECT_EQ(sum.GetY(), kMax);
    CKvPoint q(0, 0);
    q -= CKvPoint(kMin, kMin);
    EXPECT_EQ(q.GetX(), kMin) << "minus -2^31 wraps to itself";
    q -= CKvPoint(kMin, 0);
    EXPECT_EQ(q.GetX(), 0);
}

class CDoubledPoint : public CKvPoint {
public:
    CDoubledPoint(LONG x, LONG y) : CKvPoint(x, y) {}
    void SetX(LONG v) override { CKvPoint::SetX(v * 2); }
};

TEST(KvPoint, CompositeOperationsGoThroughTheVirtualAccessors) {
    CDoubledPoint p(1, 1);
    p.Offset(2, 2);
    EXPECT_EQ(p.GetX(), 6);
    EXPECT_EQ(p.GetY(), 3);
    p.Set(KvBigPoint{5, 5});
    EXPECT_EQ(p.GetX(), 10);
}

} // namespace
