#include "filters/KorvelEnhance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

// The curve worked out the long way: the clipped running count at every bin, the points where the
// histogram crosses the clip level, then each entry on the line through the two points around it, all in
// 128-bit arithmetic and cut to 16 bits and to the output scale at the end.
std::vector<WORD> ReferenceCurve(ULONG percent, const std::vector<ULONG>& histogram, unsigned curveBits,
                                 unsigned outputBits) {
    using Wide = unsigned __int128;
    const Wide threshold = Wide{*std::max_element(histogram.begin(), histogram.end())} * percent / 100;
    std::vector<std::pair<Wide, Wide>> points; // in bins and units
    Wide sum = 0;
    Wide units = 0;
    bool above = false;
    for (std::size_t j = 0; j < histogram.size(); ++j) {
        sum += histogram[j];
        if (sum > threshold) {
            ++units;
            sum = 0;
        }
        const bool crossing = above ? histogram[j] < threshold : histogram[j] > threshold;
        if (crossing) {
            points.emplace_back(j, units);
            above = !above;
        }
    }
    points.emplace_back(histogram.size(), units);
    const Wide entries = Wide{1} << curveBits;
    const Wide top = std::min<Wide>((Wide{1} << outputBits) - 1, 65535);
    std::vector<WORD> curve(static_cast<std::size_t>(entries));
    // The points on the curve's scale, after the start at (0, 0).
    std::vector<std::pair<Wide, Wide>> scaled = {{0, 0}};
    for (const auto& [bin, count] : points)
        scaled.emplace_back(bin * entries / histogram.size(), units ? (count << outputBits) / units : 0);
    std::size_t segment = 1; // the first point beyond entry k
    for (Wide k = 0; k < entries; ++k) {
        Wide value = (k << outputBits) / entries; // the ramp, when no bin ever passed the clip level
        if (units != 0) {
            while (scaled[segment].first <= k)
                ++segment;
            const auto [x0, y0] = scaled[segment - 1];
            const auto [x1, y1] = scaled[segment];
            value = y0 + (y1 - y0) * (k - x0) / (x1 - x0);
        }
        curve[static_cast<std::size_t>(k)] = static_cast<WORD>(std::min(value, top));
    }
    return curve;
}

unsigned Log2(std::size_t n) {
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < n)
        ++bits;
    return bits;
}

// The function's curve, with the caller's work arrays of exactly one entry a bin when withWork is set.
std::vector<WORD> Enhance(ULONG percent, const std::vector<ULONG>& histogram, unsigned curveBits,
                          unsigned outputBits, bool withWork) {
    std::vector<WORD> curve(std::size_t{1} << curveBits, 0xDEAD);
    std::vector<ULONG> workX(histogram.size());
    std::vector<ULONG> workY(histogram.size());
    EXPECT_FALSE(KorvelEnhance(percent, histogram.data(), Log2(histogram.size()), curve.data(),
                               static_cast<LONG>(curveBits), static_cast<LONG>(outputBits),
                               withWork ? workX.data() : nullptr, withWork ? workY.data() : nullptr));
    return curve;
}

TEST(KorvelEnhance, AFlatHistogramClimbsOneUnitABin) {
    const std::vector<ULONG> flat(256, 100);
    const std::vector<WORD> curve = Enhance(50, flat, 8, 8, true);
    // Points (0, 1) and (256, 256): 1 + 255 k / 256.
    EXPECT_EQ(curve[0], 1);
    EXPECT_EQ(curve[128], 128);
    EXPECT_EQ(curve[255], 255);
    for (unsigned k = 0; k < 256; ++k)
        ASSERT_EQ(curve[k], 1 + 255 * k / 256) << "entry " << k;
}

TEST(KorvelEnhance, AnEmptyHistogramGivesTheRamp) {
    const struct {
        unsigned histogramBits, curveBits, outputBits;
    } cases[] = {{8, 8, 8}, {4, 10, 16}, {10, 4, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.histogramBits << "/" << c.curveBits << "/" << c.outputBits);
        const std::vector<WORD> curve = Enhance(50, std::vector<ULONG>(std::size_t{1} << c.histogramBits, 0),
                                                c.curveBits, c.outputBits, false);
        const std::size_t entries = std::size_t{1} << c.curveBits;
        for (std::size_t k = 0; k < entries; ++k)
            ASSERT_EQ(curve[k], std::min<std::size_t>((k << c.outputBits) / entries, 65535)) << "entry " << k;
    }
}

TEST(KorvelEnhance, AClippedTopEndStaysAtTheTopOfASixteenBitScale) {
    // Bins 0..127 of 100 each, the rest empty: points (0, 1), (128, 128) and (256, 128) of 128 units, that
    // is (0, 512), (128, 65536) and (256, 65536) on the scale, so 512 + 508 k up to entry 128 and the top of
    // the scale after it, which a 16-bit entry cannot hold.
    std::vector<ULONG> histogram(256, 0);
    std::fill(histogram.begin(), histogram.begin() + 128, 100);
    const std::vector<WORD> curve = Enhance(50, histogram, 8, 16, true);
    for (unsigned k = 0; k < 128; ++k)
        ASSERT_EQ(curve[k], 512 + 508 * k) << "entry " << k;
    for (unsigned k = 128; k < 256; ++k)
        ASSERT_EQ(curve[k], 65535) << "entry " << k;
}

TEST(KorvelEnhance, MatchesTheReferenceForManyHistograms) {
    std::mt19937 random(17);
    const struct {
        const char* what;
        unsigned histogramBits, curveBits, outputBits;
        ULONG percent;
        ULONG largest;    // bins are drawn from 0 .. largest
        bool alternating; // every other bin empty: a crossing at every bin
    } cases[] = {
        {"8 bits each way", 8, 8, 8, 30, 1000, false},
        {"alternating, caller arrays of one entry a bin", 8, 8, 16, 50, 1000, true},
        {"a large image at 16 bits each way", 16, 16, 16, 90, 50'000'000, false},
        {"more curve entries than bins", 6, 12, 16, 40, 300, false},
        {"fewer curve entries than bins", 12, 6, 10, 5, 300, false},
        {"a clip level of nothing", 8, 8, 8, 0, 5, false},
        {"a clip level above the peak", 8, 8, 8, 150, 1000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ULONG> histogram(std::size_t{1} << c.histogramBits);
        std::uniform_int_distribution<ULONG> draw(0, c.largest);
        for (std::size_t j = 0; j < histogram.size(); ++j)
            histogram[j] = c.alternating && j % 2 ? 0 : draw(random);
        histogram[histogram.size() / 3] = c.largest; // the peak the clip level is a share of
        const std::vector<WORD> expected = ReferenceCurve(c.percent, histogram, c.curveBits, c.outputBits);
        for (bool withWork : {true, false}) {
            const std::vector<WORD> curve =
                Enhance(c.percent, histogram, c.curveBits, c.outputBits, withWork);
            ASSERT_EQ(curve, expected) << (withWork ? "with" : "without") << " work arrays";
            EXPECT_TRUE(std::is_sorted(curve.begin(), curve.end())) << "a tone curve never falls";
        }
    }
}

TEST(KorvelEnhance, OnlyTheLowFiveBitsOfTheBitCountsCount) {
    const std::vector<ULONG> flat(256, 100);
    std::vector<WORD> curve(256);
    ASSERT_FALSE(KorvelEnhance(50, flat.data(), 32 + 8, curve.data(), 64 + 8, 32 + 8, nullptr, nullptr));
    EXPECT_EQ(curve, Enhance(50, flat, 8, 8, false));
}

} // namespace
