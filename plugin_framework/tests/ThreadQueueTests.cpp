#include "platform/win/WinDebug.h"
#include "platform/win/WinKernel.h"
#include "platform/win/WinSeams.h"
#include "plugin_framework/TQueue.h"
#include "plugin_framework/TThread.h"
#include "testing/AllocationSeam.h"
#include "testing/Deadline.h"
#include "testing/TraceCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// Counts how often items are destroyed and records what the handler saw.
struct Ledger {
    std::mutex lock;
    std::vector<LONG> handled;
    std::vector<DWORD> threads;
    std::atomic<int> destroyed{0};
    std::atomic<int> detachedSeen{0};
};

class ProbeItem : public TThreadQueueData {
public:
    ProbeItem(Ledger& ledger, LONG tag) : m_ledger(ledger) { m_result = tag; }
    ~ProbeItem() override { ++m_ledger.destroyed; }
    Ledger& m_ledger;
};

// Posts a probe item for each tag, at the back.
void PostProbes(TThread& thread, Ledger& ledger, LONG from, LONG to) {
    for (LONG tag = from; tag < to; ++tag) {
        auto* item = new ProbeItem(ledger, tag);
        EXPECT_TRUE(thread.Post(item, false));
        item->Release();
    }
}

void RecordAndRelease(TThreadQueueData* item) {
    auto* probe = static_cast<ProbeItem*>(item);
    {
        std::lock_guard<std::mutex> guard(probe->m_ledger.lock);
        probe->m_ledger.handled.push_back(probe->m_result);
        probe->m_ledger.threads.push_back(GetCurrentThreadId());
    }
    item->Release();
}

// A handler that holds its item until the test opens the gate.
HANDLE g_gate = 0;
HANDLE g_entered = 0;

void BlockAtGate(TThreadQueueData* item) {
    SetEvent(g_entered);
    WaitForSingleObject(g_gate, 10000);
    if (TThread::IsCurrentWorkerDetached())
        ++static_cast<ProbeItem*>(item)->m_ledger.detachedSeen;
    RecordAndRelease(item);
}

const std::string kGraceful = "The rendering thread exited gracefully\n";

class ThreadQueueTest : public testing::Test {
protected:
    void SetUp() override {
        g_gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_entered = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        m_threadsBefore = WinKernelTest::RunningThreads();
        m_handlesBefore = WinKernelTest::OpenHandles();
    }
    void TearDown() override {
        SetEvent(g_gate);
        EXPECT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::RunningThreads() == m_threadsBefore; }))
            << "a worker thread is still running";
        EXPECT_EQ(WinKernelTest::OpenHandles(), m_handlesBefore) << "threads or queues left handles open";
        CloseHandle(g_gate);
        CloseHandle(g_entered);
        WinSeams::ResetAll();
    }
    DWORD m_threadsBefore = 0;
    DWORD m_handlesBefore = 0;
    Ledger ledger;
    kvtest::TraceCapture trace;
};

TEST_F(ThreadQueueTest, ItemsPostedBeforeStartAreHandledInQueueOrderWithFrontFirst) {
    kvtest::Watchdog watchdog("queue order");
    auto* thread = new TThread;
    for (LONG tag : {1, 2}) {
        auto* item = new ProbeItem(ledger, tag);
        EXPECT_TRUE(thread->Post(item, false));
        item->Release();
    }
    auto* urgent = new ProbeItem(ledger, 0);
    EXPECT_TRUE(thread->Post(urgent, true));
    urgent->Release();
    ASSERT_TRUE(thread->Start(RecordAndRelease));
    EXPECT_FALSE(thread->Start(RecordAndRelease)) << "a second worker on one queue";
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 3; }));
    EXPECT_TRUE(thread->Stop(true));
    EXPECT_EQ(ledger.handled, (std::vector<LONG>{0, 1, 2}));
    EXPECT_EQ(trace.Count(kGraceful), 1);
    thread->Release();
}

TEST_F(ThreadQueueTest, StopOfAnIdleWorkerEndsItThroughTheQuitItem) {
    kvtest::Watchdog watchdog("idle stop");
    TThread thread;
    EXPECT_FALSE(thread.Stop(true)) << "a thread that was never started";
    ASSERT_TRUE(thread.Start(RecordAndRelease));
    EXPECT_NE(thread.GetThreadId(), 0u);
    EXPECT_TRUE(thread.Stop(true));
    EXPECT_EQ(thread.GetThreadId(), 0u);
    EXPECT_EQ(trace.Count(kGraceful), 1);
    EXPECT_FALSE(thread.Stop(true));

    // The same object starts again, with an empty queue that accepts.
    ASSERT_TRUE(thread.Start(RecordAndRelease));
    auto* item = new ProbeItem(ledger, 5);
    EXPECT_TRUE(thread.Post(item, false));
    item->Release();
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 1; }));
    EXPECT_TRUE(thread.Stop(true));
    EXPECT_EQ(ledger.handled, std::vector<LONG>{5});
}

