// Reductions that do not alias: fine detail turns to its mean, flat areas keep their colour, smooth
// gradients keep their values, at whole and fractional factors.
#include "IproTestSupport.h"

#include "platform/zizoraz/IproResample.h"

#include <cmath>

using namespace iprotest;

namespace {

struct Ratio {
    LONG from, to;
};
// Whole factors, fractional ones above and below 2, and sides that do not divide.
const Ratio kRatios[] = {{800, 100}, {825, 100}, {330, 100}, {250, 100}, {6000, 640}, {97, 13}, {150, 100}};

IproPixels Checkerboard(LONG side) {
    IproPixels pixels{side, side, {}};
    for (LONG y = 0; y < side; ++y)
        for (LONG x = 0; x < side; ++x)
            pixels.argb.push_back((x + y) % 2 ? Argb(255, 255, 255, 255) : Argb(255, 0, 0, 0));
    return pixels;
}

// The largest distance of any colour channel of the pixels from the level.
double WorstDistance(const IproPixels& pixels, double level) {
    double worst = 0;
    for (std::uint32_t pixel : pixels.argb)
        for (int shift : {0, 8, 16})
            worst = std::max(worst, std::abs(static_cast<double>(pixel >> shift & 0xFF) - level));
    return worst;
}

TEST(Reduce, AOnePixelCheckerboardTurnsMidGrey) {
    // Bilinear sampling would give anything from black to white. Where blocks are averaged first (4x and
    // more) the mean holds within 2 levels; Lanczos-3 alone (2x to 4x) leaks a little of the finest detail.
    const struct {
        Ratio ratio;
        double bound;
    } cases[] = {{{800, 100}, 2.0},  {{825, 100}, 2.0}, {{97, 13}, 2.0},
                 {{1001, 120}, 2.0}, {{330, 100}, 5.0}, {{250, 100}, 5.0}};
    for (const auto& c : cases) {
        IproPixels reduced;
        ASSERT_TRUE(IproResample::Resize(Checkerboard(c.ratio.from), c.ratio.to, c.ratio.to, reduced));
        ASSERT_EQ(reduced.width, c.ratio.to);
        EXPECT_LE(WorstDistance(reduced, 127.5), c.bound) << c.ratio.from << " to " << c.ratio.to;
    }
}

TEST(Reduce, AFlatColourStaysExactlyItself) {
    for (const Ratio& ratio : kRatios) {
        IproPixels flat{
            ratio.from, 40,
            std::vector<std::uint32_t>(static_cast<std::size_t>(ratio.from) * 40, Argb(255, 201, 17, 96))};
        IproPixels reduced;
        ASSERT_TRUE(IproResample::Resize(flat, ratio.to, 7, reduced));
        for (std::uint32_t pixel : reduced.argb)
            ASSERT_EQ(pixel, Argb(255, 201, 17, 96)) << ratio.from << " to " << ratio.to;
    }
}

TEST(Reduce, ARampKeepsTheMeanOfWhatEachPixelCovers) {
    // Values 0..255 across; each new pixel's expectation is the ramp at its centre, which is the mean of a
    // linear ramp over any window symmetric about it. Edge pixels, whose windows are cut, are left out.
    for (const Ratio& ratio : kRatios) {
        IproPixels ramp{ratio.from, 3, {}};
        const auto level = [&](double x) { return 255.0 * x / (ratio.from - 1); };
        for (LONG y = 0; y < 3; ++y)
            for (LONG x = 0; x < ratio.from; ++x) {
                const auto v = static_cast<std::uint32_t>(std::lround(level(x)));
                ramp.argb.push_back(Argb(255, v, v, v));
            }
        IproPixels reduced;
        ASSERT_TRUE(IproResample::Resize(ramp, ratio.to, 1, reduced));
        const double scale = static_cast<double>(ratio.from) / ratio.to;
        for (LONG x = 2; x < ratio.to - 2; ++x) {
            // The last block of a row, wider than the others, moves centres by up to half a block, which is
            // at most half of the whole scale.
            const double expected = level((x + 0.5) * scale - 0.5);
            const double tolerance = 1.0 + 255.0 * (scale / 2) / (ratio.from - 1);
            EXPECT_NEAR(reduced.argb[x] & 0xFF, expected, tolerance)
                << ratio.from << " to " << ratio.to << " at " << x;
        }
    }
}

TEST(Reduce, PremultipliedColoursNeverExceedTheirAlpha) {
    // Hard edges between opaque white and clear make the filter ring; the result stays a valid pixel.
    IproPixels edges{90, 90, {}};
    for (LONG y = 0; y < 90; ++y)
        for (LONG x = 0; x < 90; ++x)
            edges.argb.push_back((x / 9 + y / 9) % 2 ? Argb(255, 255, 255, 255) : Argb(0, 0, 0, 0));
    IproPixels reduced;
    ASSERT_TRUE(IproResample::Resize(edges, 37, 23, reduced));
    for (std::uint32_t pixel : reduced.argb)
        for (int shift : {0, 8, 16})
            ASSERT_LE(pixel >> shift & 0xFF, pixel >> 24);
}

TEST(Reduce, RefusesSizesItCannotMake) {
    const IproPixels source = Checkerboard(8);
    IproPixels out;
    EXPECT_FALSE(IproResample::Reduce(source, 9, 4, out)) << "larger than the source";
    EXPECT_FALSE(IproResample::Reduce(source, 0, 4, out));
    EXPECT_TRUE(IproResample::Reduce(source, 1, 1, out));
    EXPECT_NEAR(out.argb[0] & 0xFF, 127.5, 0.5);
}

} // namespace
