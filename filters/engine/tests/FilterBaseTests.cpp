#include "filters/tests/ProbeFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

namespace {

using namespace kvtest;

// A source image, a probe filter on it and a recorder after the filter.
struct Chain {
    explicit Chain(LONG width = 40, LONG height = 20, LONG tileSize = 16)
        : manager(tileSize),
          plane(MakePlane(width, height, PravonColorSpace::kRGB8, FillPattern::Coordinates)),
          source(MakeImage(manager, plane)), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    ProbeFilter filter;
    NotificationRecorder recorder;
};

TEST(FilterBase, TheFirstFilterOfAProcessHasIdOneAndTheNextTwo) {
    if (::testing::UnitTest::GetInstance()->test_to_run_count() > 1)
        GTEST_SKIP() << "needs a process of its own, as under ctest";
    CPravonMemoryManager manager;
    ProbeFilter first(&manager);
    ProbeFilter second(&manager);
    EXPECT_EQ(first.GetFilterID(), 1);
    EXPECT_EQ(second.GetFilterID(), 2);
}

TEST(FilterBase, ADisabledFilterAnswersEveryCallFromItsSource) {
    Chain c;
    ASSERT_PV_OK(c.filter.Enable(false, false));
    LONG width = 0;
    LONG colorSpace = 0;
    EXPECT_PV_OK(c.filter.GetWidth(&width));
    EXPECT_PV_OK(c.filter.GetColorSpace(&colorSpace));
    EXPECT_EQ(width, 40);
    EXPECT_EQ(colorSpace, PravonColorSpace::kRGB8);
    void* viaFilter = nullptr;
    void* viaSource = nullptr;
    ASSERT_PV_OK(c.filter.LockTile(1, 1, &viaFilter, nullptr));
    ASSERT_PV_OK(c.source->LockTile(1, 1, &viaSource, nullptr));
    EXPECT_EQ(viaFilter, viaSource);
    EXPECT_PV_OK(c.filter.UnlockTile(1, 1));
    EXPECT_PV_OK(c.source->UnlockTile(1, 1));
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out, PullOrder::TileOrder, 1, true));
    EXPECT_TRUE(PlanesMatch(c.plane, out));
    EXPECT_TRUE(c.filter.calls.empty());
    EXPECT_EQ(c.filter.GetCacheImage(), nullptr) << "a disabled filter needs no cache";
    EXPECT_EQ(c.manager.GetLockCount(), 0);
}

TEST(FilterBase, OnlyAnEffectiveEnableWithNotifyAnnouncesAnUpdate) {
    Chain c;
    EXPECT_PV_OK(c.filter.Enable(true, true));
    EXPECT_TRUE(c.recorder.heard.empty());
    EXPECT_PV_OK(c.filter.Enable(false, false));
    EXPECT_TRUE(c.recorder.heard.empty());
    EXPECT_PV_OK(c.filter.Enable(true, true));
    ASSERT_EQ(c.recorder.heard.size(), 1u);
    EXPECT_EQ(c.recorder.heard[0].type, PravonNotification::kUpdateAll);
    EXPECT_EQ(c.recorder.heard[0].data, nullptr);
}

TEST(FilterBase, AnEnableChangeMakesTheCacheStartAfresh) {
    Chain c;
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    ASSERT_EQ(c.filter.calls.size(), 6u);
    ASSERT_PV_OK(c.filter.Enable(false, false));
    ASSERT_PV_OK(c.filter.Enable(true, false));
    EXPECT_TRUE(c.filter.IsCacheCheckSet());
    c.filter.calls.clear();
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    EXPECT_EQ(c.filter.calls.size(), 6u) << "tiles cached before the filter was off are not served again";
    EXPECT_TRUE(PlanesMatch(c.filter.Expected(c.plane), out));
}

