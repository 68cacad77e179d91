// The LUT filter: tables of every depth resampled to the source's, worked out by hand; refused settings and
// formats; what a change announces.
#include "filters/CPravonFilterLut.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;

using Table = std::vector<WORD>;

Table Made(LONG inputBits, const std::function<ULONG(ULONG)>& entry) {
    Table t(std::size_t{1} << inputBits);
    for (std::size_t k = 0; k < t.size(); ++k)
        t[k] = static_cast<WORD>(entry(static_cast<ULONG>(k)));
    return t;
}

// The tables' pointers, null where a table is empty.
std::vector<const WORD*> Pointers(const std::vector<Table>& tables) {
    std::vector<const WORD*> p;
    for (const Table& t : tables)
        p.push_back(t.empty() ? nullptr : t.data());
    return p;
}

GraphBuilder MappedOf(const TestPlane& plane, const std::vector<Table>& tables, LONG inputBits,
                      LONG outputBits) {
    return [=](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* filter = graph.Own(new CPravonFilterLut(&manager));
        if (IPravonError* e = PravonConnect(source, filter))
            return e;
        const std::vector<const WORD*> p = Pointers(tables);
        if (IPravonError* e = filter->SetLUT(tables.empty() ? nullptr : p.data(), inputBits, outputBits,
                                             static_cast<LONG>(tables.size()), false))
            return e;
        graph.output = filter;
        return nullptr;
    };
}

struct DepthCase {
    const char* name;
    LONG colorSpace;
    LONG inputBits;
    LONG outputBits;
    std::vector<Table> tables;
    // Sample value in, sample value out, per channel: the hand-worked points of each table.
    std::vector<std::vector<std::pair<ULONG, ULONG>>> points;
};

TEST(LutFilter, TablesOfEveryDepthMapTheSourceAsWorkedOutByHand) {
    const auto ramp = [](ULONG k) { return k; };
    const DepthCase cases[] = {
        {"no tables on 8-bit RGB: identity from the 1-bit tables",
         Cs::kRGB8,
         0,
         0,
         {},
         {{{0, 0}, {1, 1}, {128, 128}, {255, 255}}}},
        {"three 8-bit tables on 8-bit RGB",
         Cs::kRGB8,
         8,
         8,
         {Made(8, [](ULONG k) { return 255 - k; }), Made(8, [](ULONG k) { return k / 2; }),
          Made(8, [](ULONG k) { return std::min<ULONG>(255, 2 * k); })},
         {{{0, 255}, {200, 55}}, {{201, 100}, {255, 127}}, {{100, 200}, {128, 255}}}},
        // Repeating the high bits makes 255 into 0xFFFF, and the interpolation keeps an identity exact.
        {"an 8-bit table on a 16-bit source",
         Cs::kGrey16,
         8,
         8,
         {Made(8, ramp)},
         {{{0, 0}, {257, 257}, {1000, 1000}, {65535, 65535}}}},
        {"an inverting 8-bit table on a 16-bit source",
         Cs::kGrey16,
         8,
         8,
         {Made(8, [](ULONG k) { return 255 - k; })},
         // 0 -> 0xFFFF; 128 of 257 steps between entries 0 and 1 goes 128 * 257 / 257 down.
         {{{0, 65535}, {128, 65535 - 128}, {65535, 0}}}},
        {"a 16-bit table on an 8-bit source takes every 257th entry",
         Cs::kGrey8,
         16,
         16,
         {Made(16, [](ULONG k) { return 65535 - k; })},
         {{{0, 255}, {1, 254}, {255, 0}}}},
        // Entries 16 i of a 4-bit ramp; 8 lies 120/255 of the way from entry 0 to entry 1.
        {"a 4-bit null table on an 8-bit source interpolates its ramp",
         Cs::kGrey8,
         4,
         8,
         {Table{}},
         {{{0, 0}, {8, 7}, {17, 16}, {255, 240}}}},
        // 12 output bits widen to 16 as (s << 4) | (s >> 8).
        {"12-bit values on a 16-bit source",
         Cs::kGrey16,
         16,
         12,
         {Made(16, [](ULONG k) { return k >> 4; })},
         {{{0xFFFF, 0xFFFF}, {0x8000, 0x8008}, {0x1234, 0x1231}}}},
        // 2 output bits are stretched by last / v = 255 / 3.
        {"2-bit values on an 8-bit source",
         Cs::kGrey8,
         8,
         2,
         {Made(8, [](ULONG k) { return k >> 6; })},
         {{{0, 0}, {64, 85}, {191, 170}, {255, 255}}}},
        {"four tables on 8-bit CMYK",
         Cs::kCMYK8,
         8,
         8,
         {Made(8, ramp), Made(8, [](ULONG) { return 7; }), Made(8, ramp),
          Made(8, [](ULONG k) { return k ^ 1; })},
         {{{9, 9}}, {{9, 7}}, {{200, 200}}, {{10, 11}}}},
        {"three 16-bit tables on 16-bit Lab",
         Cs::kLab16,
         16,
         16,
         {Made(16, [](ULONG k) { return k / 2; }), Made(16, ramp),
          Made(16, [](ULONG k) { return 65535 - k; })},
         {{{40000, 20000}}, {{123, 123}}, {{65535, 0}}}},
    };
    for (const DepthCase& c : cases) {
        SCOPED_TRACE(c.name);
        const LONG channels = Cs::Channels(c.colorSpace);
        // One pixel per point of the longest list; channels with fewer points repeat their first.
        std::size_t width = 1;
        for (const auto& list : c.points)
            width = std::max(width, list.size());
        TestPlane plane(static_cast<LONG>(width), 1, c.colorSpace);
        TestPlane expected = plane;
        for (LONG ch = 0; ch < channels; ++ch) {
            const auto& list = c.points[std::min<std::size_t>(ch, c.points.size() - 1)];
            for (std::size_t x = 0; x < width; ++x) {
                const auto& [in, out] = list[x < list.size() ? x : 0];
                plane.SetSample(static_cast<LONG>(x), 0, ch, in);
                expected.SetSample(static_cast<LONG>(x), 0, ch, out);
            }
        }
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(MappedOf(plane, c.tables, c.inputBits, c.outputBits), &out));
        EXPECT_TRUE(PlanesMatch(expected, out));
    }
}

