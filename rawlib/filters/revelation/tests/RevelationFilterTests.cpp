#include "rawlib/filters/revelation/CFltRevelation.h"
#include "rawlib/filters/revelation/tests/RevelationTestSupport.h"

#include "platform/pravon/PravonGraph.h"
#include "testing/Deadline.h"
#include "testing/NotificationRecorder.h"
#include "testing/PlaneHash.h"
#include "testing/TileSizeSweep.h"

#include <thread>

namespace {

using namespace kvtest;
using namespace revtest;

constexpr LONG kRGB16 = PravonColorSpace::kRGB16;
constexpr LONG kStatistics = CFltRevelation::kStatisticsCode;
constexpr LONG kOutput = CFltRevelation::kOutputCode;

// Hears the passes' progress records, and cancels a pass at its n-th record when asked.
class ProgressWatcher : public CPravonFilterWatcher {
public:
    IPravonError* PravonFilterNotify(CPravonFilterBase*, LONG type, void* data) override {
        if (type != CFltRevelation::kProgressNotification)
            return nullptr;
        auto* record = static_cast<CFltRevelation::CProgress*>(data);
        heard.push_back(*record);
        if (record->code == cancelCode && ++seen == cancelAt)
            record->continueRun = false;
        return nullptr;
    }
    std::size_t Count(LONG code) const {
        return std::count_if(heard.begin(), heard.end(), [&](const auto& r) { return r.code == code; });
    }

    std::vector<CFltRevelation::CProgress> heard;
    LONG cancelCode = 0;
    int cancelAt = 0;
    int seen = 0;
};

// A source image, the filter over it and a recorder downstream.
struct Graph {
    explicit Graph(IPravonManager& manager, const TestPlane& plane)
        : source(MakeImage(manager, plane)), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &downstream));
    }
    ~Graph() {
        PravonErrorPtr(PravonDisconnect(&filter, &downstream));
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }
    TestPlane Pull(PullOrder order = PullOrder::TileOrder) {
        TestPlane out;
        EXPECT_PV_OK(PullAll(&filter, &out, order));
        return out;
    }

    PravonImagePtr source;
    CFltRevelation filter;
    NotificationRecorder downstream;
};

class RevelationFilter : public RevelationTest {
protected:
    // Output-pass runs begun so far (one per strip).
    static std::size_t OutputRuns() { return Inits(DRAG_PASS_OUTPUT); }
    static std::size_t StatisticsRuns() { return Inits(DRAG_PASS_STATISTICS); }
    static std::size_t Inits(std::uint32_t pass) {
        std::size_t n = 0;
        for (const DragLogEntry& e : DragTestCallLog())
            n +=
                e.call == DragCall::kInit && e.pass == static_cast<std::int32_t>(pass) && e.result == DRAG_OK;
        return n;
    }
};

TEST_F(RevelationFilter, ANewFilterHasItsDefaults) {
    CFltRevelation filter(&m_manager);
    EXPECT_EQ(filter.GetFilterCode(), 0x72657620);
    EXPECT_STREQ(filter.GetFilterDescription(), "Revelation");
    EXPECT_EQ(filter.GetCacheUsage(), 0);
    EXPECT_EQ(filter.GetP1(), 127);
    EXPECT_EQ(filter.GetP2(), 190);
    EXPECT_EQ(filter.GetP3(), 127);
    EXPECT_EQ(filter.GetKind(), 11);
    EXPECT_EQ(filter.GetDepth(), 16);
    EXPECT_FALSE(filter.GetFlag());
    EXPECT_TRUE(filter.IsStatisticsDirty());
    EXPECT_TRUE(filter.IsOutputDirty());
}

