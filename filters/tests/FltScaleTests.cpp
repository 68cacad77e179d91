// The older scale filter: its output against a reference written from its definition and against the
// scale filter's at every tile size, hand-worked pixels, the source colour spaces each method takes, its
// buffer-set pool and its two routine sets.
#include "filters/CFltScale.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace kvtest;

template <class Filter>
TestPlane ScaleWith(const TestPlane& plane, LONG method, LONG dw, LONG dh, LONG tileSize = 16) {
    CPravonMemoryManager manager(tileSize);
    PravonImagePtr source = MakeImage(manager, plane);
    Filter filter(&manager, method);
    EXPECT_PV_OK(PravonConnect(source.get(), &filter));
    EXPECT_PV_OK(filter.SetSize(dw, dh, false));
    TestPlane out;
    EXPECT_PV_OK(PullAll(&filter, &out));
    return out;
}

struct Case {
    LONG colorSpace;
    LONG sw, sh, dw, dh;
};

const Case kCases[] = {
    {PravonColorSpace::kRGB8, 37, 23, 11, 16},  {PravonColorSpace::kRGB16, 37, 23, 83, 50},
    {PravonColorSpace::kGrey8, 40, 40, 10, 10}, {PravonColorSpace::kGrey16, 17, 29, 17, 61},
    {PravonColorSpace::kCMYK8, 29, 31, 47, 31}, {PravonColorSpace::kLab16, 23, 19, 16, 40},
    {PravonColorSpace::kRGB8, 1, 1, 5, 3},      {PravonColorSpace::kRGB16, 37, 23, 1, 1},
    {PravonColorSpace::kGrey8, 61, 7, 19, 22},  {PravonColorSpace::kGrey8, 50, 33, 150, 99},
};

std::string Describe(const Case& c, LONG method) {
    return std::to_string(c.sw) + "x" + std::to_string(c.sh) + " -> " + std::to_string(c.dw) + "x" +
           std::to_string(c.dh) + " method " + std::to_string(method);
}

// Cubic kernels overshoot at sharp edges, where the two filters clamp at different stages: they are
// compared on a smooth picture without edges, the others on noise.
TestPlane PlaneFor(const Case& c, LONG method) {
    if (method != 2)
        return MakePlane(c.sw, c.sh, c.colorSpace, FillPattern::Random, c.dw);
    TestPlane p(c.sw, c.sh, c.colorSpace);
    const ULONG unit = p.BitsPerSample() == 16 ? 257 : 1;
    for (LONG y = 0; y < c.sh; ++y)
        for (LONG x = 0; x < c.sw; ++x)
            for (LONG ch = 0; ch < p.Channels(); ++ch)
                p.SetSample(x, y, ch, unit * (20 + 140 * x / c.sw + 60 * y / c.sh + 10 * ch));
    return p;
}

// Each resampling pass of the two filters may round a sample one apart (the scale filter divides by a
// multiplication with a rounded reciprocal, this one in floating point): one per direction that is
// resampled.
ULONG Tolerance(const Case& c, LONG method) {
    if (method == 0)
        return 0;
    return (c.sw != c.dw ? 1 : 0) + (c.sh != c.dh ? 1 : 0);
}

TEST(FltScale, AgreesWithTheScaleFilterWithinOneAtEveryTileSize) {
    for (const Case& c : kCases) {
        for (LONG method : {0, 1, 2}) {
            const TestPlane plane = PlaneFor(c, method);
            TestPlane out;
            auto build = [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
                IPravonImage* source = graph.Own(MakeImage(manager, plane));
                CFltScale* filter = graph.Own(new CFltScale(&manager, method));
                graph.output = filter;
                if (IPravonError* e = PravonConnect(source, filter))
                    return e;
                return filter->SetSize(c.dw, c.dh, false);
            };
            ASSERT_TRUE(SameAtEveryTileSize(build, &out)) << Describe(c, method);
            // Nearest neighbour picks the same pixels; the resampling methods round differently.
            const TestPlane standard = ScaleWith<CPravonFilterScale>(plane, method, c.dw, c.dh);
            EXPECT_TRUE(PlanesMatch(standard, out, Tolerance(c, method))) << Describe(c, method);
        }
    }
}

