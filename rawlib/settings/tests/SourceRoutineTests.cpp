#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/settings/KvSourceImageSize.h"
#include "rawlib/settings/KvToneCurves.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

TEST(StandardToneCurve, MatchesTheHandWorkedValuesOfEachRow) {
    // (x^gamma1 * scale1 - offset1) in the middle segment: the segments then meet at both joins.
    struct Case {
        int row, index;
        WORD value;
    };
    const Case cases[] = {
        {0, 100, 4125},   {0, 2000, 36961}, {0, 2048, 37441}, {0, 3000, 44951},
        {0, 4095, 50996}, {1, 3000, 47167}, {2, 3000, 51773},
    };
    for (const Case& c : cases) {
        std::vector<WORD> table(4096);
        BuildStandardToneCurve(table.data(), 12, c.row);
        EXPECT_EQ(table[static_cast<std::size_t>(c.index)], c.value) << "row " << c.row << " at " << c.index;
    }
}

TEST(StandardToneCurve, RisesWithoutJumpsAtEveryRowAndWidth) {
    for (int bits : {12, 16})
        for (int row = 0; row < 3; ++row) {
            std::vector<WORD> table(std::size_t{1} << bits);
            BuildStandardToneCurve(table.data(), bits, row);
            EXPECT_EQ(table[0], 0);
            // Steepest at the toe: slope 3 over 56320 is under 42 per entry at 12 bits.
            const int maxStep = bits == 12 ? 42 : 3;
            for (std::size_t i = 1; i < table.size(); ++i) {
                ASSERT_GE(table[i], table[i - 1]) << "row " << row << " bits " << bits << " at " << i;
                ASSERT_LE(table[i] - table[i - 1], maxStep)
                    << "row " << row << " bits " << bits << " at " << i;
            }
        }
}

TEST(StandardToneCurve, OtherWidthsAndRowsLeaveTheTableAlone) {
    std::vector<WORD> table(1 << 14, 0x1234);
    BuildStandardToneCurve(table.data(), 14, 0);
    BuildStandardToneCurve(table.data(), 12, 3);
    BuildStandardToneCurve(table.data(), 12, -1);
    EXPECT_EQ(std::count(table.begin(), table.end(), 0x1234), static_cast<std::ptrdiff_t>(table.size()));
    BuildStandardToneCurve(nullptr, 12, 0);
}

TEST(CameraFallbackCurve, StartsAtTheToeConstantAndReachesWhiteBeforeTheEnd) {
    for (DWORD model : {257u, 514u}) {
        std::vector<WORD> table(4096);
        ASSERT_TRUE(BuildCameraFallbackCurve(table.data(), 12, model));
        const double c0 = model == 257 ? 0.003 : 0.00452;
        EXPECT_EQ(table[0], static_cast<WORD>(c0 * 56320));
        EXPECT_EQ(table[4095], 0xFFFF) << "x runs past 1, so the end is clipped";
    }
    std::vector<WORD> a(4096), b(4096);
    BuildCameraFallbackCurve(a.data(), 12, 1025);
    BuildCameraFallbackCurve(b.data(), 12, 1026);
    EXPECT_NE(a, b);
    std::vector<WORD> untouched(1 << 14, 7);
    EXPECT_FALSE(BuildCameraFallbackCurve(untouched.data(), 14, 257));
    EXPECT_EQ(untouched[0], 7);
    EXPECT_FALSE(BuildCameraFallbackCurve(nullptr, 12, 257));
}

struct SizeCase {
    const char* name;
    std::optional<LONG> width, height, colorSpace;
    WORD model;
    bool developed;
    bool ok;
    LONG expectedWidth, expectedHeight;
};

TEST(SourceImageSize, FollowsTheColourSpaceAndModelAndRefusesImpossibleSizes) {
    const SizeCase cases[] = {
        {"as stored", 4000, 3000, 0x10020401, 0, false, true, 4000, 3000},
        {"mosaic border", 4000, 3000, 0x10020401, 0, true, true, 3988, 2988},
        {"model 1026 fixed", 100, 100, 0x10020401, 1026, true, true, 3008, 2000},
        {"model 259 fixed", 1, 1, 0x10020401, 259, true, true, 4016, 2616},
        {"model 260 fixed", 1, 1, 0x10020401, 260, true, true, 2464, 1632},
        {"fixed colour space", 10, 10, 0x10020403, 0, true, true, 2560, 1920},
        {"wide border", 1000, 800, 0x10020404, 0, true, true, 984, 794},
        {"not a mosaic", 1000, 800, 0x10000001, 0, true, true, 1000, 800},
        {"border the whole picture", 12, 12, 0x10020401, 0, true, true, 0, 0},
        {"smaller than the border", 11, 500, 0x10020401, 0, true, false, 0, 0},
        {"smaller than the wide border", 500, 5, 0x10020404, 0, true, false, 0, 0},
        {"negative width", -5, 500, 0x10000001, 0, false, false, 0, 0},
        {"no height", 500, std::nullopt, 0x10000001, 0, false, false, 0, 0},
        {"no colour space", 500, 500, std::nullopt, 0, true, false, 0, 0},
    };
    for (const SizeCase& c : cases) {
        auto* control = new CPravonTagControl();
        const PravonTagControlPtr owner(control);
        CPravonTagControl& tags = *control;
        const auto put = [&](ULONG tag, const std::optional<LONG>& value) {
            if (value)
                PravonErrorPtr(tags.WriteTag(tag, 3, sizeof(LONG), &*value));
        };
        put(KvSourceTags::kWidth, c.width);
        put(KvSourceTags::kHeight, c.height);
        put(KvSourceTags::kColorSpace, c.colorSpace);
        tags.SetCameraModel(c.model);
        LONG width = -1, height = -1;
        EXPECT_EQ(GetSourceImageSize(&tags, &width, &height, c.developed), c.ok) << c.name;
        EXPECT_EQ(width, c.expectedWidth) << c.name;
        EXPECT_EQ(height, c.expectedHeight) << c.name;
    }
}

} // namespace
