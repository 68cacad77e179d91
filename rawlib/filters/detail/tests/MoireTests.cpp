// The moire filter against a reference written here from its rules (luminance and colour differences,
// binomial smoothing, walks in eight directions with the three thresholds and the ratio test, edges
// clamped), at the pipeline's levels and far beyond them; its thresholds against hand-worked values; both
// paths at every tile size; a zone plate after mosaic and demosaicing, whose false colour it must lower.
#include "rawlib/filters/detail/CFltMoire.h"
#include "rawlib/filters/detail/CMoireRows.h"
#include "rawlib/filters/detail/tests/DetailTestSupport.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

using namespace kvtest;
using PravonColorSpace::kRGB16;

struct Thresholds {
    std::int64_t t1, t2, t3;
};

// The thresholds of a pixel, in 64 bits.
Thresholds ThresholdsOf(std::int64_t luma, std::int64_t level) {
    std::int64_t t1 = 0;
    std::int64_t t3 = 0;
    if (luma >= 1966080) {
        t1 = level * 16384;
        t3 = ((4 * t1) / 3) / 4;
    } else {
        const std::int64_t c = luma * (level - 10);
        t1 = c / 120 + 163840;
        t3 = (((4 * c) / 120) / 3) / 4 + 40960;
    }
    return {t1, t1 / 5, t3};
}

class Reference {
public:
    Reference(const TestPlane& source, LONG level) : m_source(source), m_level(level) {}

    TestPlane Output() const {
        const double lower = std::tan(25 * M_PI / 180);
        const double upper = std::tan(65 * M_PI / 180);
        TestPlane out(m_source.width, m_source.height, kRGB16);
        static constexpr int kDirections[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0},
                                                  {1, 1},   {0, 1},  {-1, 1}, {-1, 0}};
        for (LONG y = 0; y < out.height; ++y)
            for (LONG x = 0; x < out.width; ++x) {
                const Thresholds t = ThresholdsOf(Smoothed(x, y, 0), m_level);
                LONG found = 0;
                LONG sums[3] = {0, 0, 0};
                for (const auto& step : kDirections)
                    for (LONG k = 1; k <= 16; ++k) {
                        const LONG px = x + k * step[0];
                        const LONG py = y + k * step[1];
                        const std::int64_t d = std::abs(Smoothed(x, y, 0) - Smoothed(px, py, 0));
                        if (d > t.t1)
                            break;
                        if (k % 4 != 0 || d >= t.t2)
                            continue;
                        const LONG e = std::abs(Smoothed(x, y, 2) - Smoothed(px, py, 2));
                        const LONG f = std::abs(Smoothed(x, y, 1) - Smoothed(px, py, 1));
                        if (e + f < t.t3 && f > 0 && double(e) / f > lower && double(e) / f < upper) {
                            sums[1] += Split(px, py, 1);
                            sums[2] += Split(px, py, 2);
                            ++found;
                        }
                    }
                LONG red = Split(x, y, 1);
                LONG blue = Split(x, y, 2);
                if (found > 3) {
                    red = (red + sums[1]) / (found + 1);
                    blue = (blue + sums[2]) / (found + 1);
                }
                const LONG green = (Split(x, y, 0) - red - blue) / 4;
                out.SetSample(x, y, 0, static_cast<ULONG>(std::clamp<LONG>(red + green, 0, 65535)));
                out.SetSample(x, y, 1, static_cast<ULONG>(std::clamp<LONG>(green, 0, 65535)));
                out.SetSample(x, y, 2, static_cast<ULONG>(std::clamp<LONG>(blue + green, 0, 65535)));
            }
        return out;
    }

private:
    // 0: R + 2G + B, 1: R - G, 2: B - G, of the edge-clamped source.
    LONG Split(LONG x, LONG y, int which) const {
        const LONG r = Clamped(m_source, x, y, 0);
        const LONG g = Clamped(m_source, x, y, 1);
        const LONG b = Clamped(m_source, x, y, 2);
        return which == 0 ? r + 2 * g + b : which == 1 ? r - g : b - g;
    }
    LONG Smoothed(LONG x, LONG y, int which) const {
        LONG sum = 0;
        for (LONG j = -1; j <= 1; ++j)
            for (LONG i = -1; i <= 1; ++i)
                sum += (2 - std::abs(i)) * (2 - std::abs(j)) * Split(x + i, y + j, which);
        return sum;
    }

    const TestPlane& m_source;
    LONG m_level;
};

// The row routines of every path this processor runs: plain, AVX2, AVX-512.
std::vector<const MoireRows::Kernels*> RowPaths() {
    std::vector<const MoireRows::Kernels*> paths = {&MoireRows::Plain()};
    if (CpuHas(CpuFeature::kAVX2))
        paths.push_back(&MoireRows::Simd());
    if (CpuHas(CpuFeature::kAVX2 | CpuFeature::kAVX512F))
        paths.push_back(&MoireRows::Wide());
    return paths;
}