TEST(FltScale, PortableAndSimdRoutinesGiveTheSameOutput) {
    for (const Case& c : kCases) {
        for (LONG method : {1, 2}) {
            const TestPlane plane = MakePlane(c.sw, c.sh, c.colorSpace, FillPattern::Random, c.sh);
            const TestPlane simd = ScaleWith<CFltScale>(plane, method, c.dw, c.dh);
            CCpuFeatureOverride portable(0, CpuFeature::kSSE2 | CpuFeature::kSSE41);
            ASSERT_FALSE(FltScaleRoutines::SimdAvailable());
            EXPECT_TRUE(PlanesMatch(simd, ScaleWith<CFltScale>(plane, method, c.dw, c.dh)))
                << Describe(c, method);
        }
    }
}

// One grey row, or one grey column, of the given samples.
TestPlane GreyLine(std::initializer_list<ULONG> values, bool column, LONG colorSpace) {
    const auto n = static_cast<LONG>(values.size());
    TestPlane p(column ? 1 : n, column ? n : 1, colorSpace);
    LONG i = 0;
    for (ULONG v : values) {
        p.SetSample(column ? 0 : i, column ? i : 0, 0, v);
        ++i;
    }
    return p;
}

// The same line scaled as a row (the horizontal routines) and as a column (the vertical ones).
TEST(FltScale, HandWorkedLinesInBothDirections) {
    struct Line {
        LONG colorSpace;
        std::initializer_list<ULONG> source;
        LONG method;
        LONG length;
        std::initializer_list<ULONG> expected;
    } lines[] = {
        // 2 -> 4 linear: p0, (6 p0 + 2 p1) / 8, (2 p0 + 6 p1) / 8, p1 (the edges clamp).
        {PravonColorSpace::kGrey8, {0, 200}, 1, 4, {0, 50, 150, 200}},
        // 3 -> 2 by area with either method: (2 p0 + p1) / 3 and (p1 + 2 p2) / 3.
        {PravonColorSpace::kGrey8, {30, 60, 90}, 1, 2, {40, 80}},
        {PravonColorSpace::kGrey8, {30, 60, 90}, 2, 2, {40, 80}},
        // 4 -> 2 nearest: the points 1.0 and 3.0 belong to the left pixels.
        {PravonColorSpace::kGrey8, {10, 20, 30, 40}, 0, 2, {10, 30}},
        // 4 -> 8 cubic across a step: the sums -5, -17, 272 and 260 are clamped to the sample range.
        {PravonColorSpace::kGrey8, {0, 0, 255, 255}, 2, 8, {0, 0, 0, 51, 203, 255, 255, 255}},
        {PravonColorSpace::kGrey16, {0, 0, 65535, 65535}, 2, 8, {0, 0, 0, 13311, 52223, 65535, 65535, 65535}},
    };
    for (const Line& l : lines) {
        for (bool column : {false, true}) {
            const TestPlane source = GreyLine(l.source, column, l.colorSpace);
            const TestPlane out = column ? ScaleWith<CFltScale>(source, l.method, 1, l.length)
                                         : ScaleWith<CFltScale>(source, l.method, l.length, 1);
            ASSERT_EQ(column ? out.height : out.width, l.length);
            LONG i = 0;
            for (ULONG v : l.expected) {
                EXPECT_EQ(out.Sample(column ? 0 : i, column ? i : 0, 0), v)
                    << "method " << l.method << (column ? " row " : " column ") << i;
                ++i;
            }
        }
    }
}

// The older filter's resampling written out from its definition, a whole line at a time, with each
// output sample's weights and source samples worked out in closed form (no tables, rings or tiles):
// area averages trunc((1/S) sum) and linear trunc(0.5 (1/D) sum) in floating point, cubic sums of Q14
// weights divided toward zero; the rows pass between the two directions as 16-bit values (clamped to
// 0..65535 only), and 8-bit outputs are clamped to 255 when packed.
namespace flt {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Lowest terms, both doubled when either is 1.
void Reduce(std::int64_t source, std::int64_t output, std::int64_t* S, std::int64_t* D) {
    const std::int64_t g = std::gcd(source, output);
    *S = source / g;
    *D = output / g;
    if (*S == 1 || *D == 1) {
        *S *= 2;
        *D *= 2;
    }
}

// The Catmull-Rom weight of tap k (0..3) at fraction t, in Q14 rounded from single precision.
std::int64_t CubicWeight(double t, int k) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double w[4] = {-0.5 * t3 + t2 - 0.5 * t, 1.5 * t3 - 2.5 * t2 + 1, -1.5 * t3 + 2 * t2 + 0.5 * t,
                         0.5 * t3 - 0.5 * t2};
    return static_cast<std::int64_t>(std::nearbyint(static_cast<float>(w[k] * 16384.0)));
}

