// The older scale filter's buffer-set pool used from several threads at once: no set is ever held by two
// threads, and every set comes back.
#include "filters/CFltScale.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(BufferPoolThreads, NoSetIsHandedToTwoThreadsAtOnce) {
    kvtest::Watchdog watchdog("buffer pool threads");
    constexpr int kThreads = 6;
    constexpr int kRounds = 400;
    TThreadDataMgr<CFltScale::BufSet> pool;
    std::atomic<int> clashes{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                CFltScale::BufSet* set = pool.Acquire();
                if (!set) {
                    ++failures;
                    continue;
                }
                // A set shared with another thread would see its mark overwritten or its buffer moved.
                set->tileWidth = t + 1;
                if (!set->span.Reserve(static_cast<std::size_t>(8 * (round % 5 + 1)))) {
                    ++failures;
                } else {
                    set->span.Data()[0] = static_cast<std::uint16_t>(t);
                    std::this_thread::yield();
                    if (set->tileWidth != t + 1 || set->span.Data()[0] != t)
                        ++clashes;
                }
                pool.Release(set);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(clashes.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(pool.GetUsedCount(), 0u);
    EXPECT_GE(pool.GetFreeCount(), 1u);
    EXPECT_LE(pool.GetFreeCount(), static_cast<std::size_t>(kThreads))
        << "sets are made only while all are in use";
}

} // namespace
