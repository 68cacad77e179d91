// The fine edge filter against a reference written here from its rules (colour differences smoothed near
// strong green detail, green sharpened within its neighbours' range, the rebuild along the quietest
// directions, edges clamped), at 8 and 16 bits; its row routines at the edges of their arithmetic; both
// paths at every tile size; flat images; the refused colour spaces; the area a source change makes again.
#include "rawlib/filters/detail/CFineEdgeRows.h"
#include "rawlib/filters/detail/CFltFineEdge.h"
#include "rawlib/filters/detail/tests/DetailTestSupport.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace kvtest;
using PravonColorSpace::kRGB16;
using PravonColorSpace::kRGB8;

// The filter's rules, pixel by pixel over the edge-clamped source.
class Reference {
public:
    explicit Reference(const TestPlane& source)
        : m_source(source), m_scale(source.BitsPerSample() == 8 ? 257 : 1) {}

    TestPlane Output() const {
        TestPlane out(m_source.width, m_source.height, m_source.colorSpace);
        for (LONG y = 0; y < out.height; ++y)
            for (LONG x = 0; x < out.width; ++x) {
                LONG green = 0;
                LONG red = 0;
                LONG blue = 0;
                Rebuild(x, y, &green, &red, &blue);
                const LONG rgb[3] = {std::clamp<LONG>(green + red, 0, 65535), green,
                                     std::clamp<LONG>(green + blue, 0, 65535)};
                for (LONG c = 0; c < 3; ++c)
                    out.SetSample(x, y, c, static_cast<ULONG>(m_scale == 1 ? rgb[c] : rgb[c] >> 8));
            }
        return out;
    }

private:
    LONG Sample(LONG x, LONG y, LONG c) const { return Clamped(m_source, x, y, c) * m_scale; }
    LONG G(LONG x, LONG y) const { return Sample(x, y, 1); }
    LONG Difference(LONG x, LONG y, LONG c) const { return Sample(x, y, c) - G(x, y); }

