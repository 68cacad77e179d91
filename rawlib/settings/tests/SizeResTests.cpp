#include "RecordConformance.h"
#include "SizeTestPrinters.h"

#include "rawlib/settings/CHDevSetup.h"
#include "rawlib/settings/CHLockSize.h"
#include "rawlib/settings/CKvSizeRes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

using kvtest::Bytes;

constexpr DWORD kCrop = CHeuristic::kTypeLockCrop;
constexpr DWORD kSize = CHeuristic::kTypeLockSize;

Bytes Record(const CKvSizeRes& s) {
    CKvSizeRes copy(s);
    return kvtest::WriteRecord(copy);
}

// Edges in the order left, top, right, bottom.
struct Edges {
    LONG left, top, right, bottom;
    bool operator==(const Edges&) const = default;
};

void PrintTo(const Edges& e, std::ostream* os) {
    *os << "(" << e.left << ", " << e.top << ", " << e.right << ", " << e.bottom << ")";
}

Edges Of(const CKvRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

Edges CropRect(const CKvSizeRes& s, int oriented) {
    CKvRect r(0, 0, 0, 0);
    s.GetCropRect(r, oriented);
    return Of(r);
}

Edges BoundsRect(const CKvSizeRes& s, int oriented) {
    CKvRect r(0, 0, 0, 0);
    s.GetBoundsRect(r, oriented);
    return Of(r);
}

Edges ImageRect(const CKvSizeRes& s, int oriented) {
    CKvRect r(0, 0, 0, 0);
    s.GetImageRectInt(r, oriented);
    return Of(r);
}

// A size state whose heuristic is a plain CHeuristic with the given output size and crop: values no edit
// would produce, for the integer getters.
CKvSizeRes WithRawHeuristic(double outputWidth, const DblRect& crop) {
    CKvSizeRes s;
    auto h = std::make_unique<CHeuristic>();
    h->SetImageSize(100, 80);
    h->SetOutputWidth(outputWidth);
    h->SetCrop(crop, 0);
    *s.GetHeuristicSlot() = std::move(h);
    return s;
}

const LONG kStates[8][2] = {{0, 0}, {0, 90}, {0, 180}, {0, 270}, {1, 0}, {1, 90}, {1, 180}, {1, 270}};

CKvSizeRes CroppedImage() {
    const CKvRect crop(100, 300, 700, 1300); // top, left, bottom, right
    return CKvSizeRes(1600, 900, &crop, UnitValue::PerInch(300));
}

TEST(SizeRes, AnImageShownWholeIsNeutralWithOneOutputPixelPerImagePixel) {
    const CKvSizeRes s(3000, 2000, nullptr, UnitValue::PerInch(300));
    EXPECT_EQ(s.GetOutputWidth(), 3000);
    EXPECT_EQ(s.GetOutputHeight(), 2000);
    EXPECT_EQ(s.GetScaleFactor(), 1.0);
    EXPECT_TRUE(s.IsNeutral());
    EXPECT_EQ(s.GetHeuristicType(), kCrop);
    EXPECT_EQ(s.GetResolution(), UnitValue::PerInch(300));
    EXPECT_DOUBLE_EQ(s.GetPrintWidth().value, 10);
    EXPECT_EQ(CropRect(s, 0), (Edges{0, 0, 6000, 4000})) << "in twice the image's pixels";
    EXPECT_EQ(Of(s.GetScaledCropRect(0)), (Edges{0, 0, 3000, 2000}));
    EXPECT_EQ(s.GetHeuristic().Validate(1), CHeuristic::kValid);
    EXPECT_EQ(s.GetLastError(), 0);
    EXPECT_EQ(s.GetRecordVersion(), 0);
    EXPECT_EQ(s.GetSpareValue(), 5.0);
}

TEST(SizeRes, ACroppedImageOutputsTheCropAndConvertsTheResolutionUnit) {
    const CKvSizeRes s = CroppedImage();
    EXPECT_EQ(s.GetOutputWidth(), 1000);
    EXPECT_EQ(s.GetOutputHeight(), 600);
    EXPECT_EQ(CropRect(s, 0), (Edges{600, 200, 2600, 1400}));
    EXPECT_EQ(BoundsRect(s, 0), (Edges{0, 0, 3200, 1800}));
    EXPECT_FALSE(s.IsNeutral());
    EXPECT_EQ(Of(s.GetScaledCropRect(0)), (Edges{300, 100, 1300, 700}));

    const CKvSizeRes perCentimetre(100, 100, nullptr, UnitValue(100, UnitValue::kPixelsPerCentimetre));
    EXPECT_EQ(perCentimetre.GetResolution(), UnitValue::PerInch(254));
    const CKvSizeRes unusable(100, 100, nullptr, UnitValue::PerInch(std::nan("")));
    EXPECT_EQ(unusable.GetResolution(), UnitValue::PerInch(300)) << "no usable resolution: the default";
}

TEST(SizeRes, SizesAndCropsFromOutsideAreDoubledWithoutWrapping) {
    const CKvRect before(-10, -20, 50, 60);
    const CKvSizeRes negative(100, 100, &before, UnitValue::PerInch(300));
    EXPECT_EQ(CropRect(negative, 0), (Edges{0, 0, 120, 100})) << "kept in the image, not taken as 4e9";
    const CKvSizeRes empty(0, -5, nullptr, UnitValue::PerInch(300));
    EXPECT_EQ(ImageRect(empty, 0), (Edges{0, 0, 2, 2})) << "an image has at least one pixel";
    const CKvSizeRes wide(INT_MAX, 10, nullptr, UnitValue::PerInch(300));
    EXPECT_EQ(wide.GetOutputWidth(), INT_MAX);
    EXPECT_EQ(wide.GetImageWidth(), 2.0 * INT_MAX);
    EXPECT_EQ(ImageRect(wide, 0).right, INT_MAX) << "integer rectangles saturate";
}

TEST(SizeRes, SetOrientationBringsTheAngleIntoOneTurnAndRefusesOtherAngles) {
    CKvSizeRes s = CroppedImage();
    CKvSizeRes turned(s);
    turned.RotateClockwise();
    EXPECT_TRUE(s.SetOrientation(0, 450, 1));
    EXPECT_EQ(s.GetAngle(), 90);
    EXPECT_EQ(Record(s), Record(turned)) << "450 degrees is one clockwise turn";

    EXPECT_TRUE(s.SetOrientation(1, 0, 1));
    EXPECT_TRUE(s.IsMirrored());
    EXPECT_EQ(s.GetAngle(), 0);
    turned.FlipHorizontal();
    turned.RotateClockwise();
    EXPECT_EQ(Record(s), Record(turned))
        << "from (0, 90) to (1, 0): a horizontal flip, then a clockwise turn";

    const Bytes before = Record(s);
    EXPECT_FALSE(s.SetOrientation(0, 45, 1));
    EXPECT_FALSE(s.SetOrientation(0, 45, 0));
    EXPECT_EQ(Record(s), before);
    EXPECT_TRUE(s.SetOrientation(5, -90, 0));
    EXPECT_TRUE(s.IsMirrored());
    EXPECT_EQ(s.GetAngle(), 270);
    EXPECT_TRUE(s.SetOrientation(0, INT_MIN + 128, 0)) << "-2147483520 is a whole number of turns";
    EXPECT_EQ(s.GetAngle(), 0);
}

TEST(SizeRes, EveryOrientationIsReachedTheSameWayFromAnyOtherAndKeepsTheStoredCrop) {
    const CKvSizeRes start = CroppedImage();
    const Edges storedCrop = CropRect(start, 0);
    const DblRect stored = start.GetCrop();
    const DblRect storedImage = start.GetImageRect();
    for (const auto& to : kStates) {
        CKvSizeRes direct(start);
        direct.SetOrientation(to[0], to[1], 1);
        EXPECT_EQ(direct.IsMirrored(), to[0] != 0);
        EXPECT_EQ(direct.GetAngle(), to[1]);
        EXPECT_EQ(CropRect(direct, 0), storedCrop) << to[0] << "/" << to[1];
        EXPECT_EQ(BoundsRect(direct, 0), (Edges{0, 0, 3200, 1800}));
        EXPECT_EQ(ImageRect(direct, 0), (Edges{0, 0, 3200, 1800}));
        EXPECT_EQ(direct.GetHeuristic().Validate(1), CHeuristic::kValid);
        DblRect oriented = stored;
        direct.OrientRect(oriented, storedImage);
        EXPECT_EQ(oriented, direct.GetCrop()) << "orienting the stored crop gives the heuristic's crop";
        for (const auto& from : kStates) {
            CKvSizeRes viaOther(start);
            viaOther.SetOrientation(from[0], from[1], 1);
            viaOther.SetOrientation(to[0], to[1], 1);
            EXPECT_EQ(Record(viaOther), Record(direct))
                << from[0] << "/" << from[1] << " to " << to[0] << "/" << to[1];
        }
        direct.ResetOrientation();
        EXPECT_EQ(Record(direct), Record(start)) << "and back";
    }
}

TEST(SizeRes, UnorientingUndoesOrientingInEveryOrientation) {
    for (const auto& state : kStates) {
        CKvSizeRes s = CroppedImage();
        s.SetOrientation(state[0], state[1], 1);
        const DblRect storedImage(0, 0, 3200, 1800);
        DblRect orientedImage = storedImage;
        s.OrientRect(orientedImage, storedImage);
        EXPECT_EQ(orientedImage, s.GetImageRect());
        DblRect r(10, 20, 300, 400);
        s.OrientRect(r, storedImage);
        s.UnorientRect(r, orientedImage);
        EXPECT_EQ(r, DblRect(10, 20, 300, 400)) << state[0] << "/" << state[1];
        DblPoint p{7, 1000};
        s.OrientPoint(p, storedImage);
        DblRect asRect(7, 1000, 7, 1000);
        s.OrientRect(asRect, storedImage);
        EXPECT_EQ(p, (DblPoint{asRect.left, asRect.top}));
        s.UnorientPoint(p, orientedImage);
        EXPECT_EQ(p, (DblPoint{7, 1000}));
    }
}

TEST(SizeRes, IntegerRectanglesAreCutInsideTheImageAndTheCropIsAtLeastOneUnit) {
    const CKvSizeRes nearlyWhole =
        WithRawHeuristic(1, DblRect(0.9999999999999998, 2, 10.999999999999998, 12));
    EXPECT_EQ(CropRect(nearlyWhole, 1), (Edges{1, 2, 11, 12})) << "a hair below a whole unit counts as it";
    const CKvSizeRes thin = WithRawHeuristic(1, DblRect(5, 5, 5.5, 5.25));
    EXPECT_EQ(CropRect(thin, 1), (Edges{5, 5, 6, 6}));
    const CKvSizeRes outside = WithRawHeuristic(1, DblRect(-30, 70, 170, 90));
    EXPECT_EQ(CropRect(outside, 1), (Edges{0, 60, 100, 80})) << "capped at the image and moved inside";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const CKvSizeRes broken = WithRawHeuristic(1, DblRect(nan, -1e300, 1e300, nan));
    EXPECT_EQ(CropRect(broken, 1), (Edges{0, 0, 1, 1}));
    EXPECT_EQ(Of(broken.GetScaledCropRect(1)), (Edges{0, 0, 0, 0}));
}

TEST(SizeRes, OutputSizesAreWholePixelsAtLeastOneAndSaturate) {
    EXPECT_EQ(WithRawHeuristic(2.9, DblRect(0, 0, 1, 1)).GetOutputWidth(), 2);
    EXPECT_EQ(WithRawHeuristic(0.2, DblRect(0, 0, 1, 1)).GetOutputWidth(), 1);
    EXPECT_EQ(WithRawHeuristic(1e300, DblRect(0, 0, 1, 1)).GetOutputWidth(), INT_MAX);
    EXPECT_EQ(WithRawHeuristic(std::nan(""), DblRect(0, 0, 1, 1)).GetOutputWidth(), 1);
    EXPECT_EQ(WithRawHeuristic(0.2, DblRect(0, 0, 1, 1)).GetOutputArea(), 1.0) << "each side at least 1";
    LONG w = 0, h = 0;
    WithRawHeuristic(1, DblRect(0, 0, 2.9999999999999996, 1e300)).GetCropSize(&w, &h);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, INT_MAX);
    double dw = 0;
    CroppedImage().GetCropSize(&dw, nullptr);
    EXPECT_EQ(dw, 2000);
    CroppedImage().GetBoundsSize(nullptr, &dw);
    EXPECT_EQ(dw, 1800);
}

