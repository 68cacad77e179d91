#include "platform/veruzoraz/VeruzorazTest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A mosaic whose every 2 x 2 cell holds the same four samples (top-left, top-right, bottom-left,
// bottom-right).
std::vector<std::uint16_t> Cells(int width, int height, std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                 std::uint16_t d) {
    std::vector<std::uint16_t> mosaic(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mosaic[y * width + x] = (y % 2 == 0) ? (x % 2 == 0 ? a : b) : (x % 2 == 0 ? c : d);
    return mosaic;
}

struct Converted {
    std::int32_t result;
    std::vector<std::uint16_t> output;
};

Converted Convert(const std::vector<std::uint16_t>& mosaic, int width, int height, std::int32_t pattern,
            std::int32_t red, std::int32_t blue, std::int32_t exposure, std::int32_t tone, std::uint8_t unit,
            VerProgressFunction progress = nullptr, void* context = nullptr) {
    const int outHeight = height - (pattern == VER_PATTERN_BGGR ? 6 : 4);
    Converted run;
    run.output.assign(static_cast<std::size_t>(3) * (width - 16) * std::max(outHeight, 1), 0);
    std::vector<std::uint8_t> data(VER_PRIVATE_BYTES, 0);
    data[0] = unit;
    run.result = sig_proc_ex(mosaic.data(), height - 1, width, red, blue, 0, 0, exposure, tone, data.data(),
                             progress, context, run.output.data(), pattern);
    return run;
}

class SigProc : public ::testing::Test {
protected:
    void SetUp() override { VerTestReset(); }
};

TEST_F(SigProc, DevelopsEachPatternWithGainsAndFactors) {
    // Hand-worked: BGGR cell B=400 G=1000/1200 R=800; YCGM cell Y=R+G, C=G+B, M=R+B for R=600 G=900 B=300.
    struct Case {
        std::int32_t pattern;
        std::uint16_t a, b, c, d;
        std::int32_t red, blue, exposure, tone;
        std::uint8_t unit;
        std::uint16_t r, g, bl;
    } cases[] = {
        {VER_PATTERN_BGGR, 400, 1000, 1200, 800, 256, 256, 256, 256, 0, 800, 1100, 400},
        {VER_PATTERN_BGGR, 400, 1000, 1200, 800, 512, 128, 256, 256, 0, 1600, 1100, 200},
        {VER_PATTERN_BGGR, 400, 1000, 1200, 800, 256, 256, 256, 256, 1, 1600, 1100, 800},
        {VER_PATTERN_BGGR, 400, 1000, 1200, 800, 256, 256, 512, 192, 0, 1200, 1650, 600},
        {VER_PATTERN_BGGR, 4000, 9000, 1200, 3000, 512, 256, 256, 256, 0, 4095, 2647, 4000},
        {VER_PATTERN_YCGM, 1500, 1200, 900, 900, 256, 256, 256, 256, 0, 600, 900, 300},
    };
    for (const Case& c : cases) {
        const auto mosaic = Cells(40, 30, c.a, c.b, c.c, c.d);
        const Converted run = Convert(mosaic, 40, 30, c.pattern, c.red, c.blue, c.exposure, c.tone, c.unit);
        ASSERT_EQ(run.result, VER_OK);
        for (std::size_t i = 0; i < run.output.size(); i += 3) {
            ASSERT_EQ(run.output[i], c.r) << "pattern " << c.pattern << " at " << i / 3;
            ASSERT_EQ(run.output[i + 1], c.g);
            ASSERT_EQ(run.output[i + 2], c.bl);
        }
    }
}

TEST_F(SigProc, TakesTheCellOfEachOutputPixelsMosaicPosition) {
    // A mosaic with a distinct red sample per cell: output (x, y) must show the cell holding (x + 8, y + 3).
    const int width = 40, height = 30;
    std::vector<std::uint16_t> mosaic(width * height, 0);
    for (int y = 1; y < height; y += 2)
        for (int x = 1; x < width; x += 2)
            mosaic[y * width + x] = static_cast<std::uint16_t>(x * 50 + y);
    const Converted run = Convert(mosaic, width, height, VER_PATTERN_BGGR, 256, 256, 256, 256, 0);
    ASSERT_EQ(run.result, VER_OK);
    for (int y = 0; y < height - 6; ++y)
        for (int x = 0; x < width - 16; ++x) {
            const int mx = ((x + 8) & ~1) + 1, my = ((y + 3) & ~1) + 1;
            ASSERT_EQ(run.output[3 * (y * (width - 16) + x)], mx * 50 + my) << x << "," << y;
        }
}

struct Progress {
    std::vector<std::pair<std::int32_t, std::int32_t>> calls;
    std::int32_t stopAt = -1;
};

std::int32_t Record(void* context, std::int32_t current, std::int32_t total) {
    auto* p = static_cast<Progress*>(context);
    p->calls.emplace_back(current, total);
    return current == p->stopAt ? 0 : 1;
}

TEST_F(SigProc, ReportsProgressAndStopsWhenAsked) {
    const auto mosaic = Cells(40, 46, 1, 2, 3, 4);
    Progress progress;
    ASSERT_EQ(Convert(mosaic, 40, 46, VER_PATTERN_BGGR, 256, 256, 256, 256, 0, Record, &progress).result, VER_OK);
    const std::vector<std::pair<std::int32_t, std::int32_t>> expected = {{0, 40}, {16, 40}, {32, 40}, {40, 40}};
    EXPECT_EQ(progress.calls, expected);
    ASSERT_EQ(VerTestCallLog().size(), 1u);
    EXPECT_EQ(VerTestCallLog()[0].progress, expected);

    Progress stop;
    stop.stopAt = 16;
    EXPECT_EQ(Convert(mosaic, 40, 46, VER_PATTERN_BGGR, 256, 256, 256, 256, 0, Record, &stop).result,
              VER_CANCELLED);
    EXPECT_EQ(stop.calls.size(), 2u);
}

TEST_F(SigProc, RefusesSmallMosaicsAndAnswersAForcedResult) {
    const auto mosaic = Cells(16, 30, 1, 2, 3, 4);
    EXPECT_EQ(Convert(mosaic, 16, 30, VER_PATTERN_BGGR, 256, 256, 256, 256, 0).result, VER_BAD_SIZE);
    const auto low = Cells(40, 6, 1, 2, 3, 4);
    EXPECT_EQ(Convert(low, 40, 6, VER_PATTERN_BGGR, 256, 256, 256, 256, 0).result, VER_BAD_SIZE);
    const auto fine = Cells(40, 30, 1, 2, 3, 4);
    EXPECT_EQ(Convert(fine, 40, 30, 7, 256, 256, 256, 256, 0).result, VER_BAD_SIZE) << "unknown pattern";
    VerTestForceResult(7);
    const Converted forced = Convert(fine, 40, 30, VER_PATTERN_BGGR, 300, 200, 256, 256, 0);
    EXPECT_EQ(forced.result, 7);
    EXPECT_EQ(forced.output[0], 0) << "a forced call converts nothing";
    EXPECT_EQ(VerTestCallLog().back().redGain, 300);
    EXPECT_GE(VerTestLoadCount(), 1u);
}

} // namespace
