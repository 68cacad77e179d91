// Lookup-table stages that feed one another, read through by the stage after them: the pixels are those of
// each table applied in turn by hand, on the AVX2 and the plain road, and of the stages each making their
// own tiles (read-through off);
// the stages read through make no tiles; anything that is not a table ends the run.
#include "filters/CPravonFilterCML.h"
#include "filters/CPravonFilterLut.h"
#include "filters/CPravonFilterScale.h"
#include "filters/tests/ProbeFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "testing/IccTestProfiles.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;

using Table = std::vector<WORD>;

// A random table of the depth's every code, seeded.
Table RandomTable(LONG bits, unsigned seed) {
    std::mt19937 rng(seed);
    Table t(std::size_t{1} << bits);
    for (WORD& v : t)
        v = static_cast<WORD>(rng() & ((1u << bits) - 1));
    return t;
}

// The plane with every sample of each channel through its table, for every table set in turn.
TestPlane ByHand(TestPlane plane, const std::vector<std::vector<Table>>& stages) {
    for (const std::vector<Table>& tables : stages)
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                for (LONG c = 0; c < plane.Channels(); ++c)
                    plane.SetSample(x, y, c, tables[std::size_t(c)][plane.Sample(x, y, c)]);
    return plane;
}

IPravonError* Install(CPravonFilterLut& lut, const std::vector<Table>& tables, LONG bits, bool notify) {
    std::vector<const WORD*> pointers;
    for (const Table& t : tables)
        pointers.push_back(t.data());
    return lut.SetLUT(pointers.data(), bits, bits, static_cast<LONG>(pointers.size()), notify);
}

// What sits between two table stages of a run.
enum class Between { kNothing, kDisabledTable, kPassThroughScale };

struct RunCase {
    const char* name;
    LONG colorSpace;
    int stages;
    Between between;
};

// Source, then the table stages with what the case puts between them; the last stage is the output.
struct TableStages {
    std::vector<CPravonFilterLut*> stages;
};

GraphBuilder RunOf(const TestPlane& plane, const RunCase& c, const std::vector<std::vector<Table>>& tables,
                   bool readThrough, TableStages* run) {
    return [=](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        run->stages.clear();
        IPravonDataSource* last = graph.Own(MakeImage(manager, plane));
        const LONG bits = Cs::BitsPerSample(plane.colorSpace);
        for (int s = 0; s < c.stages; ++s) {
            if (s > 0 && c.between == Between::kDisabledTable) {
                auto* off = graph.Own(new CPravonFilterLut(&manager));
                if (IPravonError* e = PravonConnect(last, off))
                    return e;
                if (IPravonError* e = off->Enable(false, false))
                    return e;
                last = off;
            } else if (s > 0 && c.between == Between::kPassThroughScale) {
                auto* scale = graph.Own(new CPravonFilterScale(&manager, 0));
                if (IPravonError* e = PravonConnect(last, scale))
                    return e;
                last = scale;
            }
            auto* lut = graph.Own(new CPravonFilterLut(&manager));
            if (IPravonError* e = PravonConnect(last, lut))
                return e;
            if (IPravonError* e = Install(*lut, tables[std::size_t(s)], bits, false))
                return e;
            lut->SetReadThrough(readThrough);
            run->stages.push_back(lut);
            last = lut;
        }
        graph.output = last;
        return nullptr;
    };
}

