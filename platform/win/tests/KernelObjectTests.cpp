#include "platform/win/HandleTable.h"
#include "platform/win/WinKernel.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(KernelHandles, AClosedHandleFailsEvenAfterItsSlotIsReused) {
    const HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(CloseHandle(first));
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(first));

    std::set<HANDLE> seen{first};
    for (int i = 0; i < 10000; ++i) {
        const HANDLE h = CreateSemaphoreA(nullptr, 1, 1, nullptr);
        ASSERT_NE(h, 0u);
        EXPECT_TRUE(seen.insert(h).second) << "handle value issued twice: " << h;
        ASSERT_TRUE(CloseHandle(h));
    }
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
}

TEST(KernelHandles, AHandleOfAnotherKindIsRefused) {
    const HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_FALSE(SetEvent(semaphore));
    EXPECT_FALSE(ResetEvent(semaphore));
    EXPECT_FALSE(ReleaseSemaphore(event, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT) << "the semaphore was released by SetEvent";
    CloseHandle(semaphore);
    CloseHandle(event);
}

TEST(KernelHandles, TableDelaysReuseAndKeepsGenerationsApart) {
    HandleTable<int> table;
    const std::uint32_t first = table.Insert(std::make_shared<int>(1));
    table.Erase(first);
    std::set<std::uint32_t> slotsUsed;
    for (std::size_t i = 0; i < HandleTable<int>::kReuseDelay; ++i) {
        const std::uint32_t h = table.Insert(std::make_shared<int>(2));
        slotsUsed.insert(h & HandleTable<int>::kIndexMask);
        table.Erase(h);
    }
    EXPECT_EQ(slotsUsed.count(first & HandleTable<int>::kIndexMask), 0u) << "a freed slot came back at once";
    const std::uint32_t again = table.Insert(std::make_shared<int>(3));
    EXPECT_EQ(again & HandleTable<int>::kIndexMask, first & HandleTable<int>::kIndexMask);
    EXPECT_NE(again, first);
    EXPECT_EQ(table.Find(first), nullptr);
    EXPECT_EQ(*table.Find(again), 3);
    EXPECT_EQ(table.Erase(first), nullptr);
    EXPECT_EQ(table.Find(0), nullptr);
}

TEST(KernelSemaphores, ReleaseBeyondTheMaximumFailsAndKeepsTheCount) {
    const HANDLE h = CreateSemaphoreA(nullptr, 1, 3, nullptr);
    LONG previous = -7;
    EXPECT_TRUE(ReleaseSemaphore(h, 1, &previous));
    EXPECT_EQ(previous, 1);
    previous = -7;
    EXPECT_FALSE(ReleaseSemaphore(h, 2, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(previous, -7) << "a failed release reported a count";
    EXPECT_FALSE(ReleaseSemaphore(h, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(ReleaseSemaphore(h, 1, &previous));
    EXPECT_EQ(previous, 2);
    int taken = 0;
    while (WaitForSingleObject(h, 0) == WAIT_OBJECT_0)
        ++taken;
    EXPECT_EQ(taken, 3);
    CloseHandle(h);
}

TEST(KernelCriticalSections, AreRecursiveAndExcludeOtherThreads) {
    kvtest::Watchdog watchdog("critical section");
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section)) << "the owner could not enter again";
    std::atomic<int> otherEntered{-1};
    std::thread([&] {
        const BOOL entered = TryEnterCriticalSection(&section);
        otherEntered = entered;
        if (entered)
            LeaveCriticalSection(&section);
    }).join();
    EXPECT_EQ(otherEntered.load(), FALSE);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);

    long long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                EnterCriticalSection(&section);
                ++counter;
                LeaveCriticalSection(&section);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 20000);
    DeleteCriticalSection(&section);
}

} // namespace
