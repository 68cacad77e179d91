#include "filters/tests/ProbeFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace kvtest;

class RecordingWatcher : public CPravonFilterWatcher {
public:
    struct Heard {
        CPravonFilterBase* filter = nullptr;
        LONG type = 0;
        bool added = false;
        CPravonFilterWatcher* watcher = nullptr;
        std::vector<CPravonFilterWatcher*> list; // the watcher-change record's list, copied
    };

    IPravonError* PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) override {
        Heard h;
        h.filter = filter;
        h.type = type;
        if (type == 0) {
            const auto* change = static_cast<const WatcherChange*>(data);
            h.added = change->added;
            h.watcher = change->watcher;
            h.list.assign(change->watchers, change->watchers + change->count);
        }
        heard.push_back(h);
        if (react)
            react();
        return failWithKind ? IPravonError::Add(nullptr, 1, __LINE__, failWithKind) : nullptr;
    }

    std::vector<Heard> heard;
    LONG failWithKind = 0;
    std::function<void()> react;
};

TEST(FilterWatchers, AWatcherAddedTwiceIsAnnouncedOnce) {
    CPravonMemoryManager manager;
    ProbeFilter filter(&manager);
    RecordingWatcher a;
    RecordingWatcher b;
    ASSERT_PV_OK(filter.AddWatcher(&a));
    ASSERT_EQ(a.heard.size(), 1u);
    EXPECT_TRUE(a.heard[0].added);
    EXPECT_EQ(a.heard[0].list, std::vector<CPravonFilterWatcher*>{&a});

    ASSERT_PV_OK(b.PravonFilterStartWatching(&filter));
    ASSERT_PV_OK(filter.AddWatcher(&b));
    EXPECT_EQ(filter.GetWatcherCount(&b), 2);
    EXPECT_EQ(b.GetWatchCount(&filter), 2);
    ASSERT_EQ(a.heard.size(), 2u);
    ASSERT_EQ(b.heard.size(), 1u);
    for (const auto& h : {a.heard[1], b.heard[0]}) {
        EXPECT_EQ(h.filter, &filter);
        EXPECT_TRUE(h.added);
        EXPECT_EQ(h.watcher, &b);
        EXPECT_EQ(h.list.size(), 2u);
        EXPECT_NE(std::find(h.list.begin(), h.list.end(), &a), h.list.end());
    }
}

TEST(FilterWatchers, ARemovalIsAnnouncedWhenTheLastRegistrationGoesAndOthersRemain) {
    CPravonMemoryManager manager;
    ProbeFilter filter(&manager);
    RecordingWatcher a;
    RecordingWatcher b;
    ASSERT_PV_OK(filter.AddWatcher(&a));
    ASSERT_PV_OK(filter.AddWatcher(&b));
    ASSERT_PV_OK(filter.AddWatcher(&b));
    a.heard.clear();
    ASSERT_PV_OK(filter.RemoveWatcher(&b));
    EXPECT_EQ(filter.GetWatcherCount(&b), 1);
    EXPECT_TRUE(a.heard.empty()) << "b is still registered";
    ASSERT_PV_OK(b.PravonFilterStopWatching(&filter));
    EXPECT_EQ(b.GetWatchCount(&filter), 0);
    ASSERT_EQ(a.heard.size(), 1u);
    EXPECT_FALSE(a.heard[0].added);
    EXPECT_EQ(a.heard[0].list, std::vector<CPravonFilterWatcher*>{&a});
    ASSERT_PV_OK(filter.RemoveWatcher(&a));
    EXPECT_EQ(a.heard.size(), 1u) << "the last watcher leaves unannounced";
    EXPECT_PV_OK(filter.RemoveWatcher(&a)) << "removing an absent watcher is no error";
}

TEST(FilterWatchers, NotifyingStopsAtTheFirstError) {
    CPravonMemoryManager manager;
    ProbeFilter filter(&manager);
    RecordingWatcher a;
    RecordingWatcher b;
    ASSERT_PV_OK(filter.AddWatcher(&a));
    ASSERT_PV_OK(filter.AddWatcher(&b));
    a.heard.clear();
    b.heard.clear();
    a.failWithKind = b.failWithKind = 4242;
    EXPECT_PV_KIND(filter.NotifyWatchers(1000, nullptr), 4242);
    EXPECT_EQ(a.heard.size() + b.heard.size(), 1u);
}

TEST(FilterWatchers, ADestroyedFilterLeavesNoRegistrationBehind) {
    CPravonMemoryManager manager;
    RecordingWatcher twice;
    RecordingWatcher once;
    auto filter = std::make_unique<ProbeFilter>(&manager);
    ProbeFilter* raw = filter.get();
    ASSERT_PV_OK(filter->AddWatcher(&twice));
    ASSERT_PV_OK(twice.PravonFilterStartWatching(filter.get()));
    ASSERT_PV_OK(filter->AddWatcher(&once));
    twice.heard.clear();
    once.heard.clear();
    filter.reset();
    EXPECT_EQ(twice.GetWatchCount(raw), 0);
    EXPECT_EQ(once.GetWatchCount(raw), 0);
    EXPECT_TRUE(twice.heard.empty() && once.heard.empty()) << "a filter being destroyed calls no watcher";
}

TEST(FilterWatchers, AFailedAnnouncementStillTakesTheRegistrationBack) {
    CPravonMemoryManager manager;
    RecordingWatcher leaving;
    auto filter = std::make_unique<ProbeFilter>(&manager);
    RecordingWatcher staying;
    ASSERT_PV_OK(filter->AddWatcher(&leaving));
    ASSERT_PV_OK(filter->AddWatcher(&staying));
    staying.failWithKind = 4242;
    EXPECT_PV_KIND(filter->RemoveWatcher(&leaving), 4242);
    EXPECT_EQ(filter->GetWatcherCount(&leaving), 0);
    EXPECT_EQ(leaving.GetWatchCount(filter.get()), 0);
    filter.reset();
}

TEST(FilterWatchers, ADestroyedWatcherIsDroppedByEveryFilter) {
    CPravonMemoryManager manager;
    ProbeFilter filter(&manager);
    RecordingWatcher staying;
    auto leaving = std::make_unique<RecordingWatcher>();
    ASSERT_PV_OK(filter.AddWatcher(leaving.get()));
    ASSERT_PV_OK(filter.AddWatcher(leaving.get()));
    ASSERT_PV_OK(filter.AddWatcher(&staying));
    staying.heard.clear();
    leaving.reset();
    ASSERT_EQ(staying.heard.size(), 1u);
    EXPECT_FALSE(staying.heard[0].added);
    EXPECT_PV_OK(filter.NotifyWatchers(1000, nullptr)) << "reaches only the watcher still alive";
    EXPECT_EQ(staying.heard.size(), 2u);
}

TEST(FilterWatchers, AWatcherMayLeaveFromItsOwnCallback) {
    CPravonMemoryManager manager;
    ProbeFilter filter(&manager);
    RecordingWatcher a;
    RecordingWatcher b;
    ASSERT_PV_OK(filter.AddWatcher(&a));
    ASSERT_PV_OK(filter.AddWatcher(&b));
    a.react = b.react = [&] {
        PravonErrorPtr(filter.RemoveWatcher(&a));
        PravonErrorPtr(filter.RemoveWatcher(&b));
    };
    a.heard.clear();
    b.heard.clear();
    EXPECT_PV_OK(filter.NotifyWatchers(1000, nullptr));
    EXPECT_EQ(filter.GetWatcherCount(&a) + filter.GetWatcherCount(&b), 0);
}

} // namespace