TEST(LutRun, ConsecutiveTablesGiveEachTableInTurnAndOnlyTheLastStageMakesTiles) {
    const RunCase cases[] = {
        {"three stages on 16-bit RGB", Cs::kRGB16, 3, Between::kNothing},
        {"three stages on 16-bit RGB, a disabled stage between each", Cs::kRGB16, 3, Between::kDisabledTable},
        {"two stages on 8-bit RGB, a scale of 1 between them", Cs::kRGB8, 2, Between::kPassThroughScale},
        {"four stages on 16-bit grey", Cs::kGrey16, 4, Between::kNothing},
        {"two stages on 8-bit CMYK", Cs::kCMYK8, 2, Between::kNothing},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TestPlane plane = MakePlane(70, 45, c.colorSpace, FillPattern::Random, 5);
        const LONG bits = Cs::BitsPerSample(c.colorSpace);
        std::vector<std::vector<Table>> tables(std::size_t(c.stages));
        for (int s = 0; s < c.stages; ++s)
            for (LONG ch = 0; ch < plane.Channels(); ++ch)
                tables[std::size_t(s)].push_back(RandomTable(bits, unsigned(10 * s + ch)));
        const TestPlane expected = ByHand(plane, tables);
        for (const bool readThrough : {false, true})
            for (const bool simd : {true, false}) {
                SCOPED_TRACE(readThrough ? "read through" : "each stage its own tiles");
                SCOPED_TRACE(simd ? "AVX2 where there is" : "the plain road");
                const CCpuFeatureOverride plain(0, simd ? 0 : CpuFeature::kAVX2);
                TableStages run;
                TestPlane out;
                ASSERT_TRUE(SameAtEveryTileSize(RunOf(plane, c, tables, readThrough, &run), &out));
                EXPECT_TRUE(PlanesMatch(expected, out));

                // Counted on a graph of its own, pulled once.
                CPravonMemoryManager manager(16);
                TestGraph graph;
                ASSERT_PV_OK(RunOf(plane, c, tables, readThrough, &run)(manager, graph));
                TestPlane pulled;
                ASSERT_PV_OK(PullAll(graph.output, &pulled));
                for (std::size_t s = 0; s + 1 < run.stages.size(); ++s)
                    EXPECT_EQ(run.stages[s]->GetGeneratedTileCount() == 0, readThrough) << "stage " << s;
                EXPECT_GT(run.stages.back()->GetGeneratedTileCount(), 0u);
            }
    }
}

// A stage that is no table (here a probe adding 1 to every byte) ends the run: the tables above it make
// their tiles, which it reads.
TEST(LutRun, AStageThatIsNoTableEndsTheRun) {
    CPravonMemoryManager manager(16);
    const TestPlane plane = MakePlane(40, 30, Cs::kRGB8, FillPattern::Random, 6);
    PravonImagePtr source = MakeImage(manager, plane);
    CPravonFilterLut first(&manager), last(&manager);
    ProbeFilter probe(&manager, 1);
    const std::vector<Table> invert(3, [] {
        Table t(256);
        for (std::size_t k = 0; k < t.size(); ++k)
            t[k] = static_cast<WORD>(255 - k);
        return t;
    }());
    ASSERT_PV_OK(PravonConnect(source.get(), &first));
    ASSERT_PV_OK(PravonConnect(&first, &probe));
    ASSERT_PV_OK(PravonConnect(&probe, &last));
    ASSERT_PV_OK(Install(first, invert, 8, false));
    ASSERT_PV_OK(Install(last, invert, 8, false));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&last, &out));
    EXPECT_GT(first.GetGeneratedTileCount(), 0u);
    EXPECT_GT(probe.GetGeneratedTileCount(), 0u);
    EXPECT_TRUE(PlanesMatch(ByHand(probe.Expected(ByHand(plane, {invert})), {invert}), out));
    PravonErrorPtr(PravonDisconnect(&probe, &last));
    PravonErrorPtr(PravonDisconnect(&first, &probe));
    PravonErrorPtr(PravonDisconnect(source.get(), &first));
}

// A stage whose tables cannot map its source (one table for three channels) is read, not read through, and
// its error reaches the consumer as it did; the tile stays invalid.
TEST(LutRun, AStageThatCannotMapItsSourceReportsItsOwnError) {
    CPravonMemoryManager manager(16);
    const TestPlane plane = MakePlane(20, 20, Cs::kRGB16, FillPattern::Random, 7);
    PravonImagePtr source = MakeImage(manager, plane);
    CPravonFilterLut shortOne(&manager), last(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &shortOne));
    ASSERT_PV_OK(PravonConnect(&shortOne, &last));
    ASSERT_PV_OK(Install(shortOne, {RandomTable(16, 1)}, 16, false));
    ASSERT_PV_OK(Install(last, {RandomTable(16, 2), RandomTable(16, 3), RandomTable(16, 4)}, 16, false));
    void* data = nullptr;
    PravonErrorPtr err(last.LockTile(0, 0, &data, nullptr));
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->GetKind(), PravonKind::kInvalidState);
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(last.GetTile(0, 0, &tile));
    EXPECT_TRUE(tile->IsInvalid(nullptr));
    PravonErrorPtr(PravonDisconnect(&shortOne, &last));
    PravonErrorPtr(PravonDisconnect(source.get(), &shortOne));
}

