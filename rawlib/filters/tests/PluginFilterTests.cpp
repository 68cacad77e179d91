#include "rawlib/filters/CFltPlugin.h"

#include "rawlib/filters/tests/PluginTestSupport.h"
#include "rawlib/settings/CKvFilterPluginList.h"
#include "rawlib/settings/KvPluginInfo.h"

#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace kvtest;
using namespace KvPlugin;

TestPlane Inverted(const TestPlane& plane) {
    TestPlane out = plane;
    const ULONG max = plane.BitsPerSample() == 16 ? 65535u : 255u;
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG p = 0; p < plane.Channels(); ++p)
                out.SetSample(x, y, p, max - plane.Sample(x, y, p));
    return out;
}

// The source image, the plug-in and the filter over them, in the order they are to go.
struct PluginGraph {
    explicit PluginGraph(const TestPlane& plane, const std::string& library, LONG tileSize = 16,
                         LONG sourceTileSize = 0)
        : manager(tileSize), sourceManager(sourceTileSize ? sourceTileSize : tileSize),
          source(MakeImage(sourceManager, plane)), filter(&manager) {
        CPluginWin* plugin = CPluginWin::Create();
        loaded = plugin->SetPluginFile(KvTestPlugins::PathOf(library).c_str());
        EXPECT_PV_OK(filter.SetPlugin(plugin, false));
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
    }
    TestPlane Pull(IPravonError** error = nullptr) {
        TestPlane out;
        IPravonError* e = PullAll(&filter, &out);
        if (error)
            *error = e;
        else
            EXPECT_PV_OK(e);
        return out;
    }

    CPravonMemoryManager manager;
    CPravonMemoryManager sourceManager;
    PravonImagePtr source;
    CFltPlugin filter;
    SHORT loaded = 0;
};

TEST(PluginFilter, TheSameOutputAtEveryTileSize) {
    struct Case {
        const char* library;
        LONG colorSpace;
        BYTE radius;
    };
    for (const Case& c :
         {Case{"KvInvert", PravonColorSpace::kRGB8, 0}, Case{"KvInvert", PravonColorSpace::kGrey16, 0},
          Case{"KvBlur", PravonColorSpace::kRGB16, 2}, Case{"KvBlur", PravonColorSpace::kGrey8, 5}}) {
        SCOPED_TRACE(std::string(c.library) + " " + FourCCText(c.colorSpace));
        const TestPlane plane = MakePlane(37, 29, c.colorSpace, FillPattern::Random, 23);
        TestPlane first;
        ASSERT_TRUE(SameAtEveryTileSize(
            [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
                IPravonImage* source = graph.Own(MakeImage(manager, plane));
                CFltPlugin* filter = graph.Own(new CFltPlugin(&manager));
                CPluginWin* plugin = CPluginWin::Create();
                if (plugin->SetPluginFile(KvTestPlugins::PathOf(c.library).c_str()) != kNoError)
                    return PravonFail(0, PravonKind::kMissingInput, "no plug-in");
                if (c.radius) {
                    const BYTE radius[4] = {c.radius, 0, 0, 0};
                    plugin->SetParameters(radius, 4);
                }
                if (IPravonError* error = filter->SetPlugin(plugin, false))
                    return error;
                graph.output = filter;
                return PravonConnect(source, filter);
            },
            &first, {7, 16, 256}));
        EXPECT_TRUE(PlanesMatch(c.radius ? BoxBlur(plane, c.radius) : Inverted(plane), first));
    }
}

