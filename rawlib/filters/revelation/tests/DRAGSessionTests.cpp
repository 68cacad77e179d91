#include "rawlib/filters/revelation/tests/RevelationTestSupport.h"

#include "rawlib/filters/revelation/CDRAGLibrary.h"
#include "testing/Deadline.h"
#include "testing/TileSizeSweep.h"

#include <cstring>
#include <functional>
#include <thread>

namespace {

using namespace kvtest;
using namespace revtest;

constexpr LONG kRGB16 = PravonColorSpace::kRGB16;
constexpr LONG kRGB8 = PravonColorSpace::kRGB8;
constexpr LONG kGrey16 = PravonColorSpace::kGrey16;
constexpr LONG kGrey8 = PravonColorSpace::kGrey8;

// An image reference as a block should carry it: size, planes and the area in use.
struct RefValues {
    std::uint32_t width, height, planes, left, top, right, bottom;
};

::testing::AssertionResult Carries(const DragImageRef& ref, const RefValues& want) {
    const RefValues got{ref.width, ref.height, ref.planes, ref.left, ref.top, ref.right, ref.bottom};
    if (std::memcmp(&got, &want, sizeof(got)) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "carries " << got.width << " x " << got.height << ", " << got.planes << " planes, area ("
           << got.left << ", " << got.top << ", " << got.right << ", " << got.bottom << ")";
}

class DRAGSession : public RevelationTest {
protected:
    PravonImagePtr Image(LONG w, LONG h, LONG cs) { return MakeImage(m_manager, Scene(w, h, cs)); }

    // A session whose statistics pass has run over source.
    void Measure(CDRAGBase& session, IPravonDataSource* source, LONG kind = 11) {
        ASSERT_PV_OK(session.BeginWhole(source, nullptr, 0, 16, kind, nullptr));
        ASSERT_PV_OK(RunToEnd(session));
    }
};

TEST_F(DRAGSession, TwoSessionsOpenedInTurnLoadTheLibraryOnceAndUnloadItOnce) {
    CREVProcess a(&m_manager, 1);
    CREVProcess b(&m_manager, 1);
    ASSERT_PV_OK(a.Open(11));
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 1);
    ASSERT_PV_OK(b.Open(4));
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 2);
    EXPECT_NE(a.GetHandle(), b.GetHandle());
    EXPECT_EQ(DragTestCallCount(DragCall::kLoad), 1u);
    EXPECT_PV_OK(a.Close());
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 1);
    EXPECT_EQ(DragTestCallCount(DragCall::kUnload), 0u);
    EXPECT_PV_OK(b.Close());
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 0);
    EXPECT_EQ(DragTestCallCount(DragCall::kUnload), 1u);
    EXPECT_EQ(DragTestCallCount(DragCall::kDelete), 2u);
}

TEST_F(DRAGSession, OpenKeepsAHandleOfItsKindAndReplacesOneOfAnother) {
    CREVProcess a(&m_manager, 1);
    ASSERT_PV_OK(a.Open(11));
    const LONG first = a.GetHandle();
    ASSERT_PV_OK(a.Open(11));
    EXPECT_EQ(a.GetHandle(), first);
    EXPECT_EQ(DragTestCallCount(DragCall::kNew), 1u);
    ASSERT_PV_OK(a.Open(5));
    EXPECT_NE(a.GetHandle(), first);
    EXPECT_EQ(a.GetKind(), 5);
    EXPECT_EQ(DragTestCallCount(DragCall::kDelete), 1u);
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 1) << "a replacement keeps the count";
}

TEST_F(DRAGSession, AFailedReplacementGivesItsCountBack) {
    CREVProcess a(&m_manager, 1);
    ASSERT_PV_OK(a.Open(11));
    DragTestForce({DragCall::kNew, DRAG_ERR_MEMORY, ""});
    EXPECT_PV_KIND(a.Open(5), CDRAGBase::kNoSession);
    EXPECT_EQ(a.GetHandle(), 0);
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 0);
    EXPECT_EQ(DragTestCallCount(DragCall::kUnload), 1u) << "the library went with its last handle";
    ASSERT_PV_OK(a.Open(5));
    EXPECT_EQ(DragTestCallCount(DragCall::kLoad), 2u);
}

