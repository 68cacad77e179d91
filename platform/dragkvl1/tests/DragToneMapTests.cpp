#include "platform/dragkvl1/DragToneMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace dragkvl1;

TEST(DragToneMap, BrightnessIsTheWeightedLightnessOrTheBrightestChannel) {
    struct Case {
        std::uint32_t r, g, b;
        bool brightest;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {65535, 65535, 65535, false, 65535}, // the weights add up to 256
        {100, 0, 0, false, 30},              // (7700 + 128) / 256
        {0, 100, 0, false, 59},              // (15000 + 128) / 256
        {0, 0, 100, false, 11},              // (2900 + 128) / 256
        {0, 0, 0, false, 0},
        {1, 5, 3, true, 5},
        {9, 5, 3, true, 9},
        {1, 5, 30000, true, 30000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Brightness(c.r, c.g, c.b, c.brightest), c.expected) << c.r << " " << c.g << " " << c.b;
}

TEST(DragToneMap, AxisTapsPutBlockCentresOnTheirSamples) {
    // 32 pixels over 2 samples: the centres of the two 16-pixel blocks lie between pixels 7 and 8 and
    // between 23 and 24; the weight is the distance past the first sample in 1/256.
    struct Case {
        std::int64_t p;
        std::uint32_t first, second, weight;
    };
    const Case cases[] = {
        {0, 0, 0, 136},                 // before the first centre both taps are sample 0
        {7, 0, 0, 248},                 // s = -8/256
        {8, 0, 1, 8},                   // s = 8/256
        {15, 0, 1, 120},                // s = 120/256
        {23, 0, 1, 248}, {24, 1, 1, 8}, // past the last centre both taps are sample 1
        {31, 1, 1, 120},
    };
    for (const Case& c : cases) {
        const Tap tap = CStatisticsField::AxisTap(c.p, 32, 2);
        EXPECT_EQ(tap.first, c.first) << c.p;
        EXPECT_EQ(tap.second, c.second) << c.p;
        if (tap.first != tap.second) {
            EXPECT_EQ(tap.weight, c.weight) << c.p;
        }
    }
}

// The local mean against bilinear interpolation in doubles between block centres, clamped at the ends.
TEST(DragToneMap, LocalMeanInterpolatesBetweenBlockCentres) {
    const std::uint32_t w = 3, h = 2, sourceW = 45, sourceH = 29;
    const std::uint16_t samples[] = {1000, 40000, 9000, 65535, 0, 30000};
    CStatisticsField field;
    field.Assign(samples, w, h, sourceW, sourceH, 0, 0, sourceW, sourceH);
    EXPECT_EQ(field.Mean(), (1000u + 40000 + 9000 + 65535 + 0 + 30000 + 3) / 6);
    const auto at = [&](double sx, double sy) {
        const double cx = std::clamp(sx, 0.0, w - 1.0), cy = std::clamp(sy, 0.0, h - 1.0);
        const int x0 = static_cast<int>(std::floor(cx)), y0 = static_cast<int>(std::floor(cy));
        const int x1 = std::min<int>(x0 + 1, w - 1), y1 = std::min<int>(y0 + 1, h - 1);
        const double fx = cx - x0, fy = cy - y0;
        const auto s = [&](int x, int y) { return static_cast<double>(samples[y * w + x]); };
        return (s(x0, y0) * (1 - fx) + s(x1, y0) * fx) * (1 - fy) +
               (s(x0, y1) * (1 - fx) + s(x1, y1) * fx) * fy;
    };
    for (std::int32_t y = 0; y < static_cast<std::int32_t>(sourceH); ++y) {
        for (std::int32_t x = 0; x < static_cast<std::int32_t>(sourceW); ++x) {
            const double expected = at((x + 0.5) * w / sourceW - 0.5, (y + 0.5) * h / sourceH - 0.5);
            // Each axis's tap is cut down to 1/256 of a sample step.
            ASSERT_NEAR(field.LocalMean(x, y), expected, 2 * 65535.0 / 256 + 1) << x << ", " << y;
        }
    }
}

struct Band {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint16_t> planes; // three planes
    std::uint16_t& At(int c, std::uint32_t x, std::uint32_t y) {
        return planes[static_cast<std::size_t>(c) * width * height + static_cast<std::size_t>(y) * width + x];
    }
};

Band RandomBand(std::uint32_t w, std::uint32_t h, unsigned seed) {
    Band band{w, h, std::vector<std::uint16_t>(static_cast<std::size_t>(w) * h * 3)};
    std::mt19937 random(seed);
    for (auto& s : band.planes)
        s = static_cast<std::uint16_t>(random() & 0xFFFF);
    return band;
}

Band Mapped(Band& in, std::int32_t x0, std::int32_t y0, bool brightest, const CStatisticsField& field,
            const ToneMapping& mapping) {
    const std::uint32_t r = static_cast<std::uint32_t>(mapping.radius);
    Band out{in.width - 2 * r, in.height - 2 * r, {}};
    out.planes.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    std::vector<std::uint32_t> brightness(static_cast<std::size_t>(in.width) * in.height), columns(in.width);
    MapBand(in.planes.data(), in.width, in.height, x0, y0, brightest, field, mapping, brightness.data(),
            columns.data(), out.planes.data());
    return out;
}

TEST(DragToneMap, NeutralLiftAndContrastLeaveEveryPixelAlone) {
    Band in = RandomBand(40, 30, 3);
    const std::uint16_t stats[] = {100, 60000, 30000, 7};
    CStatisticsField field;
    field.Assign(stats, 2, 2, 100, 100, 0, 0, 100, 100);
    for (std::int32_t radius : {1, 4, 10}) {
        ToneMapping mapping;
        mapping.radius = radius;
        mapping.target = 50000;
        Band out = Mapped(in, 20, 30, false, field, mapping);
        for (std::uint32_t y = 0; y < out.height; ++y)
            for (std::uint32_t x = 0; x < out.width; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(out.At(c, x, y), in.At(c, x + radius, y + radius)) << radius;
    }
}

// The mapping written out pixel by pixel, the detail square summed afresh for every pixel.
TEST(DragToneMap, MappingMatchesItsFormulaPixelByPixel) {
    const std::uint16_t stats[] = {2000, 60000, 30000, 45000, 100, 12345};
    CStatisticsField field;
    field.Assign(stats, 3, 2, 70, 40, 0, 0, 70, 40);
    struct Case {
        std::int32_t lift, contrast, radius, lowest, highest;
        bool brightest;
    };
    const Case cases[] = {
        {200, 127, 2, 0, 65535, false},
        {50, 200, 3, 0, 65535, false},
        {255, 0, 1, 1000, 60000, true},
        {127, 255, 10, 0, 65535, true},
    };
    for (const Case& c : cases) {
        Band in = RandomBand(30 + 2 * c.radius, 12 + 2 * c.radius, 11);
        ToneMapping mapping{c.lift, 33333, c.contrast, c.radius, c.lowest, c.highest};
        const std::int32_t x0 = 17, y0 = 9;
        Band out = Mapped(in, x0, y0, c.brightest, field, mapping);
        const auto bright = [&](std::uint32_t x, std::uint32_t y) {
            return static_cast<std::int64_t>(
                Brightness(in.At(0, x, y), in.At(1, x, y), in.At(2, x, y), c.brightest));
        };
        const std::int64_t side = 2 * c.radius + 1;
        for (std::uint32_t y = 0; y < out.height; ++y) {
            for (std::uint32_t x = 0; x < out.width; ++x) {
                std::int64_t sum = 0;
                for (std::int64_t dy = 0; dy < side; ++dy)
                    for (std::int64_t dx = 0; dx < side; ++dx)
                        sum += bright(x + static_cast<std::uint32_t>(dx), y + static_cast<std::uint32_t>(dy));
                const std::int64_t detail =
                    bright(x + c.radius, y + c.radius) - (sum + side * side / 2) / (side * side);
                const std::int64_t local =
                    field.LocalMean(x0 + static_cast<std::int32_t>(x), y0 + static_cast<std::int32_t>(y));
                const std::int64_t numerator = (c.lift - 127) * (33333 - local) + (c.contrast - 127) * detail;
                const std::int64_t delta = static_cast<std::int64_t>(std::floor(numerator / 128.0));
                for (int ch = 0; ch < 3; ++ch) {
                    const std::int64_t expected = std::clamp<std::int64_t>(
                        in.At(ch, x + c.radius, y + c.radius) + delta, c.lowest, c.highest);
                    ASSERT_EQ(out.At(ch, x, y), expected) << "lift " << c.lift << " at " << x << ", " << y;
                }
            }
        }
    }
}

} // namespace