// Source tiles of another size than the filter's: each source tile's output is copied only where it
// meets the output tile.
TEST(PluginFilter, SourceTilesOfAnotherSizeAreCopiedOnlyWhereTheyMeetTheTile) {
    const TestPlane plane = MakePlane(41, 23, PravonColorSpace::kRGB8, FillPattern::Random, 6);
    for (const auto& [tileSize, sourceTileSize] :
         {std::pair<LONG, LONG>{16, 7}, {7, 16}, {16, 256}, {256, 16}}) {
        SCOPED_TRACE(std::to_string(tileSize) + " over " + std::to_string(sourceTileSize));
        PluginGraph g(plane, "KvBlur", tileSize, sourceTileSize);
        EXPECT_TRUE(PlanesMatch(BoxBlur(plane, 1), g.Pull()));
    }
}

TEST(PluginFilter, RefusesSourcesOtherThanGreyAndRgbAndFiltersWithoutAPlugin) {
    for (LONG colorSpace : {PravonColorSpace::kCMYK8, PravonColorSpace::kLab16, PravonColorSpace::kBGR8}) {
        PluginGraph g(MakePlane(8, 8, colorSpace, FillPattern::Gradient), "KvInvert");
        IPravonError* error = nullptr;
        g.Pull(&error);
        EXPECT_PV_KIND(error, PravonKind::kUnsupportedColorSpace);
        EXPECT_PV_KIND(g.filter.Run(-1), PravonKind::kUnsupportedColorSpace);
    }
    PluginGraph g(MakePlane(8, 8, PravonColorSpace::kRGB8, FillPattern::Gradient), "KvInvert");
    ASSERT_PV_OK(g.filter.SetPlugin(nullptr, false));
    IPravonError* error = nullptr;
    g.Pull(&error);
    EXPECT_PV_KIND(error, PravonKind::kBadArgument);
    EXPECT_PV_KIND(g.filter.Run(-1), PravonKind::kBadArgument);
}

TEST(PluginFilter, AMisbehavingPluginFailsTheTileAndLeavesItToBeMadeAgain) {
    const TestPlane plane = MakePlane(12, 9, PravonColorSpace::kRGB8, FillPattern::Random, 2);
    KvTestPlugins::Probe probe("KvMisbehave");
    for (std::int32_t mode : {3, 4, 7, 8, 9, 12}) {
        SCOPED_TRACE(mode);
        probe.Reset();
        probe.SetControl("mode", mode);
        PluginGraph g(plane, "KvMisbehave");
        IPravonError* error = nullptr;
        g.Pull(&error);
        PravonErrorPtr owned(error);
        ASSERT_TRUE(owned);
        EXPECT_EQ(owned->GetComponent(), CFltPlugin::kCode);
        if (mode == 3) {
            EXPECT_TRUE(owned->HasText("The lens of this filter is cracked"));
        }
        probe.SetControl("mode", 0);
        EXPECT_TRUE(PlanesMatch(plane, g.Pull())) << "the failed tile is made again";
    }
}

TEST(PluginFilter, APrepareAnswerOfDoneSetsTheDoneFlagAndStillRunsAndTheSettersClearIt) {
    KvTestPlugins::Probe probe("KvMisbehave");
    probe.SetControl("mode", 2);
    const TestPlane plane = MakePlane(10, 6, PravonColorSpace::kGrey8, FillPattern::Random, 3);
    PluginGraph g(plane, "KvMisbehave");
    EXPECT_TRUE(PlanesMatch(plane, g.Pull()));
    EXPECT_TRUE(g.filter.IsDone());
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(&g.filter, &recorder));
    ASSERT_PV_OK(g.filter.SetScaleAndResolution(1.0, 300.0, true));
    EXPECT_TRUE(g.filter.IsDone()) << "the same settings change nothing";
    EXPECT_EQ(recorder.Count(PravonNotification::kData), 0u);
    ASSERT_PV_OK(g.filter.SetScaleAndResolution(0.5, 300.0, true));
    EXPECT_FALSE(g.filter.IsDone());
    ASSERT_EQ(recorder.Count(PravonNotification::kData), 1u);
    EXPECT_EQ(recorder.heard.back().rect, (PravonRect{0, 0, 10, 6}));
    probe.Reset();
    probe.SetControl("mode", 0);
    g.Pull();
    EXPECT_EQ(probe.Log().substr(0, 7), "2 12 3 ") << "the plug-in heard that its settings changed";
    EXPECT_EQ(g.filter.GetPlugin()->GetFilterRecord().imageScale, 0x8000);
    PravonErrorPtr(PravonDisconnect(&g.filter, &recorder));
}

