#include "platform/win/WinSeams.h"
#include "plugin_framework/TBaseObject.h"
#include "plugin_framework/TObjectManager.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_destroyed{0};

class Probe : public TBaseObject {
public:
    ~Probe() override { ++g_destroyed; }
};

class ObjectManagerTest : public testing::Test {
protected:
    void SetUp() override {
        TObjectManager::Destroy();
        g_destroyed = 0;
    }
    void TearDown() override { TObjectManager::Destroy(); }
};

TEST_F(ObjectManagerTest, RegisteringTwiceGivesTheSameHandleWithoutUsingANewOne) {
    TObjectManager* manager = TObjectManager::Instance();
    auto* a = new Probe;
    auto* b = new Probe;
    const DWORD ha = manager->Register(a);
    EXPECT_NE(ha, 0u);
    EXPECT_EQ(manager->Register(a), ha);
    const DWORD hb = manager->Register(b);
    EXPECT_EQ(hb, ha + 1) << "the second registration of a used up a handle";
    EXPECT_EQ(manager->Find(ha), a);
    EXPECT_EQ(manager->Find(hb), b);
    a->Release();
    b->Release();
    EXPECT_EQ(manager->Find(ha), nullptr);
    EXPECT_EQ(manager->Find(hb), nullptr);
}

TEST_F(ObjectManagerTest, HandlesContinueAfterTheManagerIsDestroyedAndMadeAgain) {
    auto* a = new Probe;
    const DWORD ha = TObjectManager::Instance()->Register(a);
    a->Release();
    TObjectManager::Destroy();
    EXPECT_TRUE(TObjectManager::Create());
    EXPECT_FALSE(TObjectManager::Create());
    auto* b = new Probe;
    EXPECT_EQ(TObjectManager::Instance()->Register(b), ha + 1);
    EXPECT_EQ(TObjectManager::Instance()->Find(ha), nullptr);
    b->Release();
}

TEST_F(ObjectManagerTest, ReleasingTheCachedObjectEmptiesTheCache) {
    TObjectManager* manager = TObjectManager::Instance();
    EXPECT_EQ(manager->Find(0), nullptr) << "handle 0 on a fresh manager";
    auto* a = new Probe;
    const DWORD ha = manager->Register(a);
    EXPECT_EQ(manager->Find(ha), a);
    a->Release();
    EXPECT_EQ(manager->Find(ha), nullptr) << "the cache answered for a destroyed object";
    manager->Unregister(a); // never registered any more: only a scan
}

TEST_F(ObjectManagerTest, AReleaseAfterDestroyLeavesNoNewManager) {
    auto* a = new Probe;
    TObjectManager::Instance()->Register(a);
    TObjectManager::Destroy();
    a->Release();
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_TRUE(TObjectManager::Create()) << "the late release made a manager again";
}

// Codec objects are registered and resolved on render threads while other threads release objects
// that never had a handle; every object must be destroyed exactly once and every lookup be right.
TEST_F(ObjectManagerTest, ThreadsRegisterFindAndReleaseConcurrently) {
    kvtest::Watchdog watchdog("object manager threads");
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> wrongLookups{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                auto* registered = new Probe;
                const DWORD handle = TObjectManager::Instance()->Register(registered);
                if (TObjectManager::Instance()->Find(handle) != registered)
                    ++wrongLookups;
                auto* plain = new Probe;
                plain->AddRef();
                plain->Release();
                plain->Release();
                registered->Release();
                if (TObjectManager::Instance()->Find(handle) != nullptr)
                    ++wrongLookups;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrongLookups, 0);
    EXPECT_EQ(g_destroyed, kThreads * kRounds * 2);
}

// Code that knows an object only by a pointer without a reference takes one with TryAddRef: that works
// while someone holds the object, and fails once its last reference is gone and it is being destroyed.
TEST(BaseObject, AReferenceIsTakenOnlyWhileTheObjectLives) {
    struct Probe : TBaseObject {
        ~Probe() override { refusedWhileGoing = TryAddRef() ? 0 : 1; }
        int& refusedWhileGoing;
        explicit Probe(int& refused) : refusedWhileGoing(refused) {}
    };
    int refused = -1;
    auto* probe = new Probe(refused);
    ASSERT_TRUE(probe->TryAddRef());
    EXPECT_EQ(probe->GetRefCount(), 2);
    probe->Release();
    probe->Release();
    EXPECT_EQ(refused, 1);
}

TEST(OSVersion, MapsTheReportedVersionAndKeepsOnlyAKnownCode) {
    struct Case {
        DWORD major, minor;
        LONG code;
    };
    for (const Case& c : {Case{4, 0, 1}, Case{4, 10, 2}, Case{4, 90, 3}, Case{5, 0, 9}, Case{5, 1, 10},
                          Case{6, 0, 0}, Case{5, 2, 0}}) {
        ResetOSVersionForTesting();
        WinSeams::SetReportedVersion(c.major, c.minor);
        EXPECT_EQ(GetOSVersion(), c.code) << c.major << "." << c.minor;
    }
    ResetOSVersionForTesting();
    WinSeams::SetReportedVersion(6, 0);
    EXPECT_EQ(GetOSVersion(), 0);
    WinSeams::SetReportedVersion(5, 1);
    EXPECT_EQ(GetOSVersion(), 10) << "an unknown version was kept";
    WinSeams::SetReportedVersion(4, 0);
    EXPECT_EQ(GetOSVersion(), 10) << "a known code was asked again";
    ResetOSVersionForTesting();
    WinSeams::SetReportedVersion(5, 1, true);
    EXPECT_EQ(GetOSVersion(), 0) << "a failed query";
    WinSeams::ResetAll();
    ResetOSVersionForTesting();
}

} // namespace
