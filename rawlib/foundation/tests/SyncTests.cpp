#include "rawlib/foundation/CSyncCritical.h"
#include "rawlib/foundation/CSyncGlobal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// A global lock that this file's own static initialiser below uses before the lock's definition is
// reached: the lock must already work at that point.
extern Kv::CSyncGlobal g_definedLater;

struct CEarlyUser {
    CEarlyUser() {
        locked = g_definedLater.Lock();
        again = g_definedLater.Get().TryLock();
        g_definedLater.Unlock();
        unlocked = g_definedLater.Unlock();
        name = g_definedLater.Get().GetName();
    }
    bool locked = false;
    bool again = false;
    bool unlocked = false;
    std::string name;
};

CEarlyUser g_earlyUser;
constinit Kv::CSyncGlobal g_definedLater("CKvTest-DefinedLater");

// Resets the stand-in processor count whatever a test sets.
class KvSync : public ::testing::Test {
protected:
    void TearDown() override { Kv::SetProcessorCountForTesting(0); }
};

// Counts the calls SpinLock and the guard make; its non-blocking attempt succeeds from the given try on.
class CCountingLock : public Kv::CSyncBase {
public:
    CCountingLock(int spinCount, int succeedOnTry)
        : CSyncBase("counting", spinCount), m_succeedOn(succeedOnTry) {}
    bool Init() override { return true; }
    void Delete() override {}
    bool TryLock() override { return ++tries == m_succeedOn; }
    bool Lock() override {
        ++locks;
        return true;
    }
    bool Unlock() override {
        ++unlocks;
        return true;
    }
    int tries = 0;
    int locks = 0;
    int unlocks = 0;

private:
    int m_succeedOn;
};

TEST_F(KvSync, ANegativeSpinCountMeans1000AndOneProcessorMeansNoSpinning) {
    Kv::SetProcessorCountForTesting(4);
    EXPECT_EQ(Kv::CSyncCritical("four", -5).GetSpinCount(), 1000);
    EXPECT_EQ(Kv::CSyncCritical("four", 12).GetSpinCount(), 12);
    Kv::SetProcessorCountForTesting(1);
    EXPECT_EQ(Kv::CSyncCritical("one", -5).GetSpinCount(), 0);
    EXPECT_EQ(Kv::CSyncCritical("one", 12).GetSpinCount(), 0);
    Kv::SetProcessorCountForTesting(0);
    EXPECT_GE(Kv::GetProcessorCount(), 1);
}

TEST_F(KvSync, NamesAreKeptAndANullNameIsEmpty) {
    EXPECT_EQ(Kv::CSyncCritical("CFisheyeFilter-InitSection").GetName(), "CFisheyeFilter-InitSection");
    EXPECT_EQ(Kv::CSyncCritical(nullptr, -1).GetName(), "");
}

TEST_F(KvSync, SpinLockTriesTheSpinCountThenBlocks) {
    Kv::SetProcessorCountForTesting(4);
    CCountingLock never(-5, 0);
    EXPECT_TRUE(never.SpinLock());
    EXPECT_EQ(never.tries, 1000);
    EXPECT_EQ(never.locks, 1);

    CCountingLock third(-1, 3);
    EXPECT_TRUE(third.SpinLock(10));
    EXPECT_EQ(third.tries, 3);
    EXPECT_EQ(third.locks, 0);

    CCountingLock none(-1, 0);
    EXPECT_TRUE(none.SpinLock(0));
    EXPECT_EQ(none.tries, 0);
    EXPECT_EQ(none.locks, 1);
}

TEST_F(KvSync, OnOneProcessorTheGuardBlocksAtOnce) {
    Kv::SetProcessorCountForTesting(1);
    CCountingLock lock(-1, 1);
    {
        CKvSyncGuard guard(lock);
        EXPECT_EQ(lock.tries, 0);
        EXPECT_EQ(lock.locks, 1);
        EXPECT_EQ(lock.unlocks, 0);
    }
    EXPECT_EQ(lock.unlocks, 1);
}

TEST_F(KvSync, TheOwningThreadMayEnterAgain) {
    Kv::CSyncCritical lock("nested", -1);
    {
        CKvSyncGuard outer(lock);
        CKvSyncGuard inner(lock);
        EXPECT_TRUE(lock.TryLock());
        EXPECT_TRUE(lock.Unlock());
    }
    std::thread other([&] {
        EXPECT_TRUE(lock.TryLock()) << "every entry was left again";
        lock.Unlock();
    });
    other.join();
}

TEST_F(KvSync, AHeldLockRefusesOtherThreadsTryLockAndTheirUnlock) {
    Kv::CSyncCritical lock("held", 0);
    ASSERT_TRUE(lock.Lock());
    bool tried = true;
    bool unlocked = true;
    std::thread other([&] {
        tried = lock.TryLock();
        unlocked = lock.Unlock();
    });
    other.join();
    EXPECT_FALSE(tried);
    EXPECT_FALSE(unlocked) << "a thread that does not hold the lock cannot leave it";
    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(lock.Unlock()) << "left as often as entered";
}

// The platform without a non-blocking entry.
class CNoTryLock : public Kv::CSyncCritical {
public:
    CNoTryLock() : CSyncCritical("no-try", 0) { m_tryEnter = nullptr; }
};

TEST_F(KvSync, WithoutTheNonBlockingEntryTryLockWaitsAndEnters) {
    CNoTryLock lock;
    ASSERT_TRUE(lock.Lock());
    std::atomic<bool> released{false};
    std::atomic<bool> enteredAfterRelease{false};
    std::atomic<bool> started{false};
    std::thread waiter([&] {
        started = true;
        const bool entered = lock.TryLock();
        enteredAfterRelease = entered && released.load();
        lock.Unlock();
    });
    while (!started)
        std::this_thread::yield();
    released = true;
    lock.Unlock();
    waiter.join();
    EXPECT_TRUE(enteredAfterRelease);
}

TEST_F(KvSync, GuardsKeepACounterExactAcrossThreads) {
    Kv::SetProcessorCountForTesting(0);
    Kv::CSyncCritical lock("counter", -1);
    long long counter = 0;
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CKvSyncGuard guard(lock);
                if (i % 2) {
                    CKvSyncGuard again(lock);
                    ++counter;
                } else {
                    ++counter;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, static_cast<long long>(kThreads) * kRounds);
}

TEST_F(KvSync, AGlobalLockWorksBeforeItsDefinitionIsInitialised) {
    EXPECT_TRUE(g_earlyUser.locked);
    EXPECT_TRUE(g_earlyUser.again);
    EXPECT_TRUE(g_earlyUser.unlocked);
    EXPECT_EQ(g_earlyUser.name, "CKvTest-DefinedLater");
    EXPECT_EQ(&g_definedLater.Get(), &static_cast<Kv::CSyncCritical&>(g_definedLater));
}

constinit Kv::CSyncGlobal g_firstUse("CKvTest-FirstUse");

TEST_F(KvSync, AGlobalLockIsMadeOnceWhenManyThreadsUseItFirst) {
    std::vector<std::thread> threads;
    std::atomic<Kv::CSyncCritical*> seen[6] = {};
    long long counter = 0;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            seen[t] = &g_firstUse.Get();
            for (int i = 0; i < 1000; ++i) {
                CKvSyncGuard guard(g_firstUse);
                ++counter;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (auto& s : seen)
        EXPECT_EQ(s.load(), &g_firstUse.Get());
    EXPECT_EQ(counter, 6000);
    EXPECT_EQ(g_firstUse.Get().GetName(), "CKvTest-FirstUse");
}

} // namespace