std::uint32_t Clamp16(double v) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(static_cast<std::int64_t>(v), 0, 0xFFFF));
}

// Resamples a line of n samples (read through at(i), clamped to the line) to m samples.
template <class At>
std::vector<std::uint32_t> Line(At at, std::int64_t n, std::int64_t m, LONG method) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(m));
    auto p = [&](std::int64_t i) -> std::int64_t { return at(std::clamp<std::int64_t>(i, 0, n - 1)); };
    std::int64_t S = 0, D = 0;
    Reduce(n, m, &S, &D);
    for (std::int64_t x = 0; x < m; ++x) {
        std::uint32_t v = 0;
        if (method == 0) {
            v = static_cast<std::uint32_t>(p(-FloorDiv(-(2 * x + 1) * S, 2 * D) - 1));
        } else if (n == m) {
            v = static_cast<std::uint32_t>(p(x));
        } else if (n < m) {
            // The sample point (x + 0.5) S / D - 0.5 lies c / 2D past source sample left.
            const std::int64_t c = (S + D + 2 * S * x) % (2 * D);
            const std::int64_t left = FloorDiv((2 * x + 1) * S - D, 2 * D);
            if (method == 1) {
                const std::int64_t sum = (2 * D - c) * p(left) + c * p(left + 1);
                v = Clamp16(0.5 * (1.0 / static_cast<double>(D)) * static_cast<double>(sum));
            } else {
                const double t = static_cast<double>(c) / static_cast<double>(2 * D);
                std::int64_t sum = 0;
                for (int k = 0; k < 4; ++k)
                    sum += CubicWeight(t, k) * p(left - 1 + k);
                v = static_cast<std::uint32_t>(std::clamp<std::int64_t>(sum / 16384, 0, 0xFFFF));
            }
        } else {
            // Output sample x covers [S x, S (x + 1)) in units of 1/D source sample.
            const std::int64_t first = S * x / D;
            const std::int64_t last = S * (x + 1) / D;
            std::int64_t sum = (D - S * x % D) * p(first) + (S * (x + 1) % D) * p(last);
            for (std::int64_t i = first + 1; i < last; ++i)
                sum += D * p(i);
            v = Clamp16((1.0 / static_cast<double>(S)) * static_cast<double>(sum));
        }
        out[static_cast<std::size_t>(x)] = v;
    }
    return out;
}

TestPlane Reference(const TestPlane& source, LONG width, LONG height, LONG method) {
    TestPlane out(width, height, source.colorSpace);
    const std::uint32_t max = source.BitsPerSample() == 16 ? 0xFFFF : 0xFF;
    for (LONG c = 0; c < source.Channels(); ++c) {
        std::vector<std::vector<std::uint32_t>> rows;
        for (LONG y = 0; y < source.height; ++y)
            rows.push_back(Line([&](std::int64_t i) { return source.Sample(static_cast<LONG>(i), y, c); },
                                source.width, width, method));
        for (LONG x = 0; x < width; ++x) {
            const auto column = Line(
                [&](std::int64_t i) { return rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(x)]; },
                source.height, height, method);
            for (LONG y = 0; y < height; ++y)
                out.SetSample(x, y, c, std::min(column[static_cast<std::size_t>(y)], max));
        }
    }
    return out;
}

} // namespace flt

// Noise reaches every tap, every clamp of the cubic (also between the directions) and every carry.
TEST(FltScale, EveryOutputSampleIsTheResamplingOfItsDefinition) {
    for (const Case& c : kCases) {
        const TestPlane plane = MakePlane(c.sw, c.sh, c.colorSpace, FillPattern::Random, 11);
        for (LONG method : {0, 1, 2}) {
            const TestPlane expected = flt::Reference(plane, c.dw, c.dh, method);
            EXPECT_TRUE(PlanesMatch(expected, ScaleWith<CFltScale>(plane, method, c.dw, c.dh)))
                << Describe(c, method);
            const CCpuFeatureOverride portable(0, CpuFeature::kSSE2 | CpuFeature::kSSE41);
            EXPECT_TRUE(PlanesMatch(expected, ScaleWith<CFltScale>(plane, method, c.dw, c.dh, 7)))
                << Describe(c, method) << " with the portable routines";
        }
    }
}

