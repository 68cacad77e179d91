// The demosaicing row routines, plain and AVX2, against a reference written here from the interpolation's
// rules, on rows of every length around the AVX2 block and on values chosen to reach the exact edges of the
// arithmetic: truncation of negative quotients, activities exactly the threshold apart, the clamp at both
// ends. The filter itself must give the same output with either set.
#include "rawlib/filters/CDeBayerRows.h"
#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace kvtest;

constexpr LONG kT = DeBayerRows::kDirectionThreshold;

// Division truncating toward zero, spelled out rather than left to the operator the routines use.
LONG Quotient(LONG a, LONG b) {
    const LONG q = std::abs(a) / b;
    return a < 0 ? -q : q;
}

WORD Stored(LONG v) {
    if (v < 1)
        return 0;
    return static_cast<WORD>((v > 0x3FFFF ? 0x3FFFF : v) >> 2);
}

// Values drawn to stress one part of the arithmetic.
enum class Values { FullRange, Small, ThresholdApart };

LONG Draw(std::mt19937& random, Values values) {
    switch (values) {
    case Values::FullRange:
        return static_cast<LONG>(random() % 0x40000);
    case Values::Small: // sums of a few small values, many of them negative and odd
        return static_cast<LONG>(random() % 16);
    case Values::ThresholdApart: // every activity a multiple of the threshold
        return 100000 + (random() % 2 ? kT : 0) + (random() % 4 == 0 ? kT : 0);
    }
    return 0;
}

// A row in position order split as the routines keep it (even positions first), and back; the test's own
// spelling of the layout.
std::vector<LONG> SplitRow(const std::vector<LONG>& row) {
    std::vector<LONG> split;
    for (std::size_t p = 0; p < row.size(); p += 2)
        split.push_back(row[p]);
    for (std::size_t p = 1; p < row.size(); p += 2)
        split.push_back(row[p]);
    return split;
}

std::vector<LONG> JoinRow(const std::vector<LONG>& split) {
    const std::size_t evens = (split.size() + 1) / 2;
    std::vector<LONG> row(split.size());
    for (std::size_t p = 0; p < row.size(); ++p)
        row[p] = p % 2 ? split[evens + p / 2] : split[p / 2];
    return row;
}

bool HaveAvx2() {
    return (CpuDetectedFeatures() & CpuFeature::kAVX2) != 0;
}

const std::vector<const DeBayerRows::Kernels*> RoutineSets() {
    std::vector<const DeBayerRows::Kernels*> sets = {&DeBayerRows::Plain()};
    if (HaveAvx2())
        sets.push_back(&DeBayerRows::Simd());
    return sets;
}