TEST(PluginFilter, AnotherPluginReplacesTheRegistrationOfTheFirst) {
    const TestPlane plane = MakePlane(6, 6, PravonColorSpace::kRGB8, FillPattern::Random, 9);
    PluginGraph g(plane, "KvInvert");
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(&g.filter, &recorder));
    CPluginRef first(g.filter.GetPlugin());
    EXPECT_EQ(first->GetFilterCount(), 1u);

    CPluginRef second(CPluginWin::Create());
    ASSERT_EQ(second->SetPluginFile(KvTestPlugins::PathOf("KvBlur").c_str()), kNoError);
    ASSERT_PV_OK(g.filter.SetPlugin(second.Get(), true));
    EXPECT_EQ(first->GetFilterCount(), 0u) << "the first plug-in keeps no pointer to the filter";
    EXPECT_EQ(second->GetFilterCount(), 1u);
    ASSERT_PV_OK(g.filter.SetPlugin(second.Get(), true));
    EXPECT_EQ(second->GetFilterCount(), 1u) << "registered once";
    EXPECT_EQ(recorder.Count(PravonNotification::kData), 2u) << "the same plug-in again still re-runs";
    EXPECT_TRUE(PlanesMatch(BoxBlur(plane, 1), g.Pull()));
    PravonErrorPtr(PravonDisconnect(&g.filter, &recorder));

    auto another = std::make_unique<CFltPlugin>(&g.manager);
    ASSERT_PV_OK(another->SetPlugin(second.Get(), false));
    EXPECT_EQ(second->GetFilterCount(), 2u);
    EXPECT_EQ(second->GetUseCount(), 3) << "each filter holds a use";
    another.reset();
    EXPECT_EQ(second->GetFilterCount(), 1u) << "a filter that goes unregisters";
    ASSERT_PV_OK(g.filter.SetPlugin(nullptr, false));
    EXPECT_EQ(second->GetFilterCount(), 0u);
    EXPECT_EQ(second->GetUseCount(), 1);
}

class ProgressWatcher : public CPravonFilterWatcher {
public:
    IPravonError* PravonFilterNotify(CPravonFilterBase*, LONG type, void* data) override {
        if (type == CFltPlugin::kCode)
            heard.push_back(*static_cast<CFltPlugin::Progress*>(data));
        return nullptr;
    }
    std::vector<CFltPlugin::Progress> heard;
};

TEST(PluginFilter, WatchersHearTheRunStartProgressAndEnd) {
    KvTestPlugins::Probe probe("KvProgress");
    probe.SetControl("band", 100);
    PluginGraph g(MakePlane(20, 10, PravonColorSpace::kGrey8, FillPattern::Random, 1), "KvProgress", 256);
    ProgressWatcher watcher;
    ASSERT_PV_OK(watcher.PravonFilterStartWatching(&g.filter));
    ASSERT_PV_OK(g.filter.Run(-1));
    EXPECT_EQ(watcher.heard, (std::vector<CFltPlugin::Progress>{{0, 1}, {100, 100}}));
    watcher.heard.clear();
    g.Pull();
    EXPECT_EQ(watcher.heard, (std::vector<CFltPlugin::Progress>{{0, 1}, {100, 100}, {100, 100}, {100, 100}}))
        << "a run (the whole-image run left the start pending), the host's read and the plug-in's band";
    ASSERT_PV_OK(watcher.PravonFilterStopWatching(&g.filter));
}