// New tables of a stage that is read through, announced, reach the consumer's tiles: they are made again
// from the run's source with the new composition; the same tables again announce and change nothing.
TEST(LutRun, ChangedTablesAboveTheConsumerAreComposedAgain) {
    CPravonMemoryManager manager(16);
    const TestPlane plane = MakePlane(50, 30, Cs::kRGB16, FillPattern::Random, 8);
    PravonImagePtr source = MakeImage(manager, plane);
    CPravonFilterLut first(&manager), last(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &first));
    ASSERT_PV_OK(PravonConnect(&first, &last));
    std::vector<Table> a, b, z;
    for (unsigned ch = 0; ch < 3; ++ch) {
        a.push_back(RandomTable(16, 20 + ch));
        b.push_back(RandomTable(16, 30 + ch));
        z.push_back(RandomTable(16, 40 + ch));
    }
    ASSERT_PV_OK(Install(first, a, 16, false));
    ASSERT_PV_OK(Install(last, z, 16, false));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&last, &out));
    EXPECT_TRUE(PlanesMatch(ByHand(plane, {a, z}), out));
    const std::uint64_t made = last.GetGeneratedTileCount();

    ASSERT_PV_OK(Install(first, b, 16, true));
    ASSERT_PV_OK(PullAll(&last, &out));
    EXPECT_TRUE(PlanesMatch(ByHand(plane, {b, z}), out));
    EXPECT_EQ(last.GetGeneratedTileCount(), 2 * made);
    EXPECT_EQ(first.GetGeneratedTileCount(), 0u);

    ASSERT_PV_OK(Install(first, b, 16, true));
    ASSERT_PV_OK(PullAll(&last, &out));
    EXPECT_EQ(last.GetGeneratedTileCount(), 2 * made) << "the same tables again changed nothing";
    PravonErrorPtr(PravonDisconnect(&first, &last));
    PravonErrorPtr(PravonDisconnect(source.get(), &first));
}

// A row of every length up to a few groups of whole 8-byte words, mapped into memory of its own and in
// place, in each mapped sample size and channel count: every sample is its table's entry, worked out by
// hand sample by sample, and no byte past the row is written.
TEST(LutRun, ARowOfEveryLengthMapsInPlaceAndIntoOtherMemory) {
    struct Case {
        const char* name;
        LONG colorSpace;
    };
    const Case cases[] = {{"16-bit RGB", Cs::kRGB16}, {"8-bit RGB", Cs::kRGB8}, {"16-bit grey", Cs::kGrey16},
                          {"8-bit grey", Cs::kGrey8}, {"8-bit CMYK", Cs::kCMYK8}};
    constexpr LONG kLongestRow = 19;
    constexpr BYTE kGuard = 0xA5;
    constexpr std::size_t kGuardBytes = 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LONG bits = Cs::BitsPerSample(c.colorSpace), channels = Cs::Channels(c.colorSpace);
        const std::size_t sampleBytes = std::size_t(bits / 8);
        CPravonMemoryManager manager(16);
        const TestPlane plane = MakePlane(kLongestRow, 1, c.colorSpace, FillPattern::Random, 21);
        const PravonImagePtr image = MakeImage(manager, plane);
        CPravonFilterLut lut(&manager);
        std::vector<Table> tables;
        for (LONG ch = 0; ch < channels; ++ch)
            tables.push_back(RandomTable(bits, unsigned(70 + ch)));
        ASSERT_PV_OK(Install(lut, tables, bits, false));
        CPravonFilterLut::CRun run;
        ASSERT_PV_OK(run.Find(image.get(), c.colorSpace, &lut));
        ASSERT_TRUE(run.Maps());
        for (LONG length = 0; length <= kLongestRow; ++length)
            for (const bool inPlace : {false, true}) {
                SCOPED_TRACE(testing::Message() << length << " pixels" << (inPlace ? ", in place" : ""));
                const std::size_t rowBytes = std::size_t(length * channels) * sampleBytes;
                std::vector<BYTE> from(rowBytes), to(rowBytes + kGuardBytes, kGuard);
                std::vector<BYTE> expected(rowBytes + kGuardBytes, kGuard);
                for (LONG x = 0; x < length; ++x)
                    for (LONG ch = 0; ch < channels; ++ch) {
                        const std::size_t at = std::size_t(x * channels + ch) * sampleBytes;
                        const WORD in = WORD(plane.Sample(x, 0, ch));
                        const WORD out = tables[std::size_t(ch)][in];
                        for (std::size_t b = 0; b < sampleBytes; ++b) {
                            from[at + b] = BYTE(in >> (8 * b));
                            expected[at + b] = BYTE(out >> (8 * b));
                        }
                    }
                if (inPlace) {
                    std::copy(from.begin(), from.end(), to.begin());
                    run.MapRow(to.data(), to.data(), length);
                } else {
                    run.MapRow(from.data(), to.data(), length);
                }
                EXPECT_EQ(to, expected);
            }
    }
}