TEST(DeBayerRows, GreenFollowsTheQuieterDirectionBeyondTheThresholdAndTheAverageWithinIt) {
    std::mt19937 random(11);
    LONG directed = 0;
    LONG exactlyAtThreshold = 0;
    for (Values values : {Values::FullRange, Values::Small, Values::ThresholdApart}) {
        for (LONG count = 1; count <= 41; ++count) {
            for (LONG firstGreen : {0, 1}) {
                const LONG width = count + 4;
                std::vector<std::vector<LONG>> m(5, std::vector<LONG>(static_cast<std::size_t>(width)));
                for (auto& row : m)
                    for (LONG& v : row)
                        v = Draw(random, values);
                // The reference: site j of the row is column j + 2; s(dx, dy) is the sample dx columns
                // right and dy rows down of the site.
                std::vector<LONG> green(static_cast<std::size_t>(count));
                std::vector<LONG> difference(static_cast<std::size_t>(count));
                for (LONG j = 0; j < count; ++j) {
                    auto s = [&](LONG dx, LONG dy) {
                        return m[static_cast<std::size_t>(2 + dy)][j + 2 + dx];
                    };
                    if ((j - firstGreen) % 2 == 0) {
                        green[j] = s(0, 0);
                        difference[j] = 0;
                        continue;
                    }
                    const LONG vertical = std::abs(s(0, -1) - s(0, 1)) + std::abs(s(-1, -2) - s(-1, 0)) +
                                          std::abs(s(-1, 0) - s(-1, 2));
                    const LONG horizontal = std::abs(s(-2, -1) - s(0, -1)) + std::abs(s(0, -1) - s(2, -1)) +
                                            std::abs(s(-1, 0) - s(1, 0));
                    const LONG ev = 2 * (s(0, -1) + s(0, 0) + s(0, 1)) - s(0, -2) - s(0, 2);
                    const LONG eh = 2 * (s(-1, 0) + s(0, 0) + s(1, 0)) - s(-2, 0) - s(2, 0);
                    LONG g = 0;
                    if (std::abs(vertical - horizontal) <= kT) {
                        g = Quotient(Quotient(eh + ev, 2), 4);
                        exactlyAtThreshold += std::abs(vertical - horizontal) == kT;
                    } else {
                        g = Quotient(horizontal < vertical ? eh : ev, 4);
                        ++directed;
                    }
                    green[j] = g;
                    difference[j] = s(0, 0) - g;
                }
                std::vector<std::vector<LONG>> split;
                for (const auto& row : m)
                    split.push_back(SplitRow(row));
                for (const DeBayerRows::Kernels* set : RoutineSets()) {
                    std::vector<LONG> outGreen(static_cast<std::size_t>(count), -7);
                    std::vector<LONG> outDifference(static_cast<std::size_t>(count), -7);
                    DeBayerRows::GreenRow row;
                    for (int r = 0; r < 5; ++r)
                        row.mosaic[r] = split[static_cast<std::size_t>(r)].data();
                    row.count = count;
                    row.firstGreen = firstGreen;
                    row.green = outGreen.data();
                    row.difference = outDifference.data();
                    set->green(row);
                    const char* name = set == &DeBayerRows::Plain() ? "plain" : "AVX2";
                    ASSERT_EQ(JoinRow(outGreen), green) << name << ", " << count << " positions";
                    ASSERT_EQ(JoinRow(outDifference), difference) << name << ", " << count << " positions";
                }
            }
        }
    }
    EXPECT_GT(directed, 500);
    EXPECT_GT(exactlyAtThreshold, 200);
}

TEST(DeBayerRows, RedAndBlueComeFromColourDifferencesClampedAndShifted) {
    std::mt19937 random(12);
    for (Values values : {Values::FullRange, Values::Small}) {
        for (LONG count = 1; count <= 41; ++count) {
            for (LONG firstGreen : {0, 1}) {
                for (bool redRow : {false, true}) {
                    auto fill = [&](LONG low, LONG high, LONG width = 0) {
                        std::vector<LONG> row(static_cast<std::size_t>(width ? width : count + 2));
                        for (LONG& v : row)
                            v = values == Values::Small
                                    ? Draw(random, values) - 8
                                    : low + static_cast<LONG>(random() % (high - low + 1));
                        return row;
                    };
                    // Green and differences in the ranges the green pass gives; values past both clamp ends.
                    // The mosaic row has two positions more on each side: position k is mosaic k + 3.
                    const std::vector<LONG> mosaic = fill(0, 0x3FFFF, count + 6);
                    const std::vector<LONG> green = fill(-140000, 400000);
                    const std::vector<LONG> above = fill(-540000, 540000);
                    const std::vector<LONG> centre = fill(-540000, 540000);
                    const std::vector<LONG> below = fill(-540000, 540000);
                    std::vector<WORD> expected(static_cast<std::size_t>(3 * count));
                    for (LONG k = 0; k < count; ++k) {
                        const LONG x = k + 1;
                        const LONG g = green[x];
                        LONG own = 0;
                        LONG crossed = 0;
                        if ((k - firstGreen) % 2 == 0) {
                            own = g + Quotient(centre[x - 1] + centre[x + 1], 2);
                            crossed = g + Quotient(above[x] + below[x], 2);
                        } else {
                            own = mosaic[k + 3];
                            crossed =
                                g + Quotient(above[x - 1] + above[x + 1] + below[x - 1] + below[x + 1], 4);
                        }
                        expected[3 * k] = Stored(redRow ? own : crossed);
                        expected[3 * k + 1] = Stored(g);
                        expected[3 * k + 2] = Stored(redRow ? crossed : own);
                    }
                    const std::vector<LONG> splitMosaic = SplitRow(mosaic);
                    const std::vector<LONG> split[4] = {SplitRow(green), SplitRow(above), SplitRow(centre),
                                                        SplitRow(below)};
                    for (const DeBayerRows::Kernels* set : RoutineSets()) {
                        std::vector<WORD> out(static_cast<std::size_t>(3 * count), 0xBEEF);
                        DeBayerRows::RedBlueRow row;
                        row.mosaic = splitMosaic.data();
                        row.green = split[0].data();
                        row.above = split[1].data();
                        row.centre = split[2].data();
                        row.below = split[3].data();
                        row.count = count;
                        row.firstGreen = firstGreen;
                        row.redRow = redRow;
                        row.out = out.data();
                        set->redBlue(row);
                        ASSERT_EQ(out, expected) << (set == &DeBayerRows::Plain() ? "plain" : "AVX2") << ", "
                                                 << count << " positions";
                    }
                }
            }
        }
    }
}