FilterMaker Moire(LONG level) {
    return [level](IPravonManager& manager) {
        auto* filter = new CFltMoire(&manager);
        EXPECT_PV_OK(filter->SetLevel(level, false));
        return filter;
    };
}

// Smooth luminance with colour noise: points of similar luminance and differing colour to collect.
TestPlane ColourNoise(LONG width, LONG height, ULONG seed, LONG noise) {
    TestPlane plane(width, height, kRGB16);
    std::uint32_t state = seed;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const LONG grey = 20000 + 300 * ((x + 2 * y) % 40) + ((x / 11 + y / 13) % 2) * 15000;
            for (LONG c = 0; c < 3; ++c) {
                state = state * 1664525u + 1013904223u;
                const LONG v = grey + static_cast<LONG>(state >> 16) % (2 * noise + 1) - noise;
                plane.SetSample(x, y, c, static_cast<ULONG>(std::clamp<LONG>(v, 0, 65535)));
            }
        }
    return plane;
}

TEST(Moire, ThresholdsFollowTheLuminanceAndStayExactAtLargeLevels) {
    struct Case {
        LONG luma;
        LONG level;
        LONG t1, t2, t3;
    };
    const Case cases[] = {
        {1000000, 15, 205506, 41101, 54848}, // dark, level 15: T1 = Ls x 5 / 120 + 163840
        {2000000, 25, 409600, 81920, 136533},
        {1966079, 75, 1228799, 245759, 395946},
        // 4 c passes 2^31 from level 284 on: exact in 64 bits
        {1900000, 300, 4755506, 951101, 1571515},
        // beyond what any difference can reach: held at 2^30
        {2000000, 200000, 1 << 30, 655360000, 1 << 30},
        {1000000, -400000, -(1 << 30), -666650565, -(1 << 30)},
    };
    for (const Case& c : cases) {
        LONG t1 = 0, t2 = 0, t3 = 0;
        MoireRows::Thresholds(&c.luma, 1, c.level, &t1, &t2, &t3);
        EXPECT_EQ(t1, c.t1) << c.luma << " at " << c.level;
        EXPECT_EQ(t2, c.t2) << c.luma << " at " << c.level;
        EXPECT_EQ(t3, c.t3) << c.luma << " at " << c.level;
        const Thresholds wide = ThresholdsOf(c.luma, c.level);
        EXPECT_EQ(t1, std::clamp<std::int64_t>(wide.t1, -(1 << 30), 1 << 30));
    }
}

// The row routines of both paths against the thresholds of each pixel worked out here in 64 bits: levels
// on either side of where the 32-bit lanes stop, luminance around the bright bound, a division's step and
// beyond what 16-bit samples give.
TEST(Moire, RowThresholdsMatchThePixelsOwnOnBothPaths) {
    // Steps of the divisions by 120 and by 360 on either side, for any level's factor.
    const LONG lumas[] = {0,       1,       119,     120,     121,     239,     240,          359,
                          360,     361,     1079,    1080,    1081,    1000000, 1966079,      1966080,
                          1966081, 3000000, 4194240, 4194241, 4193999, 4194000, (1 << 22) - 1};
    const LONG outside[] = {1 << 22, (1 << 30) + 7, -1, -(1 << 29)};
    const LONG levels[] = {-118, -117, -50, 0, 9, 10, 11, 15, 25, 75, 137, 138, 300, 5000};
    const std::vector<const MoireRows::Kernels*> paths = RowPaths();
    for (const MoireRows::Kernels* path : paths)
        for (LONG level : levels)
            for (LONG odd : {-2, 0, 1, 2, 3, 4, 5, 6}) {
                // A row of every luminance above, as many again reversed, then one value outside the
                // narrow range (at the end, or from 3 on at the start, in the first group of lanes) or a
                // shorter row that ends in a partial group.
                std::vector<LONG> row(std::begin(lumas), std::end(lumas));
                row.insert(row.end(), std::rbegin(lumas), std::rend(lumas));
                if (odd >= 3)
                    row.insert(row.begin() + 1, outside[odd - 3]);
                else if (odd >= 0)
                    row.push_back(odd == 0 ? 5 : outside[odd]);
                else
                    row.resize(9);
                const LONG n = static_cast<LONG>(row.size());
                std::vector<LONG> t1(n), t2(n), t3(n);
                path->thresholds(row.data(), n, level, t1.data(), t2.data(), t3.data());
                for (LONG x = 0; x < n; ++x) {
                    const Thresholds t = ThresholdsOf(row[x], level);
                    const auto held = [](std::int64_t v) {
                        return std::clamp<std::int64_t>(v, -(1 << 30), 1 << 30);
                    };
                    ASSERT_EQ(t1[x], held(t.t1)) << row[x] << " at " << level;
                    ASSERT_EQ(t2[x], held(t.t2)) << row[x] << " at " << level;
                    ASSERT_EQ(t3[x], held(t.t3)) << row[x] << " at " << level;
                }
            }
}