// The colour conversion reads through the tables before it: the same pixels as when the table stage makes
// its own tiles, at every tile size, and the table stage makes none.
TEST(LutRun, TheColourConversionReadsThroughTheTablesBeforeIt) {
    TempFolder folder;
    const std::string srgb = WriteIccTestProfile(folder, IccTestProfile::SRGB, "srgb.icc");
    const std::string wide = WriteIccTestProfile(folder, IccTestProfile::WideGamut, "wide.icc");
    CPravonFilterCMLEngine engine;
    ASSERT_PV_OK(engine.SetProfiles(PravonFile{srgb}, PravonFile{wide}));
    const std::vector<Table> tables = {RandomTable(16, 50), RandomTable(16, 51), RandomTable(16, 52)};
    for (const auto& [outBits, outSpace] : {std::pair{16, Cs::kRGB16}, {8, Cs::kRGB8}}) {
        SCOPED_TRACE(outBits);
        const TestPlane plane = MakePlane(60, 40, Cs::kRGB16, FillPattern::Random, 9);
        TestPlane outputs[2];
        for (const bool readThrough : {false, true}) {
            CPravonFilterLut* table = nullptr;
            const GraphBuilder build = [&, outBits = outBits](IPravonManager& manager,
                                                              TestGraph& graph) -> IPravonError* {
                IPravonImage* image = graph.Own(MakeImage(manager, plane));
                table = graph.Own(new CPravonFilterLut(&manager));
                auto* cml = graph.Own(new CPravonFilterCML(&manager));
                if (IPravonError* e = PravonConnect(image, table))
                    return e;
                if (IPravonError* e = PravonConnect(table, cml))
                    return e;
                if (IPravonError* e = Install(*table, tables, 16, false))
                    return e;
                table->SetReadThrough(readThrough);
                if (IPravonError* e = cml->SetCMLEngine(&engine, false))
                    return e;
                if (IPravonError* e = cml->SetBitsPerComponent(false, 16, false))
                    return e;
                if (IPravonError* e = cml->SetBitsPerComponent(true, outBits, false))
                    return e;
                graph.output = cml;
                return nullptr;
            };
            ASSERT_TRUE(SameAtEveryTileSize(build, &outputs[readThrough]));
            EXPECT_EQ(outputs[readThrough].colorSpace, outSpace);
            CPravonMemoryManager manager(16);
            TestGraph graph;
            ASSERT_PV_OK(build(manager, graph));
            TestPlane pulled;
            ASSERT_PV_OK(PullAll(graph.output, &pulled));
            EXPECT_EQ(table->GetGeneratedTileCount() == 0, readThrough);
        }
        EXPECT_TRUE(PlanesMatch(outputs[0], outputs[1]));
    }
}

} // namespace
