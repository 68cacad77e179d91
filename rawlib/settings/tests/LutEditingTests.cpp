#include "rawlib/settings/CKvLutGroup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A curve editor's layout: the hue and chroma graphs are 200 x 100 pixels at the origin (x = px / 200,
// y = (49 - py) / 50), with the level handle strip to their right, the width handle strip below and the
// mode button beside the level strip. The tone graph is 201 x 201 (x = px / 200, y = (200 - py) / 200)
// with its handle strip below and its output strip to the right. Every callback is recorded.
struct Editor {
    LutGraphLayout layout;
    std::vector<LONG> changed;
    std::vector<LONG> finished;

    Editor() {
        layout.hueGraph = {0, 0, 200, 100};
        layout.chromaGraph = {0, 0, 200, 100};
        layout.levelHandle = {200, 0, 210, 100};
        layout.widthHandle = {0, 100, 200, 110};
        layout.modeButton = {210, 0, 230, 20};
        layout.toneGraph = {0, 0, 201, 201};
        layout.toneHandles = {0, 201, 201, 211};
        layout.toneOutputHandles = {201, 0, 211, 201};
        layout.pickRadius = 4;
        layout.curveHorizontalStep = 0.01;
        layout.curveVerticalStep = 0.05;
        layout.toneHorizontalStep = 0.05;
        layout.toneVerticalStep = 0.05;
        layout.changed = [this](LONG code) { changed.push_back(code); };
        layout.finished = [this](LONG code) { finished.push_back(code); };
    }
};

CKvHueChannel HueWith(std::vector<KvHuePoint> points) {
    CKvHueChannel hue;
    hue.SetPoints(std::move(points));
    return hue;
}

std::vector<double> Positions(const std::vector<KvHuePoint>& points) {
    std::vector<double> xs;
    for (const KvHuePoint& p : points)
        xs.push_back(p.x);
    return xs;
}

void ExpectPositions(const std::vector<KvHuePoint>& points, const std::vector<double>& expected) {
    const std::vector<double> actual = Positions(points);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-12) << "point " << i;
}

TEST(HueEditing, PressingAnEmptyPlaceAddsAPointThatFollowsThePointer) {
    Editor editor;
    CKvHueChannel hue;
    EXPECT_EQ(hue.TrackPosition(editor.layout, 100, 24), LutCode::kEmptyPlace);
    EXPECT_EQ(hue.BeginTrack(editor.layout, 100, 24), LutCode::kPoints);
    ASSERT_EQ(hue.GetPointCount(), 1);
    EXPECT_EQ(hue.GetCurrentPoint(), 0);
    // Range mode 1 scales the amount by 1/3; the width of a new point follows its amount.
    KvHuePoint p = hue.GetPoints()[0];
    EXPECT_DOUBLE_EQ(p.x, 0.5);
    EXPECT_DOUBLE_EQ(p.y, 0.5 / 3);
    EXPECT_DOUBLE_EQ(p.z, 0.25 / 3);
    EXPECT_EQ(hue.TrackPosition(editor.layout, 150, -1), LutCode::kPoints);
    p = hue.GetPoints()[0];
    EXPECT_DOUBLE_EQ(p.x, 0.75);
    EXPECT_DOUBLE_EQ(p.y, 1.0 / 3);
    EXPECT_DOUBLE_EQ(p.z, 1.0 / 6);
    EXPECT_EQ(hue.EndTrack(editor.layout), LutCode::kPoints);
    EXPECT_EQ(hue.GetPendingCode(), 0);
    EXPECT_EQ(editor.finished, std::vector<LONG>{LutCode::kPoints});
    EXPECT_EQ(editor.changed, (std::vector<LONG>{4, 4, 4}));
    EXPECT_EQ(hue.TrackPosition(editor.layout, 150, 10), LutCode::kPoints)
        << "idle again: over the current point";
}