    LONG Sharpened(LONG x, LONG y) const {
        static constexpr LONG kBinomial[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
        LONG sum = 0;
        LONG low = 65535;
        LONG high = 0;
        for (LONG j = -1; j <= 1; ++j)
            for (LONG i = -1; i <= 1; ++i) {
                sum += kBinomial[j + 1][i + 1] * G(x + i, y + j);
                if (i != 0 || j != 0) {
                    low = std::min(low, G(x + i, y + j));
                    high = std::max(high, G(x + i, y + j));
                }
            }
        return std::clamp((80 * G(x, y) - 3 * sum) / 32, low, high);
    }

    LONG Smoothed(LONG x, LONG y, LONG c) const {
        const LONG centre = G(x, y);
        LONG activity = 0;
        for (LONG j = -2; j <= 2; ++j)
            for (LONG i = -2; i <= 2; ++i)
                activity += std::abs(G(x + i, y + j) - centre);
        if (activity <= 115200)
            return Difference(x, y, c);
        long long weights = 0;
        long long sum = 0;
        for (LONG j = -2; j <= 2; ++j)
            for (LONG i = -2; i <= 2; ++i) {
                const LONG w = std::max<LONG>(0, activity / 25 - std::abs(G(x + i, y + j) - centre)) /
                               (activity / 32768 + 1);
                weights += w;
                sum += static_cast<long long>(w) * Difference(x + i, y + j, c);
            }
        return static_cast<LONG>(sum / weights);
    }

    void Rebuild(LONG x, LONG y, LONG* green, LONG* red, LONG* blue) const {
        auto g = [&](LONG i, LONG j) { return Sharpened(x + i, y + j); };
        const LONG c = g(0, 0), n = g(0, -1), s = g(0, 1), w = g(-1, 0), e = g(1, 0);
        auto d = [](LONG a, LONG b) { return std::abs(a - b); };
        const LONG activity[4] = {
            2 * (d(n, g(-2, -1)) + d(n, g(2, -1)) + d(w, e)) + 3 * (d(c, w) + d(c, e)),
            2 * (d(w, g(-1, -2)) + d(w, g(-1, 2)) + d(n, s)) + 3 * (d(c, n) + d(c, s)),
            2 * (d(s, g(1, 2)) + d(w, s) + d(g(-2, -1), w)) + 3 * (d(c, g(-1, -1)) + d(c, g(1, 1))),
            2 * (d(n, g(1, -2)) + d(g(-2, 1), w) + d(w, n)) + 3 * (d(c, g(1, -1)) + d(c, g(-1, 1))),
        };
        const LONG total = activity[0] + activity[1] + activity[2] + activity[3];
        LONG weight[4];
        LONG sum = 0;
        for (int k = 0; k < 4; ++k) {
            weight[k] = std::max<LONG>(0, total - 4 * activity[k]);
            sum += weight[k];
        }
        if (sum == 0) {
            *green = c;
            *red = Smoothed(x, y, 0);
            *blue = Smoothed(x, y, 2);
            return;
        }
        const LONG q = sum / 32768 + 1;
        for (LONG& wk : weight)
            wk /= q;
        sum /= q;
        // The neighbours of each direction: horizontal, vertical, NW-SE, NE-SW.
        static constexpr LONG kAlong[4][4] = {{-1, 0, 1, 0}, {0, -1, 0, 1}, {-1, -1, 1, 1}, {1, -1, -1, 1}};
        auto mean = [&](auto value) {
            long long total = 0;
            for (int k = 0; k < 4; ++k)
                total += static_cast<long long>(weight[k]) *
                         ((2 * value(0, 0) + value(kAlong[k][0], kAlong[k][1]) +
                           value(kAlong[k][2], kAlong[k][3])) /
                          4);
            return static_cast<LONG>(total / sum);
        };
        *green = mean(g);
        *red = mean([&](LONG i, LONG j) { return Smoothed(x + i, y + j, 0); });
        *blue = mean([&](LONG i, LONG j) { return Smoothed(x + i, y + j, 2); });
    }

    const TestPlane& m_source;
    LONG m_scale;
};

FilterMaker FineEdge() {
    return [](IPravonManager& manager) { return new CFltFineEdge(&manager); };
}

std::vector<const FineEdgeRows::Kernels*> RoutineSets() {
    std::vector<const FineEdgeRows::Kernels*> sets = {&FineEdgeRows::Plain()};
    if (HaveAvx2())
        sets.push_back(&FineEdgeRows::Simd());
    return sets;
}

TEST(FineEdge, MatchesTheReferenceAt8And16Bits) {
    for (LONG colorSpace : {kRGB16, kRGB8}) {
        for (ULONG noise : {300u, 6000u}) {
            SCOPED_TRACE(testing::Message()
                         << "colour space 0x" << std::hex << colorSpace << std::dec << ", noise " << noise);
            const TestPlane plane = TexturedPlane(35, 27, colorSpace, noise, noise);
            TestPlane out;
            ASSERT_TRUE(SameOnBothPathsAtEveryTileSize(FilterOver(plane, FineEdge()), &out));
            EXPECT_TRUE(PlanesMatch(Reference(plane).Output(), out));
        }
    }
}

TEST(FineEdge, BothPathsAgreeOnRandomImagesOfOddWidths) {
    // Random samples, and 0 and the maximum in blocks: the widest swings the arithmetic meets.
    for (FillPattern fill : {FillPattern::Random, FillPattern::Checker})
        for (LONG width : {1, 2, 3, 4, 5, 7, 8, 9, 11, 29}) {
            for (LONG colorSpace : {kRGB16, kRGB8}) {
                SCOPED_TRACE(testing::Message() << "fill " << static_cast<int>(fill) << ", width " << width
                                                << ", colour space 0x" << std::hex << colorSpace);
                const TestPlane plane = MakePlane(width, 19, colorSpace, fill, static_cast<ULONG>(width));
                TestPlane out;
                ASSERT_TRUE(
                    SameOnBothPathsAtEveryTileSize(FilterOver(plane, FineEdge()), &out, {7, 13, 256}));
                EXPECT_TRUE(PlanesMatch(Reference(plane).Output(), out));
            }
        }
}

TEST(FineEdge, AFlatImageIsReturnedUnchanged) {
    for (LONG colorSpace : {kRGB16, kRGB8}) {
        TestPlane plane(21, 18, colorSpace);
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x) {
                plane.SetSample(x, y, 0, colorSpace == kRGB8 ? 200 : 51234);
                plane.SetSample(x, y, 1, colorSpace == kRGB8 ? 17 : 1234);
                plane.SetSample(x, y, 2, colorSpace == kRGB8 ? 255 : 65535);
            }
        TestPlane out;
        ASSERT_TRUE(SameOnBothPathsAtEveryTileSize(FilterOver(plane, FineEdge()), &out));
        EXPECT_TRUE(PlanesMatch(plane, out)) << std::hex << colorSpace;
    }
}

