// The transform filter's state algebra, setters, sizes, mappings and notifications. Orientations are
// checked against their matrices: a state (flip, rotation) is the rotation matrix times the mirror when
// flipped, and a relative filter's operation multiplies the source's state from the left.
#include "filters/CPravonFilterTransform.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

namespace {

using namespace kvtest;
using Transform = CPravonFilterTransform;

// A 2 x 2 matrix in image coordinates (y down): rotation by a clockwise, times the mirror x -> -x.
struct Matrix {
    double a, b, c, d;
};

Matrix Multiply(const Matrix& l, const Matrix& r) {
    return {l.a * r.a + l.b * r.c, l.a * r.b + l.b * r.d, l.c * r.a + l.d * r.c, l.c * r.b + l.d * r.d};
}

Matrix StateMatrix(bool flip, double degrees) {
    const double t = degrees * std::numbers::pi / 180.0;
    const Matrix rotation{std::cos(t), -std::sin(t), std::sin(t), std::cos(t)};
    return flip ? Multiply(rotation, Matrix{-1, 0, 0, 1}) : rotation;
}

::testing::AssertionResult SameMatrix(const Matrix& x, const Matrix& y) {
    if (std::fabs(x.a - y.a) < 1e-9 && std::fabs(x.b - y.b) < 1e-9 && std::fabs(x.c - y.c) < 1e-9 &&
        std::fabs(x.d - y.d) < 1e-9)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << x.a << " " << x.b << "; " << x.c << " " << x.d << ") against (" << y.a << " " << y.b
           << "; " << y.c << " " << y.d << ")";
}

const double kAngles[] = {0, 90, 180, 270, 30, 123.5, 301};

TEST(TransformState, AnglesAreBroughtIntoAFullTurn) {
    struct Case {
        double in;
        double out;
    };
    for (const Case c : {Case{-90, 270}, Case{450, 90}, Case{360, 0}, Case{0, 0}, Case{720.5, 0.5},
                         Case{-0.0, 0}, Case{-720, 0}, Case{359.5, 359.5}, Case{-1e-20, 0}})
        EXPECT_DOUBLE_EQ(Transform::ValidateRotation(c.in), c.out) << c.in;
    for (double huge : {1e308, -1e308, std::numeric_limits<double>::max()}) {
        const double a = Transform::ValidateRotation(huge);
        EXPECT_TRUE(a >= 0 && a < 360) << huge;
    }
}

TEST(TransformState, ARelativeFilterComposesItsOperationAfterTheSourceState) {
    for (bool sourceFlip : {false, true})
        for (double sourceRotation : kAngles)
            for (bool filterFlip : {false, true})
                for (double filterRotation : kAngles) {
                    bool flip = sourceFlip;
                    double rotation = sourceRotation;
                    Transform::DoStateTransform(&flip, &rotation, filterFlip, filterRotation, true);
                    EXPECT_TRUE(SameMatrix(StateMatrix(flip, rotation),
                                           Multiply(StateMatrix(filterFlip, filterRotation),
                                                    StateMatrix(sourceFlip, sourceRotation))))
                        << sourceFlip << " " << sourceRotation << " by " << filterFlip << " "
                        << filterRotation;
                    // A relative filter moves the pixels by its own flip and rotation, whatever the source's.
                    bool pf = sourceFlip;
                    double pr = sourceRotation;
                    Transform::GetRelativeTransform(&pf, &pr, filterFlip, filterRotation, true);
                    EXPECT_EQ(pf, filterFlip);
                    EXPECT_DOUBLE_EQ(pr, filterRotation);
                }
}

// The operation an absolute filter applies takes every source state, flipped ones included, to the
// filter's own state.
TEST(TransformState, AnAbsoluteFilterMovesEverySourceStateToItsOwn) {
    for (bool sourceFlip : {false, true})
        for (double sourceRotation : kAngles)
            for (bool filterFlip : {false, true})
                for (double filterRotation : kAngles) {
                    bool pf = sourceFlip;
                    double pr = sourceRotation;
                    Transform::GetRelativeTransform(&pf, &pr, filterFlip, filterRotation, false);
                    EXPECT_TRUE(
                        SameMatrix(Multiply(StateMatrix(pf, pr), StateMatrix(sourceFlip, sourceRotation)),
                                   StateMatrix(filterFlip, filterRotation)))
                        << sourceFlip << " " << sourceRotation << " to " << filterFlip << " "
                        << filterRotation;
                    bool flip = sourceFlip;
                    double rotation = sourceRotation;
                    Transform::DoStateTransform(&flip, &rotation, pf, pr, true);
                    EXPECT_EQ(flip, filterFlip);
                    EXPECT_NEAR(rotation, filterRotation, 1e-9);
                    Transform::DoStateTransform(&flip, &rotation, filterFlip, filterRotation, false);
                    EXPECT_EQ(flip, filterFlip);
                    EXPECT_EQ(rotation, filterRotation);
                }
}

struct Graph {
    Graph(LONG width = 30, LONG height = 20)
        : manager(16), source(MakeImage(manager, MakePlane(width, height, PravonColorSpace::kRGB8,
                                                           FillPattern::Coordinates))),
          filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    ~Graph() {
        PravonDisconnect(&filter, &recorder);
        PravonDisconnect(source.get(), &filter);
    }
    CPravonMemoryManager manager;
    PravonImagePtr source;
    CPravonFilterTransform filter;
    NotificationRecorder recorder;
};

TEST(TransformState, TheSettersFollowTheirRules) {
    Graph g;
    Transform& t = g.filter;
    EXPECT_TRUE(t.IsPassThrough());
    EXPECT_TRUE(t.IsRelative());
    EXPECT_TRUE(t.IsResizing());
    ASSERT_PV_OK(t.RotateCW(90, false));
    ASSERT_PV_OK(t.RotateCW(90, false));
    ASSERT_PV_OK(t.FlipHorz(false));
    EXPECT_TRUE(t.GetFilterFlip());
    EXPECT_EQ(t.GetFilterRotation(), 180);
    ASSERT_PV_OK(t.SetTransform(false, 0, true, false));
    ASSERT_PV_OK(t.FlipVert(false));
    EXPECT_TRUE(t.GetFilterFlip());
    EXPECT_EQ(t.GetFilterRotation(), 180);
    ASSERT_PV_OK(t.RotateCCW(90, false));
    EXPECT_EQ(t.GetFilterRotation(), 90);
    EXPECT_FALSE(t.IsPassThrough());

    ASSERT_PV_OK(t.SetTransform(false, 360, true, false));
    EXPECT_EQ(t.GetFilterRotation(), 0);
    EXPECT_TRUE(t.IsPassThrough());
    ASSERT_PV_OK(t.SetTransform(true, 0, true, false));
    EXPECT_FALSE(t.IsPassThrough()) << "a flip alone mirrors the pixels";
    ASSERT_PV_OK(t.SetTransform(false, 359.99999999995, true, false));
    EXPECT_TRUE(t.IsPassThrough()) << "an angle this close to a full turn counts as none";
    // An absolute filter gives the output its own state, whatever the source's: it never shows the
    // source as it is.
    ASSERT_PV_OK(t.SetTransform(false, 0, false, false));
    EXPECT_FALSE(t.IsPassThrough());
    EXPECT_FALSE(t.IsRelative());
}

TEST(TransformState, AnglesThatAreNotFiniteAreRefusedAndChangeNothing) {
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (double angle : bad) {
        Graph g;
        ASSERT_PV_OK(g.filter.SetTransform(true, 30, true, false));
        g.recorder.Clear();
        EXPECT_PV_KIND(g.filter.SetTransform(false, angle, false, true), PravonKind::kOutOfRange);
        EXPECT_PV_KIND(g.filter.RotateCW(angle, true), PravonKind::kOutOfRange);
        EXPECT_PV_KIND(g.filter.RotateCCW(angle, true), PravonKind::kOutOfRange);
        EXPECT_TRUE(g.filter.GetFilterFlip());
        EXPECT_EQ(g.filter.GetFilterRotation(), 30);
        EXPECT_TRUE(g.filter.IsRelative());
        EXPECT_FALSE(g.filter.IsPassThrough());
        EXPECT_TRUE(g.recorder.heard.empty());
        LONG width = 30;
        LONG height = 20;
        EXPECT_PV_KIND(Transform::GetFilteredSize(&width, &height, angle, true), PravonKind::kOutOfRange);
        EXPECT_EQ(width, 30);
    }
    Graph g;
    ASSERT_PV_OK(g.filter.RotateCW(1e308, false));
    EXPECT_TRUE(g.filter.GetFilterRotation() >= 0 && g.filter.GetFilterRotation() < 360);
}

TEST(TransformState, SizesAreTheBoundingBoxOfTheRotatedImage) {
    struct Case {
        double rotation;
        bool resize;
        LONG width;
        LONG height;
    };
    const Case cases[] = {
        {90, true, 200, 300},
        {270, true, 200, 300},
        {180, true, 300, 200},
        {0, true, 300, 200},
        {30, true, 359, 323},
        {150, true, 359, 323},
        {210, true, 359, 323},
        {-30, true, 359, 323},
        {120, true, 323, 359},
        {45, true, 353, 353},
        {30, false, 300, 200},
        {90, false, 300, 200},
        {89.99999999995, true, 200, 300},
    };
    for (const Case& c : cases) {
        LONG width = 300;
        LONG height = 200;
        ASSERT_PV_OK(Transform::GetFilteredSize(&width, &height, c.rotation, c.resize));
        EXPECT_EQ(width, c.width) << c.rotation;
        EXPECT_EQ(height, c.height) << c.rotation;
    }
    LONG width = std::numeric_limits<LONG>::max();
    LONG height = std::numeric_limits<LONG>::max();
    EXPECT_PV_KIND(Transform::GetFilteredSize(&width, &height, 45, true), PravonKind::kOutOfRange);
    EXPECT_EQ(width, std::numeric_limits<LONG>::max());
}

TEST(TransformState, RectanglesMapByHandWorkedQuarterTurns) {
    struct Case {
        bool flip;
        double rotation;
        PravonRect out;
    };
    // Source rectangle (10, 20, 30, 50) of a 300 x 200 image: a quarter turn takes (x, y) to (200 - y, x),
    // a half turn to (300 - x, 200 - y), three quarters to (y, 300 - x); the mirror first takes x to 300 - x.
    const Case cases[] = {
        {false, 0, {10, 20, 30, 50}},     {true, 0, {270, 20, 290, 50}},      {false, 90, {150, 10, 180, 30}},
        {true, 90, {150, 270, 180, 290}}, {false, 180, {270, 150, 290, 180}}, {true, 180, {10, 150, 30, 180}},
        {false, 270, {20, 270, 50, 290}}, {true, 270, {20, 10, 50, 30}},
    };
    for (const Case& c : cases) {
        PravonRect r{10, 20, 30, 50};
        Transform::FilterRect(&r, 300, 200, c.flip, c.rotation, true);
        EXPECT_EQ(r, c.out) << c.flip << " " << c.rotation;
        Transform::DefilterRect(&r, 300, 200, c.flip, c.rotation, true);
        EXPECT_EQ(r, (PravonRect{10, 20, 30, 50})) << c.flip << " " << c.rotation;
        LONG x = 10;
        LONG y = 20;
        Transform::FilterPoint(&x, &y, 300, 200, c.flip, c.rotation, true);
        PravonRect pixel{10, 20, 11, 21};
        Transform::FilterRect(&pixel, 300, 200, c.flip, c.rotation, true);
        EXPECT_EQ(x, pixel.left);
        EXPECT_EQ(y, pixel.top);
    }
}

// At any angle a point maps forward and back into a box that holds it; the box of the rotated image is
// the output.
TEST(TransformState, AnyAngleMapsForwardAndBackAroundThePoint) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 400; ++i) {
        const double rotation = unit(random) * 720 - 180;
        const bool flip = i % 2 == 0;
        const bool resize = i % 3 != 0;
        const double x = unit(random) * 300;
        const double y = unit(random) * 200;
        PravonDblRect r{x, y, x, y};
        Transform::FilterRect(&r, 300, 200, flip, rotation, resize);
        EXPECT_NEAR(r.left, r.right, 1e-9);
        EXPECT_NEAR(r.top, r.bottom, 1e-9);
        Transform::DefilterRect(&r, 300, 200, flip, rotation, resize);
        EXPECT_NEAR(r.left, x, 1e-9) << rotation;
        EXPECT_NEAR(r.top, y, 1e-9) << rotation;
    }
    PravonDblRect whole{0, 0, 300, 200};
    Transform::FilterRect(&whole, 300, 200, false, 30, true);
    EXPECT_NEAR(whole.left, 0, 0.5);
    EXPECT_NEAR(whole.top, 0, 0.5);
    EXPECT_NEAR(whole.right, 359, 1);
    EXPECT_NEAR(whole.bottom, 323, 1);
}