// Output pixels from luminance and differences on both paths, against the formulas: green below zero and
// above the range, and red and blue clamped on either side, over a row with a partial group at its end.
TEST(Moire, OutputPixelsFollowFromLuminanceAndDifferences) {
    struct Case {
        LONG luma, red, blue;
        WORD r, g, b;
    };
    const Case cases[] = {
        {4 * 1000, 0, 0, 1000, 1000, 1000},
        {120000, 3000, -2000, 32750, 29750, 27750},
        {1, 0, 0, 0, 0, 0},
        {7, 3, 2, 3, 0, 2}, // (7 - 5) / 4 truncates to 0
        {-9, 0, 0, 0, 0, 0},
        {300000, 0, 0, 65535, 65535, 65535},
        {100, 500, 0, 400, 0, 0},
        {262140, -70000, 70000, 0, 65535, 65535},
        {40000, -20000, 30000, 0, 7500, 37500},
        {-20, 30, 0, 18, 0, 0}, // green (-50) / 4 = -12
        {262140, 0, 0, 65535, 65535, 65535},
    };
    const LONG n = static_cast<LONG>(std::size(cases));
    const std::vector<const MoireRows::Kernels*> paths = RowPaths();
    for (const MoireRows::Kernels* path : paths) {
        std::vector<LONG> luma, red, blue, green(n);
        for (const Case& c : cases) {
            luma.push_back(c.luma);
            red.push_back(c.red);
            blue.push_back(c.blue);
        }
        std::vector<BYTE> out(static_cast<std::size_t>(n) * 6 + 1, 0xAB);
        // One byte in: the samples need no alignment.
        path->pixels(luma.data(), red.data(), blue.data(), green.data(), n, out.data() + 1);
        for (LONG x = 0; x < n; ++x) {
            WORD rgb[3];
            std::memcpy(rgb, out.data() + 1 + x * 6, sizeof rgb);
            EXPECT_EQ(rgb[0], cases[x].r) << "pixel " << x;
            EXPECT_EQ(rgb[1], cases[x].g) << "pixel " << x;
            EXPECT_EQ(rgb[2], cases[x].b) << "pixel " << x;
        }
        EXPECT_EQ(out[0], 0xAB);
    }
}

// Luminance and differences of a row of pixels on every path against the formulas: the samples' extremes,
// rows shorter than, as long as and longer than each path's groups, starting one byte in.
TEST(Moire, RowsSplitIntoLuminanceAndDifferences) {
    const WORD samples[][3] = {
        {0, 0, 0},           {65535, 65535, 65535}, {65535, 0, 65535}, {0, 65535, 0}, {1, 2, 3},
        {40000, 20000, 100}, {7, 65534, 65533},     {12345, 0, 54321}, {65535, 1, 0}, {3, 3, 3},
        {256, 255, 1},       {30000, 30001, 29999}, {500, 60000, 400}, {9, 8, 7},     {65535, 32768, 0},
        {2, 65535, 1}};
    for (const MoireRows::Kernels* path : RowPaths())
        for (LONG count : {1, 3, 7, 8, 9, 16, 17, 33, 70}) {
            std::vector<BYTE> bytes(static_cast<std::size_t>(count) * 6 + 1);
            for (LONG x = 0; x < count; ++x)
                std::memcpy(bytes.data() + 1 + x * 6, samples[(x * 7) % std::size(samples)], 6);
            std::vector<LONG> luma(count + 1, -7), red(count + 1, -7), blue(count + 1, -7);
            path->split(bytes.data() + 1, count, luma.data(), red.data(), blue.data());
            for (LONG x = 0; x < count; ++x) {
                const WORD* rgb = samples[(x * 7) % std::size(samples)];
                ASSERT_EQ(luma[x], rgb[0] + 2 * rgb[1] + rgb[2]) << count << " pixels, pixel " << x;
                ASSERT_EQ(red[x], rgb[0] - rgb[1]) << count << " pixels, pixel " << x;
                ASSERT_EQ(blue[x], rgb[2] - rgb[1]) << count << " pixels, pixel " << x;
            }
            // Nothing past the row is written.
            EXPECT_EQ(luma[count], -7);
            EXPECT_EQ(red[count], -7);
            EXPECT_EQ(blue[count], -7);
        }
}