// One 5 x 5 block: green g[dy][dx] around a centre of 30000, red differences d[dy][dx].
FineEdgeRows::SmoothRow OneBlock(std::vector<std::vector<LONG>>& green, std::vector<std::vector<LONG>>& red,
                                 std::vector<std::vector<LONG>>& blue, LONG* outRed, LONG* outBlue) {
    FineEdgeRows::SmoothRow row{};
    for (int k = 0; k < 5; ++k) {
        row.green[k] = green[k].data();
        row.red[k] = red[k].data();
        row.blue[k] = blue[k].data();
    }
    row.count = 1;
    row.outRed = outRed;
    row.outBlue = outBlue;
    return row;
}

TEST(FineEdge, DifferencesAreSmoothedOnlyAboveTheActivityThreshold) {
    // Twelve positions share the centre's green and twelve lie 9600 away: 115200 in all keeps the centre's
    // differences; one step more spreads them over the thirteen equal positions.
    for (LONG extra : {0, 1}) {
        std::vector<std::vector<LONG>> green(5, std::vector<LONG>(5, 30000));
        std::vector<std::vector<LONG>> red(5, std::vector<LONG>(5));
        std::vector<std::vector<LONG>> blue(5, std::vector<LONG>(5));
        LONG sumRed = 0;
        LONG sumBlue = 0;
        int far = 0;
        for (int dy = 0; dy < 5; ++dy)
            for (int dx = 0; dx < 5; ++dx) {
                // Not symmetric about the centre, so that a mean differs from the centre's value.
                red[dy][dx] = (dy * dy * 1311 + dx * 977) % 2000 - 1000;
                blue[dy][dx] = -(dx * dx * 733 + dy * 411) % 1500;
                if ((dy * 5 + dx) % 2 == 1 && far < 12) {
                    green[dy][dx] = 30000 + 9600 + (far == 0 ? extra : 0);
                    ++far;
                } else {
                    sumRed += red[dy][dx];
                    sumBlue += blue[dy][dx];
                }
            }
        for (const auto* kernels : RoutineSets()) {
            LONG outRed = 0;
            LONG outBlue = 0;
            kernels->smooth(OneBlock(green, red, blue, &outRed, &outBlue));
            if (extra == 0) {
                EXPECT_EQ(outRed, red[2][2]);
                EXPECT_EQ(outBlue, blue[2][2]);
            } else {
                EXPECT_EQ(outRed, sumRed / 13);
                EXPECT_EQ(outBlue, sumBlue / 13);
            }
        }
    }
}

