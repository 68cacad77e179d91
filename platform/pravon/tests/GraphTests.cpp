#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/IPravonFilterChain.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/FourCC.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using kvtest::NotificationRecorder;

// A node with both roles that records its hooks, standing in for a filter.
class RelayNode : public IPravonFilter {
public:
    explicit RelayNode(std::vector<std::string>* log = nullptr, std::string name = {})
        : m_log(log), m_name(std::move(name)) {}

    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override {
        Log("notify " + std::to_string(type));
        if (onNotify)
            onNotify();
        return PravonSendDataNotification(this, type, data);
    }
    IPravonError* PravonAddedDataSource(IPravonDataSource*) override { return Log("added source"); }
    IPravonError* PravonRemovedDataSource(IPravonDataSource*) override { return Log("removed source"); }
    IPravonError* PravonAddedDataDestination(IPravonDataDestination*) override {
        return Log("added destination");
    }
    IPravonError* PravonRemovedDataDestination(IPravonDataDestination*) override {
        return Log("removed destination");
    }

    IPravonError* GetWidth(LONG* v) override { return (*v = 1, nullptr); }
    IPravonError* GetHeight(LONG* v) override { return (*v = 1, nullptr); }
    IPravonError* GetColorSpace(LONG* v) override { return (*v = PravonColorSpace::kGrey8, nullptr); }
    IPravonError* GetResolution(double* v) override { return (*v = 72, nullptr); }
    IPravonError* GetFlip(bool* v) override { return (*v = false, nullptr); }
    IPravonError* GetRotation(double* v) override { return (*v = 0, nullptr); }
    IPravonError* GetTileSize(LONG* v) override { return (*v = 8, nullptr); }
    IPravonError* GetPalette(PravonPalette* v) override { return (*v = PravonPalette(), nullptr); }
    IPravonError* TileExists(const IPravonTileID&, bool*) override { return Unused(); }
    IPravonError* TileExists(LONG, LONG, bool*) override { return Unused(); }
    IPravonError* GetTile(const IPravonTileID&, IPravonTile**) override { return Unused(); }
    IPravonError* GetTile(LONG, LONG, IPravonTile**) override { return Unused(); }
    IPravonError* LockTile(IPravonTileGrid*, LONG, LONG, void**, PravonRect*, PravonRect*, LONG*) override {
        return Unused();
    }
    IPravonError* LockTile(const IPravonTileID&, void**, BITMAPINFOHEADER**) override { return Unused(); }
    IPravonError* LockTile(LONG, LONG, void**, BITMAPINFOHEADER**) override { return Unused(); }
    IPravonError* UnlockTile(IPravonTileGrid*, LONG, LONG) override { return Unused(); }
    IPravonError* UnlockTile(const IPravonTileID&) override { return Unused(); }
    IPravonError* UnlockTile(LONG, LONG) override { return Unused(); }
    IPravonError* MapRect(const PravonRect&, IPravonTileGrid**) override { return Unused(); }

    std::function<void()> onNotify;

private:
    IPravonError* Log(const std::string& what) {
        if (m_log)
            m_log->push_back(m_name + ": " + what);
        return nullptr;
    }
    static IPravonError* Unused() {
        return IPravonError::Add(nullptr, 0, __LINE__, PravonKind::kInvalidState);
    }

    std::vector<std::string>* m_log;
    std::string m_name;
};

TEST(PravonGraphTest, ConnectingCallsBothAddedHooksOnceAndKeepsSourceOrder) {
    std::vector<std::string> log;
    RelayNode a(&log, "a");
    RelayNode b(&log, "b");
    RelayNode c(&log, "c");
    ASSERT_PV_OK(PravonConnect(&a, &c));
    ASSERT_PV_OK(PravonConnect(&b, &c));
    EXPECT_EQ(log, (std::vector<std::string>{"c: added source", "a: added destination", "c: added source",
                                             "b: added destination"}));
    EXPECT_EQ(PravonGetDataSourceCount(&c), 2);
    EXPECT_EQ(PravonGetDataSource(&c, 0), &a);
    EXPECT_EQ(PravonGetDataSource(&c, 1), &b);
    EXPECT_EQ(PravonGetDataSource(&c, 2), nullptr);
    IPravonDataSource* sources[4] = {};
    EXPECT_EQ(PravonGetDataSources(&c, sources, 4), 2);
    EXPECT_EQ(sources[1], &b);
    IPravonDataDestination* destinations[2] = {};
    EXPECT_EQ(PravonGetDataDestinations(&a, destinations, 2), 1);
    EXPECT_EQ(destinations[0], static_cast<IPravonDataDestination*>(&c));

    log.clear();
    ASSERT_PV_OK(PravonDisconnect(&a, &c));
    EXPECT_EQ(log, (std::vector<std::string>{"c: removed source", "a: removed destination"}));
    EXPECT_EQ(PravonGetDataSource(&c, 0), &b);
    EXPECT_PV_KIND(PravonDisconnect(&a, &c), PravonKind::kBadArgument);
}