TEST(HueEditing, DraggingAPointFarOffTheGraphRemovesIt) {
    Editor editor;
    CKvHueChannel hue = HueWith({{0.25, 0.2, 0.1}, {0.5, 0.3, 0.1}});
    EXPECT_EQ(hue.TrackPosition(editor.layout, 101, 40), LutCode::kOtherPoint);
    ASSERT_EQ(hue.BeginTrack(editor.layout, 101, 40), LutCode::kPoints);
    EXPECT_EQ(hue.GetCurrentPoint(), 1);
    EXPECT_EQ(hue.TrackPosition(editor.layout, 215, 40), LutCode::kPoints) << "15 pixels out: still dragged";
    EXPECT_EQ(hue.GetPointCount(), 2);
    EXPECT_EQ(hue.TrackPosition(editor.layout, 221, 40), 0) << "more than 20 pixels out";
    ExpectPositions(hue.GetPoints(), {0.25});
    EXPECT_EQ(editor.finished, std::vector<LONG>{LutCode::kPoints});
    EXPECT_EQ(hue.GetPendingCode(), 0);
}

TEST(HueEditing, AMovedPointHopsOverARunOfCloseNeighbours) {
    Editor editor;
    CKvHueChannel hue =
        HueWith({{0.10, 0, 0}, {0.30, 0.1, 0}, {0.315, 0.2, 0}, {0.33, 0.3, 0}, {0.345, 0.9, 0.4}});
    for (int i = 0; i < 5; ++i)
        hue.SelectNextPoint();
    ASSERT_EQ(hue.GetCurrentPoint(), 4);
    EXPECT_EQ(hue.MovePointLeft(editor.layout), LutCode::kPoints);
    ExpectPositions(hue.GetPoints(), {0.10, 0.29, 0.30, 0.315, 0.33});
    EXPECT_EQ(hue.GetCurrentPoint(), 1) << "the current index follows the point";
    EXPECT_EQ(hue.GetPoints()[1].y, 0.9) << "the point keeps its amount and width";
    EXPECT_EQ(hue.GetPoints()[1].z, 0.4);
}

TEST(HueEditing, AMovedPointStopsBeforeARunThatLeavesNoRoom) {
    Editor editor;
    CKvHueChannel hue = HueWith({{0.005, 0, 0}, {0.02, 0, 0}, {0.035, 0, 0}});
    hue.SelectNextPoint();
    hue.SelectNextPoint();
    hue.SelectNextPoint();
    ASSERT_EQ(hue.GetCurrentPoint(), 2);
    EXPECT_EQ(hue.MovePointLeft(editor.layout), LutCode::kPoints);
    ExpectPositions(hue.GetPoints(), {0.005, 0.02, 0.03});
    EXPECT_EQ(hue.MovePointLeft(editor.layout), 0) << "held 0.01 from its neighbour";

    CKvHueChannel right = HueWith({{0.965, 0, 0}, {0.98, 0, 0}, {0.995, 0, 0}});
    right.SelectNextPoint();
    EXPECT_EQ(right.MovePointRight(editor.layout), LutCode::kPoints);
    ExpectPositions(right.GetPoints(), {0.97, 0.98, 0.995});
}

TEST(HueEditing, InsertingTakesTheMiddleOfTheGapBehindTheCurrentPoint) {
    CKvHueChannel hue;
    EXPECT_EQ(hue.InsertPoint(), LutCode::kPoints);
    EXPECT_EQ(hue.GetPoints()[0], (KvHuePoint{0.5, 0, 0.5})) << "an empty set gets a point in its middle";

    hue = HueWith({{0.2, 0.4, 0.1}, {0.6, 0.0, 0.3}});
    hue.SelectNextPoint();
    hue.SelectNextPoint();
    ASSERT_EQ(hue.InsertPoint(), LutCode::kPoints);
    ExpectPositions(hue.GetPoints(), {0.2, 0.4, 0.6});
    EXPECT_NEAR(hue.GetPoints()[1].y, 0.2, 1e-12);
    EXPECT_NEAR(hue.GetPoints()[1].z, 0.2, 1e-12);
    EXPECT_EQ(hue.GetCurrentPoint(), 1);

    // Before the first point the gap runs back over 0 to the last point; the middle wraps to the end.
    CKvHueChannel wrap = HueWith({{0.2, 0.4, 0.1}, {0.6, 0.0, 0.3}});
    wrap.SelectNextPoint();
    ASSERT_EQ(wrap.InsertPoint(), LutCode::kPoints);
    ExpectPositions(wrap.GetPoints(), {0.2, 0.6, 0.9});
    EXPECT_EQ(wrap.GetCurrentPoint(), 2);
}

TEST(HueEditing, InsertingFindsNoRoomWhenEveryGapIsNarrow) {
    std::vector<KvHuePoint> points;
    for (int i = 0; i < 60; ++i)
        points.push_back({i / 60.0, 0, 0.01});
    CKvHueChannel hue = HueWith(points);
    hue.SelectNextPoint();
    EXPECT_EQ(hue.InsertPoint(), 0);
    EXPECT_EQ(hue.GetPointCount(), 60);
}