// The 3 x 3 binomial sums of three rows on every path against the weights applied here, value by value:
// rows shorter than a group of lanes, around the stretches the column sums are kept in, and over several
// of them; the rows hold the extremes the luminance and differences reach, mixed.
TEST(Moire, RowsSmoothWithBinomialWeights) {
    const LONG values[] = {0, 262140, -65535, 65535, 1, -1, 131071, 7, -40000, 250000, 3, 99999, -2};
    for (const MoireRows::Kernels* path : RowPaths())
        for (LONG count : {1, 3, 4, 15, 16, 17, 254, 255, 256, 257, 258, 271, 288, 511, 512, 513, 600}) {
            std::vector<LONG> rows[3];
            for (int r = 0; r < 3; ++r)
                for (LONG x = 0; x < count + 2; ++x)
                    rows[r].push_back(values[(x * 5 + r * 3 + x / 7) % std::size(values)]);
            const LONG* three[3] = {rows[0].data(), rows[1].data(), rows[2].data()};
            std::vector<LONG> out(count + 1, -7);
            path->smooth(three, count, out.data());
            static constexpr LONG kWeights[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
            for (LONG k = 0; k < count; ++k) {
                LONG expected = 0;
                for (int r = 0; r < 3; ++r)
                    for (int i = 0; i < 3; ++i)
                        expected += kWeights[r][i] * rows[r][k + i];
                ASSERT_EQ(out[k], expected) << count << " values, value " << k;
            }
            // Nothing past the row is written.
            EXPECT_EQ(out[count], -7) << count << " values";
        }
}

TEST(Moire, MatchesTheReferenceAtEveryLevel) {
    const TestPlane plane = ColourNoise(45, 38, 7, 2500);
    for (LONG level : {15, 25, 75, 300, 5000, 1 << 20, -50}) {
        SCOPED_TRACE(testing::Message() << "level " << level);
        TestPlane out;
        ASSERT_TRUE(SameOnBothPathsAtEveryTileSize(FilterOver(plane, Moire(level)), &out, {7, 16, 256}));
        const TestPlane expected = Reference(plane, level).Output();
        EXPECT_TRUE(PlanesMatch(expected, out));
        if (level >= 25 && level <= 5000) {
            EXPECT_GT(ComparePlanes(plane, out).differing, 100u)
                << "the case moves too few pixels to check much";
        }
    }
}

TEST(Moire, BothPathsAgreeOnRandomImagesOfOddWidths) {
    for (LONG width : {1, 7, 9, 31}) {
        const TestPlane plane = MakePlane(width, 23, kRGB16, FillPattern::Random, static_cast<ULONG>(width));
        const TestPlane textured = TexturedPlane(width, 23, kRGB16, 3, 9000);
        for (LONG level : {25, 75}) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", level " << level);
            EXPECT_TRUE(
                SameOnBothPathsAtEveryTileSize(FilterOver(plane, Moire(level)), nullptr, {7, 13, 256}));
            TestPlane out;
            EXPECT_TRUE(
                SameOnBothPathsAtEveryTileSize(FilterOver(textured, Moire(level)), &out, {7, 13, 256}));
            EXPECT_TRUE(PlanesMatch(Reference(textured, level).Output(), out));
        }
    }
}

// Test pictures whose walks end in different places: luminance and colour noise, a luminance edge across
// colour noise, a flat grey with faint colour noise, and stripes of swapped red and blue at one luminance.
enum class Scene { kNoise, kEdge, kFlat, kStripes };

TestPlane SceneOf(Scene scene, LONG width, LONG height, ULONG seed) {
    if (scene == Scene::kNoise)
        return MakePlane(width, height, kRGB16, FillPattern::Random, seed);
    TestPlane plane(width, height, kRGB16);
    std::uint32_t state = seed;
    const auto jitter = [&](LONG amount) {
        state = state * 1664525u + 1013904223u;
        return static_cast<LONG>(state >> 16) % (2 * amount + 1) - amount;
    };
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            LONG rgb[3] = {30000, 30000, 30000};
            if (scene == Scene::kEdge) {
                const LONG grey = x + y / 2 < width / 2 ? 12000 : 52000;
                for (LONG& v : rgb)
                    v = grey + jitter(1500);
            } else if (scene == Scene::kFlat) {
                for (LONG& v : rgb)
                    v += jitter(120);
            } else {
                const LONG swing = (x / 3) % 2 ? 2500 : -2500;
                rgb[0] += swing + jitter(200);
                rgb[2] -= swing + jitter(200);
            }
            for (LONG c = 0; c < 3; ++c)
                plane.SetSample(x, y, c, static_cast<ULONG>(std::clamp<LONG>(rgb[c], 0, 65535)));
        }
    return plane;
}

TEST(Moire, EveryPixelMatchesTheReferenceOnScenesOfAwkwardSizes) {
    // Widths below, at and just past a group of four and of eight lanes, and odd sizes across tile edges.
    const std::pair<LONG, LONG> sizes[] = {{3, 5}, {4, 9}, {5, 6}, {8, 8}, {9, 11}, {17, 9}, {37, 29}};
    for (Scene scene : {Scene::kNoise, Scene::kEdge, Scene::kFlat, Scene::kStripes})
        for (const auto& [width, height] : sizes)
            for (LONG level : {15, 75}) {
                SCOPED_TRACE(testing::Message() << "scene " << static_cast<int>(scene) << ", " << width
                                                << " x " << height << ", level " << level);
                const TestPlane plane = SceneOf(scene, width, height, static_cast<ULONG>(width * height));
                TestPlane out;
                ASSERT_TRUE(
                    SameOnBothPathsAtEveryTileSize(FilterOver(plane, Moire(level)), &out, {7, 16, 256}));
                EXPECT_TRUE(PlanesMatch(Reference(plane, level).Output(), out));
            }
}

