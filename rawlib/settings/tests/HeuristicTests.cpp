#include "RecordConformance.h"
#include "SizeHeuristicSetup.h"
#include "SizeTestPrinters.h"

#include "rawlib/settings/CHDevSetup.h"
#include "rawlib/settings/CHLockCrop.h"
#include "rawlib/settings/CHLockSize.h"
#include "rawlib/settings/CHeuristic.h"
#include "rawlib/settings/DblRect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using kvtest::Bytes;
using kvtest::Heuristic;

Bytes HeuristicRecord(const CHeuristic& h, int size = CHeuristic::kRecordSize) {
    Bytes bytes(static_cast<std::size_t>(CHeuristic::kRecordSize), 0xCC);
    const_cast<CHeuristic&>(h).WriteState(bytes.data(), size);
    return bytes;
}

double StoredDouble(const Bytes& record, int index, int start = 22) {
    const std::uint64_t bits = KvGetValue(record.data() + start + 8 * index, 8);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

TEST(DblRect, MirrorsAndQuarterTurnsMapPointsAsStated) {
    DblRect r(1, 2, 5, 10);
    r.MirrorX(10);
    EXPECT_EQ(r, DblRect(15, 2, 19, 10));
    r.MirrorY(0);
    EXPECT_EQ(r, DblRect(15, -10, 19, -2));

    // With a = b = c, a point (x, y) goes to (2c - y, x) clockwise and to (y, 2c - x) counter-clockwise.
    DblRect point(3, 7, 3, 7);
    point.RotateCW(5, 5);
    EXPECT_EQ(point, DblRect(3, 3, 3, 3));
    DblRect other(1, 4, 1, 4);
    other.RotateCCW(5, 5);
    EXPECT_EQ(other, DblRect(4, 9, 4, 9));

    DblRect rect(1, 2, 4, 8);
    rect.RotateCW(3, 7);
    EXPECT_EQ(rect, DblRect(2, 5, 8, 8)) << "a + b - bottom, b + left - a, a + b - top, b + right - a";
    rect.RotateCCW(3, 7);
    EXPECT_EQ(rect, DblRect(1, 2, 4, 8))
        << "a + top - b, a + b - right, a + bottom - b, a + b - left: the way back";
}

TEST(DblRect, FitIntoCapsTheSizeWithAFloorOfOneAndMovesTheRectangleBackInside) {
    DblRect big(50, 60, 250, 160);
    big.FitInto(100, 80);
    EXPECT_EQ(big, DblRect(0, 0, 100, 80));
    DblRect tiny(10, 10, 10.25, 10);
    tiny.FitInto(100, 80);
    EXPECT_EQ(tiny, DblRect(10, 10, 11, 11)) << "sizes below 1 count as 1";
    DblRect overhang(90, 75, 100, 85);
    overhang.FitInto(100, 80);
    EXPECT_EQ(overhang, DblRect(90, 70, 100, 80));
    DblRect before(-5, 3, 5, 13);
    before.FitInto(100, 80);
    EXPECT_EQ(before, DblRect(-5, 3, 5, 13)) << "only the far edges are held";
}

TEST(UnitValue, SetResolutionStoresPixelsPerInchFromEachUnit) {
    struct Case {
        LONG unit;
        double factor;
    };
    for (const Case& c : {Case{2, 2.54}, Case{3, 25.4}, Case{4, 6.0}, Case{5, 72.0}, Case{0, 1.0},
                          Case{1, 1.0}, Case{9, 1.0}, Case{-1, 1.0}}) {
        UnitValue v{0, 7};
        v.SetResolution(10.0, c.unit);
        EXPECT_EQ(v, UnitValue(10.0 * c.factor, UnitValue::kPixelsPerInch)) << "unit " << c.unit;
    }
}

TEST(NearEquality, ComparesMantissasAcrossNeighbouringExponents) {
    EXPECT_TRUE(KvNearlyEqual(1.0, 1.0 + 5e-11));
    EXPECT_FALSE(KvNearlyEqual(1.0, 1.0 + 1e-9));
    EXPECT_FALSE(KvNearlyEqual(1.0, 4.0)) << "equal mantissas, exponents two apart";
    EXPECT_TRUE(KvNearlyEqual(1.0 - 1e-12, 1.0)) << "straddling a power of two";
    EXPECT_TRUE(KvNearlyEqual(1.0, 1.0 - 1e-12));
    EXPECT_FALSE(KvNearlyEqual(1.0 - 1e-9, 1.0));
    EXPECT_TRUE(KvNearlyEqual(0.0, 0.0));
    EXPECT_FALSE(KvNearlyEqual(0.0, 1e-300));
    EXPECT_TRUE(KvNearlyEqual(-3.0, -3.0));
    EXPECT_FALSE(KvNearlyEqual(3.0, -3.0));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(KvNearlyEqual(nan, nan));
    EXPECT_FALSE(KvNearlyEqual(inf, inf));
    EXPECT_FALSE(KvNearlyEqual(1.0, inf));
}

TEST(Heuristic, AFreshHeuristicIsConsistentAndNamesItsType) {
    CHeuristic h;
    EXPECT_EQ(h.Validate(0), CHeuristic::kValid);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
    EXPECT_EQ(h.GetTypeCode(), 0x4E6F6E65u);
    EXPECT_EQ(h.GetFlags(), 0u);
    EXPECT_EQ(CHLockCrop().GetTypeCode(), 0x43726F70u);
    EXPECT_EQ(CHLockSize().GetTypeCode(), 0x53697A65u);
    EXPECT_EQ(CHDevSetup(h).GetTypeCode(), 0x44536574u);
}

TEST(Heuristic, ValidateAllowsTheEpsilonOnTheOutsideOfEachEdgeOnly) {
    CHeuristic h;
    h.SetCrop(DblRect(0, 0, 1 + 2e-10, 1), 0);
    EXPECT_EQ(h.Validate(0), CHeuristic::kCropRightOutside);
    h.SetCrop(DblRect(0, 0, 1 + 5e-11, 1), 0);
    EXPECT_EQ(h.Validate(0), CHeuristic::kValid);
    h.SetCrop(DblRect(-5e-11, 0, 1, 1), 0);
    EXPECT_NE(h.Validate(0), CHeuristic::kCropLeftOutside);
    h.SetCrop(DblRect(-2e-10, 0, 1, 1), 0);
    EXPECT_EQ(h.Validate(0), CHeuristic::kCropLeftOutside);

    CHeuristic bounded;
    bounded.SetBounds(DblRect(0, 0, 1, 0.5));
    bounded.SetCrop(DblRect(0, 0, 1, 1), 0);
    EXPECT_EQ(bounded.Validate(0), CHeuristic::kValid) << "against the image";
    EXPECT_EQ(bounded.Validate(1), CHeuristic::kCropBottomOutside) << "against the bounds";
}

TEST(Heuristic, ValidateNamesTheFirstBrokenRelation) {
    struct Case {
        const char* what;
        void (*breakIt)(CHeuristic&);
        int code;
    };
    const Case cases[] = {
        {"scale below its minimum", [](CHeuristic& h) { h.SetScale(UnitValue::PerInch(0.5)); },
         CHeuristic::kScaleOutsideLimits},
        {"output wider than the image", [](CHeuristic& h) { h.SetOutputWidth(2); },
         CHeuristic::kOutputWidthOutside},
        {"output not resolution times print", [](CHeuristic& h) { h.SetOutputWidth(0.5); },
         CHeuristic::kOutputWidthNotResolutionTimesPrint},
        {"area not width times height", [](CHeuristic& h) { h.SetOutputArea(2); },
         CHeuristic::kAreaNotWidthTimesHeight},
        {"aspect not the output's", [](CHeuristic& h) { h.SetAspect(2); },
         CHeuristic::kAspectNotOutputAspect},
        {"ratio not scale over resolution", [](CHeuristic& h) { h.SetScaleRatio(3); },
         CHeuristic::kRatioNotScaleOverResolution},
        {"output not the scaled crop", [](CHeuristic& h) { h.SetScaleMax(UnitValue::PerInch(2)); },
         CHeuristic::kOutputWidthNotScaledCrop},
        {"not a number", [](CHeuristic& h) { h.SetPrintHeight(UnitValue::Inches(std::nan(""))); },
         CHeuristic::kOutputHeightNotResolutionTimesPrint},
    };
    for (const Case& c : cases) {
        CHeuristic h;
        c.breakIt(h);
        EXPECT_EQ(h.Validate(1), c.code) << c.what;
    }
}

TEST(Heuristic, QuarterTurnsAndFlipsReturnToTheStartAndSwapTheSizes) {
    CHLockCrop h = Heuristic<CHLockCrop>();
    h.SetCrop(DblRect(100, 200, 1100, 700), 0);
    h.SetOutputWidth(800);
    const Bytes start = HeuristicRecord(h);
    const DblRect crop = h.GetCrop();

    h.RotateClockwise();
    EXPECT_EQ(h.GetImageWidth(), 3000);
    EXPECT_EQ(h.GetImageHeight(), 4000);
    EXPECT_EQ(h.GetCrop(), DblRect(3000 - 700, 100, 3000 - 200, 1100)) << "(x, y) goes to (H - y, x)";
    EXPECT_EQ(h.GetOutputHeight(), 800);
    EXPECT_DOUBLE_EQ(h.GetAspect(), 0.5);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
    h.RotateClockwise();
    h.RotateCounterClockwise();
    h.RotateCounterClockwise();
    EXPECT_EQ(h.GetCrop(), crop);
    EXPECT_EQ(kvtest::HexText(HeuristicRecord(h)), kvtest::HexText(start));

    h.RotateCounterClockwise();
    EXPECT_EQ(h.GetCrop(), DblRect(200, 4000 - 1100, 700, 4000 - 100)) << "(x, y) goes to (y, W - x)";
    h.RotateClockwise();
    h.FlipHorizontal();
    EXPECT_EQ(h.GetCrop(), DblRect(2900, 200, 3900, 700));
    h.FlipVertical();
    EXPECT_EQ(h.GetCrop(), DblRect(2900, 2300, 3900, 2800));
    h.FlipHorizontal();
    h.FlipVertical();
    EXPECT_EQ(kvtest::HexText(HeuristicRecord(h)), kvtest::HexText(start));
}

TEST(Heuristic, ChangeBitsReportWhatAnOperationChanged) {
    CHeuristic h;
    h.SetCrop(DblRect(0, 0, 1, 0.5), 0);
    EXPECT_EQ(h.GetFlags(), CHeuristic::kChangedCropHeight);
    h.MoveCrop(0.25, 0);
    EXPECT_EQ(h.GetFlags(), CHeuristic::kChangedCropHeight | CHeuristic::kChangedCropOrigin);
    h.ClearFlags(0xFFFF);
    h.SetScaleMin(UnitValue::PerInch(2));
    EXPECT_EQ(h.GetScale().value, 2) << "a minimum above the scale raises the scale";
    EXPECT_EQ(h.GetFlags(), CHeuristic::kChangedScale);
    h.ClearFlags(0xFFFF);
    h.SetScaleMax(UnitValue::PerInch(1.5));
    EXPECT_EQ(h.GetScale(), UnitValue::PerInch(1.5)) << "a maximum below the scale lowers the scale to it";
    EXPECT_EQ(h.GetFlags(), CHeuristic::kChangedScale);

    CHLockCrop locked = Heuristic<CHLockCrop>();
    locked.ClearFlags(0xFFFF);
    locked.SetScaleMin(UnitValue::PerInch(400));
    EXPECT_TRUE(locked.GetFlags() & CHeuristic::kChangedScale);
    EXPECT_TRUE(locked.GetFlags() & CHeuristic::kChangedRatioLimits);
}

TEST(Heuristic, AssignCopiesValuesAndBitsButNotTheRatioLimitBitOrTheDragStart) {
    const DWORD limitBit = CHeuristic::kChangedRatioLimits;
    CHLockCrop source = Heuristic<CHLockCrop>();
    source.SetCrop(DblRect(0, 0, 1000, 500), 0);
    source.SetScaleMin(UnitValue::PerInch(400));
    source.BeginTrack();
    ASSERT_TRUE(source.GetFlags() & limitBit);

    CHeuristic target;
    target.Assign(source);
    EXPECT_EQ(target.GetCrop(), source.GetCrop());
    EXPECT_EQ(target.GetScaleMin(), source.GetScaleMin());
    EXPECT_EQ(target.GetOutputWidth(), source.GetOutputWidth());
    EXPECT_EQ(target.GetFlags(), source.GetFlags() & ~limitBit);
    EXPECT_EQ(target.GetTrackStart(), DblRect()) << "the drag start is not copied";

    source.Assign(CHeuristic());
    EXPECT_TRUE(source.GetFlags() & limitBit) << "the target keeps its own ratio-limit bit";
    EXPECT_EQ(source.GetCrop(), DblRect(0, 0, 1, 1));
}

TEST(Heuristic, BoundsAndImageSizePullTheCropInside) {
    CHeuristic h;
    h.SetImageSize(100, 80);
    h.SetBounds(DblRect(0, 0, 100, 80));
    h.SetCrop(DblRect(60, 50, 100, 80), 0);
    h.SetBounds(DblRect(10, 10, 70, 40));
    EXPECT_EQ(h.GetCrop(), DblRect(30, 10, 70, 40)) << "cut to the bounds' height, moved to their right end";
    h.SetImageSize(50, 30);
    EXPECT_EQ(h.GetBounds(), DblRect(0, 0, 50, 30));
    EXPECT_EQ(h.GetCrop(), DblRect(10, 0, 50, 30));
    h.SetBoundsSize(20, 10);
    EXPECT_EQ(h.GetBounds(), DblRect(0, 0, 20, 10));
    EXPECT_EQ(h.GetCrop(), h.GetBounds()) << "the crop becomes the whole new bounds";
}

// Halves every size it is asked to constrain, so that a drag's edges can be told apart.
class HalvingHeuristic : public CHeuristic {
public:
    int ConstrainCropSize(double& width, double& height, int) override {
        width /= 2;
        height /= 2;
        return 1;
    }
};

TEST(Heuristic, TrackingHoldsTheEdgeThatDidNotMoveAndKeepsTheCropInTheBounds) {
    HalvingHeuristic h;
    h.SetImageSize(100, 100);
    h.SetBounds(DblRect(0, 0, 100, 100));
    h.SetCrop(DblRect(20, 20, 60, 60), 0);
    h.BeginTrack();
    h.TrackCrop(0, 20, 60, 60, 0);
    EXPECT_EQ(h.GetCrop(), DblRect(30, 40, 60, 60)) << "right and bottom did not move: they hold";
    h.TrackCrop(20, 10, 100, 90, 0);
    EXPECT_EQ(h.GetCrop(), DblRect(20, 10, 60, 50)) << "left and top hold";
    h.TrackCrop(90, 90, 190, 190, 0);
    EXPECT_EQ(h.GetCrop(), DblRect(50, 50, 100, 100)) << "moved back into the bounds";
}

TEST(Heuristic, BaseResetScalesTheRectanglesIntoTheNewImageAndDerivesTheSizes) {
    CHeuristic h;
    h.SetImageSize(100, 50);
    h.SetBounds(DblRect(0, 0, 100, 50));
    h.SetCrop(DblRect(10, 10, 60, 30), 0);
    h.SetScale(UnitValue::PerInch(5000));
    h.SetResolution(UnitValue::PerInch(300));
    EXPECT_EQ(h.Reset(200, 200, UnitValue::PerInch(1), UnitValue::PerInch(600)), 0);
    EXPECT_EQ(h.GetCrop(), DblRect(20, 40, 120, 120));
    EXPECT_EQ(h.GetBounds(), DblRect(0, 0, 200, 200));
    EXPECT_EQ(h.GetScale(), UnitValue::PerInch(600)) << "held to the new maximum";
    EXPECT_EQ(h.GetOutputWidth(), 100);
    EXPECT_DOUBLE_EQ(h.GetPrintHeight().value, 80.0 / 300);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
}

TEST(HeuristicRecord, AShortBufferGetsWholeFieldsAndTheFullSizeIsReported) {
    CHLockCrop h = Heuristic<CHLockCrop>();
    int size = 100;
    Bytes bytes(CHeuristic::kRecordSize, 0xCC);
    EXPECT_FALSE(h.WriteState(bytes.data(), size));
    EXPECT_EQ(size, CHeuristic::kRecordSize);
    EXPECT_EQ(KvGetValue(bytes.data() + 16, 2), 3u);
    EXPECT_EQ(KvGetValue(bytes.data() + 18, 4), 76u) << "id, version, length and nine doubles end at byte 94";
    EXPECT_EQ(StoredDouble(bytes, 8), 0.0) << "the ninth double, bounds left";
    EXPECT_EQ(bytes[94], 0xCC);
    EXPECT_EQ(bytes[99], 0xCC);

    int query = 0;
    EXPECT_FALSE(h.WriteState(nullptr, query));
    EXPECT_EQ(query, CHeuristic::kRecordSize);
    size = CHeuristic::kRecordSize;
    EXPECT_TRUE(h.WriteState(bytes.data(), size));
    EXPECT_EQ(KvGetValue(bytes.data() + 18, 4), 205u);
}

TEST(HeuristicRecord, StoresEveryValueInOrderAndReadsItBackWithoutChangeBits) {
    CHLockSize h = Heuristic<CHLockSize>();
    h.SetCrop(DblRect(10, 20, 3010, 2020), 0);
    h.BeginTrack();
    h.SetOutputSizeFixed(1);
    const Bytes record = HeuristicRecord(h);
    EXPECT_EQ(kvtest::HexText(Bytes(record.begin(), record.begin() + 16)),
              "89 2A 64 F4 63 AC D1 11 A7 77 00 AA 00 B1 C1 B7");
    EXPECT_EQ(StoredDouble(record, 0), 10);
    EXPECT_EQ(StoredDouble(record, 5), 20) << "drag start top";
    EXPECT_EQ(StoredDouble(record, 12), 4000) << "image width";
    EXPECT_EQ(StoredDouble(record, 18), 600) << "scale maximum";
    EXPECT_EQ(StoredDouble(record, 24), h.GetAspect());
    EXPECT_EQ(record[222], 1);

    CHeuristic read;
    EXPECT_EQ(read.ReadState(record.data(), static_cast<int>(record.size())), 1);
    EXPECT_TRUE(read.SameRecord(h));
    EXPECT_EQ(read.GetFlags(), CHeuristic::kOutputSizeFixed) << "reading adds no change bits";
    EXPECT_EQ(read.GetPrintWidth().unit, UnitValue::kInches);
    EXPECT_EQ(read.GetResolution().unit, UnitValue::kPixelsPerInch);
}

TEST(HeuristicRecord, ReadsOlderAndUnknownVersionsByTheirOwnRules) {
    CHLockCrop h = Heuristic<CHLockCrop>();
    h.SetCrop(DblRect(10, 20, 3010, 2020), 0);
    const Bytes current = HeuristicRecord(h);
    // Versions 1 and 2: no length field, the first double at byte 18, 219 bytes.
    Bytes old(current.begin(), current.begin() + 18);
    old.insert(old.end(), current.begin() + 22, current.end());
    for (WORD version : {1, 2}) {
        old = kvtest::WithVersion(old, version);
        CHeuristic read;
        EXPECT_EQ(read.ReadState(old.data(), static_cast<int>(old.size())), 1);
        EXPECT_TRUE(read.SameRecord(h)) << "version " << version;
        CHeuristic cut;
        EXPECT_EQ(cut.ReadState(old.data(), 218), 0) << "the fixed byte missing";
        EXPECT_EQ(cut.GetCrop(), h.GetCrop());
    }
    for (WORD version : {0, 4}) {
        const Bytes other = kvtest::WithVersion(current, version);
        CHeuristic read;
        EXPECT_EQ(read.ReadState(other.data(), 22), 1) << "version " << version;
        EXPECT_TRUE(read.SameRecord(CHeuristic())) << "no fields of version " << version;
        EXPECT_EQ(read.ReadState(other.data(), 18), version == 0 ? 1 : 0);
    }
    CHeuristic foreign;
    const Bytes other = kvtest::WithId(current, KvStateIds::kSizeRes.stored);
    EXPECT_EQ(foreign.ReadState(other.data(), static_cast<int>(other.size())), 0);
    EXPECT_TRUE(foreign.SameRecord(CHeuristic()));
    EXPECT_EQ(foreign.ReadState(current.data(), 15), 0);
}

TEST(DevSetup, HoldsTheImageAtItsScaleAndRefusesEveryValueEdit) {
    CHDevSetup h(6000, 4000, UnitValue::PerInch(300), UnitValue::PerInch(1), UnitValue::PerInch(600));
    EXPECT_EQ(h.GetCrop(), DblRect(0, 0, 6000, 4000));
    EXPECT_EQ(h.GetBounds(), h.GetCrop());
    EXPECT_EQ(h.GetPrintWidth(), UnitValue::Inches(10));
    EXPECT_EQ(h.GetResolution(), UnitValue::PerInch(300));
    EXPECT_EQ(h.GetOutputWidth(), 3000);
    EXPECT_EQ(h.GetOutputArea(), 3000.0 * 2000);
    EXPECT_DOUBLE_EQ(h.GetAspect(), 1.5);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);

    h.BeginTrack();
    const Bytes before = HeuristicRecord(h);
    EXPECT_EQ(h.SetCrop(DblRect(0, 0, 10, 10), 0), 1);
    EXPECT_EQ(h.MoveCrop(5, 5), 1);
    EXPECT_EQ(h.SetPrintWidth(UnitValue::Inches(1)), 1);
    EXPECT_EQ(h.SetResolution(UnitValue::PerInch(5)), 1);
    EXPECT_EQ(h.SetOutputWidth(5), 1);
    EXPECT_EQ(h.TrackCrop(0, 0, 100, 100, 0), 1) << "ends in the refused SetCrop";
    h.SetBoundsSize(6000, 4000);
    EXPECT_EQ(kvtest::HexText(HeuristicRecord(h)), kvtest::HexText(before));
    EXPECT_EQ(h.GetFlags(), 0u);

    h.RotateClockwise();
    EXPECT_EQ(h.GetImageWidth(), 4000) << "turns are not refused";
}

TEST(Heuristic, EditabilityQueriesCombineTheirParts) {
    const CHLockCrop crop;
    const CHLockSize size;
    const CHDevSetup setup(crop);
    for (int q = 0; q <= static_cast<int>(KvEditQuery::kFixedAspect); ++q) {
        const auto query = static_cast<KvEditQuery>(q);
        const int expected = query == KvEditQuery::kFixedAspect ? 0 : 1;
        EXPECT_EQ(CHeuristic().IsEditable(query), expected) << q;
        EXPECT_EQ(crop.IsEditable(query), expected) << q;
        EXPECT_EQ(size.IsEditable(query), expected) << q;
        EXPECT_EQ(setup.IsEditable(query), 0) << q;
    }
}

} // namespace