TEST(HueEditing, KeyEditsStopAtTheirLimits) {
    Editor editor;
    CKvHueChannel hue = HueWith({{0.5, 0.98, 0.47}});
    EXPECT_EQ(hue.RaisePoint(editor.layout), 0) << "no current point yet";
    hue.SelectNextPoint();
    EXPECT_EQ(hue.RaisePoint(editor.layout), LutCode::kPoints);
    EXPECT_EQ(hue.GetPoints()[0].y, 1.0);
    EXPECT_EQ(hue.RaisePoint(editor.layout), 0);
    EXPECT_EQ(hue.WidenPoint(editor.layout), LutCode::kWidth);
    EXPECT_DOUBLE_EQ(hue.GetPoints()[0].z, 0.48);
    for (int i = 0; i < 5; ++i)
        hue.WidenPoint(editor.layout);
    EXPECT_EQ(hue.GetPoints()[0].z, 0.5);
    for (int i = 0; i < 60; ++i)
        hue.NarrowPoint(editor.layout);
    EXPECT_EQ(hue.GetPoints()[0].z, 0.0);
    for (int i = 0; i < 50; ++i)
        hue.LowerLevel(editor.layout);
    EXPECT_EQ(hue.GetLevel(), -1.0);
    EXPECT_EQ(hue.LowerLevel(editor.layout), 0);
    EXPECT_EQ(hue.SetMode(7), LutCode::kMode);
    EXPECT_EQ(hue.GetMode(), 3);
    EXPECT_EQ(hue.SetMode(-2), LutCode::kMode);
    EXPECT_EQ(hue.GetMode(), 1);
    EXPECT_EQ(hue.SelectNextPoint(), 0) << "held at the last point";
    EXPECT_EQ(hue.DeletePoint(), LutCode::kPoints);
    EXPECT_EQ(hue.GetCurrentPoint(), -1);
    EXPECT_EQ(hue.DeletePoint(), 0);
    EXPECT_EQ(hue.GetDisplayPoint(), (KvHuePoint{-1, 0, -1}));
}

TEST(HueEditing, TheModeButtonCyclesTheRangeMode) {
    Editor editor;
    CKvHueChannel hue;
    for (LONG expected : {2, 3, 1}) {
        EXPECT_EQ(hue.BeginTrack(editor.layout, 220, 10), LutCode::kMode);
        EXPECT_EQ(hue.EndTrack(editor.layout), LutCode::kMode);
        EXPECT_EQ(hue.GetMode(), expected);
    }
    EXPECT_EQ(hue.BeginTrack(editor.layout, 220, 10), LutCode::kMode);
    hue.TrackPosition(editor.layout, 100, 50);
    hue.EndTrack(editor.layout);
    EXPECT_EQ(hue.GetMode(), 1) << "released away from the button";
}

TEST(HueEditing, TheLevelAndWidthHandlesFollowThePointer) {
    Editor editor;
    CKvHueChannel hue = HueWith({{0.5, 0.3, 0.25}});
    hue.SelectNextPoint();
    // Level 0: the handle lies on the middle row.
    EXPECT_EQ(hue.TrackPosition(editor.layout, 205, 49), LutCode::kLevel);
    EXPECT_EQ(hue.TrackPosition(editor.layout, 205, 40), 0) << "beyond the tolerance of 3 pixels";
    ASSERT_EQ(hue.BeginTrack(editor.layout, 205, 49), LutCode::kLevel);
    hue.TrackPosition(editor.layout, 205, 24);
    hue.EndTrack(editor.layout);
    EXPECT_DOUBLE_EQ(hue.GetLevel(), 0.5 / 3);
    // The width handle of a point of width 0.25 stands at a quarter of the graph's width... times two.
    EXPECT_EQ(hue.TrackPosition(editor.layout, 50, 105), LutCode::kWidth);
    ASSERT_EQ(hue.BeginTrack(editor.layout, 50, 105), LutCode::kWidth);
    hue.TrackPosition(editor.layout, 60, 105);
    EXPECT_DOUBLE_EQ(hue.GetPoints()[0].z, 0.3);
    hue.TrackPosition(editor.layout, 190, 105);
    EXPECT_DOUBLE_EQ(hue.GetPoints()[0].z, 0.5) << "at most half the circle";
}