TEST(FineEdge, SharpenedGreenStaysWithinItsNeighboursAndRoutinesAgree) {
    std::mt19937 random(3);
    for (LONG count : {1, 3, 4, 5, 7, 8, 9, 12, 17, 40}) {
        std::vector<std::vector<LONG>> green(3, std::vector<LONG>(static_cast<std::size_t>(count + 2)));
        for (auto& row : green)
            for (LONG& v : row)
                v = random() % 3 == 0 ? (random() % 2 ? 65535 : 0) : static_cast<LONG>(random() % 65536);
        std::vector<std::vector<LONG>> results;
        for (const auto* kernels : RoutineSets()) {
            std::vector<LONG> out(static_cast<std::size_t>(count));
            FineEdgeRows::SharpenRow row{
                {green[0].data(), green[1].data(), green[2].data()}, count, out.data()};
            kernels->sharpen(row);
            for (LONG k = 0; k < count; ++k) {
                LONG low = 65535, high = 0;
                for (int dy = 0; dy < 3; ++dy)
                    for (int dx = 0; dx < 3; ++dx)
                        if (dy != 1 || dx != 1) {
                            low = std::min(low, green[dy][k + dx]);
                            high = std::max(high, green[dy][k + dx]);
                        }
                EXPECT_GE(out[k], low);
                EXPECT_LE(out[k], high);
                const LONG binomial = green[0][k] + 2 * green[0][k + 1] + green[0][k + 2] +
                                      2 * (green[1][k] + 2 * green[1][k + 1] + green[1][k + 2]) +
                                      green[2][k] + 2 * green[2][k + 1] + green[2][k + 2];
                EXPECT_EQ(out[k], std::clamp((80 * green[1][k + 1] - 3 * binomial) / 32, low, high)) << k;
            }
            results.push_back(out);
        }
        for (const auto& other : results)
            EXPECT_EQ(other, results.front()) << count;
    }
}

// Rows for the row routines: green within 0 .. 65535 and differences within -65535 .. 65535, drawn from
// noise, from the ends of the ranges only, or as stripes strong enough to smooth every position.
enum class RowFill { Noise, Extremes, Stripes };

std::vector<std::vector<LONG>> FillRows(std::mt19937& random, std::size_t rows, std::size_t width,
                                        RowFill fill, bool difference) {
    std::vector<std::vector<LONG>> out(rows, std::vector<LONG>(width));
    const LONG low = difference ? -65535 : 0;
    for (std::size_t y = 0; y < rows; ++y)
        for (std::size_t x = 0; x < width; ++x) {
            LONG& v = out[y][x];
            switch (fill) {
            case RowFill::Noise:
                v = low + static_cast<LONG>(random() % static_cast<unsigned>(65536 - low));
                break;
            case RowFill::Extremes:
                v = random() % 2 ? 65535 : low;
                break;
            case RowFill::Stripes:
                v = difference ? static_cast<LONG>(random() % 131071) - 65535
                               : ((x + y) % 3 == 0 ? 65535 : 0);
                break;
            }
        }
    return out;
}

// The smoothing of one position, in 64-bit arithmetic.
void ReferenceSmooth(const std::vector<std::vector<LONG>>& green, const std::vector<std::vector<LONG>>& red,
                     const std::vector<std::vector<LONG>>& blue, std::size_t k, LONG* outRed, LONG* outBlue) {
    const LONG centre = green[2][k + 2];
    LONG activity = 0;
    for (std::size_t dy = 0; dy < 5; ++dy)
        for (std::size_t dx = 0; dx < 5; ++dx)
            activity += std::abs(green[dy][k + dx] - centre);
    *outRed = red[2][k + 2];
    *outBlue = blue[2][k + 2];
    if (activity <= 115200)
        return;
    long long weights = 0, sumRed = 0, sumBlue = 0;
    for (std::size_t dy = 0; dy < 5; ++dy)
        for (std::size_t dx = 0; dx < 5; ++dx) {
            const long long w = std::max<LONG>(0, activity / 25 - std::abs(green[dy][k + dx] - centre)) /
                                (activity / 32768 + 1);
            weights += w;
            sumRed += w * red[dy][k + dx];
            sumBlue += w * blue[dy][k + dx];
        }
    *outRed = static_cast<LONG>(sumRed / weights);
    *outBlue = static_cast<LONG>(sumBlue / weights);
}