TEST_F(ThreadQueueTest, StopReleasesWaitingItemsUnhandled) {
    kvtest::Watchdog watchdog("stop with a pending queue");
    TThread thread;
    ASSERT_TRUE(thread.Start(BlockAtGate));
    PostProbes(thread, ledger, 0, 6);
    ASSERT_EQ(WaitForSingleObject(g_entered, 10000), WAIT_OBJECT_0);
    // The worker holds item 0; the stop (on another thread, since it blocks) drops items 1 to 5.
    std::atomic<bool> stopped{false};
    std::thread stopper([&] { stopped = thread.Stop(true); });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 5; }));
    SetEvent(g_gate);
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(ledger.handled, std::vector<LONG>{0});
    EXPECT_EQ(ledger.destroyed, 6);
    EXPECT_EQ(ledger.detachedSeen, 0);
    EXPECT_EQ(trace.Count(kGraceful), 1);
}

TEST_F(ThreadQueueTest, APostThatIsRefusedLeavesThePosterItsReference) {
    TThread thread;
    thread.SetAccepting(false);
    auto* item = new ProbeItem(ledger, 1);
    EXPECT_FALSE(thread.Post(item, false));
    EXPECT_EQ(item->GetRefCount(), 1);
    thread.SetAccepting(true);
    EXPECT_TRUE(thread.Post(item, false));
    EXPECT_EQ(item->GetRefCount(), 2);
    item->Release();
    EXPECT_TRUE(thread.ClearQueue());
    EXPECT_EQ(ledger.destroyed, 1);
}

// A handler that ignores the stop: the worker is neither killed nor left holding what its TThread frees.
TEST_F(ThreadQueueTest, AWorkerThatDoesNotStopInTimeIsDetachedWithItsOwnQueue) {
    kvtest::Watchdog watchdog("detached worker");
    WinSeams::SetThreadStopWait(20);
    auto* thread = new TThread;
    ASSERT_TRUE(thread->Start(BlockAtGate));
    auto* first = new ProbeItem(ledger, 1);
    thread->Post(first, false);
    first->Release();
    ASSERT_EQ(WaitForSingleObject(g_entered, 10000), WAIT_OBJECT_0);
    const DWORD stuckThread = thread->GetThreadId();
    EXPECT_TRUE(thread->Stop(true));
    EXPECT_EQ(trace.Count("left to end by itself"), 1);

    // The TThread goes on with a new worker; the stuck one cannot take its items or its quit item.
    ASSERT_TRUE(thread->Start(RecordAndRelease));
    auto* second = new ProbeItem(ledger, 2);
    EXPECT_TRUE(thread->Post(second, false));
    second->Release();
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 1; }));
    WinSeams::ResetAll();
    EXPECT_TRUE(thread->Stop(true));
    thread->Release();

    SetEvent(g_gate);
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 2 && trace.Count(kGraceful) == 2; }));
    std::lock_guard<std::mutex> guard(ledger.lock);
    EXPECT_EQ(ledger.handled, (std::vector<LONG>{2, 1}));
    EXPECT_NE(ledger.threads[0], stuckThread);
    EXPECT_EQ(ledger.threads[1], stuckThread);
    EXPECT_EQ(ledger.detachedSeen, 1) << "the detached worker did not know it was let go";
}

void StopOwnThread(TThreadQueueData* item) {
    auto* thread = static_cast<TThread*>(item->GetOwner());
    thread->Stop(true);
    RecordAndRelease(item);
}

TEST_F(ThreadQueueTest, AStopFromTheWorkerItselfDoesNotWaitForItself) {
    kvtest::Watchdog watchdog("stop from the worker");
    auto* thread = new TThread;
    ASSERT_TRUE(thread->Start(StopOwnThread));
    auto* item = new ProbeItem(ledger, 1);
    item->SetOwner(thread);
    thread->Post(item, false);
    item->Release();
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 1; }));
    EXPECT_EQ(trace.Count("stopped from its own worker"), 1);
    EXPECT_EQ(thread->GetThreadId(), 0u);
    thread->Release();
}