// What a user applies is kept in the settings and gives the same picture when the settings are read
// back on another run, without asking again.
TEST(PluginFilter, AStoredListReplayedGivesTheSamePixels) {
    const std::string path = KvTestPlugins::PathOf("KvDialogGain");
    KvPluginInfo installed;
    installed.path = path.c_str();
    installed.scriptingId = static_cast<DWORD>(FourCC("KvDg"));
    KvInstalledPlugins::Set({installed});
    KvTestPlugins::Probe probe("KvDialogGain");
    const TestPlane plane = MakePlane(30, 20, PravonColorSpace::kRGB16, FillPattern::Random, 44);

    std::vector<BYTE> stored;
    TestPlane applied;
    {
        PluginGraph g(plane, "KvDialogGain");
        probe.QueueAnswer(70);
        ASSERT_PV_OK(g.filter.Run(-1));
        EXPECT_EQ(probe.Fact("dialogs"), 1);
        applied = g.Pull();
        CKvFilterPlugins step;
        ASSERT_TRUE(step.Attach(path.c_str(), g.filter.GetPlugin()));
        CKvFilterPluginList list;
        list.Append(step);
        stored.resize(static_cast<std::size_t>(list.GetStateSize()));
        list.WriteState(stored.data(), static_cast<int>(stored.size()));
    }
    CKvFilterPluginList replayed;
    ASSERT_EQ(replayed.ReadState(stored.data(), static_cast<int>(stored.size())),
              static_cast<int>(stored.size()));
    ASSERT_EQ(replayed.GetCount(), 1u);
    CPravonMemoryManager manager(7);
    PravonImagePtr source = MakeImage(manager, plane);
    CFltPlugin filter(&manager);
    ASSERT_PV_OK(filter.SetPlugin(replayed.GetStep(0).GetPlugin(), false));
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    TestPlane again;
    ASSERT_PV_OK(PullAll(&filter, &again));
    EXPECT_TRUE(PlanesMatch(applied, again));
    EXPECT_EQ(probe.Fact("dialogs"), 1) << "the stored parameters answer instead of the user";
    TestPlane expected = plane;
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG p = 0; p < 3; ++p)
                expected.SetSample(x, y, p, plane.Sample(x, y, p) * 70 / 100);
    EXPECT_TRUE(PlanesMatch(expected, again));
    KvInstalledPlugins::Set({});
}

// A changed source pixel reaches as far as the plug-in's padding into the output, and the plug-in hears
// of the change.
TEST(PluginFilter, AChangeUpstreamRemakesTheOutputAsFarAsThePaddingReaches) {
    TestPlane plane = MakePlane(32, 24, PravonColorSpace::kGrey8, FillPattern::Random, 8);
    KvTestPlugins::Probe probe("KvBlur");
    PluginGraph g(plane, "KvBlur", 8);
    const BYTE radius[4] = {3, 0, 0, 0};
    g.filter.GetPlugin()->SetParameters(radius, 4);
    EXPECT_TRUE(PlanesMatch(BoxBlur(plane, 3), g.Pull()));
    plane.SetSample(15, 12, 0, plane.Sample(15, 12, 0) ^ 0xFF);
    ASSERT_PV_OK(WritePlane(g.source.get(), plane));
    PravonRect changed{15, 12, 16, 13};
    probe.Reset();
    ASSERT_PV_OK(PravonSendDataNotification(g.source.get(), PravonNotification::kData, &changed));
    TestPlane invalid;
    ASSERT_PV_OK(InvalidArea(&g.filter, &invalid));
    EXPECT_TRUE(PlanesMatch(RectMask(32, 24, {12, 9, 19, 16}), invalid))
        << "exactly the output pixels whose windows hold the change";
    EXPECT_TRUE(PlanesMatch(BoxBlur(plane, 3), g.Pull()));
    EXPECT_EQ(probe.Log().substr(0, 4), "2 12") << "the first remade tile runs the plug-in's run step";
}

} // namespace