TEST_F(DRAGSession, ALibraryThatCannotStartLeavesNothingLoaded) {
    CREVProcess a(&m_manager, 1);
    DragTestForce({DragCall::kLoad, -33, ""});
    EXPECT_PV_KIND(a.Open(11), -33);
    EXPECT_EQ(DragTestCallCount(DragCall::kNew), 0u);

    DragTestForce({DragCall::kNew, DRAG_ERR_MEMORY, ""});
    EXPECT_PV_KIND(a.Open(11), CDRAGBase::kNoSession);
    EXPECT_EQ(DragTestCallCount(DragCall::kUnload), 1u) << "loaded for the first handle, which never came";

    CDRAGLibrary::SetPathForTesting("/nonexistent/DRAGKVL1.dll");
    EXPECT_PV_KIND(a.Open(11), PravonKind::kInvalidState);
    CDRAGLibrary::SetPathForTesting("");
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 0);
    ASSERT_PV_OK(a.Open(11));
}

TEST_F(DRAGSession, StartsRefuseWhatTheyCannotRun) {
    PravonImagePtr rgb = Image(40, 40, kRGB16);
    PravonImagePtr lch = Image(40, 40, PravonColorSpace::kLCh16);
    PravonImagePtr greySmaller = Image(30, 40, kGrey16);
    PravonImagePtr greyEight = Image(40, 40, kGrey8);
    PravonImagePtr rgbSecond = Image(40, 40, kRGB16);
    PravonImagePtr large = Image(600, 600, kRGB16);
    PravonImagePtr destination = NewImage();
    const PravonRect outside{30, 30, 50, 50};
    const PravonRect small{0, 0, 15, 15};
    const PravonRect justUnder{0, 0, 511, 511};
    const PravonRect tooNarrow{0, 0, 23, 40};
    struct Case {
        const char* what;
        BYTE option;
        bool measured; // the session's statistics pass has run
        std::function<IPravonError*(CDRAGBase&)> start;
        LONG kind;
    };
    const Case cases[] = {
        {"no source", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(nullptr, nullptr, 0, 16, 11, nullptr); },
         PravonKind::kNoSource},
        {"kind 1", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), nullptr, 0, 16, 1, nullptr); },
         PravonKind::kInvalidState},
        {"kind 12", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), nullptr, 0, 16, 12, nullptr); },
         PravonKind::kInvalidState},
        {"depth 9", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), nullptr, 0, 9, 11, nullptr); },
         PravonKind::kInvalidState},
        {"LCh source", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(lch.get(), nullptr, 0, 16, 11, nullptr); },
         PravonKind::kUnsupportedColorSpace},
        {"second of another size", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), greySmaller.get(), 0, 16, 11, nullptr); },
         PravonKind::kMissingInput},
        {"second not grey", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), rgbSecond.get(), 0, 16, 11, nullptr); },
         PravonKind::kMissingInput},
        {"second of another depth", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), greyEight.get(), 0, 16, 11, nullptr); },
         PravonKind::kMissingInput},
        {"region outside", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), nullptr, 0, 16, 11, &outside); },
         CDRAGBase::kRegionOutside},
        {"15 x 15 with the option", 1, false,
         [&](CDRAGBase& s) { return s.BeginWhole(rgb.get(), nullptr, 0, 16, 11, &small); },
         PravonKind::kMissingInput},
        {"511 x 511 without it", 0, false,
         [&](CDRAGBase& s) { return s.BeginWhole(large.get(), nullptr, 0, 16, 11, &justUnder); },
         PravonKind::kMissingInput},
        {"output without statistics", 1, false,
         [&](CDRAGBase& s) {
             return s.BeginTiled(rgb.get(), 127, 190, 127, destination.get(), 0, 16, 11, true, nullptr);
         },
         PravonKind::kNoSource},
        {"output without destination", 1, true,
         [&](CDRAGBase& s) {
             return s.BeginTiled(rgb.get(), 127, 190, 127, nullptr, 0, 16, 11, true, nullptr);
         },
         PravonKind::kNoSource},
        {"output at depth 9", 1, true,
         [&](CDRAGBase& s) {
             return s.BeginTiled(rgb.get(), 127, 190, 127, destination.get(), 0, 9, 11, true, nullptr);
         },
         PravonKind::kInvalidState},
        {"output of LCh", 1, true,
         [&](CDRAGBase& s) {
             return s.BeginTiled(lch.get(), 127, 190, 127, destination.get(), 0, 16, 11, true, nullptr);
         },
         PravonKind::kUnsupportedColorSpace},
        {"output 23 pixels wide without the option", 0, true,
         [&](CDRAGBase& s) {
             return s.BeginTiled(rgb.get(), 127, 190, 127, destination.get(), 0, 16, 11, true, &tooNarrow);
         },
         PravonKind::kMissingInput},
        {"output 15 x 15 with the option", 1, true,
         [&](CDRAGBase& s) {
             return s.BeginTiled(rgb.get(), 127, 190, 127, destination.get(), 0, 16, 11, true, &small);
         },
         PravonKind::kMissingInput},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CREVProcess session(&m_manager, c.option);
        if (c.measured) {
            // Without the option the statistics need 512 x 512 pixels.
            ASSERT_PV_OK(session.BeginWhole(c.option ? rgb.get() : large.get(), nullptr, 0, 16, 11, nullptr));
            ASSERT_PV_OK(RunToEnd(session));
        }
        EXPECT_PV_KIND(c.start(session), c.kind);
        EXPECT_TRUE(session.IsIdle()) << "a failed start leaves the session idle";
    }
    CREVProcess session(&m_manager, 0);
    ASSERT_PV_OK(session.BeginWhole(large.get(), nullptr, 0, 16, 11, nullptr));
    EXPECT_PV_KIND(session.BeginWhole(large.get(), nullptr, 0, 16, 11, nullptr), PravonKind::kPassOpen);
    EXPECT_PV_OK(session.Abort());
}