// An owner of work items that stops the worker its items wait on before it goes, as owners must, and notes
// on which thread it went.
class ItemOwner : public TBaseObject {
public:
    ItemOwner(TThread& worker, std::atomic<DWORD>& goneOn) : m_worker(worker), m_goneOn(goneOn) {}
    ~ItemOwner() override {
        m_worker.Stop(true);
        m_goneOn.store(GetCurrentThreadId());
    }

private:
    TThread& m_worker;
    std::atomic<DWORD>& m_goneOn;
};

ProbeItem* OwnedItem(Ledger& ledger, LONG tag, TBaseObject* owner) {
    auto* item = new ProbeItem(ledger, tag);
    item->SetOwner(owner);
    return item;
}

TEST_F(ThreadQueueTest, ItemsWaitingInTheQueueDoNotKeepTheirOwner) {
    kvtest::Watchdog watchdog("owner of waiting items");
    TThread thread;
    ASSERT_TRUE(thread.Start(BlockAtGate));
    std::atomic<DWORD> goneOn{0};
    auto* owner = new ItemOwner(thread, goneOn);
    // The worker is busy with an item of nobody's while the owner's three wait.
    auto* busy = new ProbeItem(ledger, 0);
    ASSERT_TRUE(thread.Post(busy, false));
    busy->Release();
    ASSERT_EQ(WaitForSingleObject(g_entered, 10000), WAIT_OBJECT_0);
    for (LONG tag = 1; tag <= 3; ++tag) {
        ProbeItem* item = OwnedItem(ledger, tag, owner);
        ASSERT_TRUE(thread.Post(item, false));
        item->Release();
    }
    EXPECT_EQ(owner->GetRefCount(), 1) << "a waiting item holds its owner";
    // The owner's stop waits for the busy item, which goes on once the owner's items are dropped.
    std::thread opener([&] {
        kvtest::WaitUntil([&] { return ledger.destroyed == 3; }, std::chrono::milliseconds(2000));
        SetEvent(g_gate);
    });
    owner->Release();
    opener.join();
    EXPECT_EQ(goneOn.load(), GetCurrentThreadId()) << "the owner's last release moved onto the worker";
    std::lock_guard<std::mutex> guard(ledger.lock);
    EXPECT_EQ(ledger.handled, std::vector<LONG>{0}) << "the owner's items are dropped unhandled";
    EXPECT_EQ(ledger.destroyed, 4);
}

TEST_F(ThreadQueueTest, TheWorkerHoldsAnItemsOwnerWhileItsHandlerRuns) {
    kvtest::Watchdog watchdog("owner of a running item");
    TThread thread;
    ASSERT_TRUE(thread.Start(BlockAtGate));
    std::atomic<DWORD> goneOn{0};
    auto* owner = new ItemOwner(thread, goneOn);
    ProbeItem* item = OwnedItem(ledger, 1, owner);
    ASSERT_TRUE(thread.Post(item, false));
    item->Release();
    ASSERT_EQ(WaitForSingleObject(g_entered, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(owner->GetRefCount(), 2);
    owner->Release();
    EXPECT_EQ(goneOn.load(), 0u) << "the owner went while its item was being handled";
    SetEvent(g_gate);
    ASSERT_TRUE(kvtest::WaitUntil([&] { return goneOn.load() != 0; }));
    EXPECT_EQ(trace.Count("stopped from its own worker"), 1) << "the owner went with the handler's end";
    std::lock_guard<std::mutex> guard(ledger.lock);
    EXPECT_EQ(ledger.handled, std::vector<LONG>{1});
}

// Handlers hold their item in an owner, so that an exception releases it on the way out.
void ThrowOnOddTags(TThreadQueueData* item) {
    auto owned = TRefPtr<TThreadQueueData>::Adopt(item);
    if (item->m_result % 2)
        throw std::bad_alloc();
    RecordAndRelease(owned.Detach());
}

TEST_F(ThreadQueueTest, AHandlersExceptionIsTracedAndTheWorkerGoesOn) {
    kvtest::Watchdog watchdog("throwing handler");
    TThread thread;
    ASSERT_TRUE(thread.Start(ThrowOnOddTags));
    PostProbes(thread, ledger, 0, 6);
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 6; }));
    EXPECT_TRUE(thread.Stop(true));
    EXPECT_EQ(trace.Count("failed (std::bad_alloc)"), 3);
    EXPECT_EQ(trace.Count(kGraceful), 1);
    std::lock_guard<std::mutex> guard(ledger.lock);
    EXPECT_EQ(ledger.handled, (std::vector<LONG>{0, 2, 4}));
}

// Items whose handler makes the n-th allocation of the worker from then on fail (n in the item's result),
// and items that look whether one did: the failure strikes in the worker's wait for its next item, since
// the looking handler stops it before it allocates anything.
std::atomic<int> g_failuresSeen{0};