TEST(PravonGraphTest, NullSelfDuplicateAndCyclicConnectionsAreRefused) {
    RelayNode a;
    RelayNode b;
    RelayNode c;
    EXPECT_PV_KIND(PravonConnect(nullptr, &a), PravonKind::kBadArgument);
    EXPECT_PV_KIND(PravonConnect(&a, nullptr), PravonKind::kBadArgument);
    EXPECT_PV_KIND(PravonConnect(&a, &a), PravonKind::kBadArgument);
    ASSERT_PV_OK(PravonConnect(&a, &b));
    EXPECT_PV_KIND(PravonConnect(&a, &b), PravonKind::kBadArgument);
    ASSERT_PV_OK(PravonConnect(&b, &c));
    EXPECT_PV_KIND(PravonConnect(&c, &a), PravonKind::kBadArgument);
    EXPECT_PV_KIND(PravonConnect(&b, &a), PravonKind::kBadArgument);
    EXPECT_EQ(PravonGetDataSourceCount(&a), 0);
    EXPECT_EQ(PravonGetDataDestinationCount(&c), 0);
    ASSERT_PV_OK(PravonConnect(&a, &c)) << "a second path without a loop is fine";
}

TEST(PravonGraphTest, NotificationsReachEveryDestinationInConnectionOrder) {
    std::vector<std::string> log;
    RelayNode source(&log, "s");
    RelayNode first(&log, "1");
    RelayNode second(&log, "2");
    NotificationRecorder end;
    ASSERT_PV_OK(PravonConnect(&source, &first));
    ASSERT_PV_OK(PravonConnect(&source, &second));
    ASSERT_PV_OK(PravonConnect(&first, &end));
    ASSERT_PV_OK(PravonConnect(&second, &end));
    log.clear();
    PravonRect rect{1, 2, 3, 4};
    ASSERT_PV_OK(PravonSendDataNotification(&source, 0, &rect));
    EXPECT_EQ(log, (std::vector<std::string>{"1: notify 0", "2: notify 0"}));
    ASSERT_EQ(end.heard.size(), 2u);
    EXPECT_EQ(end.heard[0].source, &first);
    EXPECT_EQ(end.heard[1].source, &second);
    EXPECT_EQ(*end.heard[1].rect, rect);
}

TEST(PravonGraphTest, ADestinationMayDisconnectItselfWhileNotified) {
    RelayNode source;
    RelayNode leaving;
    NotificationRecorder staying;
    ASSERT_PV_OK(PravonConnect(&source, &leaving));
    ASSERT_PV_OK(PravonConnect(&source, &staying));
    leaving.onNotify = [&] { PravonErrorPtr(PravonDisconnect(&source, &leaving)); };
    ASSERT_PV_OK(PravonSendDataNotification(&source, 7, nullptr));
    EXPECT_EQ(staying.Count(7), 1u);
    EXPECT_FALSE(PravonIsConnected(&source, &leaving));
}

TEST(PravonGraphTest, ADestinationDisconnectedByAnEarlierOneIsSkipped) {
    RelayNode source;
    RelayNode first;
    NotificationRecorder second;
    ASSERT_PV_OK(PravonConnect(&source, &first));
    ASSERT_PV_OK(PravonConnect(&source, &second));
    first.onNotify = [&] { PravonErrorPtr(PravonDisconnect(&source, &second)); };
    ASSERT_PV_OK(PravonSendDataNotification(&source, 7, nullptr));
    EXPECT_EQ(second.Count(7), 0u);
}

TEST(PravonGraphTest, ErrorsOfDestinationsAreChainedAndAllAreReached) {
    RelayNode source;
    NotificationRecorder a;
    NotificationRecorder b;
    a.failWithKind = PravonKind::kOutOfRange;
    b.failWithKind = PravonKind::kOutOfMemory;
    ASSERT_PV_OK(PravonConnect(&source, &a));
    ASSERT_PV_OK(PravonConnect(&source, &b));
    PravonErrorPtr err(PravonSendDataNotification(&source, -5, nullptr));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->GetKind(), PravonKind::kOutOfRange);
    EXPECT_TRUE(err->HasKind(PravonKind::kOutOfMemory));
    EXPECT_EQ(b.Count(-5), 1u);
}

TEST(PravonGraphTest, ADestroyedSourceSaysSoAndLeavesNoConnectionBehind) {
    NotificationRecorder end;
    auto middle = std::make_unique<RelayNode>();
    RelayNode head;
    ASSERT_PV_OK(PravonConnect(&head, middle.get()));
    ASSERT_PV_OK(PravonConnect(middle.get(), &end));
    middle.reset();
    EXPECT_EQ(end.Count(PravonNotification::kDestroyed), 1u);
    EXPECT_EQ(end.removed, 1);
    EXPECT_EQ(PravonGetDataSourceCount(&end), 0);
    EXPECT_EQ(PravonGetDataDestinationCount(&head), 0);
}