TEST_F(DRAGSession, TheStatisticsBlockCarriesThePass) {
    PravonImagePtr source = Image(60, 50, kRGB16);
    ASSERT_PV_OK(source->SetResolution(300.7));
    CREVProcess session(&m_manager, 1);
    const PravonRect region{4, 6, 54, 46};
    ASSERT_PV_OK(session.BeginWhole(source.get(), nullptr, 5, 12, 7, &region));
    const DragParams p = DragTestLastParams(DRAG_PASS_STATISTICS);
    EXPECT_EQ(p.size, sizeof(DragParams));
    EXPECT_EQ(p.inputCount, 1u);
    EXPECT_EQ(p.one, 1u);
    EXPECT_EQ(p.sampleBits, 16u);
    EXPECT_EQ(p.resolution, 300) << "cut to an integer";
    EXPECT_EQ(p.lastRow, 49u);
    EXPECT_EQ(p.flagSet, 1u);
    EXPECT_EQ(p.flag, 5u);
    EXPECT_EQ(p.pass, DRAG_PASS_STATISTICS);
    EXPECT_TRUE(Carries(p.measured, {60, 50, 3, 4, 6, 54, 46}));
    EXPECT_EQ(p.measuredOption, 1u);
    EXPECT_TRUE(session.IsWholeImageMode());
    ASSERT_PV_OK(RunToEnd(session));
    LONG w = 0, h = 0, cs = 0;
    ASSERT_PV_OK(session.GetStatisticsImage()->GetSize(&w, &h));
    ASSERT_PV_OK(session.GetStatisticsImage()->GetColorSpace(&cs));
    EXPECT_EQ(w, 4) << "50 columns in blocks of 16";
    EXPECT_EQ(h, 3) << "40 rows in blocks of 16";
    EXPECT_EQ(cs, kGrey16);
}