TEST(SizeRes, TheRotatedImageRectangleComesBackInTheStoredFrame) {
    CKvSizeRes s = CroppedImage();
    s.SetOrientation(0, 90, 1);
    EXPECT_EQ(ImageRect(s, 1), (Edges{0, 0, 1800, 3200}));
    EXPECT_EQ(ImageRect(s, 0), (Edges{0, 0, 3200, 1800}));
    EXPECT_EQ(CropRect(s, 1), (Edges{1800 - 1400, 600, 1800 - 200, 2600}));
    EXPECT_EQ(s.GetOutputWidth(), 600);
    EXPECT_EQ(Of(s.GetScaledCropRect(1)), (Edges{200, 300, 800, 1300}));
}

TEST(SizeRes, SwitchingTheHeuristicKeepsTheValuesAndTheFixedOutputFollowsTheType) {
    CKvSizeRes s = CroppedImage();
    const Bytes heuristic = [&] {
        Bytes b(CHeuristic::kRecordSize);
        int size = CHeuristic::kRecordSize;
        (*s.GetHeuristicSlot())->WriteState(b.data(), size);
        return b;
    }();
    EXPECT_EQ(s.SetHeuristicType(kSize), 0);
    EXPECT_EQ(s.GetHeuristicType(), kSize);
    EXPECT_TRUE(s.GetHeuristic().IsOutputSizeFixed());
    const CHeuristic* held = &s.GetHeuristic();
    EXPECT_EQ(s.SetHeuristicType(kSize), 0);
    EXPECT_EQ(&s.GetHeuristic(), held) << "the second switch changes nothing";
    EXPECT_EQ(s.SetHeuristicType(CHeuristic::kTypeNone), 1);
    EXPECT_EQ(s.GetLastError(), CKvSizeRes::kErrorUnknownHeuristic);
    EXPECT_EQ(s.GetHeuristicType(), kSize);
    EXPECT_EQ(s.SetHeuristicType(kCrop), 0);
    EXPECT_EQ(s.GetLastError(), 0);
    EXPECT_FALSE(s.GetHeuristic().IsOutputSizeFixed());
    CHeuristic same;
    same.ReadState(heuristic.data(), CHeuristic::kRecordSize);
    EXPECT_TRUE(s.GetHeuristic().SameRecord(same));

    s.SetOutputWidth(800);
    EXPECT_FALSE(s.GetHeuristic().IsOutputSizeFixed())
        << "under the locked crop the output never stays fixed";
    s.SetHeuristicType(kSize);
    s.SetPrintWidth(UnitValue::Inches(2));
    EXPECT_TRUE(s.GetHeuristic().IsOutputSizeFixed()) << "under the locked size it always does";
}

