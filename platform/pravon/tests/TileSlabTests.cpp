// Fresh big tile buffers come from slabs: many of one size from one mapping, zeroed; one that goes while
// its slab is carved from is carved again, and one that goes after gives its pages back, the mapping going
// with the last of its buffers and its carver, whichever thread lets go last.
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

// A buffer that goes while its slab is carved from is the next one carved, and starts as a fresh one
// would: a zeroed tile never shows another tile's pixels, an unwritten one under poisoning shows the poison.
TEST(PravonTileSlab, ABufferThatCameBackIsCarvedAgainAndStartsAsAFreshOne) {
    struct Case {
        const char* name;
        Start start;
        CPravonTilePool::Fill fill;
        bool checked;   // whether every byte is known
        BYTE expected;
    };
    const Case cases[] = {
        {"zeroed", Start::kZeroed, CPravonTilePool::Fill::kAsTheyCome, true, 0},
        {"zeroed under poisoning", Start::kZeroed, CPravonTilePool::Fill::kPoison, true, 0},
        {"unwritten, poisoned", Start::kUnwritten, CPravonTilePool::Fill::kPoison, true, CPravonTilePool::kPoison},
        {"unwritten, zero fill", Start::kUnwritten, CPravonTilePool::Fill::kZero, true, 0},
        {"unwritten as it comes", Start::kUnwritten, CPravonTilePool::Fill::kAsTheyCome, false, 0},
    };
    for (const Case& c : cases) {
        CPravonTilePool pool;
        pool.SetLimit(0); // nothing kept by the pool: a buffer given back goes back to its slab
        pool.SetUnwrittenFill(c.fill);
        CPravonTilePool::Buffer held = pool.Take(kBytes, Start::kZeroed);
        CPravonTilePool::Buffer a = pool.Take(kBytes, Start::kZeroed);
        BYTE* const first = a.get();
        std::fill(a.get(), a.get() + kBytes, BYTE{0x5C});
        pool.Give(std::move(a), kBytes);
        EXPECT_TRUE(Resident(first)) << c.name << ": kept for the next tile, its pages in";
        CPravonTilePool::Buffer again = pool.Take(kBytes, c.start);
        EXPECT_EQ(again.get(), first) << c.name;
        if (c.checked) {
            EXPECT_TRUE(std::all_of(again.get(), again.get() + kBytes, [&](BYTE b) { return b == c.expected; }))
                << c.name;
        }
    }
}

TEST(PravonTileSlab, KeptBuffersGiveTheirPagesBackWithTheCarverAndTheMappingGoesWithTheLast) {
    BYTE* first = nullptr;
    CPravonTilePool::Buffer second, third;
    {
        CPravonTilePool pool;
        pool.SetLimit(0);
        CPravonTilePool::Buffer a = pool.Take(kBytes, Start::kZeroed);
        second = pool.Take(kBytes, Start::kZeroed);
        third = pool.Take(kBytes, Start::kZeroed);
        first = a.get();
        std::fill(a.get(), a.get() + kBytes, BYTE{1});
        pool.Give(std::move(a), kBytes);
        EXPECT_TRUE(Resident(first));
    }
    EXPECT_TRUE(Mapped(first)) << "the slab lives while a buffer holds it";
    EXPECT_FALSE(Resident(first)) << "the kept buffer gave its pages back when the carver let go";
    // With the carver gone, a buffer that goes while another is out gives its pages back at once.
    BYTE* const going = second.get();
    std::fill(second.get(), second.get() + kBytes, BYTE{2});
    EXPECT_TRUE(Resident(going));
    second.reset();
    EXPECT_TRUE(Mapped(going));
    EXPECT_FALSE(Resident(going));
    BYTE* const last = third.get();
    third[kBytes - 1] = 3;
    third.reset();
    EXPECT_FALSE(Mapped(last)) << "the last buffer took the mapping with it";
}

// A pool that goes with every buffer of its slabs pooled takes the mappings with it, and its buffers hold
// nothing another pool's fresh buffers could show.
TEST(PravonTileSlab, APoolGoingWithAllItsBuffersUnmapsItsSlabs) {
    std::vector<const BYTE*> addresses;
    {
        CPravonTilePool pool;
        std::vector<CPravonTilePool::Buffer> buffers;
        // More than one slab's worth, so that a retired slab and the carving one both go.
        const std::size_t count = CPravonTilePool::kSlabBytes / kBytes + 3;
        for (std::size_t i = 0; i < count; ++i) {
            buffers.push_back(pool.Take(kBytes, Start::kZeroed));
            ASSERT_TRUE(buffers.back());
            std::fill(buffers.back().get(), buffers.back().get() + kBytes, BYTE{7});
            addresses.push_back(buffers.back().get());
        }
        for (auto& buffer : buffers)
            pool.Give(std::move(buffer), kBytes);
    }
    for (const BYTE* address : addresses)
        EXPECT_FALSE(Mapped(address));
    CPravonTilePool pool;
    CPravonTilePool::Buffer fresh = pool.Take(kBytes, Start::kZeroed);
    EXPECT_TRUE(std::all_of(fresh.get(), fresh.get() + kBytes, [](BYTE b) { return b == 0; }));
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