// Colour changes (e, f) whose ratio lies as close to a bound as any with f below 2^21 (the colour
// differences' range): the best approximations of the bound from either side.
std::vector<std::pair<LONG, LONG>> RatiosAtTheBounds() {
    std::vector<std::pair<LONG, LONG>> pairs;
    for (const double bound : {MoireRows::LowerRatio(), MoireRows::UpperRatio()}) {
        double closest = 1;
        for (LONG f = 1; f < (1 << 21); ++f) {
            const LONG e = static_cast<LONG>(std::floor(f * bound));
            const double gap = std::min(bound - double(e) / f, double(e + 1) / f - bound);
            if (gap < closest) {
                closest = gap;
                pairs.push_back({e, f});
                pairs.push_back({e + 1, f});
            }
        }
    }
    return pairs;
}

// Colour changes (e, f) whose e - f x bound lies within a few f x 2^-18 of either bound, the band where the
// single-precision test hands its lanes on to the double quotient, and just beyond it, where the single
// precision decides alone: at most perBound of each, from the largest f down.
std::vector<std::pair<LONG, LONG>> RatiosAroundTheMargin(std::size_t perBound) {
    std::vector<std::pair<LONG, LONG>> pairs;
    for (const double bound : {MoireRows::LowerRatio(), MoireRows::UpperRatio()}) {
        std::size_t taken = 0;
        for (LONG f = (1 << 21) - 1; f > 0 && taken < perBound; --f) {
            const LONG e = static_cast<LONG>(std::floor(f * bound));
            for (const LONG near : {e, e + 1}) {
                const double gap = std::abs(near - f * bound) / f;
                if (gap < 16.0 / (1 << 18) && near < (1 << 21)) {
                    pairs.push_back({near, f});
                    ++taken;
                }
            }
        }
    }
    return pairs;
}

// The rows one row's walks read, filled by a test, with the block bounds and the walks' results worked out
// here from the walks' rules, point by point; wide enough for two groups of the widest lanes and an
// overlapping one.
class WalkWindow {
public:
    static constexpr LONG kCount = 37;
    static constexpr LONG kWidth = kCount + 2 * MoireRows::kSteps;
    static constexpr LONG kMiddle = MoireRows::kSteps;
    using Plane = std::vector<std::vector<LONG>>;

    WalkWindow() : t1(kCount), t2(kCount), t3(kCount) {}

    Plane luma = Blank(), red = Blank(), blue = Blank(), ownRed = Blank(), ownBlue = Blank();
    std::vector<LONG> t1, t2, t3;

    // The rows as the row routines take them, the block bounds made from luma as it is now.
    MoireRows::WalkRow Row() {
        MoireRows::WalkRow row{};
        for (LONG r = 0; r < MoireRows::kWindowRows; ++r) {
            row.luma[r] = luma[r].data();
            row.red[r] = red[r].data();
            row.blue[r] = blue[r].data();
            row.ownRed[r] = ownRed[r].data();
            row.ownBlue[r] = ownBlue[r].data();
        }
        for (int a = 0; a < MoireRows::kAxes; ++a)
            for (LONG r = 0; r + MoireRows::kBoundsLag < MoireRows::kWindowRows; ++r) {
                const int dx = MoireRows::kAxisSteps[a][0];
                const int dy = MoireRows::kAxisSteps[a][1];
                for (LONG x = 0; x < kWidth; ++x) {
                    LONG lo = luma[r][x];
                    LONG hi = lo;
                    for (LONG i = 1; i < MoireRows::kBlock; ++i) {
                        const LONG px = std::clamp<LONG>(x + i * dx, 0, kWidth - 1);
                        lo = std::min(lo, luma[r + i * dy][px]);
                        hi = std::max(hi, luma[r + i * dy][px]);
                    }
                    m_least[a][r][x] = lo;
                    m_greatest[a][r][x] = hi;
                }
                row.least[a][r] = m_least[a][r].data();
                row.greatest[a][r] = m_greatest[a][r].data();
            }
        row.t1 = t1.data();
        row.t2 = t2.data();
        row.t3 = t3.data();
        row.count = kCount;
        return row;
    }

