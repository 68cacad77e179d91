#include "SizeHeuristicSetup.h"
#include "SizeTestPrinters.h"

#include "rawlib/settings/CHDevSetup.h"
#include "rawlib/settings/CHLockCrop.h"
#include "rawlib/settings/CHLockSize.h"

#include <gtest/gtest.h>

namespace {

using kvtest::Heuristic;

TEST(LockCrop, PrintSizeScaleAndResolutionEditsMoveTheScaleAndLeaveTheCrop) {
    CHLockCrop h = Heuristic<CHLockCrop>();
    h.SetCrop(DblRect(0, 0, 1000, 500), 0);
    EXPECT_EQ(h.GetOutputWidth(), 500);
    EXPECT_EQ(h.SetPrintWidth(UnitValue::Inches(2)), 0);
    EXPECT_EQ(h.GetCrop(), DblRect(0, 0, 1000, 500));
    EXPECT_EQ(h.GetPrintHeight(), UnitValue::Inches(1)) << "the print follows the crop's aspect";
    EXPECT_DOUBLE_EQ(h.GetScale().value, 360) << "2 inches at the locked 300 per inch";
    EXPECT_DOUBLE_EQ(h.GetOutputWidth(), 600);
    EXPECT_DOUBLE_EQ(h.GetResolution().value, 300);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);

    EXPECT_EQ(h.SetResolution(UnitValue::PerInch(150)), 0);
    EXPECT_DOUBLE_EQ(h.GetScale().value, 180);
    EXPECT_DOUBLE_EQ(h.GetOutputWidth(), 300);
    EXPECT_EQ(h.GetLockedResolution(), UnitValue::PerInch(150));
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);

    h.SetOutputSizeFixed(1);
    EXPECT_EQ(h.SetResolution(UnitValue::PerInch(100)), 0);
    EXPECT_DOUBLE_EQ(h.GetOutputWidth(), 300) << "a fixed output keeps its size";
    EXPECT_DOUBLE_EQ(h.GetPrintWidth().value, 3);
    EXPECT_EQ(h.GetCrop(), DblRect(0, 0, 1000, 500));
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
}

TEST(LockCrop, APrintWidthBelowTheSmallestRatioIsStoredAsItInInches) {
    CHLockCrop h = Heuristic<CHLockCrop>();
    EXPECT_EQ(h.SetPrintWidth(UnitValue(1e-12, 3)), 1);
    EXPECT_EQ(h.GetPrintWidth(), UnitValue(1e-10, UnitValue::kInches));
    EXPECT_EQ(h.SetPrintWidth(UnitValue(5, 3)), 0);
    EXPECT_EQ(h.GetPrintWidth(), UnitValue(5, 3)) << "a value taken as given keeps its unit";
}

TEST(LockCrop, AnOutputWiderThanTheCropIsHeldToTheCropWidthAndFixesTheOutput) {
    CHLockCrop h = Heuristic<CHLockCrop>();
    EXPECT_EQ(h.SetOutputWidth(5000), 1);
    EXPECT_EQ(h.GetOutputWidth(), 4000);
    EXPECT_TRUE(h.GetFlags() & CHeuristic::kOutputSizeFixed);
    EXPECT_EQ(h.GetCrop(), DblRect(0, 0, 4000, 3000));
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
    h.SetPrintWidth(UnitValue::Inches(3));
    EXPECT_FALSE(h.GetFlags() & CHeuristic::kOutputSizeFixed) << "a print edit frees the output size";
    EXPECT_EQ(h.SetOutputHeight(0.5), 1);
    EXPECT_DOUBLE_EQ(h.GetOutputHeight(), 3000.0 / 600) << "at least the crop at the smallest scale";
}

TEST(LockCrop, SettingACropOutsideTheBoundsCutsItAndSays) {
    CHLockCrop h = Heuristic<CHLockCrop>();
    EXPECT_EQ(h.SetCrop(DblRect(-100, 500, 900, 1500), 0), 1);
    EXPECT_EQ(h.GetCrop(), DblRect(0, 500, 900, 1500));
    EXPECT_DOUBLE_EQ(h.GetAspect(), 0.9);
    EXPECT_EQ(h.SetCrop(DblRect(100, 500, 900, 1500), 0), 0);
    EXPECT_EQ(h.MoveCrop(3500, -10), 1);
    EXPECT_EQ(h.GetCrop(), DblRect(3200, 0, 4000, 1000));
    EXPECT_EQ(h.MoveCrop(10, 20), 0);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
}

