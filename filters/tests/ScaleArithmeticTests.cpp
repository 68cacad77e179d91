// The scale routines' integer arithmetic on small cases worked out by hand, and the SIMD routines against
// the plain ones.
#include "filters/CPravonFilterScale.h"
#include "filters/CScaleRows.h"
#include "filters/tests/ScaleReference.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using namespace kvtest;
using Pipeline = CScalePipeline;

// The output of a scale filter set to a fixed size over the plane.
TestPlane Scaled(const TestPlane& plane, LONG width, LONG height, LONG method, LONG tileSize = 256) {
    CPravonMemoryManager manager(tileSize);
    PravonImagePtr source = MakeImage(manager, plane);
    CPravonFilterScale filter(&manager, method);
    TestPlane out;
    EXPECT_PV_OK(PravonConnect(source.get(), &filter));
    EXPECT_PV_OK(filter.SetSize(width, height, false));
    EXPECT_PV_OK(PullAll(&filter, &out));
    return out;
}

TestPlane Line(LONG colorSpace, std::vector<ULONG> samples, bool vertical = false) {
    const LONG n = static_cast<LONG>(samples.size());
    TestPlane plane(vertical ? 1 : n, vertical ? n : 1, colorSpace);
    for (LONG i = 0; i < n; ++i)
        plane.SetSample(vertical ? 0 : i, vertical ? i : 0, 0, samples[static_cast<std::size_t>(i)]);
    return plane;
}

std::vector<ULONG> Samples(const TestPlane& plane) {
    std::vector<ULONG> v;
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            v.push_back(plane.Sample(x, y, 0));
    return v;
}

// Both directions of one case, at 8 and 16 bits.
void ExpectLine(std::vector<ULONG> in, LONG outputs, LONG method, std::vector<ULONG> expected) {
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kGrey16}) {
        EXPECT_EQ(Samples(Scaled(Line(colorSpace, in), outputs, 1, method)), expected) << "horizontal";
        EXPECT_EQ(Samples(Scaled(Line(colorSpace, in, true), 1, outputs, method)), expected) << "vertical";
    }
}

TEST(ScaleArithmetic, RatiosAreReducedToLowestTermsAndOnesAreDoubled) {
    struct Case {
        LONG source, output, S, D;
    } cases[] = {{6000, 1500, 8, 2}, {6000, 4200, 10, 7}, {2, 4, 2, 4}, {3, 2, 3, 2},
                 {100, 100, 2, 2},   {1, 5, 2, 10},       {9, 3, 6, 2}, {6001, 4201, 6001, 4201},
                 {7, 0, 7, 0},       {4000, 6000, 2, 3},  {0, 5, 0, 5}};
    for (const Case& c : cases) {
        LONG S = 0, D = 0;
        Pipeline::ReduceRatio(c.source, c.output, &S, &D);
        EXPECT_EQ(S, c.S) << c.source << " -> " << c.output;
        EXPECT_EQ(D, c.D) << c.source << " -> " << c.output;
    }
}

TEST(ScaleArithmetic, ReciprocalsAreRoundedUp) {
    EXPECT_EQ(Pipeline::Reciprocal(2), 0x80000000u);
    EXPECT_EQ(Pipeline::Reciprocal(3), 1431655766u);
    EXPECT_EQ(Pipeline::Reciprocal(7), 613566757u);
    EXPECT_EQ(Pipeline::Reciprocal(40000), 107375u);
    EXPECT_EQ(Pipeline::Reciprocal(0), 0u);
    for (LONG v = 2; v < 5000; ++v) {
        const std::uint64_t exact = ((std::uint64_t{1} << 32) + v - 1) / v;
        ASSERT_EQ(Pipeline::Reciprocal(v), exact) << v;
    }
}