TEST_F(DRAGSession, TheOutputBlockCarriesTheStripAndWhereItLands) {
    PravonImagePtr source = Image(60, 50, kRGB16);
    const PravonRect region{4, 6, 54, 46};
    for (bool fit : {false, true}) {
        SCOPED_TRACE(fit ? "fitted" : "region-sized");
        CREVProcess session(&m_manager, 1);
        PravonImagePtr destination = NewImage();
        ASSERT_PV_OK(destination->SetSize(7, 7));
        ASSERT_PV_OK(destination->SetColorSpace(kGrey8));
        ASSERT_PV_OK(session.BeginWhole(source.get(), nullptr, 0, 16, 11, nullptr));
        ASSERT_PV_OK(RunToEnd(session));
        ASSERT_PV_OK(
            session.BeginTiled(source.get(), 200, 100, 30, destination.get(), 0, 16, 11, fit, &region));
        LONG progress = -1;
        ASSERT_PV_OK(session.Process(&progress, 100)) << "the first step prepares the strip";
        EXPECT_EQ(progress, 0);
        const DragParams p = DragTestLastParams(DRAG_PASS_OUTPUT);
        EXPECT_EQ(p.inputCount, 1u);
        EXPECT_EQ(p.pass, DRAG_PASS_OUTPUT);
        EXPECT_TRUE(Carries(p.source, {60, 50, 3, 4, 6, 54, 46}));
        // The strip with 24 pixels on every side, the strip its area.
        EXPECT_TRUE(Carries(p.buffer, {50 + 48, 40 + 48, 3, 24, 24, 50 + 24, 40 + 24}));
        EXPECT_TRUE(Carries(p.statistics, {4, 4, 1, 0, 0, 4, 4}));
        EXPECT_EQ(p.useLowest, 0u);
        EXPECT_EQ(p.lowest, -1);
        EXPECT_EQ(p.useHighest, 0u);
        EXPECT_EQ(p.highest, -1);
        EXPECT_EQ(p.option, 1u);
        EXPECT_EQ(p.lift, 200);
        EXPECT_EQ(p.target, 100);
        EXPECT_EQ(p.contrast, 30);
        LONG w = 0, h = 0, cs = 0;
        ASSERT_PV_OK(destination->GetSize(&w, &h));
        ASSERT_PV_OK(destination->GetColorSpace(&cs));
        if (fit) {
            EXPECT_EQ(w, 60);
            EXPECT_EQ(h, 50);
            EXPECT_EQ(cs, kRGB16) << "the source's layout at 16 bits";
            EXPECT_TRUE(Carries(p.destination, {60, 50, 3, 4, 6, 54, 46})) << "in source coordinates";
        } else {
            EXPECT_EQ(w, 50);
            EXPECT_EQ(h, 40);
            EXPECT_EQ(cs, kGrey8) << "only the size changes";
            EXPECT_TRUE(Carries(p.destination, {50, 40, 3, 0, 0, 50, 40})) << "less the region's corner";
        }
        ASSERT_PV_OK(RunToEnd(session));
    }
}

// Expected counts worked by hand: bytes = 6 (3 at depth 8) x width x height, strips of 2^25 bytes, and the
// rows shared so that no strip is left without any.
TEST_F(DRAGSession, StripCountsShareTheRowsWithoutEmptyStrips) {
    struct Case {
        LONG depth, width, height;
        std::uint64_t stripBytes;
        LONG strips;
    };
    const Case cases[] = {
        {16, 6000, 4000, CDRAGBase::kStripBytes, 5}, // 144 MB of samples
        {12, 6000, 4000, CDRAGBase::kStripBytes, 5},
        {8, 6000, 4000, CDRAGBase::kStripBytes, 3}, // 72 MB
        {8, 4096, 2730, CDRAGBase::kStripBytes, 1}, // 33,546,240 bytes
        {8, 4096, 2731, CDRAGBase::kStripBytes, 2}, // 33,558,528 bytes
        {16, 16, 16, CDRAGBase::kStripBytes, 1},
        {16, 10, 10, 100, 5},                               // 6 by the bytes, but 2 rows each fill 5
        {16, 100000, 100000, CDRAGBase::kStripBytes, 1786}, // 60 GB: beyond 32 bits, 56 rows each
    };
    for (const Case& c : cases) {
        const LONG strips = CDRAGBase::StripCount(c.depth, c.width, c.height, c.stripBytes);
        EXPECT_EQ(strips, c.strips) << c.width << " x " << c.height << " at " << c.depth;
        const LONG rows = (c.height - 1) / strips + 1;
        EXPECT_LT(static_cast<std::int64_t>(strips - 1) * rows, c.height) << "the last strip has rows";
    }
}