TEST(ChromaEditing, PointsTakeTheirAmountAgainstTheLevel) {
    Editor editor;
    CKvChromaChannel chroma;
    chroma.SetLevelA(0.5);
    ASSERT_EQ(chroma.BeginTrack(editor.layout, 100, 24), LutCode::kPoints);
    // While dragged the amount is the pointer's height less the level, so that level + amount stays in -1..1.
    EXPECT_DOUBLE_EQ(chroma.GetEditedPoints()[0].y, 0.0);
    chroma.TrackPosition(editor.layout, 100, -1);
    EXPECT_DOUBLE_EQ(chroma.GetEditedPoints()[0].y, 0.5);
    chroma.TrackPosition(editor.layout, 100, 99);
    EXPECT_DOUBLE_EQ(chroma.GetEditedPoints()[0].y, -1.5);
    chroma.EndTrack(editor.layout);
    EXPECT_EQ(chroma.GetCalibrationPoints().size(), 0u) << "edits never reach the calibration set";
    for (LONG expected : {2, 1}) {
        chroma.BeginTrack(editor.layout, 220, 10);
        chroma.EndTrack(editor.layout);
        EXPECT_EQ(chroma.GetScaleMode(), expected) << "the mode button toggles the scale mode";
    }
}

TEST(ChromaEditing, TheLevelFollowsOnlyWithinTheGraphsRows) {
    Editor editor;
    CKvChromaChannel chroma;
    ASSERT_EQ(chroma.BeginTrack(editor.layout, 205, 49), LutCode::kLevel);
    chroma.TrackPosition(editor.layout, 205, 24);
    EXPECT_DOUBLE_EQ(chroma.GetLevelA(), 0.5);
    chroma.TrackPosition(editor.layout, 205, 120);
    EXPECT_DOUBLE_EQ(chroma.GetLevelA(), 0.5) << "below the graph";
    chroma.EndTrack(editor.layout);
}

TEST(ToneEditing, TheCurveNeverDropsBelowTwoPoints) {
    CKvLutChannel tone;
    tone.SelectNextPoint();
    EXPECT_EQ(tone.DeletePoint(), 0);
    EXPECT_EQ(tone.InsertPoint(), LutCode::kPoints);
    EXPECT_EQ(tone.GetPointCount(), 3);
    double x = 0, y = 0;
    ASSERT_EQ(tone.GetPoint(1, &x, &y), 1);
    EXPECT_DOUBLE_EQ(x, 0.5) << "in the middle of the gap";
    EXPECT_DOUBLE_EQ(y, 0.5) << "at the mean of its ends";
    EXPECT_EQ(tone.DeletePoint(), LutCode::kPoints);
    EXPECT_EQ(tone.DeletePoint(), 0);
    EXPECT_EQ(tone.GetPointCount(), 2);
    EXPECT_EQ(tone.GetPoint(2, &x, &y), 0);
}

TEST(ToneEditing, InsertingStopsAtTheMaximumAndWhereNoGapIsLeft) {
    CKvLutChannel tone;
    tone.SetMaxPoints(3);
    EXPECT_EQ(tone.InsertPoint(), LutCode::kPoints);
    EXPECT_EQ(tone.InsertPoint(), 0);
    CKvLutChannel dense;
    dense.SetPoints({{0, 0}, {0.015, 0.5}, {0.03, 0.6}, {0.98, 0.9}, {1, 1}});
    dense.SelectNextPoint();
    dense.SelectNextPoint();
    dense.SelectNextPoint();
    ASSERT_EQ(dense.GetCurrentPoint(), 2);
    // Behind points 2, 1 and 0 every gap is narrower than 0.02: the walk turns forward.
    ASSERT_EQ(dense.InsertPoint(), LutCode::kPoints);
    double x = 0, y = 0;
    dense.GetPoint(3, &x, &y);
    EXPECT_DOUBLE_EQ(x, 0.505);
    EXPECT_DOUBLE_EQ(y, 0.75);
}

