#include "rawlib/pipeline/CKvTolmoScaleSplit.h"

#include <gtest/gtest.h>

namespace {

using Stage = CKvTolmoScaleSplit::Stage;

// What one stage must be: off, by size, or by the factors given.
struct Want {
    enum { Off, Size, Factors } how;
    double sx = 1.0, sy = 1.0;
};

void ExpectStage(const Stage& stage, const Want& want, const char* which) {
    SCOPED_TRACE(which);
    EXPECT_EQ(stage.enabled, want.how != Want::Off);
    if (want.how == Want::Off)
        return;
    EXPECT_EQ(stage.bySize, want.how == Want::Size);
    if (want.how == Want::Factors) {
        EXPECT_DOUBLE_EQ(stage.sx, want.sx);
        EXPECT_DOUBLE_EQ(stage.sy, want.sy);
    }
}

TEST(ScaleSplit, TheScaleIsSpreadOverTheStagesAsWorkedByHand) {
    constexpr double kAspect = 1.9939024390243902;
    struct Case {
        const char* name;
        CKvTolmoScaleSplit::Input in;
        double firstReduction;
        Want first, second, enlarge, enlargeToSize, aspect;
    };
    const Want off{Want::Off}, size{Want::Size};
    const Case cases[] = {
        // 3000 x 2000 at 0.05: the first reduction stops at 150 pixels (150 / 2000 = 0.075), the second
        // reaches the requested size.
        {"tiny thumbnail",
         {0.05, 0.05, 1.0, false, false, 3000, 2000},
         0.075,
         {Want::Factors, 0.075, 0.075},
         size,
         off,
         off,
         off},
        {"half size", {0.5, 0.5, 1.0, false, false, 3000, 2000}, 0.5, size, off, off, off, off},
        {"half size of a crop",
         {0.5, 0.5, 1.0, false, true, 3000, 2000},
         0.5,
         {Want::Factors, 0.5, 0.5},
         off,
         off,
         off,
         off},
        {"one to one", {1.0, 1.0, 1.0, false, false, 3000, 2000}, 1.0, off, off, off, off, off},
        {"enlarged by the settings", {2.0, 2.0, 1.0, false, false, 300, 200}, 1.0, off, off, size, off, off},
        {"enlarged beyond the settings",
         {3.0, 1.5, 1.0, false, false, 300, 200},
         1.0,
         off,
         off,
         {Want::Factors, 1.5, 1.5},
         size,
         off},
        {"enlarged without the settings",
         {2.0, 1.0, 1.0, false, false, 300, 200},
         1.0,
         off,
         off,
         off,
         size,
         off},
        {"tall pixels at one to one",
         {1.0, 1.0, kAspect, false, false, 300, 200},
         1.0,
         off,
         off,
         off,
         off,
         size},
        {"tall pixels with the fisheye",
         {1.0, 1.0, kAspect, true, false, 300, 200},
         1.0,
         size,
         off,
         off,
         off,
         off},
        // 1 / A is above 0.25, so the first reduction stretches the height at once.
        {"tall pixels reduced",
         {0.25, 0.25, kAspect, false, false, 3000, 2000},
         0.25,
         size,
         off,
         off,
         off,
         off},
        // 1 / A is below 0.6, so the height waits for the aspect stage.
        {"tall pixels reduced a little",
         {0.6, 0.6, kAspect, false, false, 3000, 2000},
         0.6,
         {Want::Factors, 0.6, 1.0},
         off,
         off,
         off,
         size},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKvTolmoScaleSplit split;
        ASSERT_TRUE(CKvTolmoScaleSplit::Compute(c.in, &split));
        EXPECT_DOUBLE_EQ(split.firstReduction, c.firstReduction);
        ExpectStage(split.first, c.first, "stage 13");
        ExpectStage(split.second, c.second, "stage 14");
        ExpectStage(split.enlarge, c.enlarge, "stage 15");
        ExpectStage(split.enlargeToSize, c.enlargeToSize, "stage 16");
        ExpectStage(split.aspectStage, c.aspect, "stage 17");
    }
}

// The second reduction follows the crop stage, so it reaches the requested size of a crop too.
TEST(ScaleSplit, TheSecondReductionOfACropReachesTheRequestedSize) {
    CKvTolmoScaleSplit split;
    ASSERT_TRUE(CKvTolmoScaleSplit::Compute({0.05, 0.05, 1.0, false, true, 3000, 2000}, &split));
    EXPECT_FALSE(split.first.bySize);
    EXPECT_DOUBLE_EQ(split.first.sx, 0.075);
    EXPECT_TRUE(split.second.bySize);
    EXPECT_NEAR(split.second.sx, 2.0 / 3.0, 1e-12);
}

TEST(ScaleSplit, AReductionWithoutADemosaicedSizeCannotBeSpread) {
    CKvTolmoScaleSplit split;
    EXPECT_FALSE(CKvTolmoScaleSplit::Compute({0.5, 0.5, 1.0, false, false, 0, 0}, &split));
    EXPECT_TRUE(CKvTolmoScaleSplit::Compute({1.0, 1.0, 1.0, false, false, 0, 0}, &split))
        << "nothing to reduce needs no size";
}

} // namespace