TEST_F(DRAGSession, NeutralSettingsGiveTheSourceBackInEveryLayout) {
    for (LONG cs : {kGrey8, kGrey16, kRGB8, kRGB16}) {
        SCOPED_TRACE(cs);
        const TestPlane plane = Scene(45, 37, cs);
        PravonImagePtr source = MakeImage(m_manager, plane);
        PravonImagePtr destination = NewImage();
        CREVProcess session(&m_manager, 1);
        Setting setting;
        setting.depth = PravonColorSpace::BitsPerSample(cs);
        ASSERT_PV_OK(Develop(session, source.get(), destination.get(), setting));
        TestPlane out;
        ASSERT_PV_OK(PullAll(destination.get(), &out));
        EXPECT_TRUE(PlanesMatch(plane, out));
    }
}

// The statistics image against block means of the weighted lightness worked out here.
TEST_F(DRAGSession, TheStatisticsMeasureTheSourceOrItsSecondSource) {
    const TestPlane rgb = Scene(64, 40, kRGB8);
    const TestPlane guide = MakePlane(64, 40, kGrey8, FillPattern::Random, 3);
    PravonImagePtr source = MakeImage(m_manager, rgb);
    PravonImagePtr second = MakeImage(m_manager, guide);
    for (bool useSecond : {false, true}) {
        CREVProcess session(&m_manager, 1);
        ASSERT_PV_OK(session.BeginWhole(source.get(), useSecond ? second.get() : nullptr, 0, 8, 11, nullptr));
        ASSERT_PV_OK(RunToEnd(session));
        TestPlane statistics;
        ASSERT_PV_OK(PullAll(session.GetStatisticsImage(), &statistics));
        ASSERT_EQ(statistics.width, 4);
        ASSERT_EQ(statistics.height, 3);
        for (LONG j = 0; j < 3; ++j) {
            for (LONG i = 0; i < 4; ++i) {
                std::uint64_t sum = 0, count = 0;
                for (LONG y = 16 * j; y < std::min<LONG>(16 * j + 16, 40); ++y) {
                    for (LONG x = 16 * i; x < 16 * i + 16; ++x, ++count) {
                        if (useSecond) {
                            sum += guide.Sample(x, y, 0) * 257;
                            continue;
                        }
                        const ULONG r = rgb.Sample(x, y, 0) * 257, g = rgb.Sample(x, y, 1) * 257,
                                    b = rgb.Sample(x, y, 2) * 257;
                        sum += (77 * r + 150 * g + 29 * b + 128) >> 8;
                    }
                }
                EXPECT_EQ(statistics.Sample(i, j, 0), (sum + count / 2) / count) << i << ", " << j;
            }
        }
    }
}

TEST_F(DRAGSession, StripsGiveWhatOneStripGives) {
    const TestPlane plane = Scene(64, 90, kRGB16);
    PravonImagePtr source = MakeImage(m_manager, plane);
    const Setting setting{230, 160, 60, 6, 16, 0};
    TestPlane whole;
    {
        CREVProcess session(&m_manager, 1);
        PravonImagePtr destination = NewImage();
        ASSERT_PV_OK(Develop(session, source.get(), destination.get(), setting));
        ASSERT_PV_OK(PullAll(destination.get(), &whole));
    }
    EXPECT_FALSE(PlanesMatch(plane, whole)) << "the setting changes the picture";
    // 64 x 90 x 6 bytes in strips of a quarter and of a seventh.
    for (LONG strips : {4, 7}) {
        SCOPED_TRACE(strips);
        CDRAGBase::SetStripBytesForTesting((64 * 90 * 6 + strips - 1) / strips);
        DragTestReset();
        CREVProcess session(&m_manager, 1);
        PravonImagePtr destination = NewImage();
        ASSERT_PV_OK(session.BeginWhole(source.get(), nullptr, 0, 16, 6, nullptr));
        ASSERT_PV_OK(RunToEnd(session));
        ASSERT_PV_OK(
            session.BeginTiled(source.get(), 230, 160, 60, destination.get(), 0, 16, 6, true, nullptr));
        EXPECT_EQ(session.GetStripCount(), strips);
        ASSERT_PV_OK(RunToEnd(session));
        EXPECT_EQ(DragTestCallCount(DragCall::kInit), static_cast<std::size_t>(strips) + 1)
            << "one per strip";
        TestPlane out;
        ASSERT_PV_OK(PullAll(destination.get(), &out));
        EXPECT_TRUE(PlanesMatch(whole, out));
    }
}