TEST(LockSize, ACropEditKeepsTheOutputAndTheAspectAndMovesTheScale) {
    CHLockSize h = Heuristic<CHLockSize>();
    EXPECT_EQ(h.SetCropSize(100, 100, 0), 1) << "a crop smaller than the output is raised to it";
    EXPECT_DOUBLE_EQ(h.GetCrop().Width(), 2000);
    EXPECT_DOUBLE_EQ(h.GetCrop().Height(), 1500);
    EXPECT_DOUBLE_EQ(h.GetScale().value, 600);
    EXPECT_EQ(h.GetOutputWidth(), 2000);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
}

TEST(LockSize, ACropTallerThanTheRoomBelowItMovesUpToTheBoundsBottom) {
    CHLockSize h = Heuristic<CHLockSize>();
    h.SetCrop(DblRect(100, 1000, 2100, 2500), 0);
    EXPECT_EQ(h.GetCrop(), DblRect(100, 1000, 2100, 2500));
    EXPECT_EQ(h.SetCropSize(3000, 2250, 0), 0);
    EXPECT_EQ(h.GetCrop(), DblRect(100, 750, 3100, 3000));
    EXPECT_DOUBLE_EQ(h.GetScale().value, 400);
    EXPECT_EQ(h.GetOutputHeight(), 1500);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
}

TEST(LockSize, DraggingWithTheWidthLeadingKeepsTheVerticalCentreOfTheDragStart) {
    CHLockSize h = Heuristic<CHLockSize>();
    h.SetCrop(DblRect(100, 1000, 2100, 2500), 0);
    h.BeginTrack();
    h.TrackCrop(100, 1000, 2500, 2500, CHLockSize::kHintWidthLeads);
    EXPECT_EQ(h.GetCrop(), DblRect(100, 850, 2500, 2650));
    h.TrackCrop(DblRect(100, 1000, 2900, 2500), CHLockSize::kHintWidthLeads | CHLockSize::kHintRightEdge);
    EXPECT_EQ(h.GetCrop(), DblRect(100, 700, 2900, 2800)) << "still about the start's centre";
    EXPECT_DOUBLE_EQ((h.GetCrop().top + h.GetCrop().bottom) / 2, 1750);
    EXPECT_EQ(h.GetOutputWidth(), 2000);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);

    h.SetCrop(DblRect(1000, 750, 3000, 2250), 0);
    h.BeginTrack();
    h.TrackCrop(DblRect(1000, 750, 3000, 2550), CHLockSize::kHintHeightLeads);
    EXPECT_EQ(h.GetCrop(), DblRect(800, 750, 3200, 2550)) << "height leading keeps the horizontal centre";
    h.TrackCrop(DblRect(1000, 750, 3000, 3500), CHLockSize::kHintHeightLeads);
    EXPECT_DOUBLE_EQ((h.GetCrop().left + h.GetCrop().right) / 2, 2000);
    EXPECT_EQ(h.GetCrop().bottom, 3000) << "held inside the bounds";
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
}

TEST(LockSize, ResetToAnImageSmallerThanTheOutputLowersTheOutputAndSaysSo) {
    CHLockSize h = Heuristic<CHLockSize>();
    EXPECT_EQ(h.Reset(1000, 1000, UnitValue::PerInch(1), UnitValue::PerInch(600)), 1);
    EXPECT_DOUBLE_EQ(h.GetOutputWidth(), 1000);
    EXPECT_DOUBLE_EQ(h.GetOutputHeight(), 750);
    EXPECT_DOUBLE_EQ(h.GetResolution().value, 150);
    EXPECT_EQ(h.GetCrop(), DblRect(0, 0, 1000, 750));
    EXPECT_EQ(h.GetTrackStart(), h.GetCrop());
    EXPECT_EQ(h.GetBounds(), DblRect(0, 0, 1000, 1000));
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
    EXPECT_EQ(h.Reset(1000, 1000, UnitValue::PerInch(1), UnitValue::PerInch(600)), 1) << "always 1";
}