void FailLaterAllocations(TThreadQueueData* item) {
    auto owned = TRefPtr<TThreadQueueData>::Adopt(item);
    if (item->m_messageCode == 1) {
        kvtest::FailNthAllocation(static_cast<int>(item->m_result));
        return;
    }
    if (kvtest::StopFailingAllocations())
        ++g_failuresSeen;
    RecordAndRelease(owned.Detach());
}

TEST_F(ThreadQueueTest, AnAllocationThatFailsInTheWorkerLoopEndsNeitherTheWorkerNorItsItems) {
    kvtest::Watchdog watchdog("allocation failures on the worker");
    g_failuresSeen = 0;
    TThread thread;
    ASSERT_TRUE(thread.Start(FailLaterAllocations));
    constexpr LONG kSweep = 40;
    for (LONG n = 0; n < kSweep; ++n) {
        auto* arm = new ProbeItem(ledger, n);
        arm->m_messageCode = 1;
        ASSERT_TRUE(thread.Post(arm, false));
        arm->Release();
        // Posted after the first item is handled, so that the worker waits for it in between.
        ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 2 * n + 1; }));
        auto* look = new ProbeItem(ledger, n);
        ASSERT_TRUE(thread.Post(look, false));
        look->Release();
        ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == 2 * n + 2; })) << "at n = " << n;
    }
    EXPECT_TRUE(thread.Stop(true));
    EXPECT_EQ(trace.Count(kGraceful), 1);
    // Failures armed beyond the allocations of one wait never strike; every one that struck was traced.
    EXPECT_GT(g_failuresSeen.load(), 0) << "no failure reached the worker's wait";
    EXPECT_EQ(trace.Count("could not take its next item"), g_failuresSeen.load());
    std::lock_guard<std::mutex> guard(ledger.lock);
    EXPECT_EQ(static_cast<LONG>(ledger.handled.size()), kSweep) << "an item was lost";
}

TEST_F(ThreadQueueTest, TheQueueRefusesItemsBeyondItsMaximumAndStillClears) {
    kvtest::Watchdog watchdog("full queue");
    TQueue queue;
    std::vector<ProbeItem*> items;
    for (LONG i = 0; i < TSyncSemaphore::kMaximumCount; ++i) {
        auto* item = new ProbeItem(ledger, i);
        ASSERT_TRUE(queue.Put(item, false));
        item->Release();
    }
    auto* extra = new ProbeItem(ledger, -1);
    EXPECT_FALSE(queue.Put(extra, false)) << "an item queued without a count";
    EXPECT_EQ(extra->GetRefCount(), 1);
    extra->Release();
    EXPECT_TRUE(queue.Clear(true));
    EXPECT_EQ(ledger.destroyed, TSyncSemaphore::kMaximumCount + 1);
    auto* after = new ProbeItem(ledger, 7);
    EXPECT_TRUE(queue.Put(after, false));
    after->Release();
    TThreadQueueData* got = queue.Get(1);
    EXPECT_EQ(got, after);
    got->Release();
}

// Each put runs with its first, second, ... allocation failing until it runs without a failure: a put that
// finds no memory for the item's place is refused like one into a full queue, and the queue stays whole:
// counted, unlocked, every item taken once.
TEST_F(ThreadQueueTest, APutWithoutMemoryIsRefusedAndLeavesTheQueueWhole) {
    kvtest::Watchdog watchdog("put without memory");
    TQueue queue;
    constexpr LONG kItems = 300;
    std::vector<int> refusedAt;
    for (LONG tag = 0; tag < kItems; ++tag) {
        auto* item = new ProbeItem(ledger, tag);
        for (int n = 0;; ++n) {
            kvtest::FailNthAllocation(n);
            const bool put = queue.Put(item, tag % 2 == 0);
            if (!kvtest::StopFailingAllocations()) {
                EXPECT_TRUE(put);
                break;
            }
            EXPECT_FALSE(put) << "item " << tag << ", allocation " << n;
            EXPECT_EQ(item->GetRefCount(), 1);
            refusedAt.resize(std::max<std::size_t>(refusedAt.size(), n + 1));
            ++refusedAt[n];
        }
        item->Release();
    }
    ASSERT_FALSE(refusedAt.empty()) << "no put needed memory";
    EXPECT_GT(refusedAt[0], 0);
    std::vector<LONG> taken;
    for (LONG i = 0; i < kItems; ++i) {
        TThreadQueueData* item = queue.Get(1);
        taken.push_back(item->m_result);
        item->Release();
    }
    std::sort(taken.begin(), taken.end());
    for (LONG i = 0; i < kItems; ++i)
        EXPECT_EQ(taken[static_cast<std::size_t>(i)], i);
    auto* last = new ProbeItem(ledger, -1);
    EXPECT_TRUE(queue.Put(last, false)) << "the queue was left locked or miscounted";
    last->Release();
    EXPECT_TRUE(queue.Clear(true));
    EXPECT_EQ(ledger.destroyed, kItems + 1);
}

