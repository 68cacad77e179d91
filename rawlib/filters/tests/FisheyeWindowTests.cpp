#include "rawlib/filters/CFisheyeWindow.h"

#include "platform/win/CpuFeatures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Window = CFisheyeWindow;

TEST(FisheyeWindow, TheKernelAtHandWorkedDistances) {
    struct Case {
        double s, k;
    };
    // 1.5s³ - 2.5s² + 1 below 1, -0.5s³ + 2.5s² - 4s + 2 below 2: worked by hand.
    const Case cases[] = {{0, 1},
                          {0.5, 0.5625},
                          {1, 0},
                          {1.5, -0.0625},
                          {std::sqrt(2.0), -0.5 * 2 * std::sqrt(2.0) + 5 - 4 * std::sqrt(2.0) + 2},
                          {1.999, -0.5 * 1.999 * 1.999 * 1.999 + 2.5 * 1.999 * 1.999 - 4 * 1.999 + 2},
                          {2, 0},
                          {3, 0}};
    for (const Case& c : cases)
        EXPECT_NEAR(Window::Kernel(c.s), c.k, 1e-15) << c.s;
    EXPECT_NEAR(Window::Kernel(std::sqrt(2.0)), -0.0710678, 1e-7) << "diagonal neighbours weigh against";
}

TEST(FisheyeWindow, WeightsOnAPixelAndBetweenFour) {
    const Window::Weights on = Window::WeightsAt(0, 0);
    const double diagonal = Window::Kernel(std::sqrt(2.0));
    // Rows j0 - 1 ... j0 + 2, columns i0 - 1 ... i0 + 2: the pixel itself at row 1, column 1.
    const double expected[16] = {diagonal, 0, diagonal, 0, 0, 1, 0, 0, diagonal, 0, diagonal, 0, 0, 0, 0, 0};
    for (int k = 0; k < 16; ++k)
        EXPECT_NEAR(on.w[k], expected[k], 1e-15) << k;
    EXPECT_NEAR(on.sum, 1 + 4 * diagonal, 1e-15);

    const Window::Weights middle = Window::WeightsAt(0.5, 0.5);
    for (int k : {5, 6, 9, 10})
        EXPECT_NEAR(middle.w[k], Window::Kernel(std::sqrt(0.5)), 1e-15);
    EXPECT_NEAR(middle.w[4], Window::Kernel(std::sqrt(2.5)), 1e-15);
    EXPECT_EQ(middle.w[0], 0) << "the corners lie at distance sqrt(4.5)";
    EXPECT_NEAR(middle.w[1], middle.w[2], 1e-15) << "symmetric about the middle";
}

TEST(FisheyeWindow, MeansAreCutAndHeldToTheSampleRange) {
    const Window::Weights on = Window::WeightsAt(0, 0);
    std::vector<double> samples(16, 0);
    samples[5] = 255; // a bright pixel whose diagonal neighbours are dark overshoots
    EXPECT_EQ(Window::Resolve(samples.data(), on, 255), 255u);
    EXPECT_EQ(Window::Resolve(samples.data(), on, 65535), static_cast<unsigned>(255 / on.sum));
    samples.assign(16, 200);
    samples[5] = 0; // a dark pixel among bright diagonals undershoots
    samples[0] = samples[2] = samples[8] = samples[10] = 255;
    EXPECT_EQ(Window::Resolve(samples.data(), on, 255), 0u);
    // A flat area stays flat: a mean that rounding puts a hair below its value is not cut to the one below.
    for (unsigned value : {1u, 77u, 254u, 255u, 4095u, 65535u}) {
        for (double f : {0.0, 0.1, 0.3, 0.5, 0.8, 0.999}) {
            samples.assign(16, value);
            EXPECT_EQ(Window::Resolve(samples.data(), Window::WeightsAt(f, 1 - f), 65535), value)
                << value << " " << f;
        }
    }
}

// A window over a small 16-bit picture whose sample (x, y, c) is 20000 + 1000 y + 10 x + c.
class SmallPicture : public ::testing::Test {
protected:
    static constexpr LONG kWidth = 6, kHeight = 5;
    static std::uint16_t Sample(LONG x, LONG y, int c) {
        return static_cast<std::uint16_t>(20000 + 1000 * y + 10 * x + c);
    }