TEST(ScaleArithmetic, TablesOfTheWorkedExamples) {
    std::vector<CScaleTableEntry> t;
    Pipeline::BuildLinearTable(2, 4, 4, &t);
    const std::uint32_t linear[4][3] = {{2, 6, 1}, {6, 2, 0}, {2, 6, 1}, {6, 2, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(t[i].word[0], linear[i][0]) << i;
        EXPECT_EQ(t[i].word[1], linear[i][1]) << i;
        EXPECT_EQ(t[i].advance, linear[i][2]) << i;
    }
    Pipeline::BuildAreaTable(3, 2, 2, &t);
    EXPECT_EQ(t[0].word[0], 2u);
    EXPECT_EQ(t[0].word[2], 0u);
    EXPECT_EQ(t[0].word[1], 1u);
    EXPECT_EQ(t[1].word[0], 1u);
    EXPECT_EQ(t[1].word[2], 1u);
    EXPECT_EQ(t[1].word[1], 0u);
    // Sample points at 3/4 and 1/4 of the way to the right pixel; the Q14 weights are exact there.
    Pipeline::BuildCubicTable(2, 4, 2, &t);
    EXPECT_EQ(std::vector<std::int32_t>(t[0].tap, t[0].tap + 4),
              (std::vector<std::int32_t>{-384, 3712, 14208, -1152}));
    EXPECT_EQ(std::vector<std::int32_t>(t[1].tap, t[1].tap + 4),
              (std::vector<std::int32_t>{-1152, 14208, 3712, -384}));
}

TEST(ScaleArithmetic, EnlargingTwoToFourLinearlyWeighsTheNeighbours) {
    // (6 p0 + 2 p1) / 8 and (2 p0 + 6 p1) / 8; the ends take the clamped edge pixel as their neighbour.
    ExpectLine({10, 90}, 4, CPravonFilterScale::kLinear, {10, 30, 70, 90});
}

TEST(ScaleArithmetic, ReducingThreeToTwoAveragesPartialPixels) {
    // q(2 p0 + p1, recip(3)) and q(p1 + 2 p2, recip(3)).
    ExpectLine({30, 60, 91}, 2, CPravonFilterScale::kLinear, {40, 80});
    ExpectLine({30, 60, 91}, 2, CPravonFilterScale::kCubic, {40, 80});
}

TEST(ScaleArithmetic, EnlargingTwoToFourCubicallyTruncatesTowardZero) {
    // 17536 p0 - 1152 p1, 13056 p0 + 3328 p1, 3328 p0 + 13056 p1, -1152 p0 + 17536 p1, over 16384.
    ExpectLine({10, 90}, 4, CPravonFilterScale::kCubic, {4, 26, 73, 95});
}

TEST(ScaleArithmetic, CubicOvershootIsClampedToTheSampleRange) {
    EXPECT_EQ(Samples(Scaled(Line(PravonColorSpace::kGrey8, {0, 255}), 4, 1, 2)),
              (std::vector<ULONG>{0, 51, 203, 255}));
    EXPECT_EQ(Samples(Scaled(Line(PravonColorSpace::kGrey16, {0, 65535}), 4, 1, 2)),
              (std::vector<ULONG>{0, 13311, 52223, 65535}));
}

TEST(ScaleArithmetic, NearestNeighbourGivesBorderPointsToTheLeftPixel) {
    ExpectLine({11, 22, 33, 44}, 2, CPravonFilterScale::kNearest, {11, 33});
    ExpectLine({11, 22, 33}, 7, CPravonFilterScale::kNearest, {11, 11, 22, 22, 22, 33, 33});
}

TEST(ScaleArithmetic, EqualHeightsTakeEachRowFromTheSameSourceRow) {
    const TestPlane plane = MakePlane(5, 4, PravonColorSpace::kRGB8, FillPattern::Random, 3);
    const TestPlane out = Scaled(plane, 9, 4, CPravonFilterScale::kLinear);
    for (LONG y = 0; y < 4; ++y)
        EXPECT_TRUE(PlanesMatch(Scaled(plane.Crop(CPravonRect(0, y, 5, y + 1)), 9, 1, 1),
                                out.Crop(CPravonRect(0, y, 9, y + 1))))
            << "row " << y;
}

TEST(ScaleArithmetic, LinearEnlargingKeepsTheHalvedReciprocalOfStoredDevelopments) {
    // 3 -> 7: the divisor 2D = 14 is applied as ceil(2^32 / 7) >> 1, which is just below 2^31 / 7, so a
    // flat 255 comes out as 254 wherever both weights meet the same value.
    const std::vector<ULONG> out = Samples(Scaled(Line(PravonColorSpace::kGrey8, {255, 255, 255}), 7, 1, 1));
    EXPECT_EQ(out, std::vector<ULONG>(7, 254));
}

TEST(ScaleArithmetic, EnlargementsBeyondSixteenBitWeightsStayMonotone) {
    // 2 -> 40000: the weights reach 80000, beyond what a 16-bit table word holds.
    const TestPlane out = Scaled(Line(PravonColorSpace::kGrey16, {1000, 61000}), 40000, 1, 1);
    ULONG previous = 0;
    for (LONG x = 0; x < out.width; ++x) {
        const ULONG v = out.Sample(x, 0, 0);
        ASSERT_GE(v, previous) << x;
        ASSERT_GE(v, 999u) << x;
        ASSERT_LE(v, 61000u) << x;
        previous = v;
    }
    // Output 20000: q(39998 * 1000 + 40002 * 61000, ceil(2^32 / 40000) >> 1).
    EXPECT_EQ(out.Sample(20000, 0, 0), 31001u);
}

// Random spans and rows through one routine set, for comparing the sets.
struct RoutineRun {
    explicit RoutineRun(const ScaleRows::Kernels& k) : kernels(k) {}
    const ScaleRows::Kernels& kernels;

    // The inputs of the last run, for working out what it should give.
    std::vector<CScaleTableEntry> table;
    std::vector<std::int32_t> index;
    std::vector<std::uint16_t> in;
    std::vector<std::vector<std::uint16_t>> ring;

    std::vector<std::uint16_t> Horizontal(Pipeline::Routine routine, LONG channels, LONG S, LONG D, bool wide,
                                          std::uint32_t max, unsigned seed, LONG count = 61,
                                          bool useTaps = true) {
        std::mt19937 random(seed);
        table.clear();
        index.assign(static_cast<std::size_t>(count), 0);
        std::int64_t position = 0, span = 0;
        if (routine == Pipeline::Routine::Area) {
            Pipeline::BuildAreaTable(S, D, count, &table);
            for (LONG i = 0; i < count; ++i) {
                index[i] = static_cast<std::int32_t>(position);
                span = std::max<std::int64_t>(span, position + table[i].word[2] + 2);
                position += 1 + table[i].word[2];
            }
        } else {
            if (routine == Pipeline::Routine::Linear)
                Pipeline::BuildLinearTable(S, D, count, &table);
            else
                Pipeline::BuildCubicTable(S, D, count, &table);
            for (LONG i = 0; i < count; ++i) {
                index[i] = static_cast<std::int32_t>(position);
                position += table[i].advance;
            }
            span = position + 4;
        }
        std::vector<std::int32_t> taps;
        LONG tapCount = 0;
        if (kernels.usesTaps && !wide && useTaps) {
            tapCount = ScaleRows::TapCount(routine, table.data(), count);
            taps.resize(ScaleRows::TapWords(count, tapCount));
            if (!ScaleRows::BuildTaps(routine, table.data(), count, static_cast<std::uint32_t>(D), tapCount,
                                      taps.data()))
                taps.clear();
        }
        in.assign(static_cast<std::size_t>(span + tapCount + 2) * channels, 0);
        for (auto& v : in)
            v = static_cast<std::uint16_t>(random() % (max + 1));
        std::vector<std::uint16_t> out(static_cast<std::size_t>(count) * channels);
        ScaleRows::HorizontalParams p;
        p.channels = channels;
        p.count = count;
        p.index = index.data();
        p.entries = table.data();
        p.maxSample = max;
        p.wholeWeight = static_cast<std::uint32_t>(D);
        p.reciprocal =
            routine == Pipeline::Routine::Linear ? Pipeline::Reciprocal(D) >> 1 : Pipeline::Reciprocal(S);
        p.wide = wide;
        p.taps = taps.empty() ? nullptr : taps.data();
        p.tapCount = tapCount;
        auto run = routine == Pipeline::Routine::Area     ? kernels.horizontalArea
                   : routine == Pipeline::Routine::Linear ? kernels.horizontalLinear
                                                          : kernels.horizontalCubic;
        run(in.data(), out.data(), p);
        return out;
    }

    std::vector<BYTE> Vertical(Pipeline::Routine routine, bool sixteen, LONG S, LONG D, LONG entry, bool wide,
                               unsigned seed, std::size_t count = 203) {
        std::mt19937 random(seed);
        const std::uint32_t max = sixteen ? 0xFFFF : 0xFF;
        table.clear();
        if (routine == Pipeline::Routine::Area)
            Pipeline::BuildAreaTable(S, D, entry + 1, &table);
        else if (routine == Pipeline::Routine::Linear)
            Pipeline::BuildLinearTable(S, D, entry + 1, &table);
        else
            Pipeline::BuildCubicTable(S, D, entry + 1, &table);
        const LONG ringRows = static_cast<LONG>((S + D - 1) / D + 3);
        ring.assign(static_cast<std::size_t>(ringRows), std::vector<std::uint16_t>(count));
        std::vector<const std::uint16_t*> rows;
        for (auto& r : ring) {
            for (auto& v : r)
                v = static_cast<std::uint16_t>(random() % (max + 1));
            rows.push_back(r.data());
        }
        std::vector<std::uint32_t> acc(count);
        std::vector<BYTE> out(count * 2);
        ScaleRows::VerticalParams p;
        p.count = count;
        p.entry = table.empty() ? nullptr : &table[static_cast<std::size_t>(entry)];
        p.maxSample = max;
        p.wholeWeight = static_cast<std::uint32_t>(D);
        p.reciprocal =
            routine == Pipeline::Routine::Linear ? Pipeline::Reciprocal(D) >> 1 : Pipeline::Reciprocal(S);
        p.wide = wide;
        p.accumulator = acc.data();
        using K = ScaleRows::Kernels;
        ScaleRows::VerticalRow K::*member = nullptr;
        switch (routine) {
        case Pipeline::Routine::Area:
            member = sixteen ? &K::verticalArea16 : &K::verticalArea8;
            break;
        case Pipeline::Routine::Linear:
            member = sixteen ? &K::verticalLinear16 : &K::verticalLinear8;
            break;
        case Pipeline::Routine::Cubic:
            member = sixteen ? &K::verticalCubic16 : &K::verticalCubic8;
            break;
        default:
            member = sixteen ? &K::verticalCopy16 : &K::verticalCopy8;
            break;
        }
        (kernels.*member)(rows.data(), out.data(), p);
        return out;
    }
};

// ceil(2^32 / v).
std::uint64_t RoundedUpReciprocal(std::uint64_t v) {
    return ((std::uint64_t{1} << 32) + v - 1) / v;
}

// What a window gives, summed in 64 bits straight from its table entry: the area's first, whole and last
// pixels, the linear pair, or the four cubic taps (truncated, clamped to the sample range).
std::uint32_t ClosedForm(Pipeline::Routine routine, const CScaleTableEntry& e, const std::uint16_t* s,
                         std::ptrdiff_t step, LONG S, LONG D, std::uint32_t max) {
    using R = Pipeline::Routine;
    if (routine == R::Cubic) {
        std::int64_t sum = 0;
        for (int k = 0; k < 4; ++k)
            sum += std::int64_t{e.tap[k]} * s[k * step];
        return sum < 0 ? 0 : static_cast<std::uint32_t>(std::min<std::int64_t>(sum / 16384, max));
    }
    std::uint64_t sum = 0;
    std::uint64_t reciprocal = 0;
    if (routine == R::Linear) {
        sum = std::uint64_t{e.word[0]} * s[0] + std::uint64_t{e.word[1]} * s[step];
        reciprocal = RoundedUpReciprocal(static_cast<std::uint64_t>(D)) >> 1;
    } else {
        sum = std::uint64_t{e.word[0]} * s[0];
        for (std::uint32_t k = 1; k <= e.word[2]; ++k)
            sum += static_cast<std::uint64_t>(D) * s[k * step];
        if (e.word[1])
            sum += std::uint64_t{e.word[1]} * s[(e.word[2] + 1) * step];
        reciprocal = RoundedUpReciprocal(static_cast<std::uint64_t>(S));
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>((sum * reciprocal) >> 32, max));
}

// Every row routine of either set (the plain horizontal ones with and without their SSE2 windows) against
// the closed form, over runs of one pixel, odd runs, runs that end just before and after a pair or a group
// of eight samples, and every channel count.
TEST(ScaleArithmetic, RowRoutinesGiveTheClosedFormSums) {
    using R = Pipeline::Routine;
    struct Case {
        R routine;
        LONG S, D;
    };
    const Case cases[] = {{R::Area, 8, 2},   {R::Area, 10, 7},  {R::Area, 3, 2},    {R::Area, 17, 5},
                          {R::Area, 200, 3}, {R::Linear, 2, 3}, {R::Linear, 7, 10}, {R::Linear, 2, 40000},
                          {R::Cubic, 2, 4},  {R::Cubic, 3, 7},  {R::Cubic, 7, 10}};
    struct Road {
        const ScaleRows::Kernels* kernels;
        bool taps;
        const char* name;
    };
    std::vector<Road> roads = {{&ScaleRows::Plain(), true, "plain"}, {&ScaleRows::Plain(), false, "scalar"}};
    if (CpuHas(CpuFeature::kAVX2))
        roads.push_back({&ScaleRows::Simd(), true, "AVX2"});
    unsigned seed = 7;
    for (const Road& road : roads) {
        RoutineRun run(*road.kernels);
        for (const Case& c : cases) {
            for (std::uint32_t max : {0xFFu, 0xFFFFu}) {
                const std::uint64_t weightSum = c.routine == R::Linear ? 2 * static_cast<std::uint64_t>(c.D)
                                                                       : static_cast<std::uint64_t>(c.S);
                const bool wide = c.routine != R::Cubic && max * weightSum > 0xFFFFFFFFu;
                for (LONG channels = 1; channels <= 4; ++channels) {
                    for (LONG count : {1, 2, 3, 4, 5, 16, 61}) {
                        const std::vector<std::uint16_t> out = run.Horizontal(
                            c.routine, channels, c.S, c.D, wide, max, ++seed, count, road.taps);
                        std::vector<std::uint16_t> expected;
                        for (LONG i = 0; i < count; ++i)
                            for (LONG ch = 0; ch < channels; ++ch)
                                expected.push_back(static_cast<std::uint16_t>(ClosedForm(
                                    c.routine, run.table[static_cast<std::size_t>(i)],
                                    run.in.data() + run.index[static_cast<std::size_t>(i)] * channels + ch,
                                    channels, c.S, c.D, max)));
                        ASSERT_EQ(out, expected) << road.name << " horizontal, " << c.S << "/" << c.D << ", "
                                                 << channels << " channels, " << count << " pixels";
                    }
                }
                if (!road.taps)
                    continue;
                const bool sixteen = max == 0xFFFF;
                for (std::size_t count : {1, 7, 8, 9, 17, 203}) {
                    for (LONG entry : {0, 1, 2}) {
                        const std::vector<BYTE> out =
                            run.Vertical(c.routine, sixteen, c.S, c.D, entry, wide, ++seed, count);
                        std::vector<BYTE> expected(count * 2);
                        for (std::size_t i = 0; i < count; ++i) {
                            // The window's rows from the ring's second on (cubic from its first).
                            std::vector<std::uint16_t> samples;
                            for (const auto& r : run.ring)
                                samples.push_back(r[i]);
                            const std::uint32_t v = ClosedForm(
                                c.routine, run.table[static_cast<std::size_t>(entry)],
                                samples.data() + (c.routine == R::Cubic ? 0 : 1), 1, c.S, c.D, max);
                            if (sixteen) {
                                expected[2 * i] = static_cast<BYTE>(v);
                                expected[2 * i + 1] = static_cast<BYTE>(v >> 8);
                            } else {
                                expected[i] = static_cast<BYTE>(v);
                            }
                        }
                        ASSERT_EQ(out, expected) << road.name << " vertical, " << c.S << "/" << c.D
                                                 << ", entry " << entry << ", " << count << " samples";
                    }
                }
            }
        }
    }
}

TEST(ScaleArithmetic, SimdRoutinesGiveThePlainRoutinesResults) {
    if (!CpuHas(CpuFeature::kAVX2))
        GTEST_SKIP() << "the processor has no AVX2";
    RoutineRun plain(ScaleRows::Plain());
    RoutineRun simd(ScaleRows::Simd());
    using R = Pipeline::Routine;
    struct Ratio {
        LONG S, D;
    };
    const Ratio reductions[] = {{8, 2}, {10, 7}, {3, 2}, {17, 5}, {6001, 4201}, {200, 3}};
    const Ratio enlargements[] = {{2, 3}, {2, 4}, {3, 7}, {7, 10}, {2, 40000}};
    unsigned seed = 1;
    for (LONG channels = 1; channels <= 4; ++channels) {
        for (std::uint32_t max : {0xFFu, 0xFFFFu}) {
            for (bool wide : {false, true}) {
                for (const Ratio& r : reductions)
                    EXPECT_EQ(plain.Horizontal(R::Area, channels, r.S, r.D, wide, max, seed),
                              simd.Horizontal(R::Area, channels, r.S, r.D, wide, max, seed))
                        << "area " << r.S << "/" << r.D << " channels " << channels;
                for (const Ratio& r : enlargements)
                    for (R routine : {R::Linear, R::Cubic})
                        EXPECT_EQ(plain.Horizontal(routine, channels, r.S, r.D, wide, max, seed),
                                  simd.Horizontal(routine, channels, r.S, r.D, wide, max, seed))
                            << (routine == R::Linear ? "linear " : "cubic ") << r.S << "/" << r.D;
                ++seed;
            }
        }
    }
    for (bool sixteen : {false, true}) {
        for (bool wide : {false, true}) {
            for (const Ratio& r : reductions)
                for (LONG entry : {0, 1, 2})
                    EXPECT_EQ(plain.Vertical(R::Area, sixteen, r.S, r.D, entry, wide, seed),
                              simd.Vertical(R::Area, sixteen, r.S, r.D, entry, wide, seed))
                        << "area " << r.S << "/" << r.D << " entry " << entry;
            for (const Ratio& r : enlargements)
                for (R routine : {R::Linear, R::Cubic, R::Copy})
                    EXPECT_EQ(plain.Vertical(routine, sixteen, r.S, r.D, 1, wide, seed),
                              simd.Vertical(routine, sixteen, r.S, r.D, 1, wide, seed));
            ++seed;
        }
    }
}

// Nearest-neighbour rows: each output pixel is its chosen source pixel, copied byte for byte, by either
// set of routines, for every pixel size, reductions and enlargements, and rows that end where the last
// chosen pixel ends (the source row is allocated to the byte, so a read past it shows under the
// sanitizers) or a little after it.
TEST(ScaleArithmetic, NearestRowsCopyTheChosenPixelsWithEitherRoutineSet) {
    struct Ratio {
        LONG S, D;
    };
    const Ratio ratios[] = {{4, 1}, {10, 7}, {1, 1}, {2, 3}, {7, 2}, {1, 5}};
    std::vector<const ScaleRows::Kernels*> sets = {&ScaleRows::Plain()};
    if (CpuHas(CpuFeature::kAVX2))
        sets.push_back(&ScaleRows::Simd());
    const bool wide = CpuHas(CpuFeature::kAVX512F | CpuFeature::kAVX512BW | CpuFeature::kAVX2);
    if (wide)
        sets.push_back(&ScaleRows::Wide());
    constexpr BYTE kGuard = 0xCD;
    constexpr std::size_t kGuardBytes = 32;
    std::mt19937 random(31);
    LONG grouped = 0;
    LONG wideGrouped = 0;
    LONG halfStores = 0;
    for (LONG pixelBytes : {1, 2, 3, 4, 6, 8}) {
        for (const Ratio& r : ratios) {
            for (LONG count : {1, 2, 5, 11, 16, 33, 70, 71, 200}) {
                for (LONG slack : {0, 5}) {
                    std::vector<std::int32_t> offsets(static_cast<std::size_t>(count));
                    for (LONG i = 0; i < count; ++i)
                        offsets[static_cast<std::size_t>(i)] =
                            static_cast<std::int32_t>(Pipeline::NearestSource(i, r.S, r.D) * pixelBytes);
                    const std::size_t rowBytes =
                        static_cast<std::size_t>(offsets.back() + pixelBytes + slack);
                    std::vector<BYTE> row(rowBytes);
                    for (BYTE& b : row)
                        b = static_cast<BYTE>(random());
                    std::vector<BYTE> expected;
                    for (std::int32_t offset : offsets)
                        expected.insert(expected.end(), row.begin() + offset,
                                        row.begin() + offset + pixelBytes);
                    for (const ScaleRows::Kernels* set : sets) {
                        ScaleRows::NearestPlan plan;
                        ScaleRows::PlanNearest(offsets.data(), count, pixelBytes,
                                               static_cast<std::int64_t>(rowBytes), set->nearestGroupBytes,
                                               &plan);
                        grouped += plan.grouped;
                        wideGrouped += plan.wideGrouped;
                        halfStores += plan.wideStoreBytes == 32 ? 1 : 0;
                        std::vector<BYTE> out(expected.size() + kGuardBytes, kGuard);
                        set->nearest(row.data(), out.data(), plan);
                        const std::vector<BYTE> copied(
                            out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected.size()));
                        EXPECT_EQ(copied, expected) << (set == &ScaleRows::Plain()  ? "plain"
                                                        : set == &ScaleRows::Simd() ? "SIMD"
                                                                                    : "wide")
                                                    << ", " << pixelBytes << "-byte pixels, " << r.S << "/"
                                                    << r.D << ", " << count << " pixels";
                        EXPECT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                                             out.end(), kGuard),
                                  static_cast<std::ptrdiff_t>(kGuardBytes))
                            << "written past the run";
                    }
                }
            }
        }
    }
    if (sets.size() > 1) {
        EXPECT_GT(grouped, 1000) << "the SIMD plans moved pixels in groups";
    }
    if (wide) {
        EXPECT_GT(wideGrouped, 1000) << "the AVX-512 plans moved pixels in wide groups";
        EXPECT_GT(halfStores, 0) << "some wide groups stored half a register";
    }
}

TEST(ScaleArithmetic, TheFilterGivesTheSameOutputWithAndWithoutSimd) {
    for (LONG colorSpace : {PravonColorSpace::kRGB16, PravonColorSpace::kRGB8, PravonColorSpace::kCMYK8}) {
        const TestPlane plane = MakePlane(61, 47, colorSpace, FillPattern::Random, 5);
        for (LONG method : {0, 1, 2}) {
            for (auto [w, h] : {std::pair<LONG, LONG>{17, 13}, {97, 71}, {43, 47}}) {
                const TestPlane withSimd = Scaled(plane, w, h, method, 16);
                CCpuFeatureOverride off(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
                EXPECT_TRUE(PlanesMatch(withSimd, Scaled(plane, w, h, method, 16)))
                    << std::hex << colorSpace << std::dec << " method " << method << " " << w << "x" << h;
            }
        }
    }
}

} // namespace