// Several producers feed one worker while the user-interface thread posts urgent items and clears;
// every item must end exactly once, handled or dropped, and each producer's handled items in order.
TEST_F(ThreadQueueTest, ProducersAndAClearingThreadShareOneWorker) {
    kvtest::Watchdog watchdog("producer stress");
    constexpr int kProducers = 4;
    constexpr LONG kPerProducer = 2000; // the queue can never reach its maximum of 10000
    TThread thread;
    ASSERT_TRUE(thread.Start(RecordAndRelease));
    std::atomic<int> posted{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (LONG i = 0; i < kPerProducer; ++i) {
                auto* item = new ProbeItem(ledger, p * 100000 + i);
                if (thread.Post(item, false))
                    ++posted;
                item->Release();
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        auto* urgent = new ProbeItem(ledger, -1);
        if (thread.Post(urgent, true))
            ++posted;
        urgent->Release();
        if (i % 50 == 0)
            thread.ClearQueue();
    }
    for (auto& t : producers)
        t.join();
    const int total = kProducers * kPerProducer + 200;
    EXPECT_EQ(posted, total) << "a post was refused by a queue that was never full";
    auto* marker = new ProbeItem(ledger, -2);
    thread.Post(marker, false);
    marker->Release();
    ASSERT_TRUE(kvtest::WaitUntil([&] { return ledger.destroyed == total + 1; }));
    EXPECT_TRUE(thread.Stop(true));

    std::lock_guard<std::mutex> guard(ledger.lock);
    std::vector<LONG> last(kProducers, -1);
    std::set<LONG> seen;
    for (LONG tag : ledger.handled) {
        if (tag < 0)
            continue;
        EXPECT_TRUE(seen.insert(tag).second) << "item handled twice: " << tag;
        const int producer = tag / 100000;
        EXPECT_GT(tag % 100000, last[producer]) << "producer " << producer << " out of order";
        last[producer] = tag % 100000;
    }
    EXPECT_EQ(ledger.handled.back(), -2);
}

// The queue alone: one consumer takes from several producers; nothing is lost or taken twice.
TEST_F(ThreadQueueTest, BlockingGetTakesEveryItemOnce) {
    kvtest::Watchdog watchdog("queue get stress");
    constexpr int kProducers = 3;
    constexpr LONG kPerProducer = 3000;
    TQueue queue;
    std::vector<int> seen(kProducers * kPerProducer, 0);
    std::thread consumer([&] {
        for (int n = 0; n < kProducers * kPerProducer; ++n) {
            TThreadQueueData* item = queue.Get(1);
            ASSERT_NE(item, nullptr);
            ++seen[static_cast<std::size_t>(item->m_result)];
            item->Release();
        }
    });
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (LONG i = 0; i < kPerProducer; ++i) {
                auto* item = new ProbeItem(ledger, p * kPerProducer + i);
                queue.Put(item, i % 7 == 0);
                item->Release();
            }
        });
    }
    for (auto& t : producers)
        t.join();
    consumer.join();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kProducers * kPerProducer);
    EXPECT_EQ(ledger.destroyed, kProducers * kPerProducer);
}

TEST(ThreadQueueData, IdsIncreaseAndTheOwnerIsNamedNotHeld) {
    struct Owner : TBaseObject {};
    auto* owner = new Owner;
    auto* a = new TThreadQueueData;
    auto* b = new TThreadQueueData;
    EXPECT_GT(b->GetId(), a->GetId());
    EXPECT_EQ(a->m_messageCode, -1);
    EXPECT_EQ(a->m_result, -1);
    EXPECT_EQ(a->m_finishNotice, -1);
    EXPECT_EQ(a->GetOwner(), nullptr);
    EXPECT_EQ(a->m_notifyTarget, nullptr);
    a->SetOwner(owner);
    b->SetOwner(owner);
    EXPECT_EQ(a->GetOwner(), owner);
    EXPECT_EQ(owner->GetRefCount(), 1);
    a->Release();
    b->Release();
    EXPECT_EQ(owner->GetRefCount(), 1);
    owner->Release();
}

} // namespace