    void Fill(const PravonRect& area) {
        ASSERT_TRUE(window.Reset(area, kWidth, kHeight, 2));
        const PravonRect& part = window.GetPicturePart();
        for (LONG y = part.top; y < part.bottom; ++y)
            for (LONG x = part.left; x < part.right; ++x)
                for (int c = 0; c < 3; ++c) {
                    const std::uint16_t v = Sample(x, y, c);
                    std::memcpy(window.At(x, y) + 2 * c, &v, 2);
                }
        window.RepeatEdges();
    }

    Window window;
};

TEST_F(SmallPicture, TheWindowReachesOneBeforeAndTwoAfterAndRepeatsTheEdges) {
    Fill({0, 0, 2, 2});
    const PravonRect& part = window.GetPicturePart();
    EXPECT_EQ(part.left, 0);
    EXPECT_EQ(part.top, 0);
    EXPECT_EQ(part.right, 4);
    EXPECT_EQ(part.bottom, 4);
    EXPECT_TRUE(window.Covers(0, 0));
    EXPECT_TRUE(window.Covers(1, 1));
    EXPECT_FALSE(window.Covers(2, 1)) << "column 4 lies beyond the window";
    EXPECT_FALSE(window.Covers(-1, 0));
    // Interpolating on pixel (0, 0) reads (-1, -1), which repeats (0, 0): the weights fall on (0, 0) and
    // (1, 1) only, with the repeated corners.
    const Window::Weights on = Window::WeightsAt(0, 0);
    std::uint16_t out[3];
    window.Interpolate(0, 0, on, reinterpret_cast<BYTE*>(out));
    for (int c = 0; c < 3; ++c) {
        const double d = on.w[0];
        const double mean = (d * Sample(0, 0, c) + d * Sample(1, 0, c) + 1.0 * Sample(0, 0, c) +
                             d * Sample(0, 1, c) + d * Sample(1, 1, c)) /
                            on.sum;
        EXPECT_EQ(out[c], static_cast<std::uint16_t>(mean)) << c;
    }
}

TEST_F(SmallPicture, InterpolationMatchesTheGatheredSamples) {
    Fill({2, 1, 6, 5});
    const LONG i0 = 4, j0 = 3; // reads columns 3 ... 6 and rows 2 ... 5: both past the picture
    ASSERT_TRUE(window.Covers(i0, j0));
    const Window::Weights weights = Window::WeightsAt(0.25, 0.75);
    std::uint16_t out[3];
    window.Interpolate(i0, j0, weights, reinterpret_cast<BYTE*>(out));
    for (int c = 0; c < 3; ++c) {
        double samples[16];
        for (int n = 0; n < 4; ++n)
            for (int m = 0; m < 4; ++m)
                samples[n * 4 + m] = Sample(std::min<LONG>(i0 - 1 + m, kWidth - 1),
                                            std::min<LONG>(j0 - 1 + n, kHeight - 1), c);
        EXPECT_EQ(out[c], Window::Resolve(samples, weights, 65535)) << c;
    }
}