TEST(FineEdge, SmoothingRoutinesMatchAReferenceAtEveryWidthAndFill) {
    std::mt19937 random(11);
    for (RowFill fill : {RowFill::Noise, RowFill::Extremes, RowFill::Stripes}) {
        for (LONG count : {1, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 33, 64}) {
            const std::size_t width = static_cast<std::size_t>(count) + 4;
            auto green = FillRows(random, 5, width, fill, false);
            auto red = FillRows(random, 5, width, fill, true);
            auto blue = FillRows(random, 5, width, fill, true);
            for (const auto* kernels : RoutineSets()) {
                SCOPED_TRACE(testing::Message()
                             << "fill " << static_cast<int>(fill) << ", count " << count
                             << (kernels == &FineEdgeRows::Plain() ? ", plain" : ", simd"));
                std::vector<LONG> outRed(static_cast<std::size_t>(count));
                std::vector<LONG> outBlue(static_cast<std::size_t>(count));
                FineEdgeRows::SmoothRow row{};
                for (int k = 0; k < 5; ++k) {
                    row.green[k] = green[static_cast<std::size_t>(k)].data();
                    row.red[k] = red[static_cast<std::size_t>(k)].data();
                    row.blue[k] = blue[static_cast<std::size_t>(k)].data();
                }
                row.count = count;
                row.outRed = outRed.data();
                row.outBlue = outBlue.data();
                kernels->smooth(row);
                for (std::size_t k = 0; k < outRed.size(); ++k) {
                    LONG r = 0, b = 0;
                    ReferenceSmooth(green, red, blue, k, &r, &b);
                    ASSERT_EQ(outRed[k], r) << k;
                    ASSERT_EQ(outBlue[k], b) << k;
                }
            }
        }
    }
}

// The rebuild of one position, in 64-bit arithmetic, from the sharpened green around column k + 2 and the
// differences around column k + 1.
void ReferenceRebuild(const std::vector<std::vector<LONG>>& green, const std::vector<std::vector<LONG>>& red,
                      const std::vector<std::vector<LONG>>& blue, std::size_t k, LONG out[3]) {
    auto g = [&](int i, int j) {
        return green[static_cast<std::size_t>(2 + j)][k + 2 + static_cast<std::size_t>(i)];
    };
    auto d = [](LONG a, LONG b) { return static_cast<long long>(std::abs(a - b)); };
    const LONG c = g(0, 0), n = g(0, -1), s = g(0, 1), w = g(-1, 0), e = g(1, 0);
    const long long activity[4] = {
        2 * (d(n, g(-2, -1)) + d(n, g(2, -1)) + d(w, e)) + 3 * (d(c, w) + d(c, e)),
        2 * (d(w, g(-1, -2)) + d(w, g(-1, 2)) + d(n, s)) + 3 * (d(c, n) + d(c, s)),
        2 * (d(s, g(1, 2)) + d(w, s) + d(g(-2, -1), w)) + 3 * (d(c, g(-1, -1)) + d(c, g(1, 1))),
        2 * (d(n, g(1, -2)) + d(g(-2, 1), w) + d(w, n)) + 3 * (d(c, g(1, -1)) + d(c, g(-1, 1)))};
    const long long total = activity[0] + activity[1] + activity[2] + activity[3];
    long long weight[4];
    long long sum = 0;
    for (int j = 0; j < 4; ++j)
        sum += weight[j] = std::max(0LL, total - 4 * activity[j]);
    const std::vector<std::vector<LONG>>* planes[3] = {&green, &red, &blue};
    static constexpr int kAlong[4][4] = {{-1, 0, 1, 0}, {0, -1, 0, 1}, {-1, -1, 1, 1}, {1, -1, -1, 1}};
    for (int p = 0; p < 3; ++p) {
        // Green's centre is two rows and columns in, the differences' one.
        const std::size_t at = p == 0 ? 2 : 1;
        auto v = [&](int i, int j) {
            return static_cast<long long>(
                (*planes[p])[at + static_cast<std::size_t>(j)][k + at + static_cast<std::size_t>(i)]);
        };
        if (sum == 0) {
            out[p] = static_cast<LONG>(v(0, 0));
            continue;
        }
        const long long q = sum / 32768 + 1;
        long long weighted = 0;
        for (int j = 0; j < 4; ++j)
            weighted += weight[j] / q *
                        ((2 * v(0, 0) + v(kAlong[j][0], kAlong[j][1]) + v(kAlong[j][2], kAlong[j][3])) / 4);
        out[p] = static_cast<LONG>(weighted / (sum / q));
    }
}