TEST(PravonGraphTest, ADestroyedImageLeavesItsDestinationsConnectedToNothing) {
    CPravonMemoryManager manager;
    IPravonImage* image = nullptr;
    ASSERT_PV_OK(manager.CreateImage(1, &image));
    NotificationRecorder end;
    ASSERT_PV_OK(PravonConnect(image, &end));
    EXPECT_EQ(end.added, 1);
    image->Release();
    EXPECT_EQ(end.Count(PravonNotification::kDestroyed), 1u);
    EXPECT_EQ(PravonGetDataSourceCount(&end), 0);
}

TEST(PravonGraphTest, ADestroyedDestinationDisconnectsFromItsSources) {
    RelayNode source;
    {
        NotificationRecorder end;
        ASSERT_PV_OK(PravonConnect(&source, &end));
    }
    EXPECT_EQ(PravonGetDataDestinationCount(&source), 0);
    EXPECT_PV_OK(PravonSendDataNotification(&source, 0, nullptr));
}

// The links a chain must hold: input -> filters in order, and nothing else between them.
void ExpectLinkedInOrder(IPravonFilterChain& chain, IPravonDataSource* input,
                         const std::vector<RelayNode*>& order) {
    IPravonDataSource* feeder = input;
    for (RelayNode* node : order) {
        EXPECT_EQ(PravonGetDataSourceCount(node), feeder ? 1 : 0);
        if (feeder) {
            EXPECT_TRUE(PravonIsConnected(feeder, node));
        }
        feeder = node;
    }
    EXPECT_EQ(chain.GetOutput(), order.empty() ? input : order.back());
    if (!order.empty()) {
        EXPECT_EQ(PravonGetDataDestinationCount(order.back()), 0);
    }
}

TEST(FilterChain, InsertsAndRemovesWithTheNeighboursRelinked) {
    RelayNode input, a, b, c, d;
    CPravonMemoryManager manager;
    IPravonFilterChain* raw = nullptr;
    ASSERT_PV_OK(manager.CreateFilterChain(&raw));
    PravonFilterChainPtr chain(raw);
    EXPECT_EQ(chain->GetOutput(), nullptr);
    ASSERT_PV_OK(chain->SetInput(&input));
    EXPECT_EQ(chain->GetOutput(), &input);
    ASSERT_PV_OK(chain->Insert(&a, FourCC("aaaa"), IPravonFilterChain::kAtEnd));
    ASSERT_PV_OK(chain->Insert(&c, FourCC("Plug"), IPravonFilterChain::kAtEnd));
    ASSERT_PV_OK(chain->Insert(&b, FourCC("Plug"), 1));
    ASSERT_PV_OK(chain->Insert(&d, FourCC("dddd"), 0));
    ExpectLinkedInOrder(*chain, &input, {&d, &a, &b, &c});
    EXPECT_EQ(chain->GetPosition(&b), 2);
    EXPECT_EQ(chain->GetAt(3), &c);
    EXPECT_EQ(chain->GetAt(4), nullptr);
    EXPECT_EQ(chain->FindNext(FourCC("Plug"), 0), 2);
    EXPECT_EQ(chain->FindNext(FourCC("Plug"), 3), 3);
    EXPECT_EQ(chain->FindNext(FourCC("Plug"), 4), IPravonFilterChain::kNone);
    ASSERT_PV_OK(chain->RemoveAt(2));
    ExpectLinkedInOrder(*chain, &input, {&d, &a, &c});
    EXPECT_EQ(PravonGetDataSourceCount(&b), 0);
    ASSERT_PV_OK(chain->RemoveAt(0));
    ExpectLinkedInOrder(*chain, &input, {&a, &c});
    RelayNode other;
    ASSERT_PV_OK(chain->SetInput(&other));
    EXPECT_EQ(PravonGetDataDestinationCount(&input), 0);
    ExpectLinkedInOrder(*chain, &other, {&a, &c});
    chain.reset();
    EXPECT_EQ(PravonGetDataSourceCount(&a), 0);
    EXPECT_EQ(PravonGetDataSourceCount(&c), 0);
}

TEST(FilterChain, RefusesBadInsertsAndRemovesWithoutChange) {
    RelayNode input, a;
    IPravonFilterChain* raw = nullptr;
    ASSERT_PV_OK(IPravonFilterChain::Create(&raw));
    PravonFilterChainPtr chain(raw);
    ASSERT_PV_OK(chain->SetInput(&input));
    ASSERT_PV_OK(chain->Insert(&a, 1, IPravonFilterChain::kAtEnd));
    EXPECT_PV_KIND(chain->Insert(&a, 1, 0), PravonKind::kBadArgument);
    EXPECT_PV_KIND(chain->Insert(nullptr, 1, 0), PravonKind::kBadArgument);
    RelayNode b;
    EXPECT_PV_KIND(chain->Insert(&b, 1, 2), PravonKind::kBadArgument);
    EXPECT_PV_KIND(chain->Insert(&b, 1, -2), PravonKind::kBadArgument);
    EXPECT_PV_KIND(chain->RemoveAt(1), PravonKind::kBadArgument);
    EXPECT_PV_KIND(IPravonFilterChain::Create(nullptr), PravonKind::kBadArgument);
    ExpectLinkedInOrder(*chain, &input, {&a});
}

} // namespace