TEST(ToneEditing, ADraggedPointPutsTheGammaCurveThroughThePointer) {
    Editor editor;
    CKvLutChannel tone;
    tone.SetPoints({{0, 0}, {0.5, 0.5}, {1, 1}});
    tone.SetGamma(2);
    ASSERT_EQ(tone.BeginTrack(editor.layout, 100, 100), LutCode::kPoints);
    tone.TrackPosition(editor.layout, 100, 60);
    tone.EndTrack(editor.layout);
    std::vector<double> table(201);
    tone.BuildTable(table.data(), 8, 201, 65536, CKvLutChannel::kTablePoints | CKvLutChannel::kTableGamma, 0);
    EXPECT_NEAR(table[100], 0.7, 1e-12);
}

TEST(ToneEditing, GammaStaysWithinItsLimits) {
    CKvLutChannel tone;
    tone.SetGamma(100);
    EXPECT_EQ(tone.GetGamma(), 20);
    tone.SetGamma(0.01);
    EXPECT_EQ(tone.GetGamma(), 0.05);
    tone.SetGammaFromMidpoint(0.25);
    EXPECT_DOUBLE_EQ(tone.GetGamma(), 2) << "0.5 squared is 0.25";
    tone.SetGammaFromMidpoint(0);
    EXPECT_EQ(tone.GetGamma(), 1);
    tone.SetGammaFromMidpoint(-1);
    EXPECT_EQ(tone.GetGamma(), 1) << "no gamma maps 0.5 to a negative value";
}

TEST(ToneEditing, HandlesStayInOrder) {
    Editor editor;
    CKvLutChannel tone;
    const LutHandlePositions at = tone.GetHandlePositions(editor.layout);
    EXPECT_EQ(at.black, 0);
    EXPECT_EQ(at.gamma, 100);
    EXPECT_EQ(at.white, 200);
    EXPECT_EQ(at.outputLow, 200);
    EXPECT_EQ(at.outputHigh, 0);
    EXPECT_EQ(tone.TrackPosition(editor.layout, 10, 205), LutCode::kBlack);
    EXPECT_EQ(tone.TrackPosition(editor.layout, 95, 205), LutCode::kGamma);
    EXPECT_EQ(tone.TrackPosition(editor.layout, 190, 205), LutCode::kWhite);
    EXPECT_EQ(tone.TrackPosition(editor.layout, 205, 190), LutCode::kOutputLow);
    EXPECT_EQ(tone.TrackPosition(editor.layout, 205, 10), LutCode::kOutputHigh);

    ASSERT_EQ(tone.BeginTrack(editor.layout, 0, 205), LutCode::kBlack);
    tone.TrackPosition(editor.layout, 200, 205);
    tone.EndTrack(editor.layout);
    EXPECT_DOUBLE_EQ(tone.GetBlack(), 1 - 2.0 / 201) << "black stays two pixels below white";
    ASSERT_EQ(tone.BeginTrack(editor.layout, tone.GetHandlePositions(editor.layout).black, 205),
              LutCode::kBlack);
    tone.TrackPosition(editor.layout, 100, 205);
    tone.EndTrack(editor.layout);
    EXPECT_DOUBLE_EQ(tone.GetBlack(), 0.5);
    ASSERT_EQ(tone.BeginTrack(editor.layout, tone.GetHandlePositions(editor.layout).gamma, 205),
              LutCode::kGamma);
    tone.TrackPosition(editor.layout, 0, 205);
    tone.EndTrack(editor.layout);
    EXPECT_DOUBLE_EQ(tone.GetBlack(), 0.5) << "the gamma handle stays between black and white";
    EXPECT_NEAR(tone.GetGamma(), std::log((1.0 / 201) / 0.5) / std::log(0.5), 1e-12);

    for (int i = 0; i < 40; ++i)
        tone.LowerBlack(editor.layout);
    EXPECT_EQ(tone.GetBlack(), 0.0);
    for (int i = 0; i < 40; ++i)
        tone.LowerWhite(editor.layout);
    EXPECT_DOUBLE_EQ(tone.GetWhite(), 2.0 / 201);
    for (int i = 0; i < 40; ++i)
        tone.RaiseWhite(editor.layout);
    EXPECT_EQ(tone.GetWhite(), 1.0);
    EXPECT_EQ(tone.RaiseWhite(editor.layout), 0);

    tone.SetOutputLevels(1e300, -1e300); // as a record may hold them
    const LutHandlePositions far = tone.GetHandlePositions(editor.layout);
    EXPECT_EQ(far.outputLow, INT32_MIN) << "far off the graph, within the range of a position";
    EXPECT_EQ(far.outputHigh, INT32_MAX);
}

} // namespace
