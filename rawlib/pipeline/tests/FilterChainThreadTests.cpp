// Two filter-chain objects made, set up and developed on two threads at once, as the first of the process
// each time: the standard profiles' table, its prepared flag and the shared profile utilities are made
// once and read whole, and both developments come out alike.
#include "ChainPicture.h"

#include "testing/ImageCompare.h"
#include "testing/ProfileMachine.h"

#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <memory>
#include <thread>

namespace {

TEST(FilterChainThreads, TwoFirstSetUpsAndDevelopmentsRunAtOnce) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        // Made before the threads start; no filter-chain object lives until both threads create theirs.
        std::array<std::unique_ptr<kvtest::ChainPicture>, 2> pictures;
        for (auto& picture : pictures)
            picture = std::make_unique<kvtest::ChainPicture>();
        std::array<kvtest::TestPlane, 2> developed;
        std::array<bool, 2> opened{};
        std::barrier start(2);
        std::array<std::thread, 2> threads;
        for (std::size_t t = 0; t < threads.size(); ++t)
            threads[t] = std::thread([&, t] {
                start.arrive_and_wait();
                opened[t] = static_cast<bool>(kvtest::Succeeded(pictures[t]->Open()));
                if (opened[t])
                    developed[t] = pictures[t]->Develop();
                pictures[t]->object->Destroy();
                pictures[t]->object = nullptr;
            });
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_TRUE(opened[0] && opened[1]);
        ASSERT_GT(developed[0].width, 0);
        const kvtest::PlaneDifference difference = kvtest::ComparePlanes(developed[0], developed[1]);
        EXPECT_TRUE(difference.sameGeometry && difference.maxError == 0) << difference.Describe();
    }
}

} // namespace