// One window made again over areas of other sizes (its memory kept where large enough) reads only the
// pixels of its latest area, and one that cannot be made is empty whatever it held before.
TEST_F(SmallPicture, AWindowMadeAgainReadsItsOwnArea) {
    struct Case {
        PravonRect area;
        LONG i0, j0;
        double fx, fy;
    };
    const Case cases[] = {
        {{0, 0, 6, 5}, 2, 2, 0.5, 0.5},   // the whole picture
        {{3, 2, 5, 4}, 3, 2, 0.25, 0.75}, // smaller: the memory is kept
        {{1, 1, 3, 3}, 1, 1, 0.9, 0.1},   // smaller again, reaching past no edge
        {{0, 0, 6, 5}, 5, 4, 0.0, 0.0},   // whole again, on the last pixel
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "area from " << c.area.left << ", " << c.area.top);
        Fill(c.area);
        ASSERT_TRUE(window.Covers(c.i0, c.j0));
        const Window::Weights weights = Window::WeightsAt(c.fx, c.fy);
        std::uint16_t out[3];
        window.Interpolate(c.i0, c.j0, weights, reinterpret_cast<BYTE*>(out));
        for (int ch = 0; ch < 3; ++ch) {
            double samples[16];
            for (int n = 0; n < 4; ++n)
                for (int m = 0; m < 4; ++m)
                    samples[n * 4 + m] = Sample(std::clamp<LONG>(c.i0 - 1 + m, 0, kWidth - 1),
                                                std::clamp<LONG>(c.j0 - 1 + n, 0, kHeight - 1), ch);
            EXPECT_EQ(out[ch], Window::Resolve(samples, weights, 65535)) << ch;
        }
    }
    EXPECT_FALSE(window.Reset({0, 0, 0, 0}, 0, 0, 2));
    EXPECT_TRUE(window.IsEmpty());
    EXPECT_FALSE(window.Covers(2, 2));
}

TEST(FisheyeWindowLimits, AWindowTooLargeOrOutsideThePictureIsNotMade) {
    Window window;
    EXPECT_FALSE(window.Reset({0, 0, 4000, 2000}, 4000, 2000, 2)) << "past the size limit";
    EXPECT_FALSE(window.Covers(10, 10));
    EXPECT_FALSE(window.Reset({0, 0, 0, 0}, 0, 0, 1)) << "a picture without pixels";
    EXPECT_TRUE(window.Reset({5, 5, 5, 5}, 5, 5, 1)) << "an empty area at the edge still reads the edge";
    EXPECT_EQ(window.GetPicturePart().left, 4);
    EXPECT_EQ(window.GetPicturePart().right, 5);
}

} // namespace

namespace {

// Every row of a 16-bit picture remapped through the window with the SIMD and the plain path.
TEST(FisheyeWindowRows, BothPathsGiveTheSameBytesAndMissTheSamePixels) {
    constexpr LONG w = 37, h = 23;
    // A table that rises and falls (some blocks leave a narrow window), one that keeps every pixel in
    // place (sources on whole pixels: the far pixels weigh nothing in every lane at once), and a slight
    // magnification (neighbours' sources a little less than a pixel apart, some far pixels weighing
    // nothing in some lanes only).
    for (int shape = 0; shape < 3; ++shape) {
        SCOPED_TRACE(testing::Message() << "table " << shape);
        std::vector<double> table(4096);
        for (int i = 0; i < 4096; ++i) {
            const double u = i / 4095.0;
            table[i] = shape == 0 ? 0.9 * u + 0.12 * std::sin(9 * u) : shape == 1 ? u : 0.93 * u;
        }
        const CFisheyeGeometry geometry(table.data(), w, h);
        // Random samples, and a checkerboard of the smallest and largest sample, which rings past both ends.
        for (int bytes : {1, 2}) {
            for (bool checkerboard : {false, true}) {
                for (const PravonRect& area : {PravonRect{0, 0, w, h}, PravonRect{5, 4, 20, 12}}) {
                    SCOPED_TRACE(checkerboard ? "checkerboard" : "random samples");
                    Window window;
                    ASSERT_TRUE(window.Reset(area, w, h, bytes));
                    const PravonRect& part = window.GetPicturePart();
                    std::uint32_t noise = 99;
                    for (LONG y = part.top; y < part.bottom; ++y)
                        for (LONG x = part.left; x < part.right; ++x)
                            for (int k = 0; k < 3 * bytes; ++k) {
                                noise = noise * 1664525u + 1013904223u;
                                window.At(x, y)[k] =
                                    checkerboard ? ((x + y) % 2 ? 0xFF : 0) : static_cast<BYTE>(noise >> 24);
                            }
                    window.RepeatEdges();
                    std::size_t missedCount = 0, written = 0;
                    // The plain path first, then AVX2 alone, then AVX-512 (with AVX2 for the pixels left
                    // over).
                    const DWORD kPathsOff[] = {CpuFeature::kAVX2 | CpuFeature::kAVX512F, CpuFeature::kAVX512F,
                                               0};
                    constexpr int kPaths = 3;
                    for (LONG y = 0; y < h; ++y) {
                        std::vector<BYTE> rows[kPaths];
                        std::vector<LONG> missed[kPaths];
                        for (int path = 0; path < kPaths; ++path) {
                            CCpuFeatureOverride features(0, kPathsOff[path]);
                            rows[path].assign(static_cast<std::size_t>(w) * 3 * bytes, 0xA5);
                            window.RemapRow(geometry, y, 1, w, rows[path].data() + 3 * bytes, missed[path]);
                        }
                        for (int path = 1; path < kPaths; ++path) {
                            EXPECT_EQ(rows[0], rows[path])
                                << "row " << y << ", " << bytes << "-byte samples, path " << path;
                            EXPECT_EQ(missed[0], missed[path]) << "row " << y << ", path " << path;
                        }
                        // Pixel by pixel, every path works one pixel at a time, and must agree with the
                        // row worked out in twos, fours and eights.
                        std::vector<BYTE> alone(rows[0].size(), 0xA5);
                        std::vector<LONG> missedAlone;
                        for (LONG x = 1; x < w; ++x)
                            window.RemapRow(geometry, y, x, x + 1, alone.data() + 3 * bytes * x, missedAlone);
                        EXPECT_EQ(rows[0], alone) << "row " << y << " pixel by pixel";
                        EXPECT_EQ(missed[0], missedAlone) << "row " << y << " pixel by pixel";
                        missedCount += missed[0].size();
                        written +=
                            std::count_if(rows[0].begin(), rows[0].end(), [](BYTE b) { return b != 0xA5; });
                    }
                    EXPECT_GT(written, 0u);
                    if (area.right - area.left < w) {
                        EXPECT_GT(missedCount, 0u) << "the narrow window misses pixels";
                    }
                }
            }
        }
    }
}

} // namespace