    // Pixel x's new red and blue differences: each walk steps on while the luminance stays within t1 of
    // the pixel's, and collects the point at every fourth step that lies within t2 (strictly), whose
    // colour change e + f stays below t3 with f not zero, and whose e / f lies strictly between tan(25
    // degrees) and tan(65 degrees); four points or more give the mean with the pixel's own.
    std::pair<LONG, LONG> Expected(LONG x) const {
        static constexpr int kDirections[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0},
                                                  {1, 1},   {0, 1},  {-1, 1}, {-1, 0}};
        const double lower = std::tan(25 * M_PI / 180);
        const double upper = std::tan(65 * M_PI / 180);
        const LONG m = kMiddle;
        const LONG c = x + m;
        LONG found = 0, sumRed = 0, sumBlue = 0;
        for (const auto& step : kDirections)
            for (LONG k = 1; k <= MoireRows::kSteps; ++k) {
                const LONG r = m + k * step[1];
                const LONG p = c + k * step[0];
                const std::int64_t d = std::abs(std::int64_t{luma[m][c]} - luma[r][p]);
                if (d > t1[x])
                    break;
                if (k % MoireRows::kBlock != 0 || d >= t2[x])
                    continue;
                const std::int64_t e = std::abs(std::int64_t{blue[m][c]} - blue[r][p]);
                const std::int64_t f = std::abs(std::int64_t{red[m][c]} - red[r][p]);
                if (e + f < t3[x] && f > 0 && double(e) / f > lower && double(e) / f < upper) {
                    sumRed += ownRed[r][p];
                    sumBlue += ownBlue[r][p];
                    ++found;
                }
            }
        if (found <= 3)
            return {ownRed[m][c], ownBlue[m][c]};
        return {(ownRed[m][c] + sumRed) / (found + 1), (ownBlue[m][c] + sumBlue) / (found + 1)};
    }

    // The pixels that Expected moves from their own colour.
    LONG Moved() const {
        LONG moved = 0;
        for (LONG x = 0; x < kCount; ++x)
            moved += Expected(x).first != ownRed[kMiddle][x + kMiddle];
        return moved;
    }

    // Every path's walks against Expected, pixel by pixel.
    void ExpectEveryPathMatches(const std::string& what) {
        const MoireRows::WalkRow base = Row();
        for (const MoireRows::Kernels* path : RowPaths()) {
            std::vector<LONG> outRed(kCount), outBlue(kCount);
            MoireRows::WalkRow row = base;
            row.outRed = outRed.data();
            row.outBlue = outBlue.data();
            path->walk(row);
            for (LONG x = 0; x < kCount; ++x) {
                const auto [expectedRed, expectedBlue] = Expected(x);
                EXPECT_EQ(expectedRed, outRed[x]) << what << ", pixel " << x;
                EXPECT_EQ(expectedBlue, outBlue[x]) << what << ", pixel " << x;
            }
        }
    }

private:
    static Plane Blank() { return Plane(MoireRows::kWindowRows, std::vector<LONG>(kWidth, 0)); }
    Plane m_least[MoireRows::kAxes] = {Blank(), Blank(), Blank(), Blank()};
    Plane m_greatest[MoireRows::kAxes] = {Blank(), Blank(), Blank(), Blank()};
};

// The walks of one row on every path against the quotient test worked out here, with the colour changes
// (e, f) of pairs met at the points the walks collect from: the pixels' walks all run their full length
// (equal luminance, thresholds out of reach), and the pairs fill the rows of those points in turn, as many
// rows as they need.
void ExpectEveryPathDecidesTheRatios(const std::vector<std::pair<LONG, LONG>>& pairs) {
    constexpr LONG kWidth = WalkWindow::kWidth;
    constexpr LONG m = WalkWindow::kMiddle;
    std::size_t next = 0;
    while (next < pairs.size()) {
        WalkWindow window;
        for (LONG r = 0; r < MoireRows::kWindowRows; ++r)
            for (LONG x = 0; x < kWidth; ++x) {
                window.luma[r][x] = 1000000;
                window.ownRed[r][x] = 1000 + 7 * (r * kWidth + x);
                window.ownBlue[r][x] = 3000 - 5 * (r * kWidth + x);
                // Only the rows a block's end lies on are met; the pixels' own row has no colour change.
                if (r == m || (r - m) % MoireRows::kBlock != 0)
                    continue;
                const auto [e, f] = pairs[next++ % pairs.size()];
                window.red[r][x] = (x % 2 ? f : -f);
                window.blue[r][x] = (x % 3 ? e : -e);
            }
        std::fill(window.t1.begin(), window.t1.end(), 1 << 30);
        window.t2 = window.t1;
        window.t3 = window.t1;
        // Some points were collected and some refused, or the case proves little.
        EXPECT_GT(window.Moved(), 0) << "pairs from " << next;
        window.ExpectEveryPathMatches("pairs before " + std::to_string(next));
    }
}