TEST(LutFilter, ABigPictureIsTheSameAtEveryTileSize) {
    const TestPlane plane = MakePlane(61, 37, Cs::kRGB16, FillPattern::Random, 5);
    const std::vector<Table> tables = {Made(10, [](ULONG k) { return 1023 - k; }),
                                       Made(10, [](ULONG k) { return k * k / 1023; }),
                                       Made(10, [](ULONG k) { return k; })};
    TestPlane out;
    ASSERT_TRUE(SameAtEveryTileSize(MappedOf(plane, tables, 10, 10), &out));
    // The 10-bit identity, its values widened to 16 bits and its entries interpolated, stays within one
    // 10-bit step of each sample; the inverting first table within one step of the complement.
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x) {
            const LONG in = static_cast<LONG>(plane.Sample(x, y, 0));
            ASSERT_NEAR(static_cast<LONG>(out.Sample(x, y, 2)), static_cast<LONG>(plane.Sample(x, y, 2)), 64);
            ASSERT_NEAR(static_cast<LONG>(out.Sample(x, y, 0)), 65535 - in, 64) << x << ", " << y;
        }
}

// Every code of a 16-bit source through tables of fewer input bits: entry k lies k u / last of the way
// along the stored entries (u the table's last index, last the source's), the step between its two
// neighbours taken in proportion and rounded toward zero.
TEST(LutFilter, ShallowTablesAreInterpolatedAtEveryCodeOfASixteenBitSource) {
    constexpr LONG kSide = 256;
    constexpr std::int64_t kLast = 65535;
    std::uint32_t state = 0x2545F491u;
    const auto jagged = [&](ULONG) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<ULONG>(state & 0xFFFF);
    };
    struct Case {
        const char* name;
        LONG inputBits;
        Table table;
    };
    const Case cases[] = {
        {"1 bit, falling", 1, Made(1, [](ULONG k) { return 65535 - 65535 * k; })},
        {"4 bits, jagged", 4, Made(4, jagged)},
        {"8 bits, jagged", 8, Made(8, jagged)},
        {"10 bits, rising by uneven steps", 10, Made(10, [](ULONG k) { return ULONG(std::uint64_t{k} * k * 65535 / (1023 * 1023)); })},
        {"12 bits, jagged", 12, Made(12, jagged)},
        {"15 bits, jagged", 15, Made(15, jagged)},
    };
    TestPlane plane(kSide, kSide, Cs::kGrey16);
    for (LONG y = 0; y < kSide; ++y)
        for (LONG x = 0; x < kSide; ++x)
            plane.SetSample(x, y, 0, static_cast<ULONG>(y * kSide + x));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t u = (std::int64_t{1} << c.inputBits) - 1;
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(MappedOf(plane, {c.table}, c.inputBits, 16), &out));
        for (std::int64_t k = 0; k <= kLast; ++k) {
            const std::int64_t i = k * u / kLast, f = k * u % kLast;
            const std::int64_t low = c.table[std::size_t(i)];
            const std::int64_t expected = f == 0 ? low : low + (c.table[std::size_t(i + 1)] - low) * f / kLast;
            ASSERT_EQ(static_cast<std::int64_t>(out.Sample(LONG(k % kSide), LONG(k / kSide), 0)), expected)
                << "code " << k;
        }
    }
}