TEST(FilterBase, AFilterWithoutASourceReportsNoSource) {
    CPravonMemoryManager manager(16);
    ProbeFilter forwarding(&manager);
    forwarding.SetPassThrough(true);
    ProbeFilter disabled(&manager);
    ASSERT_PV_OK(disabled.Enable(false, false));
    ProbeFilter enabled(&manager);
    for (ProbeFilter* f : {&forwarding, &disabled, &enabled}) {
        LONG width = 0;
        void* data = nullptr;
        IPravonTileGrid* grid = nullptr;
        EXPECT_PV_KIND(f->GetWidth(&width), PravonKind::kNoSource);
        EXPECT_PV_KIND(f->LockTile(0, 0, &data, nullptr), PravonKind::kNoSource);
        EXPECT_PV_KIND(f->MapRect(CPravonRect(0, 0, 4, 4), &grid), PravonKind::kNoSource);
        EXPECT_EQ(grid, nullptr);
    }
    EXPECT_PV_KIND(forwarding.UnlockTile(0, 0), PravonKind::kNoSource);
}

// A lock through the cache and a lock forwarded to the source both come back the way they went, for each
// form of lock, when enable or pass-through changes while the tile is held.
TEST(FilterBase, ATileIsUnlockedTheWayItWasLockedWhateverChangedMeanwhile) {
    enum class Form { kGrid, kId, kCell };
    enum class Switch { kEnable, kPassThrough };
    for (Form form : {Form::kGrid, Form::kId, Form::kCell}) {
        for (Switch what : {Switch::kEnable, Switch::kPassThrough}) {
            for (bool forwardedFirst : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "form " << static_cast<int>(form) << ", switch " << static_cast<int>(what)
                             << (forwardedFirst ? ", forwarded" : ", cached"));
                Chain c;
                const auto forward = [&](bool on) -> IPravonError* {
                    if (what == Switch::kPassThrough) {
                        c.filter.SetPassThrough(on);
                        return nullptr;
                    }
                    return c.filter.Enable(!on, false);
                };
                ASSERT_PV_OK(forward(forwardedFirst));
                IPravonTileGrid* grid = nullptr;
                IPravonTileID id;
                void* data = nullptr;
                switch (form) {
                case Form::kGrid:
                    ASSERT_PV_OK(c.filter.MapRect(CPravonRect(16, 0, 32, 16), &grid));
                    ASSERT_PV_OK(c.filter.LockTile(grid, 0, 0, &data, nullptr, nullptr, nullptr));
                    break;
                case Form::kId: {
                    IPravonTile* tile = nullptr;
                    ASSERT_PV_OK(c.filter.GetTile(1, 0, &tile));
                    id = tile->GetID();
                    ASSERT_PV_OK(c.filter.LockTile(id, &data, nullptr));
                    break;
                }
                case Form::kCell:
                    ASSERT_PV_OK(c.filter.LockTile(1, 0, &data, nullptr));
                    break;
                }
                EXPECT_EQ(c.manager.GetLockCount(), 1);
                ASSERT_PV_OK(forward(!forwardedFirst));
                switch (form) {
                case Form::kGrid:
                    EXPECT_PV_OK(c.filter.UnlockTile(grid, 0, 0));
                    grid->Release();
                    break;
                case Form::kId:
                    EXPECT_PV_OK(c.filter.UnlockTile(id));
                    break;
                case Form::kCell:
                    EXPECT_PV_OK(c.filter.UnlockTile(1, 0));
                    break;
                }
                EXPECT_EQ(c.manager.GetLockCount(), 0) << "the tile that was locked is the one let go";
                // And a lock now goes, and comes back, the new way.
                ASSERT_PV_OK(c.filter.LockTile(1, 0, &data, nullptr));
                EXPECT_PV_OK(c.filter.UnlockTile(1, 0));
                EXPECT_EQ(c.manager.GetLockCount(), 0);
            }
        }
    }
}