TEST_F(DRAGSession, TheSameOutputAtEveryTileSize) {
    const Setting setting{40, 220, 250, 3, 16, 1};
    EXPECT_TRUE(SameAtEveryTileSize([&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, Scene(50, 41, kRGB16)));
        IPravonImage* destination = nullptr;
        if (IPravonError* e = manager.CreateImage(1, &destination))
            return e;
        graph.output = graph.Own(PravonImagePtr(destination));
        CREVProcess session(&manager, 1);
        return Develop(session, source, destination, setting);
    }));
}

TEST_F(DRAGSession, AnAbortInTheMiddleOfEitherPassLeavesNothingBehind) {
    CDRAGBase::SetStripBytesForTesting(64 * 90 * 6 / 3);
    PravonImagePtr source = Image(64, 90, kRGB16);
    for (bool output : {false, true}) {
        SCOPED_TRACE(output ? "output" : "statistics");
        CREVProcess session(&m_manager, 1);
        PravonImagePtr destination = NewImage();
        if (output) {
            Measure(session, source.get());
            ASSERT_PV_OK(
                session.BeginTiled(source.get(), 200, 190, 127, destination.get(), 0, 16, 11, true, nullptr));
        } else {
            ASSERT_PV_OK(session.BeginWhole(source.get(), nullptr, 0, 16, 11, nullptr));
        }
        // Into the second of three strips, or 40 of 90 rows into the statistics.
        LONG progress = 0;
        for (int step = 0; step < 50 && (output ? session.GetStripIndex() < 1 || progress <= 33 : step < 2);
             ++step)
            ASSERT_PV_OK(session.Process(&progress, 20));
        EXPECT_GT(progress, 0);
        EXPECT_LT(progress, 100);
        if (output) {
            EXPECT_EQ(session.GetStripIndex(), 1) << "in the middle of the second strip";
        }
        ASSERT_PV_OK(session.Abort());
        EXPECT_TRUE(session.IsIdle());
        EXPECT_EQ(DragTestLiveAllocations(), 0u);
        EXPECT_EQ(m_manager.GetLockCount(), 0);
        EXPECT_PV_KIND(session.Abort(), PravonKind::kNoSuchPass);
        EXPECT_PV_KIND(session.Process(&progress, 20), PravonKind::kNoSuchPass);
        ASSERT_PV_OK(Develop(session, source.get(), destination.get(), {}));
    }
}

TEST_F(DRAGSession, AnAbortTheLibraryRefusesStillEndsTheRun) {
    PravonImagePtr source = Image(40, 40, kRGB16);
    PravonImagePtr destination = NewImage();
    CREVProcess session(&m_manager, 1);
    ASSERT_PV_OK(session.BeginWhole(source.get(), nullptr, 0, 16, 11, nullptr));
    LONG progress = 0;
    ASSERT_PV_OK(session.Process(&progress, 10));
    DragTestForce({DragCall::kAbort, DRAG_ERR_TEXT, "cannot stop now"});
    IPravonError* refused = session.Abort();
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->HasText("cannot stop now")) << refused->Describe();
    refused->Release();
    EXPECT_TRUE(session.IsIdle());
    EXPECT_EQ(session.GetHandle(), 0) << "the session in doubt went";
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 0);
    ASSERT_PV_OK(Develop(session, source.get(), destination.get(), {}));
}

TEST_F(DRAGSession, ARunBelongsToTheThreadThatHoldsItsLock) {
    PravonImagePtr source = Image(40, 40, kRGB16);
    CREVProcess session(&m_manager, 1);
    ASSERT_PV_OK(session.BeginWhole(source.get(), nullptr, 0, 16, 11, nullptr));
    {
        Watchdog watchdog("another thread's calls");
        std::thread other([&] {
            LONG progress = 0;
            EXPECT_PV_KIND(session.Process(&progress, 10), PravonKind::kInvalidState);
            EXPECT_PV_KIND(session.Abort(), PravonKind::kInvalidState);
        });
        other.join();
    }
    ASSERT_PV_OK(RunToEnd(session));
}

