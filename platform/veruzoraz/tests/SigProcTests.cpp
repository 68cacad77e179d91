#include "platform/veruzoraz/VeruzorazTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

namespace {

constexpr double kWhite = 4095.0;

// The 12-bit display value of linear light (1.0 white) by the sRGB transfer curve.
double Srgb12(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    const double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
    return kWhite * encoded;
}

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
    int width, height;
    // Channel c of output pixel (x, y).
    int At(int x, int y, int c) const { return output[3 * (static_cast<std::size_t>(y) * width + x) + c]; }
};

Converted Convert(const std::vector<std::uint16_t>& mosaic, int width, int height, std::int32_t pattern,
                  std::int32_t red, std::int32_t blue, std::int32_t exposure, std::int32_t tone,
                  std::uint8_t unit, VerProgressFunction progress = nullptr, void* context = nullptr) {
    Converted run;
    run.width = width - 16;
    run.height = height - (pattern == VER_PATTERN_BGGR ? 6 : 4);
    run.output.assign(static_cast<std::size_t>(3) * std::max(run.width, 1) * std::max(run.height, 1), 0);
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

// Flat patches: every output pixel is the patch's colour, white-balanced, exposed and sRGB-encoded.
TEST_F(SigProc, DevelopsAFlatPatchToItsSrgbValues) {
    struct Case {
        const char* name;
        std::int32_t pattern;
        std::uint16_t a, b, c, d; // the cell, top-left to bottom-right
        std::int32_t red, blue, exposure;
        std::uint8_t unit; // 1: gains in 128ths, else 256ths
        double r, g, bl;   // the linear light expected, 12-bit white = 4095
    } cases[] = {
        {"18 % grey", VER_PATTERN_BGGR, 737, 737, 737, 737, 256, 256, 256, 0, 737, 737, 737},
        {"a colour", VER_PATTERN_BGGR, 400, 1000, 1000, 800, 256, 256, 256, 0, 800, 1000, 400},
        {"gains in 256ths", VER_PATTERN_BGGR, 400, 1000, 1000, 800, 512, 128, 256, 0, 1600, 1000, 200},
        {"gains in 128ths", VER_PATTERN_BGGR, 400, 1000, 1000, 800, 243, 179, 256, 1, 800 * 243 / 128.0, 1000,
         400 * 179 / 128.0},
        {"a stop up", VER_PATTERN_BGGR, 400, 1000, 1000, 800, 256, 256, 512, 0, 1600, 2000, 800},
        {"half a stop down", VER_PATTERN_BGGR, 400, 1000, 1000, 800, 256, 256, 181, 0, 800 * 181 / 256.0,
         1000 * 181 / 256.0, 400 * 181 / 256.0},
        {"red past white", VER_PATTERN_BGGR, 400, 1000, 1000, 3000, 512, 256, 256, 0, 6000, 1000, 400},
        {"samples past 12 bits", VER_PATTERN_BGGR, 400, 9000, 9000, 800, 256, 256, 256, 0, 800, 4095, 400},
        {"no exposure", VER_PATTERN_BGGR, 400, 1000, 1000, 800, 256, 256, 0, 0, 0, 0, 0},
        {"a negative gain", VER_PATTERN_BGGR, 400, 1000, 1000, 800, -256, 256, 256, 0, 0, 1000, 400},
        {"the largest exposure", VER_PATTERN_BGGR, 1, 1, 1, 1, INT_MAX, INT_MAX, INT_MAX, 1, 4095, 4095,
         4095},
        // Yellow = red + green, cyan = green + blue, magenta = red + blue, for red 600, green 900, blue 300.
        {"complementary", VER_PATTERN_YCGM, 1500, 1200, 900, 900, 256, 256, 256, 0, 600, 900, 300},
        {"complementary with gains", VER_PATTERN_YCGM, 1500, 1200, 900, 900, 512, 128, 256, 0, 1200, 900,
         150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Converted run = Convert(Cells(40, 30, c.a, c.b, c.c, c.d), 40, 30, c.pattern, c.red, c.blue,
                                      c.exposure, 256, c.unit);
        ASSERT_EQ(run.result, VER_OK);
        const double expected[3] = {Srgb12(c.r / kWhite), Srgb12(c.g / kWhite), Srgb12(c.bl / kWhite)};
        for (int y = 0; y < run.height; ++y)
            for (int x = 0; x < run.width; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_NEAR(run.At(x, y, ch), expected[ch], 1.0)
                        << "channel " << ch << " at " << x << "," << y;
    }
}

// The tone factor t bends the encoded value e to t e / (1 + (t - 1) e): darker or lighter mid-tones, the
// same black and white.
TEST_F(SigProc, TheToneFactorBendsTheMidTonesOnly) {
    for (const std::int32_t tone : {192, 224, 288}) {
        for (const std::uint16_t level : {0, 82, 737, 2048, 4095}) {
            SCOPED_TRACE(testing::Message() << "tone " << tone << ", level " << level);
            const Converted run = Convert(Cells(40, 30, level, level, level, level), 40, 30, VER_PATTERN_BGGR,
                                          256, 256, 256, tone, 0);
            ASSERT_EQ(run.result, VER_OK);
            const double t = tone / 256.0, e = Srgb12(level / kWhite) / kWhite;
            const double expected = kWhite * t * e / (1 + (t - 1) * e);
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_NEAR(run.At(5, 7, ch), expected, 1.0);
            if (level == 737) {
                EXPECT_EQ(run.At(5, 7, 1) > Srgb12(level / kWhite), tone > 256) << "an 18 % grey moves";
            }
        }
    }
}

// A grey scene with a feature in it, as a camera with red and blue gains of 2 and 1.5 records it.
struct Scene {
    int width = 48, height = 36;
    std::function<double(int x, int y)> level; // linear light of the mosaic site (x, y), 1.0 white

    std::vector<std::uint16_t> Mosaic(std::int32_t pattern) const {
        std::vector<std::uint16_t> mosaic(static_cast<std::size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double v = level(x, y) * kWhite;
                const int site = (y % 2) * 2 + x % 2;
                // Blue, green, green, red; or yellow, cyan, green, magenta of a grey.
                const double bggr[4] = {v / 1.5, v, v, v / 2.0};
                const double ycgm[4] = {v / 2.0 + v, v + v / 1.5, v, v / 2.0 + v / 1.5};
                mosaic[y * width + x] = static_cast<std::uint16_t>(
                    std::lround(pattern == VER_PATTERN_BGGR ? bggr[site] : ycgm[site]));
            }
        return mosaic;
    }
};

// A one-pixel line and a sharp edge, at even and odd sites of the mosaic, come out on the output pixels
// that show them (output (x, y) shows mosaic (x + 8, y + 3), or y + 2 for the complementary pattern), in
// grey, at the scene's display values. The blue-green-green-red mosaic is interpolated with the edges it
// sees, so every pixel is right; the complementary one bilinearly, which blends the two pixels beside an
// edge: their green lies between ink and paper, and their red and blue may fringe.
TEST_F(SigProc, ALineOrAnEdgeKeepsItsPixelAndItsGrey) {
    constexpr double kPaper = 0.5, kInk = 0.05, kSlack = 4;
    struct Case {
        const char* name;
        std::int32_t pattern;
        bool vertical, line; // a line of one pixel, or an edge with ink before it
        int at;              // its mosaic column or row
        int blended;         // pixels on each side of an edge allowed to blend
    } cases[] = {
        {"vertical line at an even column", VER_PATTERN_BGGR, true, true, 20, 0},
        {"vertical line at an odd column", VER_PATTERN_BGGR, true, true, 25, 0},
        {"horizontal line at an even row", VER_PATTERN_BGGR, false, true, 14, 0},
        {"horizontal line at an odd row", VER_PATTERN_BGGR, false, true, 17, 0},
        {"vertical edge at an even column", VER_PATTERN_BGGR, true, false, 22, 0},
        {"vertical edge at an odd column", VER_PATTERN_BGGR, true, false, 23, 0},
        {"horizontal edge at an odd row", VER_PATTERN_BGGR, false, false, 15, 0},
        {"complementary vertical edge", VER_PATTERN_YCGM, true, false, 23, 1},
        {"complementary horizontal edge", VER_PATTERN_YCGM, false, false, 14, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        scene.level = [&c](int x, int y) {
            const int along = c.vertical ? x : y;
            return (c.line ? along == c.at : along < c.at) ? kInk : kPaper;
        };
        const Converted run =
            Convert(scene.Mosaic(c.pattern), scene.width, scene.height, c.pattern, 512, 384, 256, 256, 0);
        ASSERT_EQ(run.result, VER_OK);
        const int top = c.pattern == VER_PATTERN_BGGR ? 3 : 2;
        int wrong = 0;
        for (int y = 0; y < run.height; ++y)
            for (int x = 0; x < run.width; ++x) {
                const int along = c.vertical ? x + 8 : y + top;
                const bool beside = !c.line && along >= c.at - c.blended && along < c.at + c.blended;
                for (int ch = 0; ch < 3; ++ch) {
                    // The mosaic's rounding after the gains leaves up to a quarter of an 8-bit level.
                    const int v = run.At(x, y, ch);
                    if (beside)
                        wrong += ch == 1 && (v < Srgb12(kInk) - kSlack || v > Srgb12(kPaper) + kSlack);
                    else
                        wrong += std::abs(v - Srgb12(scene.level(x + 8, y + top))) > kSlack;
                }
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(SigProc, TheSmallestMosaicsConvertOnePixel) {
    // An 18 % grey: 737 in each Bayer site; yellow, cyan and magenta twice that.
    const auto bayer = Cells(17, 7, 737, 737, 737, 737), complementary = Cells(17, 5, 1474, 1474, 737, 1474);
    for (const auto& [pattern, mosaic, height] :
         {std::tuple{VER_PATTERN_BGGR, bayer, 7}, std::tuple{VER_PATTERN_YCGM, complementary, 5}}) {
        // The exact buffer sizes: a read or write past them is caught by the address sanitizer.
        const Converted run = Convert(mosaic, 17, height, pattern, 256, 256, 256, 256, 0);
        ASSERT_EQ(run.result, VER_OK);
        ASSERT_EQ(run.output.size(), 3u);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(run.At(0, 0, ch), Srgb12(737 / kWhite), 1.0);
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
    ASSERT_EQ(Convert(mosaic, 40, 46, VER_PATTERN_BGGR, 256, 256, 256, 256, 0, Record, &progress).result,
              VER_OK);
    const std::vector<std::pair<std::int32_t, std::int32_t>> expected = {
        {0, 40}, {16, 40}, {32, 40}, {40, 40}};
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