TEST(TransformState, ChangesAreAnnouncedWithTheOutputsStateAndSizeBeforeAndAfter) {
    Graph g;
    ASSERT_PV_OK(g.source->SetTransform(false, 90, false));
    ASSERT_PV_OK(g.filter.SetTransform(false, 90, true, true));
    ASSERT_EQ(g.recorder.Count(PravonNotification::kTransform), 1u);
    ASSERT_EQ(g.recorder.heard.size(), 1u);
    struct Heard : IPravonDataDestination {
        IPravonError* PravonNotify(IPravonDataSource*, LONG type, void* data) override {
            types.push_back(type);
            if (type == PravonNotification::kTransform)
                transform = *static_cast<ChangeTransform*>(data);
            if (type == PravonNotification::kSize)
                size = *static_cast<ChangeSize*>(data);
            return nullptr;
        }
        std::vector<LONG> types;
        ChangeTransform transform;
        ChangeSize size;
    } heard;
    ASSERT_PV_OK(PravonConnect(&g.filter, &heard));
    ASSERT_PV_OK(g.filter.RotateCW(90, true));
    ASSERT_EQ(heard.types, std::vector<LONG>{PravonNotification::kTransform});
    EXPECT_FALSE(heard.transform.oldFlip);
    EXPECT_EQ(heard.transform.oldRotation, 180);
    EXPECT_EQ(heard.transform.newRotation, 270);
    EXPECT_EQ(heard.transform.oldWidth, 20);
    EXPECT_EQ(heard.transform.oldHeight, 30);
    EXPECT_EQ(heard.transform.newWidth, 30);
    EXPECT_EQ(heard.transform.newHeight, 20);
    EXPECT_FALSE(heard.transform.flag);

    heard.types.clear();
    ASSERT_PV_OK(g.filter.DoResize(false, true));
    ASSERT_EQ(heard.types, std::vector<LONG>{PravonNotification::kSize});
    EXPECT_EQ(heard.size.oldWidth, 30);
    EXPECT_EQ(heard.size.oldHeight, 20);
    EXPECT_EQ(heard.size.newWidth, 30);
    EXPECT_EQ(heard.size.newHeight, 20);
    heard.types.clear();
    ASSERT_PV_OK(g.filter.DoResize(false, true));
    ASSERT_PV_OK(g.filter.RotateCW(90, false));
    EXPECT_TRUE(heard.types.empty()) << "nothing changed, or no notify";
    ASSERT_PV_OK(g.filter.Enable(false, false));
    ASSERT_PV_OK(g.filter.FlipHorz(true));
    EXPECT_TRUE(heard.types.empty()) << "a disabled filter announces nothing";
    PravonDisconnect(&g.filter, &heard);
}