// Which passes each setter call leaves to run, and what it announces, starting from a filter whose passes
// have run.
TEST_F(RevelationFilter, SettersMarkThePassesTheirValuesFeed) {
    struct Case {
        const char* what;
        std::function<IPravonError*(CFltRevelation&)> set;
        bool statistics, output, announced;
    };
    const Case cases[] = {
        {"the output defaults again", [](CFltRevelation& f) { return f.SetParameters2(127, 190, 127, true); },
         false, false, false},
        {"the session defaults again", [](CFltRevelation& f) { return f.SetParameters(11, 16, 0, true); },
         false, false, false},
        {"the flag set", [](CFltRevelation& f) { return f.SetParameters(11, 16, 1, true); }, true, true,
         true},
        {"another kind", [](CFltRevelation& f) { return f.SetParameters(4, 16, 0, true); }, true, true, true},
        {"another depth", [](CFltRevelation& f) { return f.SetParameters(11, 12, 0, true); }, true, true,
         true},
        {"p1", [](CFltRevelation& f) { return f.SetParameters2(128, 190, 127, true); }, false, true, true},
        {"p3", [](CFltRevelation& f) { return f.SetParameters2(127, 190, 0, true); }, false, true, true},
        {"p2 without notify", [](CFltRevelation& f) { return f.SetParameters2(127, 10, 127, false); }, false,
         true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Graph g(m_manager, Scene(40, 30, kRGB16));
        g.Pull();
        ASSERT_FALSE(g.filter.IsDirty());
        g.downstream.Clear();
        ASSERT_PV_OK(c.set(g.filter));
        EXPECT_EQ(g.filter.IsStatisticsDirty(), c.statistics);
        EXPECT_EQ(g.filter.IsOutputDirty(), c.output);
        if (c.announced) {
            ASSERT_EQ(g.downstream.heard.size(), 1u);
            EXPECT_EQ(g.downstream.heard[0].type, PravonNotification::kData);
            EXPECT_EQ(*g.downstream.heard[0].rect, (PravonRect{0, 0, 40, 30}));
        } else {
            EXPECT_TRUE(g.downstream.heard.empty());
        }
    }
    // A flag of another value but the same truth changes nothing.
    Graph g(m_manager, Scene(40, 30, kRGB16));
    ASSERT_PV_OK(g.filter.SetParameters(11, 16, 1, false));
    g.Pull();
    ASSERT_PV_OK(g.filter.SetParameters(11, 16, 9, true));
    EXPECT_FALSE(g.filter.IsDirty());
    // A disabled filter announces nothing.
    ASSERT_PV_OK(g.filter.Enable(false, false));
    g.downstream.Clear();
    ASSERT_PV_OK(g.filter.SetParameters2(1, 2, 3, true));
    EXPECT_TRUE(g.downstream.heard.empty());
}

// What each source notification leaves to run and what reaches downstream.
TEST_F(RevelationFilter, SourceChangesMarkThePassesTheyTouch) {
    IPravonDataDestination::ChangeSize size{40, 30, 40, 30};
    IPravonDataDestination::ChangeColorSpace space{kRGB16, kRGB16};
    IPravonDataDestination::ChangeResolution resolution{72, 300};
    IPravonDataDestination::ChangeTransform transform;
    IPravonDataDestination::ChangePalette palette;
    PravonRect part{3, 4, 9, 10};
    const PravonRect whole{0, 0, 40, 30};
    struct Case {
        const char* what;
        LONG type;
        void* data;
        bool statistics, output;
        LONG heardType; // what downstream hears; kNone for nothing
        bool wholeRect;
    };
    constexpr LONG kNone = -1;
    const Case cases[] = {
        {"pixels", PravonNotification::kData, &part, true, true, PravonNotification::kData, true},
        {"size", PravonNotification::kSize, &size, true, true, PravonNotification::kSize, false},
        {"colour space", PravonNotification::kColorSpace, &space, true, true, PravonNotification::kColorSpace,
         false},
        {"resolution", PravonNotification::kResolution, &resolution, false, true, PravonNotification::kData,
         true},
        {"transform", PravonNotification::kTransform, &transform, false, false,
         PravonNotification::kTransform, false},
        {"palette", PravonNotification::kPalette, &palette, true, true, PravonNotification::kPalette, false},
        {"update all", PravonNotification::kUpdateAll, nullptr, true, true, PravonNotification::kUpdateAll,
         false},
        {"a user notification", -2100, nullptr, false, false, -2100, false},
        {"an unknown type", 9, nullptr, false, false, kNone, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Graph g(m_manager, Scene(40, 30, kRGB16));
        g.Pull();
        g.downstream.Clear();
        ASSERT_PV_OK(PravonSendDataNotification(g.source.get(), c.type, c.data));
        EXPECT_EQ(g.filter.IsStatisticsDirty(), c.statistics);
        EXPECT_EQ(g.filter.IsOutputDirty(), c.output);
        if (c.heardType == kNone) {
            EXPECT_TRUE(g.downstream.heard.empty());
            continue;
        }
        ASSERT_EQ(g.downstream.heard.size(), 1u);
        EXPECT_EQ(g.downstream.heard[0].type, c.heardType);
        if (c.wholeRect) {
            EXPECT_EQ(*g.downstream.heard[0].rect, whole) << "every output pixel rests on the whole source";
        }
    }
}

TEST_F(RevelationFilter, TheFilterServesTilesFromItsOnePassUntilAParameterChanges) {
    Graph g(m_manager, Scene(50, 45, kRGB16));
    ASSERT_PV_OK(g.filter.SetParameters2(200, 190, 90, false));
    const TestPlane first = g.Pull(PullOrder::RandomOrder);
    EXPECT_EQ(StatisticsRuns(), 1u);
    EXPECT_EQ(OutputRuns(), 1u);
    const TestPlane again = g.Pull(PullOrder::RandomOrder);
    EXPECT_TRUE(PlanesMatch(first, again));
    EXPECT_EQ(StatisticsRuns(), 1u) << "later tiles come from the cache";
    EXPECT_EQ(OutputRuns(), 1u);

    ASSERT_PV_OK(g.filter.SetParameters2(60, 190, 90, true));
    const TestPlane lowered = g.Pull();
    EXPECT_FALSE(PlanesMatch(first, lowered));
    EXPECT_EQ(StatisticsRuns(), 1u) << "the statistics stand";
    EXPECT_EQ(OutputRuns(), 2u);

    ASSERT_PV_OK(g.filter.SetParameters(5, 16, 0, true));
    g.Pull();
    EXPECT_EQ(StatisticsRuns(), 2u);
    EXPECT_EQ(OutputRuns(), 3u);

    IPravonDataDestination::ChangeResolution resolution{72, 300};
    ASSERT_PV_OK(g.source->SetResolution(300));
    ASSERT_PV_OK(PravonSendDataNotification(g.source.get(), PravonNotification::kResolution, &resolution));
    g.Pull();
    EXPECT_EQ(StatisticsRuns(), 2u);
    EXPECT_EQ(OutputRuns(), 4u);
    double now = 0;
    ASSERT_PV_OK(g.filter.GetResolution(&now));
    EXPECT_EQ(now, 300) << "the output's geometry follows its source";
}

// The filter's output against the same development through a session of the test's own: the filter hands
// the library its values and adds nothing.
TEST_F(RevelationFilter, TheOutputIsTheSessionsDevelopment) {
    const TestPlane plane = Scene(50, 45, kRGB16);
    const Setting setting{210, 170, 40, 6, 14, 1};
    Graph g(m_manager, plane);
    ASSERT_PV_OK(g.filter.SetParameters(setting.kind, setting.depth, setting.flag, false));
    ASSERT_PV_OK(g.filter.SetParameters2(setting.p1, setting.p2, setting.p3, false));
    const TestPlane out = g.Pull();
    CREVProcess session(&m_manager, 1);
    PravonImagePtr destination = NewImage();
    ASSERT_PV_OK(Develop(session, g.source.get(), destination.get(), setting));
    TestPlane expected;
    ASSERT_PV_OK(PullAll(destination.get(), &expected));
    EXPECT_TRUE(PlanesMatch(expected, out));
    EXPECT_FALSE(PlanesMatch(plane, out));
}

// Pulled tile by tile at every tile size and in any order, run through a processing pass tile by tile, or
// computed in strips: the same picture.
TEST_F(RevelationFilter, WholeAndTiledRunsGiveTheSameOutput) {
    const TestPlane plane = Scene(70, 61, kRGB16);
    const auto build = [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* filter = graph.Own(new CFltRevelation(&manager));
        if (IPravonError* e = PravonConnect(source, filter))
            return e;
        if (IPravonError* e = filter->SetParameters2(240, 150, 200, false))
            return e;
        graph.output = filter;
        return nullptr;
    };
    TestPlane pulled;
    ASSERT_TRUE(SameAtEveryTileSize(build, &pulled));
    // A tripwire beside the real checks (the session's own development above, and the library's tone
    // mapping in platform/dragkvl1's tests): a change of the library's arithmetic shows here too. After a
    // deliberate change, regenerate it by printing HashText(HashPlane(pulled)) once.
    EXPECT_EQ(HashText(HashPlane(pulled)), "0xe42d478e3af013a6");

    Graph g(m_manager, plane);
    ASSERT_PV_OK(g.filter.SetParameters2(240, 150, 200, false));
    PravonImagePtr passed = NewImage();
    IPravonDataSource* sources[] = {g.source.get()};
    ASSERT_PV_OK(g.filter.Process(sources, 1, passed.get()));
    TestPlane fromPass;
    ASSERT_PV_OK(PullAll(passed.get(), &fromPass));
    EXPECT_TRUE(PlanesMatch(pulled, fromPass));

    CDRAGBase::SetStripBytesForTesting(70 * 61 * 6 / 5);
    DragTestReset();
    Graph strips(m_manager, plane);
    ASSERT_PV_OK(strips.filter.SetParameters2(240, 150, 200, false));
    EXPECT_TRUE(PlanesMatch(pulled, strips.Pull(PullOrder::RandomOrder)));
    EXPECT_GE(OutputRuns(), 5u);
}

TEST_F(RevelationFilter, APassKeepsItsOwnSessionAndFlags) {
    Graph g(m_manager, Scene(40, 30, kRGB16));
    g.Pull();
    PravonImagePtr passed = NewImage();
    IPravonDataSource* sources[] = {g.source.get()};
    ASSERT_PV_OK(g.filter.Process(sources, 1, passed.get()));
    EXPECT_EQ(StatisticsRuns(), 2u) << "a pass measures for itself";
    EXPECT_EQ(OutputRuns(), 2u) << "once for the whole pass, not per tile";
    EXPECT_FALSE(g.filter.IsDirty()) << "the cache's flags are its own";

    // Off, the filter's pass copies its source and runs nothing.
    ASSERT_PV_OK(g.filter.SetParameters2(255, 190, 127, false));
    ASSERT_PV_OK(g.filter.Enable(false, false));
    PravonImagePtr copied = NewImage();
    ASSERT_PV_OK(g.filter.Process(sources, 1, copied.get()));
    TestPlane out;
    ASSERT_PV_OK(PullAll(copied.get(), &out));
    EXPECT_TRUE(PlanesMatch(Scene(40, 30, kRGB16), out));
    EXPECT_EQ(StatisticsRuns(), 2u);
}

TEST_F(RevelationFilter, ProgressIsToldPassByPass) {
    Graph g(m_manager, Scene(40, 250, kRGB16));
    ProgressWatcher watcher;
    ASSERT_PV_OK(g.filter.AddWatcher(&watcher));
    g.Pull();
    ASSERT_GE(watcher.heard.size(), 4u);
    const auto& h = watcher.heard;
    EXPECT_EQ(h.front().code, kStatistics);
    EXPECT_EQ(h.front().progress, 0);
    EXPECT_EQ(h.front().total, 1);
    EXPECT_EQ(h.front().steps, 1);
    EXPECT_EQ(h.back().code, kOutput);
    EXPECT_EQ(h.back().progress, 1);
    EXPECT_EQ(h.back().total, 1);
    EXPECT_EQ(watcher.Count(kStatistics), 2u + 3u) << "250 rows in steps of 100";
    for (LONG code : {kStatistics, kOutput}) {
        LONG last = 0;
        for (const auto& record : h) {
            if (record.code != code || record.total != 100)
                continue;
            EXPECT_GE(record.progress, last) << "progress never goes back";
            last = record.progress;
        }
        EXPECT_EQ(last, 100);
    }
    ASSERT_PV_OK(g.filter.RemoveWatcher(&watcher));
}

// A watcher that cancels in the middle of either pass leaves the filter off, showing its source, and the
// library's run aborted, with nothing of it left behind.
TEST_F(RevelationFilter, ACancelInTheMiddleOfEitherPassDisablesTheFilter) {
    const TestPlane plane = Scene(40, 250, kRGB16);
    for (LONG code : {kStatistics, kOutput}) {
        SCOPED_TRACE(code == kStatistics ? "statistics" : "output");
        DragTestReset();
        Graph g(m_manager, plane);
        ASSERT_PV_OK(g.filter.SetParameters2(255, 190, 127, false));
        ProgressWatcher watcher;
        watcher.cancelCode = code;
        watcher.cancelAt = 3;
        ASSERT_PV_OK(g.filter.AddWatcher(&watcher));
        const TestPlane out = g.Pull();
        EXPECT_FALSE(g.filter.IsEnabled());
        EXPECT_TRUE(PlanesMatch(plane, out)) << "an off filter shows its source";
        EXPECT_EQ(DragTestCallCount(DragCall::kAbort), 1u);
        EXPECT_EQ(DragTestLiveAllocations(), 0u);
        EXPECT_EQ(m_manager.GetLockCount(), 0);
        EXPECT_EQ(g.downstream.Count(PravonNotification::kUpdateAll), 1u);
        if (code == kStatistics) {
            EXPECT_EQ(OutputRuns(), 0u) << "no output from statistics half made";
        }
        ASSERT_PV_OK(g.filter.RemoveWatcher(&watcher));

        ASSERT_PV_OK(g.filter.Enable(true, true));
        EXPECT_FALSE(PlanesMatch(plane, g.Pull())) << "enabled again, it runs again";
    }
}

// After an error in either pass the run is aborted, so its lock is free: a session on another thread gets
// through, and the filter runs again once it is enabled.
TEST_F(RevelationFilter, AnErrorInEitherPassAbortsTheRunAndDisablesTheFilter) {
    const TestPlane plane = Scene(40, 250, kRGB16);
    for (std::int32_t pass :
         {static_cast<std::int32_t>(DRAG_PASS_STATISTICS), static_cast<std::int32_t>(DRAG_PASS_OUTPUT)}) {
        SCOPED_TRACE(pass);
        DragTestReset();
        Graph g(m_manager, plane);
        DragTestForce({DragCall::kProcess, -55, "", nullptr, 1, 1, pass});
        TestPlane out;
        EXPECT_PV_KIND(PullAll(&g.filter, &out), -55);
        EXPECT_FALSE(g.filter.IsEnabled());
        EXPECT_EQ(DragTestCallCount(DragCall::kAbort), 1u);
        {
            Watchdog watchdog("a session on another thread after the filter's error");
            std::thread other([&] {
                CREVProcess session(&m_manager, 1);
                PravonImagePtr source = MakeImage(m_manager, Scene(30, 30, kRGB16));
                PravonImagePtr destination = NewImage();
                EXPECT_PV_OK(Develop(session, source.get(), destination.get(), {}));
            });
            other.join();
        }
        EXPECT_TRUE(PlanesMatch(plane, g.Pull())) << "off, it shows its source";
        ASSERT_PV_OK(g.filter.Enable(true, false));
        EXPECT_TRUE(PlanesMatch(plane, g.Pull())) << "the default values change nothing";
        EXPECT_TRUE(g.filter.IsEnabled()) << "the second run succeeded";
    }
}

TEST_F(RevelationFilter, ASourceNeitherGreyNorRgbIsRefused) {
    Graph g(m_manager, MakePlane(20, 20, PravonColorSpace::kLab16, FillPattern::Random, 1));
    TestPlane out;
    IPravonError* refused = PullAll(&g.filter, &out);
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->HasText("Bad source data color space")) << refused->Describe();
    EXPECT_EQ(refused->GetComponent(), CFltRevelation::kCode);
    refused->Release();

    // A grey layout of 32 bits passes the filter's test but not the library's: the filter turns off.
    Graph wide(m_manager, MakePlane(20, 20, 0x20020001, FillPattern::Random, 1));
    EXPECT_PV_KIND(PullAll(&wide.filter, &out), PravonKind::kUnsupportedColorSpace);
    EXPECT_FALSE(wide.filter.IsEnabled());
}

TEST_F(RevelationFilter, GreyAndEightBitSourcesComeBackUnchangedAtTheDefaults) {
    for (LONG cs : {PravonColorSpace::kGrey8, PravonColorSpace::kGrey16, PravonColorSpace::kRGB8}) {
        SCOPED_TRACE(cs);
        const TestPlane plane = Scene(33, 27, cs);
        Graph g(m_manager, plane);
        ASSERT_PV_OK(g.filter.SetParameters(11, PravonColorSpace::BitsPerSample(cs), 0, false));
        EXPECT_TRUE(PlanesMatch(plane, g.Pull()));
        EXPECT_TRUE(g.filter.IsEnabled());
    }
}

} // namespace