TEST(SizeRes, AResolutionCanKeepTheOutputSizeAndThePrintSizeFollows) {
    CKvSizeRes s = CroppedImage();
    s.SetResolution(UnitValue::PerInch(150), 1);
    EXPECT_EQ(s.GetOutputWidth(), 1000);
    EXPECT_DOUBLE_EQ(s.GetPrintWidth().value, 1000.0 / 150);
    EXPECT_FALSE(s.GetHeuristic().IsOutputSizeFixed()) << "the fixed bit is put back";
    s.SetResolution(UnitValue::PerInch(300), 0);
    EXPECT_EQ(s.GetOutputWidth(), 2000) << "without keeping, the output follows the print size";
    EXPECT_EQ(s.GetHeuristic().Validate(1), CHeuristic::kValid);
}

TEST(SizeRes, CopiesTakeTypeOrientationVersionFlagAndErrorButNotTheSpareValue) {
    CKvSizeRes s = CroppedImage();
    s.SetHeuristicType(kSize);
    s.SetOrientation(1, 90, 1);
    s.SetFlagByte(4);
    s.SetSpareValue(1.5);
    s.SetLastError(CKvSizeRes::kErrorUnknownHeuristic);
    const CKvSizeRes copy(s);
    EXPECT_EQ(Record(copy), Record(s));
    EXPECT_EQ(copy.GetHeuristicType(), kSize);
    EXPECT_EQ(copy.GetLastError(), CKvSizeRes::kErrorUnknownHeuristic);
    EXPECT_EQ(copy.GetSpareValue(), 5.0);
    CKvSizeRes assigned;
    assigned = s;
    EXPECT_TRUE(assigned == s);
    CKvSizeRes& alias = assigned;
    assigned = alias;
    EXPECT_TRUE(assigned == s);

    CKvSizeRes setup;
    *setup.GetHeuristicSlot() = std::make_unique<CHDevSetup>(CHeuristic());
    const CKvSizeRes setupCopy(setup);
    EXPECT_EQ(setupCopy.GetHeuristicType(), CHeuristic::kTypeDevSetup) << "a set-up copies as a set-up";
}