TEST(LutFilter, UnmappedFormatsAndTooFewTablesFailAndTheTileStaysInvalid) {
    struct Case {
        LONG colorSpace;
        LONG tables;
        LONG kind;
    };
    const Case cases[] = {
        {Cs::kLab8, 4, PravonKind::kUnsupportedColorSpace},
        {Cs::kBGR8, 4, PravonKind::kUnsupportedColorSpace},
        {0x01020001, 4, PravonKind::kUnsupportedColorSpace}, // one bit per pixel
        {Cs::kRGB8, 2, PravonKind::kInvalidState},
        {Cs::kCMYK8, 3, PravonKind::kInvalidState},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.colorSpace);
        // One tile, so that the failed pull leaves no tile unmade.
        CPravonMemoryManager manager(32);
        const PravonImagePtr source(
            MakeImage(manager, MakePlane(20, 10, c.colorSpace, FillPattern::Random, 2)));
        CPravonFilterLut filter(&manager);
        ASSERT_PV_OK(PravonConnect(source.get(), &filter));
        const Table ramp = Made(8, [](ULONG k) { return k; });
        const WORD* tables[4] = {ramp.data(), ramp.data(), ramp.data(), ramp.data()};
        ASSERT_PV_OK(filter.SetLUT(tables, 8, 8, c.tables, false));
        TestPlane out;
        for (int attempt = 0; attempt < 2; ++attempt)
            EXPECT_PV_KIND(PullAll(&filter, &out), c.kind) << "attempt " << attempt;
        TestPlane invalid;
        ASSERT_PV_OK(InvalidArea(&filter, &invalid));
        EXPECT_TRUE(PlanesMatch(RectMask(20, 10, PravonRect{0, 0, 20, 10}), invalid));
        ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
    }
}

TEST(LutFilter, SettingsOutsideTheTablesLimitsAreRefusedAndChangeNothing) {
    CPravonMemoryManager manager(16);
    CPravonFilterLut filter(&manager);
    LONG in = -1, out = -1, count = -1;
    filter.GetLUTInfo(&in, &out, &count);
    EXPECT_EQ(count, 0) << "nothing installed yet";

    const Table ramp = Made(8, [](ULONG k) { return k; });
    const WORD* tables[5] = {ramp.data(), ramp.data(), ramp.data(), ramp.data(), ramp.data()};
    ASSERT_PV_OK(filter.SetLUT(tables, 8, 8, 3, false));
    struct Case {
        LONG count, inputBits, outputBits;
    };
    const Case refused[] = {{5, 8, 8}, {-1, 8, 8}, {3, 0, 8}, {3, 8, 17}, {3, 32, 8}, {3, 8, 0}, {3, -3, 8}};
    for (const Case& c : refused) {
        EXPECT_PV_KIND(filter.SetLUT(tables, c.inputBits, c.outputBits, c.count, false),
                       PravonKind::kOutOfRange)
            << c.count << " tables of " << c.inputBits << " to " << c.outputBits << " bits";
        filter.GetLUTInfo(&in, &out, &count);
        EXPECT_EQ(in, 8);
        EXPECT_EQ(out, 8);
        EXPECT_EQ(count, 3);
    }

    Table copied[3] = {Table(512, 9), Table(512, 9), Table(512, 9)};
    WORD* into[3] = {copied[0].data(), copied[1].data(), copied[2].data()};
    EXPECT_PV_KIND(filter.GetLUT(into, 9, 8, 3), PravonKind::kOutOfRange) << "more entries than stored";
    EXPECT_PV_KIND(filter.GetLUT(into, 8, 8, 4), PravonKind::kOutOfRange) << "more tables than installed";
    ASSERT_PV_OK(filter.GetLUT(into, 7, 8, 3));
    EXPECT_EQ(copied[1][127], 127);
    EXPECT_EQ(copied[1][128], 9) << "a smaller depth copies a prefix only";

    // Removing the tables works whatever the depths say.
    ASSERT_PV_OK(filter.SetLUT(nullptr, 0, 0, 0, false));
    filter.GetLUTInfo(&in, &out, &count);
    EXPECT_EQ(in, 1);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(count, 4);
    ASSERT_PV_OK(filter.SetLUT(nullptr, 16, 16, 3, false));
}

