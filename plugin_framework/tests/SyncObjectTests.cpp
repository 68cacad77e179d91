#include "plugin_framework/TMultiLock.h"
#include "plugin_framework/TSyncObject.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr LONG kSignalled = TSyncObject::kWaitSignalled;
constexpr LONG kTimedOut = TSyncObject::kWaitTimedOut;

TEST(SyncObjects, TheHandleIsTheFirstFieldAfterTheTable) {
    // Renderer libraries read the kernel handle of a cancel event through the object's address.
    TSyncEvent event(false, true);
    HANDLE seen = 0;
    std::memcpy(&seen, reinterpret_cast<const unsigned char*>(&event) + sizeof(void*), sizeof(seen));
    EXPECT_EQ(seen, event.GetHandle());
    EXPECT_NE(event.GetHandle(), 0u);
}

TEST(SyncObjects, EventsSignalAsTheyWereMade) {
    TSyncEvent mutexLike;
    EXPECT_EQ(mutexLike.Lock(0), kSignalled);
    EXPECT_EQ(mutexLike.Lock(0), kTimedOut) << "the default event is auto-reset and was taken";
    EXPECT_TRUE(mutexLike.Unlock());
    EXPECT_EQ(mutexLike.Lock(0), kSignalled);

    TSyncEvent manual(false, true);
    EXPECT_EQ(manual.Wait(0), kTimedOut);
    EXPECT_TRUE(manual.Signal());
    EXPECT_EQ(manual.Lock(0), kSignalled);
    EXPECT_EQ(manual.Lock(0), kSignalled) << "a manual-reset event stays signalled";
    EXPECT_TRUE(manual.Reset());
    EXPECT_EQ(manual.Wait(1), kTimedOut);
}

TEST(SyncObjects, SemaphoreCountsUnlocksUpToItsMaximum) {
    TSyncSemaphore semaphore;
    EXPECT_EQ(semaphore.Lock(0), kTimedOut);
    EXPECT_TRUE(semaphore.Unlock());
    EXPECT_EQ(semaphore.Lock(0), kSignalled);
    for (LONG i = 0; i < TSyncSemaphore::kMaximumCount; ++i)
        ASSERT_TRUE(semaphore.Unlock());
    EXPECT_FALSE(semaphore.Unlock()) << "an unlock beyond the maximum claimed success";
    EXPECT_FALSE(semaphore.Signal());
    LONG taken = 0;
    while (semaphore.Lock(0) == kSignalled)
        ++taken;
    EXPECT_EQ(taken, TSyncSemaphore::kMaximumCount);
}

class Recorder : public TSubscriber {
public:
    explicit Recorder(bool takes = false) : m_takes(takes) {}
    void OnReset(TSyncObject*) override { log += "R"; }
    bool OnSignal(TSyncObject*) override {
        log += "S";
        return m_takes;
    }
    std::string log;

private:
    bool m_takes;
};

TEST(SyncObjects, SubscribersHearSignalsAndResets) {
    TSyncEvent event(false, true);
    Recorder first, taker(true), last;
    event.Subscribe(&first);
    event.Subscribe(&taker);
    event.Subscribe(&last);
    EXPECT_EQ(first.log, "") << "an unsignalled object was offered";
    EXPECT_TRUE(event.Unlock());
    EXPECT_EQ(first.log, "SR");
    EXPECT_EQ(taker.log, "SR");
    EXPECT_EQ(last.log, "R") << "the signal was offered after it had been taken";
    EXPECT_TRUE(event.Reset());
    EXPECT_EQ(last.log, "RR");
    event.Unsubscribe(&first);
    event.Unsubscribe(&taker);
    event.Unsubscribe(&last);
    event.Unlock();
    EXPECT_EQ(last.log, "RR") << "an unsubscribed subscriber was told";
}

TEST(SyncObjects, SubscribingToASignalledObjectOffersItAndKeepsTheSignal) {
    TSyncEvent event;
    Recorder recorder;
    event.Subscribe(&recorder);
    EXPECT_EQ(recorder.log, "S");
    EXPECT_EQ(event.Lock(0), kSignalled) << "subscribing consumed the signal";
    EXPECT_EQ(recorder.log, "SR");
    event.Unsubscribe(&recorder);
}

TEST(MultiLock, AnEmptyListEndsAtOnce) {
    TMultiLock none(true, {});
    EXPECT_EQ(none.Lock(), kSignalled);
    TMultiLock onlyNulls(false, {nullptr, nullptr});
    EXPECT_EQ(onlyNulls.Lock(), kSignalled);
}

TEST(MultiLock, WaitForAnyTakesTheLowestSignalledAndSaysWhich) {
    TSyncEvent first(false, false), second(true, false), third(true, false);
    TMultiLock lock(false, {&first, &second, &third});
    EXPECT_EQ(lock.GetEndedBy(), -1);
    EXPECT_EQ(lock.Lock(0), kSignalled);
    EXPECT_EQ(lock.GetEndedBy(), 1);
    EXPECT_EQ(second.Lock(0), kTimedOut) << "the ending object kept its signal";
    EXPECT_EQ(third.Lock(0), kSignalled) << "a later object lost its signal";
}

TEST(MultiLock, NullAndHandleLessEntriesKeepTheGivenIndices) {
    TSyncEvent cancel(true, true);
    TCritSection section;
    TMultiLock any(false, {nullptr, &section, &cancel});
    EXPECT_EQ(any.Lock(0), kSignalled);
    EXPECT_EQ(any.GetEndedBy(), 2);
    TMultiLock all(true, {&cancel, &section});
    EXPECT_EQ(all.Lock(0), TSyncObject::kWaitFailed) << "a wait for all that can never end";
}

TEST(MultiLock, ATimeOutTakesNothing) {
    TSyncSemaphore empty;
    TSyncEvent signalled;
    TMultiLock all(true, {&empty, &signalled});
    EXPECT_EQ(all.Lock(1), kTimedOut);
    EXPECT_EQ(signalled.Lock(0), kSignalled) << "the timed-out wait kept the event's signal";

    TSyncEvent a(false, false), b(false, false);
    {
        TMultiLock any(false, {&a, &b});
        EXPECT_EQ(any.Lock(1), kTimedOut);
        EXPECT_EQ(any.GetEndedBy(), -1);
        a.Unlock();
    }
    EXPECT_EQ(a.Lock(0), kSignalled) << "a signal after the time-out went to the timed-out wait";
}

TEST(MultiLock, WaitForAllSleepsUntilTheSemaphoreComesAndTakesBoth) {
    kvtest::Watchdog watchdog("multi-lock wait for all");
    TSyncSemaphore count;
    TSyncEvent mutex;
    std::atomic<LONG> result{-9};
    std::thread waiter([&] {
        TMultiLock lock(true, {&count, &mutex});
        result = lock.Lock(10000);
    });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::WaitingThreads(count.GetHandle()) == 1; }));
    EXPECT_EQ(result.load(), -9);
    EXPECT_TRUE(count.Unlock());
    waiter.join();
    EXPECT_EQ(result.load(), kSignalled);
    EXPECT_EQ(count.Lock(0), kTimedOut);
    EXPECT_EQ(mutex.Lock(0), kTimedOut);
}

} // namespace