TEST(SizeRes, ResetToImageShowsTheWholeImageAtTheResolutionAndKeepsTheType) {
    CKvSizeRes s = CroppedImage();
    s.SetHeuristicType(kSize);
    s.SetPrintWidth(UnitValue::Inches(1));
    s.ResetToImage(UnitValue::PerInch(300));
    EXPECT_EQ(s.GetHeuristicType(), kSize);
    EXPECT_TRUE(s.GetHeuristic().IsOutputSizeFixed());
    EXPECT_EQ(s.GetOutputWidth(), 1600);
    EXPECT_EQ(s.GetOutputHeight(), 900);
    EXPECT_EQ(s.GetScaleFactor(), 1.0);
    EXPECT_TRUE(s.IsNeutral());
    EXPECT_EQ(s.GetHeuristic().Validate(1), CHeuristic::kValid);

    s.ResetImage(800, 450);
    EXPECT_EQ(s.GetImageWidth(), 1600);
    EXPECT_EQ(s.GetScaleMax(), UnitValue::PerInch(600));
    EXPECT_EQ(s.GetOutputWidth(), 1600) << "the locked size keeps an output that still fits";
    EXPECT_EQ(s.GetScaleFactor(), 2.0);
    EXPECT_EQ(s.GetHeuristic().Validate(1), CHeuristic::kValid);
    s.ResetImage(400, 225);
    EXPECT_EQ(s.GetOutputWidth(), 800) << "and lowers one that does not";
    EXPECT_EQ(s.GetOutputHeight(), 450);
    EXPECT_EQ(s.GetHeuristic().Validate(1), CHeuristic::kValid);
}

