// Fresh big tile buffers come from slabs: many of one size from one mapping, zeroed, each of them giving
// its pages back when it goes, the mapping going with the last of its buffers and its carver, whichever
// thread lets go last.
#include "platform/pravon/CPravonTilePool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

using Start = CPravonTilePool::Start;
// Bigger than kPopulateBytes and no whole number of pages: buffers stand whole pages apart.
constexpr std::size_t kBytes = (std::size_t{96} << 10) + 100;

std::size_t Page() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Whether the page holding the address is mapped at all (mincore answers ENOMEM for unmapped memory).
bool Mapped(const void* address) {
    const auto page = reinterpret_cast<std::uintptr_t>(address) & ~(Page() - 1);
    unsigned char flag = 0;
    return mincore(reinterpret_cast<void*>(page), Page(), &flag) == 0 || errno != ENOMEM;
}

bool Resident(const void* address) {
    const auto page = reinterpret_cast<std::uintptr_t>(address) & ~(Page() - 1);
    unsigned char flag = 0;
    return mincore(reinterpret_cast<void*>(page), Page(), &flag) == 0 && (flag & 1u);
}

TEST(PravonTileSlab, FreshBigBuffersComeZeroedAndWholePagesApartFromOneMapping) {
    CPravonTilePool pool;
    pool.SetUnwrittenFill(CPravonTilePool::Fill::kAsTheyCome);
    std::vector<CPravonTilePool::Buffer> buffers;
    for (int i = 0; i < 6; ++i)
        buffers.push_back(pool.Take(kBytes, i % 2 ? Start::kZeroed : Start::kUnwritten));
    const std::size_t stride = static_cast<std::size_t>(buffers[1].get() - buffers[0].get());
    EXPECT_EQ(stride % Page(), 0u);
    EXPECT_GE(stride, kBytes);
    for (std::size_t i = 1; i < buffers.size(); ++i)
        EXPECT_EQ(static_cast<std::size_t>(buffers[i].get() - buffers[i - 1].get()), stride) << i;
    for (const auto& buffer : buffers)
        EXPECT_TRUE(std::all_of(buffer.get(), buffer.get() + kBytes, [](BYTE b) { return b == 0; }));
}

TEST(PravonTileSlab, ABufferGivesItsPagesBackAndTheMappingGoesWithTheLast) {
    const BYTE* first = nullptr;
    const BYTE* second = nullptr;
    CPravonTilePool::Buffer kept;
    {
        CPravonTilePool pool;
        pool.SetLimit(0); // nothing kept: a buffer given back goes
        CPravonTilePool::Buffer a = pool.Take(kBytes, Start::kZeroed);
        kept = pool.Take(kBytes, Start::kZeroed);
        first = a.get();
        second = kept.get();
        std::fill(a.get(), a.get() + kBytes, BYTE{1});
        EXPECT_TRUE(Resident(first));
        pool.Give(std::move(a), kBytes);
        EXPECT_TRUE(Mapped(first)) << "the slab lives while its carver and a buffer hold it";
        EXPECT_FALSE(Resident(first)) << "the buffer that went gave its pages back";
    }
    EXPECT_TRUE(Mapped(second)) << "a buffer outlives its pool";
    kept[kBytes - 1] = 2;
    kept.reset();
    EXPECT_FALSE(Mapped(second)) << "the last buffer took the mapping with it";
}

// Buffers of one pool taken, written and given back on several threads at once, some outliving the pool.
TEST(PravonTileSlab, BuffersGoBackFromAnyThread) {
    constexpr int kThreads = 4, kRounds = 200;
    auto pool = std::make_unique<CPravonTilePool>();
    pool->SetLimit(kBytes * 8);
    std::vector<std::vector<CPravonTilePool::Buffer>> outliving(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                CPravonTilePool::Buffer b = pool->Take(kBytes, Start::kUnwritten);
                ASSERT_TRUE(b);
                b[0] = static_cast<BYTE>(t);
                b[kBytes - 1] = static_cast<BYTE>(r);
                if (r % 50 == 0)
                    outliving[std::size_t(t)].push_back(std::move(b));
                else
                    pool->Give(std::move(b), kBytes);
            }
        });
    for (std::thread& t : threads)
        t.join();
    pool.reset();
    for (auto& list : outliving)
        for (auto& b : list)
            EXPECT_TRUE(Mapped(b.get()));
}

} // namespace
