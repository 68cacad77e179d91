// The standard demosaicing against a reference written here from its definition, pixel for pixel and
// bit for bit: random mosaics of every Bayer layout, square and non-square output, crops, channel curves
// and tile sizes, with sites planted where the two green activities differ by exactly the threshold and by
// one more.
#include "rawlib/filters/tests/DeBayerReference.h"

#include "testing/ImageCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace kvtest;

// Pairs of square-root table entries whose difference is d, for every d that some pair has.
struct Differences {
    Differences() : pairs(kMaxRoot + 1, {-1, -1}) {
        const std::vector<LONG>& root = RootTable();
        for (LONG low = 0; low < 4096; ++low)
            for (LONG high = low + 1; high < 4096; ++high) {
                auto& slot = pairs[static_cast<std::size_t>(root[high] - root[low])];
                if (slot.first < 0)
                    slot = {low, high};
            }
    }
    std::vector<std::pair<LONG, LONG>> pairs;
};

// Samples a, b, l, r with 2 |root(b) - root(a)| + |root(r) - root(l)| = target.
struct Plant {
    LONG a, b, l, r;
};

Plant FindPlant(LONG target, LONG from) {
    static const Differences differences;
    const std::vector<LONG>& root = RootTable();
    for (LONG a = from; a < 4096; ++a)
        for (LONG b = a; b < 4096 && 2 * (root[b] - root[a]) <= target; ++b) {
            const auto& pair = differences.pairs[static_cast<std::size_t>(target - 2 * (root[b] - root[a]))];
            if (target == 2 * (root[b] - root[a]))
                return {a, b, a, a};
            if (pair.first >= 0)
                return {a, b, pair.first, pair.second};
        }
    ADD_FAILURE() << "no samples make an activity of " << target;
    return {0, 0, 0, 0};
}

// A random mosaic, a few samples beyond 12 bits, and sites whose activities differ by exactly the
// threshold and by one more, in both directions. The green samples of a planted site (all the activities
// read) get root values that make one activity 0 and the other the target; the rest stays random.
TestPlane PlantedMosaic(LONG width, LONG height, const BayerLayout& layout, std::uint32_t seed) {
    std::mt19937 random(seed);
    TestPlane mosaic(width, height, PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            mosaic.SetSample(x, y, 0, random() % 97 == 0 ? 4096 + random() % 61440 : random() % 4096);
    const Plant plants[4] = {FindPlant(kThreshold, 300), FindPlant(kThreshold + 1, 300),
                             FindPlant(kThreshold, 1200), FindPlant(kThreshold + 1, 1200)};
    LONG n = 0;
    for (LONG y = 4; y + 4 < height; y += 7) {
        for (LONG x0 = 4; x0 + 5 < width; x0 += 8, ++n) {
            const LONG x = CfaChannel(layout.descriptor, x0 & 1, y & 1) == 1 ? x0 + 1 : x0;
            const Plant& p = plants[n % 4];
            const auto set = [&](LONG dx, LONG dy, LONG v) { mosaic.SetSample(x + dx, y + dy, 0, v); };
            if ((n / 4) % 2 == 0) {
                // Vertical activity 0 (U = D, L = the samples above and below it); horizontal = target.
                set(0, -1, p.a), set(0, 1, p.a);
                set(-2, -1, p.b), set(2, -1, p.b);
                set(-1, 0, p.l), set(-1, -2, p.l), set(-1, 2, p.l), set(1, 0, p.r);
            } else {
                // Horizontal activity 0 (the row above flat, L = R); vertical = target.
                set(-2, -1, p.l), set(0, -1, p.l), set(2, -1, p.l), set(0, 1, p.r);
                set(-1, 0, p.a), set(1, 0, p.a), set(-1, -2, p.b), set(-1, 2, p.b);
            }
        }
    }
    return mosaic;
}

struct Case {
    int layout;
    bool nonSquare;
    PravonRect crop;
    LONG tileSize;
    bool curves;
};

constexpr Case kCases[] = {
    {0, false, {}, 7, false},
    {1, false, {}, 16, false},
    {2, false, {}, 64, false},
    {3, false, {}, 256, false},
    {0, true, {}, 16, false},
    {1, true, {}, 7, false},
    {2, true, {}, 64, false},
    {3, true, {}, 16, false},
    {1, false, {5, 3, 30, 33}, 16, false},
    {2, true, {4, 5, 29, 40}, 7, false},
    {3, false, {}, 16, true},
    {0, true, {7, 1, 33, 44}, 16, true},
};

TEST(DeBayerReference, EveryOutputPixelIsTheInterpolationOfItsDefinition) {
    std::vector<WORD> warm(4096);
    std::vector<WORD> cool(4096);
    std::vector<WORD> lifted(4096);
    for (int i = 0; i < 4096; ++i) {
        warm[i] = static_cast<WORD>(std::min(i * 2.1, 4095.0));
        cool[i] = static_cast<WORD>(std::min(i * 1.4, 4095.0));
        lifted[i] = static_cast<WORD>(std::min(100 + i, 4095));
    }
    LONG atThreshold = 0;
    LONG pastThreshold = 0;
    std::uint32_t seed = 1;
    for (const Case& c : kCases) {
        const BayerLayout& layout = BayerLayouts()[c.layout];
        const TestPlane mosaic = PlantedMosaic(53, 61, layout, seed++);
        Demosaic d(mosaic, layout.descriptor, c.tileSize);
        ASSERT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
        ASSERT_PV_OK(d.filter->SetCropRect(c.crop, nullptr, false));
        if (c.curves) {
            ASSERT_PV_OK(d.filter->SetParameters(12, 12, warm.data(), lifted.data(), cool.data(), false));
        }
        TestPlane out;
        ASSERT_PV_OK(PullAll(d.filter.get(), &out, PullOrder::RandomOrder, seed));

        ReferenceDemosaic reference(mosaic, layout, ChannelLuts(*d.filter, c.curves).data());
        const PravonRect crop = d.filter->GetCropRect();
        const TestPlane expected =
            ReferencePicture(reference, out.width, out.height, c.nonSquare, crop.left, crop.top);
        EXPECT_EQ(out.width, c.crop.right > 0 ? c.crop.right - c.crop.left : c.nonSquare ? 30 : 41);
        EXPECT_TRUE(PlanesMatch(expected, out))
            << layout.name << (c.nonSquare ? " non-square" : " square") << ", tiles of " << c.tileSize
            << (c.curves ? ", with curves" : "") << ", crop " << c.crop.left << ", " << c.crop.top;
        atThreshold += reference.atThreshold;
        pastThreshold += reference.pastThreshold;
    }
    EXPECT_GT(atThreshold, 50) << "sites with activities exactly the threshold apart";
    EXPECT_GT(pastThreshold, 50) << "sites with activities one more than the threshold apart";
}

} // namespace