TEST(SizeRes, UnitsConvertThroughInchesAndPixelsPerInchAndUnknownCodesGiveZeroOrPassThrough) {
    const double perInch[] = {1, 2.54, 25.4, 6, 72};
    for (int unit = 1; unit <= 5; ++unit) {
        EXPECT_DOUBLE_EQ(CKvSizeRes::InchesToUnit(2, unit), 2 * perInch[unit - 1]) << unit;
        const UnitValue back = CKvSizeRes::UnitToInches(CKvSizeRes::InchesToUnit(3, unit), unit);
        EXPECT_NEAR(back.value, 3, 1e-12) << unit;
        EXPECT_EQ(back.unit, UnitValue::kInches);
    }
    EXPECT_EQ(CKvSizeRes::InchesToUnit(2, 0), 0.0);
    EXPECT_EQ(CKvSizeRes::UnitToInches(3, 9), UnitValue::Inches(3));
    EXPECT_DOUBLE_EQ(CKvSizeRes::ResolutionToUnit(254, CKvSizeRes::kPerCentimetre), 100);
    EXPECT_EQ(CKvSizeRes::ResolutionToUnit(300, 2), 0.0);
    EXPECT_DOUBLE_EQ(CKvSizeRes::ResolutionFromUnit(100, CKvSizeRes::kPerCentimetre).value, 254);
    EXPECT_EQ(CKvSizeRes::ResolutionFromUnit(300, 7), UnitValue::PerInch(300));
}

TEST(SizeRes, ClearingChangesLeavesTheRatioLimitBit) {
    CKvSizeRes s = CroppedImage();
    s.SetOutputWidth(500);
    EXPECT_TRUE(s.SizeChanged());
    s.SetScaleMin(UnitValue::PerInch(400));
    EXPECT_TRUE(s.IsRatioLimitsChanged());
    s.ClearChanges();
    EXPECT_FALSE(s.IsCropChanged() || s.IsPrintSizeChanged() || s.IsScaleChanged() ||
                 s.IsOutputSizeChanged() || s.IsOutputAreaChanged() || s.IsResolutionChanged() ||
                 s.IsScaleRatioChanged());
    EXPECT_TRUE(s.IsRatioLimitsChanged());
    EXPECT_TRUE(s.AnyChange());
}

} // namespace