namespace {

// Whether the source position (sx, sy) puts one of its block's corners at a squared distance within
// `margin` of 4, where a corner starts to weigh nothing.
bool CornerNearTwo(double sx, double sy, double margin) {
    const double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
    for (double dx : {fx + 1, fx - 2})
        for (double dy : {fy + 1, fy - 2})
            if (std::abs(dx * dx + dy * dy - 4) < margin)
                return true;
    return false;
}

// Many sub-pixel positions, with corners on both sides of distance 2: every road gives the bytes of the
// one-pixel routine, for both sample sizes.
TEST(FisheyeWindowRows, EveryRoadMatchesTheOnePixelRoutineWhereCornersLieNearDistanceTwo) {
    constexpr LONG w = 151, h = 97;
    struct Case {
        const char* name;
        double (*value)(double u);
    };
    const Case cases[] = {
        {"slight minification", [](double u) { return 1.03 * u; }},
        {"wobble", [](double u) { return 0.96 * u + 0.02 * std::sin(40 * u); }},
        {"strong magnification", [](double u) { return 0.6 * u + 0.3 * u * u; }},
    };
    const DWORD kRoadsOff[] = {CpuFeature::kAVX2 | CpuFeature::kAVX512F, CpuFeature::kAVX512F, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> table(4096);
        for (int i = 0; i < 4096; ++i)
            table[i] = c.value(i / 4095.0);
        const CFisheyeGeometry geometry(table.data(), w, h);
        std::size_t nearTwo = 0;
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) {
                double sx = x, sy = y;
                geometry.Map(sx, sy);
                nearTwo += sx >= 0 && sx < w && sy >= 0 && sy < h && CornerNearTwo(sx, sy, 0.01);
            }
        EXPECT_GT(nearTwo, 20u) << "positions with a corner near distance 2";
        for (int bytes : {1, 2}) {
            Window window;
            ASSERT_TRUE(window.Reset({0, 0, w, h}, w, h, bytes));
            std::uint32_t noise = 7;
            for (LONG y = 0; y < h; ++y)
                for (LONG x = 0; x < w; ++x)
                    for (int k = 0; k < 3 * bytes; ++k) {
                        noise = noise * 1664525u + 1013904223u;
                        window.At(x, y)[k] = static_cast<BYTE>(noise >> 24);
                    }
            window.RepeatEdges();
            for (LONG y = 0; y < h; ++y) {
                std::vector<BYTE> alone(static_cast<std::size_t>(w) * 3 * bytes, 0x5A);
                std::vector<LONG> missedAlone;
                for (LONG x = 0; x < w; ++x)
                    window.RemapRow(geometry, y, x, x + 1, alone.data() + 3 * bytes * x, missedAlone);
                for (DWORD off : kRoadsOff) {
                    CCpuFeatureOverride features(0, off);
                    std::vector<BYTE> row(alone.size(), 0x5A);
                    std::vector<LONG> missed;
                    window.RemapRow(geometry, y, 0, w, row.data(), missed);
                    ASSERT_EQ(alone, row)
                        << "row " << y << ", " << bytes << "-byte samples, features off " << off;
                    EXPECT_EQ(missedAlone, missed);
                }
            }
        }
    }
}

} // namespace