TEST(FltScale, RefusedSourcesAreReportedUnderTheFiltersCode) {
    const TestPlane plane = MakePlane(9, 9, 0x08020100, FillPattern::Random, 2);
    CPravonMemoryManager manager(16);
    PravonImagePtr source = MakeImage(manager, plane);
    CFltScale filter(&manager, 1);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(filter.SetSize(4, 4, false));
    TestPlane out;
    std::unique_ptr<IPravonError, PravonErrorReleaser> error(PullAll(&filter, &out));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetComponent(), CFltScale::kCode);
    EXPECT_TRUE(error->HasText("Bad source data color space")) << error->Describe();
}

TEST(FltScale, AnEmptySourceGivesABlackOutput) {
    CPravonMemoryManager manager(8);
    PravonImagePtr source = MakeImage(manager, TestPlane(0, 0, PravonColorSpace::kRGB8));
    CFltScale filter(&manager, 2);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(filter.SetSize(12, 5, false));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&filter, &out));
    EXPECT_TRUE(PlanesMatch(MakePlane(12, 5, PravonColorSpace::kRGB8, FillPattern::Constant, 0), out));
}

TEST(FltScale, ReducingHeightWithCubicFetchesTheRowsOfLinear) {
    const TestPlane plane = MakePlane(30, 47, PravonColorSpace::kRGB8, FillPattern::Random, 5);
    TestPlane outputs[2];
    std::int64_t fetched[2] = {};
    for (LONG method : {1, 2}) {
        CPravonMemoryManager manager(256);
        PravonImagePtr source = MakeImage(manager, plane);
        CFltScale filter(&manager, method);
        ASSERT_PV_OK(PravonConnect(source.get(), &filter));
        ASSERT_PV_OK(filter.SetSize(13, 10, false));
        ASSERT_PV_OK(PullAll(&filter, &outputs[method - 1]));
        fetched[method - 1] = filter.GetLastFetchedRows();
    }
    EXPECT_GE(fetched[0], 47) << "one tile reads every source row";
    EXPECT_EQ(fetched[0], fetched[1]);
    EXPECT_TRUE(PlanesMatch(outputs[0], outputs[1]));
}

TEST(FltScale, MethodValuesBeyondCubicResampleAsCubic) {
    // The cubic routines weigh four rows, so any other method value is given the ring of four rows too.
    const Case c{PravonColorSpace::kRGB8, 21, 17, 44, 39};
    const TestPlane plane = MakePlane(c.sw, c.sh, c.colorSpace, FillPattern::Random, 8);
    const TestPlane cubic = ScaleWith<CFltScale>(plane, 2, c.dw, c.dh, 8);
    for (LONG method : {3, 7, -1})
        EXPECT_TRUE(PlanesMatch(cubic, ScaleWith<CFltScale>(plane, method, c.dw, c.dh, 8))) << method;
}

// The pixel a nearest-neighbour output pixel takes: the one holding the point (x + 0.5) * S / D.
LONG NearestPixel(LONG x, LONG S, LONG D) {
    return ((2 * x + 1) * S + 2 * D - 1) / (2 * D) - 1;
}

TEST(FltScale, SeparableMethodsTakeOnlyWholeSamplesOfOneThreeOrFourChannels) {
    // 1-bit grey, two 8-bit channels and an 8-bit palette: methods 1 and 2 refuse them, the tile stays
    // invalid (a second pull fails again); nearest neighbour copies their pixels unchanged.
    for (LONG colorSpace : {0x01020001, 0x08040001, 0x08020100}) {
        const TestPlane plane = MakePlane(19, 13, colorSpace, FillPattern::Random, 3);
        for (LONG method : {1, 2}) {
            CPravonMemoryManager manager(8);
            PravonImagePtr source = MakeImage(manager, plane);
            CFltScale filter(&manager, method);
            ASSERT_PV_OK(PravonConnect(source.get(), &filter));
            ASSERT_PV_OK(filter.SetSize(7, 29, false));
            TestPlane out;
            EXPECT_PV_KIND(PullAll(&filter, &out), PravonKind::kUnsupportedColorSpace)
                << std::hex << colorSpace;
            EXPECT_PV_KIND(PullAll(&filter, &out), PravonKind::kUnsupportedColorSpace)
                << std::hex << colorSpace;
        }
        for (auto [dw, dh] : {std::pair<LONG, LONG>{7, 29}, {40, 5}}) {
            TestPlane out;
            auto build = [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
                IPravonImage* source = graph.Own(MakeImage(manager, plane));
                CFltScale* filter = graph.Own(new CFltScale(&manager, 0));
                graph.output = filter;
                if (IPravonError* e = PravonConnect(source, filter))
                    return e;
                return filter->SetSize(dw, dh, false);
            };
            ASSERT_TRUE(SameAtEveryTileSize(build, &out)) << std::hex << colorSpace;
            TestPlane expected(dw, dh, colorSpace);
            for (LONG y = 0; y < dh; ++y)
                for (LONG x = 0; x < dw; ++x)
                    for (LONG ch = 0; ch < plane.Channels(); ++ch)
                        expected.SetSample(
                            x, y, ch, plane.Sample(NearestPixel(x, 19, dw), NearestPixel(y, 13, dh), ch));
            EXPECT_TRUE(PlanesMatch(expected, out)) << std::hex << colorSpace;
        }
    }
}