TEST(LutFilter, ANullTableIsTheRampAtEveryDepth) {
    CPravonMemoryManager manager(16);
    CPravonFilterLut filter(&manager);
    struct Case {
        LONG inputBits, outputBits;
        std::vector<std::pair<ULONG, ULONG>> entries;
    };
    const Case cases[] = {
        {16, 16, {{0, 0}, {65535, 65535}, {40000, 40000}}}, // 65535 << 16 needs more than 32 bits
        {8, 16, {{1, 256}, {255, 65280}}},
        {16, 8, {{255, 0}, {256, 1}, {65535, 255}}},
        {1, 1, {{0, 0}, {1, 1}}},
    };
    for (const Case& c : cases) {
        const WORD* none[1] = {nullptr};
        ASSERT_PV_OK(filter.SetLUT(none, c.inputBits, c.outputBits, 1, false));
        Table copied(std::size_t{1} << c.inputBits);
        WORD* into[1] = {copied.data()};
        ASSERT_PV_OK(filter.GetLUT(into, c.inputBits, c.outputBits, 1));
        for (const auto& [k, value] : c.entries)
            EXPECT_EQ(copied[k], value) << c.inputBits << " to " << c.outputBits << " bits, entry " << k;
    }
}

TEST(LutFilter, OnlyAChangeOfTheTablesIsAnnounced) {
    CPravonMemoryManager manager(16);
    const PravonImagePtr source(MakeImage(manager, MakePlane(30, 20, Cs::kGrey8, FillPattern::Random, 3)));
    CPravonFilterLut filter(&manager);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));

    const Table a = Made(8, [](ULONG k) { return 255 - k; });
    Table b = a;
    b[100] = 0;
    const WORD* first[1] = {a.data()};
    const WORD* second[1] = {b.data()};
    const WORD* ramp[1] = {nullptr};
    const Table rampTable = Made(8, [](ULONG k) { return k; });
    const WORD* rampGiven[1] = {rampTable.data()};
    struct Step {
        const WORD* const* tables;
        LONG count;
        bool announced;
    };
    const Step steps[] = {
        {first, 1, true},   {first, 1, false},     {second, 1, true},
        {ramp, 1, true},    {rampGiven, 1, false}, // the ramp given in full is the one a null entry stood for
        {nullptr, 0, true}, {nullptr, 0, false},
    };
    for (const Step& s : steps) {
        recorder.Clear();
        ASSERT_PV_OK(filter.SetLUT(s.tables, 8, 8, s.count, true));
        if (!s.announced) {
            EXPECT_TRUE(recorder.heard.empty());
            continue;
        }
        ASSERT_EQ(recorder.heard.size(), 1u);
        EXPECT_EQ(recorder.heard[0].type, PravonNotification::kData);
        EXPECT_TRUE(*recorder.heard[0].rect == (PravonRect{0, 0, 30, 20}));
    }
    ASSERT_PV_OK(PravonDisconnect(&filter, &recorder));
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
}

} // namespace