namespace {

// Row spans of every length from a single four to many more than the fours placed ahead, from several
// starts, over a window that leaves some of them (whole fours among them) to the caller: each road gives
// the bytes and the missed pixels of the pixel-by-pixel routine, for samples at both ends of their range.
TEST(FisheyeWindowRows, EveryRoadMatchesPixelByPixelOverRowSpansAndMissedFours) {
    constexpr LONG w = 83, h = 9;
    std::vector<double> table(4096);
    for (int i = 0; i < 4096; ++i)
        table[i] = 0.97 * (i / 4095.0);
    const CFisheyeGeometry geometry(table.data(), w, h);
    struct Span {
        LONG x0, x1;
    };
    const Span spans[] = {{0, 4}, {3, 11}, {0, 12}, {5, 21}, {1, 29}, {0, 36}, {7, 60}, {0, w}, {2, w - 1}};
    const DWORD kRoadsOff[] = {CpuFeature::kAVX2 | CpuFeature::kAVX512F, CpuFeature::kAVX512F, 0};
    for (int bytes : {1, 2}) {
        // The window covers the columns from 30 to 55 only: fours left and right of it are missed whole.
        Window window;
        ASSERT_TRUE(window.Reset({30, 0, 56, h}, w, h, bytes));
        const PravonRect& part = window.GetPicturePart();
        std::uint32_t noise = 5;
        for (LONG y = part.top; y < part.bottom; ++y)
            for (LONG x = part.left; x < part.right; ++x)
                for (int k = 0; k < 3 * bytes; ++k) {
                    noise = noise * 1664525u + 1013904223u;
                    // Runs of the largest and smallest sample, and noise between.
                    const int kind = (x / 3 + y) % 3;
                    window.At(x, y)[k] = kind == 0 ? 0xFF : kind == 1 ? 0 : static_cast<BYTE>(noise >> 24);
                }
        window.RepeatEdges();
        for (LONG y = 0; y < h; ++y) {
            for (const Span& span : spans) {
                SCOPED_TRACE(testing::Message() << bytes << "-byte samples, row " << y << ", pixels "
                                                << span.x0 << " to " << span.x1);
                const std::size_t size = static_cast<std::size_t>(span.x1 - span.x0) * 3 * bytes;
                std::vector<BYTE> alone(size, 0x3C);
                std::vector<LONG> missedAlone;
                for (LONG x = span.x0; x < span.x1; ++x)
                    window.RemapRow(geometry, y, x, x + 1, alone.data() + 3 * bytes * (x - span.x0),
                                    missedAlone);
                for (DWORD off : kRoadsOff) {
                    CCpuFeatureOverride features(0, off);
                    std::vector<BYTE> row(size, 0x3C);
                    std::vector<LONG> missed;
                    window.RemapRow(geometry, y, span.x0, span.x1, row.data(), missed);
                    EXPECT_EQ(alone, row) << "features off " << off;
                    EXPECT_EQ(missedAlone, missed) << "features off " << off;
                }
            }
        }
    }
}

} // namespace