TEST(DeBayerRows, LoadingLooksEachSampleUpInTheTableOfItsSite) {
    std::mt19937 random(13);
    std::vector<LONG> even(4096);
    std::vector<LONG> odd(4096);
    for (int i = 0; i < 4096; ++i) {
        even[i] = i * 64 + 1;
        odd[i] = 0x3FFFF - i * 63;
    }
    for (LONG count = 0; count <= 40; ++count) {
        std::vector<WORD> samples(static_cast<std::size_t>(count));
        for (WORD& s : samples)
            s = static_cast<WORD>(random() % 3 == 0 ? 4096 + random() % 61440 : random() % 4096);
        for (bool sameTable : {false, true}) {
            const std::vector<LONG>& oddTable = sameTable ? even : odd;
            std::vector<LONG> expected(static_cast<std::size_t>(count));
            for (LONG i = 0; i < count; ++i)
                expected[i] = (i % 2 ? oddTable : even)[samples[i] > 4095 ? 4095 : samples[i]];
            for (const DeBayerRows::Kernels* set : RoutineSets()) {
                // Even samples to one half, odd ones to the other, as a run of a split row starting in
                // either half.
                std::vector<LONG> first(static_cast<std::size_t>(count / 2 + 2), -1);
                std::vector<LONG> second(static_cast<std::size_t>(count / 2 + 2), -1);
                set->load(samples.data(), count, even.data(), oddTable.data(), first.data(), second.data());
                for (LONG i = 0; i < count; ++i)
                    ASSERT_EQ((i % 2 ? second : first)[static_cast<std::size_t>(i / 2)], expected[i])
                        << count << " samples, sample " << i;
                EXPECT_EQ(first[static_cast<std::size_t>((count + 1) / 2)], -1) << "written past the run";
                EXPECT_EQ(second[static_cast<std::size_t>(count / 2)], -1) << "written past the run";
            }
        }
    }
}

TEST(DeBayerRows, TheFilterGivesTheSameOutputWithAndWithoutAvx2) {
    if (!HaveAvx2())
        GTEST_SKIP() << "the processor has no AVX2";
    std::mt19937 random(14);
    for (const auto& layout : BayerLayouts()) {
        const TestPlane mosaic = MakeMosaic(
            301, 67, layout.descriptor, [&](LONG, LONG, int) { return static_cast<ULONG>(random() % 4096); });
        for (bool nonSquare : {false, true}) {
            for (LONG tileSize : {16, 256}) {
                Demosaic simd(mosaic, layout.descriptor, tileSize);
                ASSERT_PV_OK(simd.filter->SetNonSquareMode(nonSquare, nullptr, false));
                const TestPlane withAvx2 = simd.Pull();
                CCpuFeatureOverride plain(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
                Demosaic reference(mosaic, layout.descriptor, tileSize);
                ASSERT_PV_OK(reference.filter->SetNonSquareMode(nonSquare, nullptr, false));
                EXPECT_TRUE(PlanesMatch(reference.Pull(), withAvx2))
                    << layout.name << (nonSquare ? " non-square" : " square") << " at tile size " << tileSize;
            }
        }
    }
}

} // namespace