TEST(Moire, EveryWalkDecidesTheRatioExactlyAtItsBounds) {
    struct Case {
        const char* name;
        std::vector<std::pair<LONG, LONG>> pairs;
    };
    std::vector<std::pair<LONG, LONG>> small;
    for (LONG f = 1; f <= 24; ++f)
        for (LONG e = 0; e <= 3 * f; ++e)
            small.push_back({e, f});
    const std::vector<std::pair<LONG, LONG>> closest = RatiosAtTheBounds();
    ASSERT_GT(closest.size(), 40u);
    const std::vector<std::pair<LONG, LONG>> margin = RatiosAroundTheMargin(150);
    ASSERT_GT(margin.size(), 200u);
    const Case cases[] = {
        // the best approximations of either bound with f below 2^21
        {"closest", closest},
        // small changes, with one or two units either side of a bound
        {"small", small},
        // the largest f, at the edge of the single-precision test's margin and on either side of it
        {"margin", margin},
        // the largest changes the differences give, and no change of red at all
        {"extremes",
         {{(1 << 21) - 1, (1 << 21) - 1},
          {(1 << 21) - 1, 1},
          {1, (1 << 21) - 1},
          {0, 0},
          {5, 0},
          {977545, (1 << 21) - 1},
          {977546, (1 << 21) - 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectEveryPathDecidesTheRatios(c.pairs);
    }
}

// Rows whose luminance differences and colour changes fall on the thresholds, one below and one above them:
// the luminance steps by whole units of kUnit give or take one, colours come from a few small values, so
// every lane meets its t1, t2 and t3 exactly, and one off, at many points; thresholds of zero and below
// admit nothing, the largest ones everything.
TEST(Moire, EveryWalkStopsAndTakesPointsExactlyAtItsThresholds) {
    constexpr LONG kUnit = 1000;
    struct Case {
        const char* name;
        LONG t1, t2, t3;
        bool moves; // whether some pixel must take the mean of its points
    };
    const Case cases[] = {
        {"every edge at one unit", kUnit, kUnit, 9, true},
        {"walks to two units, points within one", 2 * kUnit, kUnit, 9, true},
        {"one above a unit's distance", kUnit + 1, kUnit + 1, 10, true},
        {"one below a unit's distance", kUnit - 1, kUnit - 1, 8, true},
        {"points within a unit's odd steps only", kUnit + 1, 2, 12, true},
        {"walks stop where the luminance steps at all", 1, 1, 9, false},
        {"the smallest colour change refused", kUnit, kUnit, 1, false},
        {"no luminance nearer than zero", kUnit, 0, 9, false},
        {"negative thresholds", kUnit, -5, -3, false},
        {"no walk beyond a change of zero", 0, kUnit, 9, false},
        {"a walk ended before its first step", -1, kUnit, 9, false},
        {"thresholds out of reach", 1 << 30, 1 << 30, 1 << 30, true},
    };
    const LONG colours[] = {-6, -2, 0, 3, 7};
    for (const Case& test : cases)
        for (std::uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << test.name << ", seed " << seed);
            WalkWindow window;
            std::uint32_t state = seed * 2654435761u;
            const auto next = [&state](std::uint32_t n) {
                state = state * 1664525u + 1013904223u;
                return (state >> 8) % n;
            };
            for (LONG r = 0; r < MoireRows::kWindowRows; ++r)
                for (LONG x = 0; x < WalkWindow::kWidth; ++x) {
                    // Mostly the same unit, so walks go on; one either way now and then.
                    const LONG units = next(8) == 0 ? (next(2) ? 1 : -1) : 0;
                    window.luma[r][x] = 1000000 + units * kUnit + static_cast<LONG>(next(3)) - 1;
                    window.red[r][x] = colours[next(5)];
                    window.blue[r][x] = colours[next(5)];
                    window.ownRed[r][x] = 500 + static_cast<LONG>(next(1000));
                    window.ownBlue[r][x] = 900 - static_cast<LONG>(next(1000));
                }
            std::fill(window.t1.begin(), window.t1.end(), test.t1);
            std::fill(window.t2.begin(), window.t2.end(), test.t2);
            std::fill(window.t3.begin(), window.t3.end(), test.t3);
            EXPECT_EQ(test.moves, window.Moved() > 0);
            window.ExpectEveryPathMatches(test.name);
        }
}

TEST(Moire, APixelWithoutEnoughPointsKeepsItsColourExactly) {
    // A negative level ends every walk at its first step: green follows exactly from the luminance and the
    // pixel's own differences, whatever the colour.
    const TestPlane plane = MakePlane(33, 20, kRGB16, FillPattern::Random, 21);
    EXPECT_TRUE(PlanesMatch(plane, PullThrough(plane, Moire(-1000))));
    const TestPlane flat = MakePlane(30, 24, kRGB16, FillPattern::Constant, 40000);
    for (LONG level : {15, 25, 75})
        EXPECT_TRUE(PlanesMatch(flat, PullThrough(flat, Moire(level)))) << level;
}

// The sum of |R - G| + |B - G| over the area: the scene there is grey, so all of it is false colour.
double FalseColour(const TestPlane& rgb, const PravonRect& area) {
    double sum = 0;
    for (LONG y = area.top; y < area.bottom; ++y)
        for (LONG x = area.left; x < area.right; ++x) {
            const double g = rgb.Sample(x, y, 1);
            sum += std::abs(rgb.Sample(x, y, 0) - g) + std::abs(rgb.Sample(x, y, 2) - g);
        }
    return sum;
}

TEST(Moire, LowersTheFalseColourOfADemosaicedZonePlate) {
    // The sample's scene, mosaicked through RGGB without white-balance gains and demosaiced: its zone plate
    // is grey, so every colour difference there is false colour.
    const CKvSampleScene scene(320, 240);
    const std::vector<WORD> rgb = scene.Render();
    const BYTE cells[4] = {0, 1, 1, 2};
    const std::vector<WORD> mosaic =
        CKvSampleScene::Mosaic(rgb, scene.GetWidth(), scene.GetHeight(), cells, 1, 1);
    TestPlane raw(scene.GetWidth(), scene.GetHeight(), PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < raw.height; ++y)
        for (LONG x = 0; x < raw.width; ++x)
            raw.SetSample(x, y, 0, mosaic[static_cast<std::size_t>(y) * raw.width + x]);

    CPravonMemoryManager manager(64);
    PravonImagePtr source = MakeImage(manager, raw);
    CDeBayerSingleFilter demosaic(&manager);
    const BYTE descriptor[8] = {0, 2, 0, 2, 0, 1, 1, 2};
    ASSERT_PV_OK(PravonConnect(source.get(), &demosaic));
    ASSERT_PV_OK(demosaic.SetCFAPattern(descriptor, sizeof descriptor, false));
    TestPlane developed;
    ASSERT_PV_OK(PullAll(&demosaic, &developed));
    // The zone plate in output coordinates, less a margin at its edges.
    const PravonRect plate = scene.GetZonePlateArea();
    const LONG frame = CDeBayerBase::kFrame;
    const PravonRect area{plate.left - frame + 8, plate.top - frame + 8, plate.right - 2 * frame,
                          plate.bottom - 2 * frame};
    const double before = FalseColour(developed, area);
    ASSERT_GT(before, 0);
    for (LONG level : {15, 25, 75}) {
        CFltMoire moire(&manager);
        ASSERT_PV_OK(PravonConnect(&demosaic, &moire));
        ASSERT_PV_OK(moire.SetLevel(level, false));
        TestPlane reduced;
        ASSERT_PV_OK(PullAll(&moire, &reduced));
        const double after = FalseColour(reduced, area);
        RecordProperty("false colour level " + std::to_string(level), std::to_string(after / before));
        // The walks stop where the luminance changes quickly, which the finest rings of the plate do: the
        // pipeline's strongest level takes a clear share of the false colour, the weaker ones at least add
        // none.
        if (level == 75)
            EXPECT_LT(after, 0.85 * before) << after << " of " << before;
        else
            EXPECT_LT(after, 1.001 * before) << "level " << level << ": " << after << " of " << before;
        PravonErrorPtr(PravonDisconnect(&demosaic, &moire));
    }
    PravonErrorPtr(PravonDisconnect(source.get(), &demosaic));
}

TEST(Moire, OnlyAnEffectiveLevelChangeIsAnnounced) {
    CPravonMemoryManager manager(16);
    PravonImagePtr source = MakeImage(manager, MakePlane(20, 10, kRGB16, FillPattern::Random, 3));
    CFltMoire filter(&manager);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));
    EXPECT_EQ(filter.GetLevel(), CFltMoire::kDefaultLevel);
    ASSERT_PV_OK(filter.SetLevel(CFltMoire::kDefaultLevel, true));
    ASSERT_PV_OK(filter.SetLevel(25, false));
    EXPECT_EQ(recorder.heard.size(), 0u);
    ASSERT_PV_OK(filter.SetLevel(75, true));
    ASSERT_EQ(recorder.heard.size(), 1u);
    EXPECT_TRUE(recorder.heard[0].rect == (PravonRect{0, 0, 20, 10}));
    PravonErrorPtr(PravonDisconnect(&filter, &recorder));
    PravonErrorPtr(PravonDisconnect(source.get(), &filter));
}

TEST(Moire, OtherColourSpacesAreRefused) {
    for (LONG colorSpace : {PravonColorSpace::kRGB8, PravonColorSpace::kLab16}) {
        CPravonMemoryManager manager(16);
        PravonImagePtr source = MakeImage(manager, MakePlane(9, 9, colorSpace, FillPattern::Random, 1));
        CFltMoire filter(&manager);
        ASSERT_PV_OK(PravonConnect(source.get(), &filter));
        TestPlane out;
        EXPECT_PV_KIND(PullAll(&filter, &out), PravonKind::kUnsupportedColorSpace);
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }
}

TEST(Moire, ASourceChangeRemakesTheOutputItsWalksReach) {
    const TestPlane plane = ColourNoise(60, 50, 5, 3000);
    EXPECT_TRUE(ChangeRemakesItsHalo(plane, {29, 24, 31, 26}, 17, Moire(75)));
    EXPECT_TRUE(ChangeRemakesItsHalo(plane, {0, 0, 3, 2}, 17, Moire(25)));
}

} // namespace