TEST(LockSize, PrintWidthBeyondTheImageLowersTheResolutionButKeepsTheLockedOne) {
    CHLockSize h = Heuristic<CHLockSize>();
    EXPECT_EQ(h.SetPrintWidth(UnitValue::Inches(20)), 0);
    EXPECT_DOUBLE_EQ(h.GetOutputWidth(), 4000) << "no more pixels than the bounds hold";
    EXPECT_DOUBLE_EQ(h.GetResolution().value, 200);
    EXPECT_EQ(h.GetLockedResolution(), UnitValue::PerInch(300));
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
    EXPECT_EQ(h.SetPrintWidth(UnitValue::Inches(5)), 0);
    EXPECT_DOUBLE_EQ(h.GetResolution().value, 300) << "a smaller print gets the locked resolution back";
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
}

// With the locked resolution above the current one (a print too large for the image), the output and
// ratio edits derive the print size and the scale from the current resolution, so the state stays
// consistent and the crop inside the bounds.
TEST(LockSize, OutputAndRatioEditsStayConsistentWhileTheLockedResolutionIsOutOfReach) {
    CHLockSize h = Heuristic<CHLockSize>();
    h.SetPrintWidth(UnitValue::Inches(20));
    ASSERT_NE(h.GetLockedResolution().value, h.GetResolution().value);
    EXPECT_EQ(h.SetOutputWidth(3000), 0);
    EXPECT_DOUBLE_EQ(h.GetPrintWidth().value, 15);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);
    h.SetOutputHeight(500);
    EXPECT_EQ(h.Validate(1), CHeuristic::kValid);

    for (double ratio : {h.GetRatioMin(), h.GetRatioMax(), 1.0}) {
        h.SetScaleRatio(ratio);
        EXPECT_EQ(h.Validate(1), CHeuristic::kValid) << "ratio " << ratio;
        EXPECT_GE(h.GetCrop().left, 0);
        EXPECT_LE(h.GetCrop().right, 4000);
    }
}

TEST(LockSize, RatioLimitsKeepTheCropWithinTheBounds) {
    const CHLockSize h = Heuristic<CHLockSize>();
    EXPECT_DOUBLE_EQ(h.GetRatioMin(), 1.0) << "600 x 20/3 inches over 4000";
    EXPECT_DOUBLE_EQ(h.GetRatioMax(), 2.0);
    const CHLockCrop c = Heuristic<CHLockCrop>();
    EXPECT_DOUBLE_EQ(c.GetRatioMin(), 1.0 / 300);
    EXPECT_DOUBLE_EQ(c.GetRatioMax(), 2.0);
}

TEST(LockConversion, ReplacesTheHeldHeuristicByALockedCopy) {
    EXPECT_EQ(ToLockCrop(nullptr), 1);
    EXPECT_EQ(ToLockSize(nullptr), 1);

    std::unique_ptr<CHeuristic> slot;
    EXPECT_EQ(ToLockSize(&slot), 0);
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->GetTypeCode(), CHeuristic::kTypeLockSize);
    EXPECT_TRUE(slot->SameRecord(CHeuristic()));

    slot = std::make_unique<CHLockCrop>(Heuristic<CHLockCrop>());
    slot->SetResolution(UnitValue::PerInch(200));
    slot->SetCrop(DblRect(10, 10, 1010, 510), 0);
    const CHeuristic* before = slot.get();
    const CHLockCrop expected(*slot);
    EXPECT_EQ(ToLockSize(&slot), 0);
    EXPECT_NE(slot.get(), before);
    EXPECT_EQ(slot->GetTypeCode(), CHeuristic::kTypeLockSize);
    EXPECT_TRUE(slot->SameRecord(expected));
    EXPECT_EQ(static_cast<CHLockSize&>(*slot).GetLockedResolution(), UnitValue::PerInch(200));
    EXPECT_EQ(ToLockCrop(&slot), 0);
    EXPECT_TRUE(slot->SameRecord(expected));
}

} // namespace