// Downstream hears a source's changes as the output's: sizes turn by the rotation the pixels undergo,
// states go through the filter's.
TEST(TransformState, SourceChangesReachDownstreamAsTheOutputsChanges) {
    struct Heard : IPravonDataDestination {
        IPravonError* PravonNotify(IPravonDataSource*, LONG type, void* data) override {
            if (type == PravonNotification::kTransform)
                transform = *static_cast<ChangeTransform*>(data);
            if (type == PravonNotification::kSize)
                size = *static_cast<ChangeSize*>(data);
            return nullptr;
        }
        ChangeTransform transform;
        ChangeSize size;
    };
    for (bool relative : {true, false}) {
        SCOPED_TRACE(relative ? "relative" : "absolute");
        Graph g;
        Heard heard;
        ASSERT_PV_OK(PravonConnect(&g.filter, &heard));
        ASSERT_PV_OK(g.filter.SetTransform(false, 90, relative, false));
        IPravonDataDestination::ChangeSize size{30, 20, 40, 10};
        ASSERT_PV_OK(PravonSendDataNotification(g.source.get(), PravonNotification::kSize, &size));
        EXPECT_EQ(heard.size.oldWidth, 20);
        EXPECT_EQ(heard.size.oldHeight, 30);
        EXPECT_EQ(heard.size.newWidth, 10);
        EXPECT_EQ(heard.size.newHeight, 40);

        // The source turns from (false, 0) to (false, 90).
        IPravonDataDestination::ChangeTransform change;
        change.newRotation = 90;
        change.oldWidth = change.newWidth = 30;
        change.oldHeight = change.newHeight = 20;
        change.flag = true;
        ASSERT_PV_OK(PravonSendDataNotification(g.source.get(), PravonNotification::kTransform, &change));
        EXPECT_TRUE(heard.transform.flag);
        EXPECT_EQ(heard.transform.oldRotation, 90);
        // Relative: the output turns on to 180 and both sizes turn a quarter. Absolute: the output stays at
        // 90, and the pixels of the turned source need no turn at all, so its size passes unchanged.
        EXPECT_EQ(heard.transform.newRotation, relative ? 180 : 90);
        EXPECT_EQ(heard.transform.oldWidth, 20);
        EXPECT_EQ(heard.transform.newWidth, relative ? 20 : 30);
        EXPECT_EQ(heard.transform.newHeight, relative ? 30 : 20);
        PravonDisconnect(&g.filter, &heard);
    }
}

} // namespace