// After every failure a caller can meet, and the caller's abort where the run is still under way, another
// session on another thread gets through a whole development: no failure leaves the run lock taken.
TEST_F(DRAGSession, ASecondSessionOnAnotherThreadFinishesAfterEveryInjectedFailure) {
    PravonImagePtr source = Image(48, 40, kRGB16);
    PravonImagePtr otherSource = Image(40, 48, kRGB8);
    const std::int32_t statistics = DRAG_PASS_STATISTICS, output = DRAG_PASS_OUTPUT;
    struct Case {
        DragCall call;
        std::int32_t pass;
        bool close; // the caller closes the session instead of aborting it
    };
    const Case cases[] = {
        {DragCall::kInit, statistics, false},  {DragCall::kSetStatisticsImageInfo, kDragAnyPass, false},
        {DragCall::kBegin, statistics, false}, {DragCall::kProcess, statistics, false},
        {DragCall::kEnd, statistics, false},   {DragCall::kInit, output, false},
        {DragCall::kBegin, output, false},     {DragCall::kProcess, output, false},
        {DragCall::kEnd, output, false},       {DragCall::kProcess, statistics, true},
        {DragCall::kProcess, output, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(DragTestCallName(c.call)) + " in pass " + std::to_string(c.pass) +
                     (c.close ? ", closed" : ""));
        DragTestReset();
        PravonImagePtr destination = NewImage();
        auto session = std::make_unique<CREVProcess>(&m_manager, 1);
        DragTestForce({c.call, -55, "", nullptr, 0, 1, c.pass});
        EXPECT_PV_KIND(Develop(*session, source.get(), destination.get(), {}), -55);
        if (c.close) {
            session.reset();
        } else if (!session->IsIdle()) {
            EXPECT_PV_OK(session->Abort());
        }

        Watchdog watchdog("a second session after a failure");
        std::thread other([&] {
            CREVProcess second(&m_manager, 1);
            PravonImagePtr otherDestination = NewImage();
            EXPECT_PV_OK(Develop(second, otherSource.get(), otherDestination.get(), {}));
        });
        other.join();
    }
}

TEST_F(DRAGSession, LibraryFailuresComeBackWithWhatTheLibrarySaid) {
    PravonImagePtr source = Image(40, 40, kRGB16);
    PravonImagePtr destination = NewImage();
    CREVProcess session(&m_manager, 1);

    DragTestForce({DragCall::kInit, DRAG_ERR_TEXT, "the moon is in the wrong phase"});
    IPravonError* text = Develop(session, source.get(), destination.get(), {});
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->HasText("the moon is in the wrong phase"));
    EXPECT_EQ(text->GetComponent(), CDRAGBase::kComponent);
    text->Release();

    IPravonError* inner = PravonFail(FourCC("test"), PravonKind::kOutOfRange, "a cause of the test's");
    DragTestForce({DragCall::kBegin, DRAG_ERR_OBJECT, "", inner});
    IPravonError* wrapped = Develop(session, source.get(), destination.get(), {});
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(wrapped->GetKind(), PravonKind::kOutOfRange) << "the first cause stays first";
    EXPECT_TRUE(wrapped->HasText("DRAGBegin"));
    wrapped->Release();
    EXPECT_TRUE(session.IsIdle());

    // The library's half-started and unfinished runs were ended: the same session starts again.
    DragTestForce({DragCall::kEnd, -55, ""});
    EXPECT_PV_KIND(Develop(session, source.get(), destination.get(), {}), -55);
    EXPECT_TRUE(session.IsIdle());
    EXPECT_PV_OK(Develop(session, source.get(), destination.get(), {}));
    EXPECT_EQ(DragTestCallCount(DragCall::kNew), 1u) << "on its one handle";
}

// Our own allocation callback through the session's virtual: what it reports reaches the caller.
class StingySession : public CREVProcess {
public:
    using CREVProcess::CREVProcess;
    void FillCallbacks(DragParams& params) override {
        CREVProcess::FillCallbacks(params);
        params.allocate = [](void** memory, std::uint32_t) -> void* {
            *memory = nullptr;
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory today");
        };
    }
};

TEST_F(DRAGSession, AnAllocationFailureReachesTheCaller) {
    PravonImagePtr source = Image(40, 40, kRGB16);
    StingySession session(&m_manager, 1);
    EXPECT_PV_KIND(session.BeginWhole(source.get(), nullptr, 0, 16, 11, nullptr), PravonKind::kOutOfMemory);
    EXPECT_TRUE(session.IsIdle());
}

} // namespace