TEST(FineEdge, RebuildRoutinesMatchAReferenceAtEveryWidthAndFill) {
    std::mt19937 random(12);
    for (RowFill fill : {RowFill::Noise, RowFill::Extremes, RowFill::Stripes}) {
        for (LONG count : {1, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 33, 64}) {
            const std::size_t size = static_cast<std::size_t>(count);
            auto green = FillRows(random, 5, size + 4, fill, false);
            auto red = FillRows(random, 3, size + 2, fill, true);
            auto blue = FillRows(random, 3, size + 2, fill, true);
            for (const auto* kernels : RoutineSets()) {
                SCOPED_TRACE(testing::Message()
                             << "fill " << static_cast<int>(fill) << ", count " << count
                             << (kernels == &FineEdgeRows::Plain() ? ", plain" : ", simd"));
                std::vector<LONG> out[3] = {std::vector<LONG>(size), std::vector<LONG>(size),
                                            std::vector<LONG>(size)};
                FineEdgeRows::RebuildRow row{};
                for (int k = 0; k < 5; ++k)
                    row.green[k] = green[static_cast<std::size_t>(k)].data();
                for (int k = 0; k < 3; ++k) {
                    row.red[k] = red[static_cast<std::size_t>(k)].data();
                    row.blue[k] = blue[static_cast<std::size_t>(k)].data();
                }
                row.count = count;
                row.outGreen = out[0].data();
                row.outRed = out[1].data();
                row.outBlue = out[2].data();
                kernels->rebuild(row);
                for (std::size_t k = 0; k < size; ++k) {
                    LONG expected[3];
                    ReferenceRebuild(green, red, blue, k, expected);
                    for (int p = 0; p < 3; ++p)
                        ASSERT_EQ(out[p][k], expected[p]) << "position " << k << ", plane " << p;
                }
            }
        }
    }
}

TEST(FineEdge, EightBitSamplesComeBackWhereNothingChanges) {
    // Widened by 257 and returned as the high byte: every 8-bit value of a flat image survives.
    for (ULONG v : {0u, 1u, 128u, 254u, 255u}) {
        const TestPlane flat = MakePlane(12, 10, kRGB8, FillPattern::Constant, v);
        EXPECT_TRUE(PlanesMatch(flat, PullThrough(flat, FineEdge()))) << v;
    }
}

TEST(FineEdge, OtherColourSpacesAreRefused) {
    for (LONG colorSpace : {PravonColorSpace::kLab16, PravonColorSpace::kBGR8, PravonColorSpace::kGrey16}) {
        CPravonMemoryManager manager(16);
        PravonImagePtr source = MakeImage(manager, MakePlane(9, 9, colorSpace, FillPattern::Random, 1));
        CFltFineEdge filter(&manager);
        ASSERT_PV_OK(PravonConnect(source.get(), &filter));
        TestPlane out;
        EXPECT_PV_KIND(PullAll(&filter, &out), PravonKind::kUnsupportedColorSpace);
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }
}

TEST(FineEdge, ASourceChangeRemakesTheOutputItsWindowsReach) {
    for (LONG colorSpace : {kRGB16, kRGB8}) {
        const TestPlane plane = TexturedPlane(40, 36, colorSpace, 4, 5000);
        EXPECT_TRUE(ChangeRemakesItsHalo(plane, {17, 14, 19, 17}, 3, FineEdge()));
        EXPECT_TRUE(ChangeRemakesItsHalo(plane, {38, 0, 40, 1}, 3, FineEdge()));
    }
}

} // namespace