TEST(FilterBase, NotificationsArePassedOnByType) {
    Chain c;
    IPravonDataDestination::ChangeSize size{40, 20, 40, 20};
    int user = 0;
    EXPECT_PV_OK(c.filter.PravonNotify(c.source.get(), -2100, &user));
    EXPECT_PV_OK(c.filter.PravonNotify(c.source.get(), PravonNotification::kSize, &size));
    EXPECT_PV_OK(c.filter.PravonNotify(c.source.get(), PravonNotification::kDestroyed, nullptr));
    EXPECT_PV_OK(c.filter.PravonNotify(c.source.get(), 8, &user));
    EXPECT_PV_OK(c.filter.PravonNotify(c.source.get(), PravonNotification::kUpdateAll, nullptr));
    ASSERT_EQ(c.recorder.heard.size(), 3u) << "type 6 and types above 7 go no further";
    EXPECT_EQ(c.recorder.heard[0].type, -2100);
    EXPECT_EQ(c.recorder.heard[0].data, &user);
    EXPECT_EQ(c.recorder.heard[1].type, PravonNotification::kSize);
    EXPECT_EQ(c.recorder.heard[1].data, &size);
    EXPECT_EQ(c.recorder.heard[2].type, PravonNotification::kUpdateAll);
    EXPECT_TRUE(c.filter.IsCacheCheckSet());
}

TEST(FilterBase, ASourceSizeChangeReachesTheOutput) {
    Chain c;
    TestPlane out;
    ASSERT_PV_OK(PullAll(&c.filter, &out));
    const TestPlane bigger = MakePlane(50, 33, PravonColorSpace::kRGB8, FillPattern::Random, 5);
    ASSERT_PV_OK(WritePlane(c.source.get(), bigger));
    IPravonDataDestination::ChangeSize size{40, 20, 50, 33};
    ASSERT_PV_OK(PravonSendDataNotification(c.source.get(), PravonNotification::kSize, &size));
    ASSERT_PV_OK(PullAll(&c.filter, &out, PullOrder::RandomOrder));
    EXPECT_TRUE(PlanesMatch(c.filter.Expected(bigger), out));
    ASSERT_EQ(c.recorder.heard.size(), 1u);
    EXPECT_EQ(c.recorder.heard[0].size->newHeight, 33);
}

TEST(FilterBase, ConnectionsAreTrackedAndALostSourceIsNoLongerUsed) {
    CPravonMemoryManager manager(16);
    auto source = MakeImage(manager, MakePlane(8, 8, PravonColorSpace::kGrey8, FillPattern::Gradient));
    ProbeFilter filter(&manager);
    NotificationRecorder after;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &after));
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    filter.GetSources(&sources, &count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(sources[0], source.get());
    LONG width = 0;
    ASSERT_PV_OK(filter.GetWidth(&width));
    EXPECT_FALSE(filter.IsCacheCheckSet());

    source.reset();
    filter.GetSources(&sources, &count);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(after.heard.empty()) << "the loss of a source is not passed on";
    EXPECT_PV_KIND(filter.GetWidth(&width), PravonKind::kNoSource);
}

TEST(FilterBase, ANewCacheUsageReachesTheCacheImage) {
    Chain c;
    LONG width = 0;
    ASSERT_PV_OK(c.filter.GetWidth(&width));
    ASSERT_NE(c.filter.GetCacheImage(), nullptr);
    EXPECT_PV_OK(c.filter.SetCacheUsage(1));
    EXPECT_FALSE(c.filter.IsCacheCheckSet()) << "an unchanged usage changes nothing";
    EXPECT_PV_OK(c.filter.SetCacheUsage(0));
    EXPECT_TRUE(c.filter.IsCacheCheckSet());
    LONG usage = -1;
    EXPECT_PV_OK(c.filter.GetCacheImage()->GetUsage(&usage));
    EXPECT_EQ(usage, 0);
    EXPECT_EQ(c.filter.GetCacheUsage(), 0);
}

} // namespace