TEST(FltScale, TilesInSequenceShareOnePooledBufferSet) {
    const TestPlane plane = MakePlane(40, 40, PravonColorSpace::kRGB8, FillPattern::Random, 9);
    CPravonMemoryManager manager(8);
    PravonImagePtr source = MakeImage(manager, plane);
    CFltScale filter(&manager, 1);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(filter.SetSize(50, 30, false));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&filter, &out, PullOrder::RandomOrder));
    EXPECT_EQ(filter.GetPool().GetFreeCount(), 1u);
    EXPECT_EQ(filter.GetPool().GetUsedCount(), 0u);
    EXPECT_NE(filter.GetPool().GetLockName().find("TThreadDataMgr<"), std::string::npos);
}

TEST(FltScale, PoolGrowsOnlyWhileSetsAreInUse) {
    TThreadDataMgr<CFltScale::BufSet> pool;
    CFltScale::BufSet* a = pool.Acquire();
    CFltScale::BufSet* b = pool.Acquire();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(pool.GetUsedCount(), 2u);
    CFltScale::BufSet stranger;
    pool.Release(&stranger); // not the pool's: nothing changes
    EXPECT_EQ(pool.GetUsedCount(), 2u);
    pool.Release(a);
    EXPECT_EQ(pool.Acquire(), a) << "a free set is handed out again";
    pool.Release(a);
    pool.Release(b);
    EXPECT_EQ(pool.GetFreeCount(), 2u);
    EXPECT_EQ(pool.GetUsedCount(), 0u);
}

TEST(FltScale, ASourceThatLeavesTheFixedSizeIsScaledAgain) {
    // The filter passes a source of its output size through; once the source grows it must scale again
    // rather than pass the larger image on.
    TestPlane plane = MakePlane(20, 10, PravonColorSpace::kGrey8, FillPattern::Random, 4);
    CPravonMemoryManager manager(16);
    PravonImagePtr source = MakeImage(manager, plane);
    CFltScale filter(&manager, 1);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(filter.SetSize(20, 10, true));
    EXPECT_TRUE(filter.IsPassThrough());
    const TestPlane bigger = MakePlane(40, 20, PravonColorSpace::kGrey8, FillPattern::Random, 6);
    ASSERT_PV_OK(source->SetSize(40, 20));
    ASSERT_PV_OK(WritePlane(source.get(), bigger));
    IPravonDataDestination::ChangeSize change{20, 10, 40, 20};
    ASSERT_PV_OK(PravonSendDataNotification(source.get(), PravonNotification::kSize, &change));
    EXPECT_FALSE(filter.IsPassThrough());
    TestPlane out;
    ASSERT_PV_OK(PullAll(&filter, &out));
    EXPECT_TRUE(PlanesMatch(ScaleWith<CPravonFilterScale>(bigger, 1, 20, 10), out, 1));
}

TEST(FltScale, IdentifiesItself) {
    CPravonMemoryManager manager(16);
    CFltScale filter(&manager, 2);
    EXPECT_EQ(filter.GetFilterCode(), 0x73636C32);
    EXPECT_STREQ(filter.GetFilterDescription(), "Scale");
    EXPECT_EQ(filter.GetMethod(), 2);
    EXPECT_TRUE(filter.IsPassThrough());
}

} // namespace
