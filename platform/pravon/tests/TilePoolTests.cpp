#include "platform/pravon/CPravonMemoryImage.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr LONG kTile = 8;
constexpr LONG kRGB16 = PravonColorSpace::kRGB16;
constexpr std::size_t kTileBytes = 8 * 6 * kTile; // rows of eight 6-byte pixels
constexpr BYTE kForeign = 0x77;

PravonImagePtr MakeImage(CPravonMemoryManager& manager, LONG width, LONG height) {
    IPravonImage* image = nullptr;
    EXPECT_PV_OK(manager.CreateImage(1, &image));
    PravonImagePtr owned(image);
    EXPECT_PV_OK(image->SetColorSpace(kRGB16));
    EXPECT_PV_OK(image->SetSize(width, height));
    return owned;
}

struct TileMemory {
    std::vector<BYTE> bytes;
    const void* address = nullptr;
};

// Locks the tile, copies its memory and unlocks it.
TileMemory ReadTile(IPravonImage* image, LONG column, LONG row) {
    TileMemory memory;
    void* data = nullptr;
    EXPECT_PV_OK(image->LockTile(column, row, &data, nullptr));
    if (!data)
        return memory;
    memory.address = data;
    memory.bytes.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + kTileBytes);
    EXPECT_PV_OK(image->UnlockTile(column, row));
    return memory;
}

// Gives every tile of the image memory full of another image's pixels, then releases the image, so that
// the manager's pool holds that memory.
std::set<const void*> PoolForeignMemory(CPravonMemoryManager& manager, LONG columns, LONG rows) {
    std::set<const void*> addresses;
    PravonImagePtr other = MakeImage(manager, columns * kTile, rows * kTile);
    for (LONG r = 0; r < rows; ++r)
        for (LONG c = 0; c < columns; ++c) {
            void* data = nullptr;
            EXPECT_PV_OK(other->LockTile(c, r, &data, nullptr));
            std::memset(data, kForeign, kTileBytes);
            addresses.insert(data);
            EXPECT_PV_OK(other->UnlockTile(c, r));
        }
    return addresses;
}

bool AllBytes(const TileMemory& memory, BYTE value) {
    for (BYTE b : memory.bytes)
        if (b != value)
            return false;
    return !memory.bytes.empty();
}

TEST(PravonTilePool, TheMemoryOfReleasedTilesServesTheNextImageOfTheManager) {
    CPravonMemoryManager manager(kTile);
    const std::set<const void*> first = PoolForeignMemory(manager, 3, 2);
    EXPECT_EQ(manager.GetTilePool().GetPooledBytes(), 6 * kTileBytes);
    PravonImagePtr next = MakeImage(manager, 3 * kTile, 2 * kTile);
    std::set<const void*> taken;
    for (LONG r = 0; r < 2; ++r)
        for (LONG c = 0; c < 3; ++c) {
            const TileMemory memory = ReadTile(next.get(), c, r);
            EXPECT_TRUE(first.count(memory.address)) << c << ", " << r << ": memory not taken from the pool";
            EXPECT_TRUE(AllBytes(memory, 0)) << c << ", " << r << ": another image's pixels show";
            EXPECT_TRUE(taken.insert(memory.address).second) << c << ", " << r << ": memory of a live tile";
        }
    EXPECT_EQ(manager.GetTilePool().GetPooledBytes(), 0u);
}

TEST(PravonTilePool, ALayoutChangeKeepsTheMemoryButNoneOfTheEarlierPixels) {
    // An image without a manager keeps a pool of its own for its next layouts.
    IPravonImage* raw = nullptr;
    ASSERT_PV_OK(CPravonMemoryImage::Create(kTile, 1, &raw));
    PravonImagePtr image(raw);
    ASSERT_PV_OK(image->SetColorSpace(kRGB16));
    ASSERT_PV_OK(image->SetSize(2 * kTile, kTile));
    std::set<const void*> before;
    for (LONG c = 0; c < 2; ++c) {
        void* data = nullptr;
        ASSERT_PV_OK(image->LockTile(c, 0, &data, nullptr));
        std::memset(data, kForeign, kTileBytes);
        before.insert(data);
        ASSERT_PV_OK(image->UnlockTile(c, 0));
    }
    // Tile (1, 0) stays locked across the change: its memory goes back only at its last unlock.
    void* held = nullptr;
    ASSERT_PV_OK(image->LockTile(1, 0, &held, nullptr));
    IPravonTile* heldTile = nullptr;
    ASSERT_PV_OK(image->GetTile(1, 0, &heldTile));
    const IPravonTileID heldId = heldTile->GetID();
    ASSERT_PV_OK(image->SetSize(kTile, 2 * kTile));
    const TileMemory top = ReadTile(image.get(), 0, 0);
    EXPECT_TRUE(before.count(top.address));
    EXPECT_NE(top.address, held);
    EXPECT_TRUE(AllBytes(top, 0));
    EXPECT_EQ(static_cast<const BYTE*>(held)[0], kForeign) << "the holder's memory stays as it was";
    ASSERT_PV_OK(image->UnlockTile(heldId));
    const TileMemory bottom = ReadTile(image.get(), 0, 1);
    EXPECT_EQ(bottom.address, held);
    EXPECT_TRUE(AllBytes(bottom, 0));
}

TEST(PravonTilePool, OnlyAWhollyInvalidTileOfADeclaringGeneratorStartsUnwritten) {
    using Fill = CPravonTilePool::Fill;
    struct Case {
        const char* name;
        bool declared;
        bool partlyValid; // part of the tile set valid before its memory is first locked
        Fill fill;
        BYTE expected;
    };
    const Case cases[] = {
        {"not declared", false, false, Fill::kPoison, 0},
        {"declared, poisoned", true, false, Fill::kPoison, CPravonTilePool::kPoison},
        {"declared, as it comes", true, false, Fill::kAsTheyCome, kForeign},
        {"declared, zeroed for reference", true, false, Fill::kZero, 0},
        {"declared, but part of the tile is valid", true, true, Fill::kPoison, 0},
        {"declared, part valid, as it comes", true, true, Fill::kAsTheyCome, 0},
    };
    for (const Case& c : cases) {
        CPravonMemoryManager manager(kTile);
        manager.GetTilePool().SetUnwrittenFill(c.fill);
        PoolForeignMemory(manager, 1, 1);
        PravonImagePtr image = MakeImage(manager, kTile, kTile);
        ASSERT_PV_OK(image->SetGeneratorWritesInvalidArea(c.declared));
        EXPECT_EQ(image->GetGeneratorWritesInvalidArea(), c.declared);
        if (c.partlyValid) {
            IPravonTile* tile = nullptr;
            ASSERT_PV_OK(image->GetTile(0, 0, &tile));
            tile->SetValid();
            tile->Invalidate(CPravonRect(0, 0, 4, 4));
        }
        EXPECT_TRUE(AllBytes(ReadTile(image.get(), 0, 0), c.expected)) << c.name;
    }
}

TEST(PravonTilePool, ThePoolKeepsNoMoreThanItsLimit) {
    CPravonMemoryManager manager(kTile);
    CPravonTilePool& pool = manager.GetTilePool();
    EXPECT_EQ(pool.GetLimit(), CPravonTilePool::kDefaultLimit);
    pool.SetLimit(2 * kTileBytes + 1);
    PoolForeignMemory(manager, 5, 1);
    EXPECT_EQ(pool.GetPooledBytes(), 2 * kTileBytes);
    pool.SetLimit(kTileBytes);
    EXPECT_EQ(pool.GetPooledBytes(), kTileBytes);
    pool.SetLimit(0);
    EXPECT_EQ(pool.GetPooledBytes(), 0u);
    PoolForeignMemory(manager, 2, 1);
    EXPECT_EQ(pool.GetPooledBytes(), 0u);
}

// The share of the whole pages of [from, to) that are resident.
double ResidentShare(const BYTE* from, const BYTE* to) {
    const std::uintptr_t page = sysconf(_SC_PAGESIZE),
                         end = reinterpret_cast<std::uintptr_t>(to) & ~(page - 1);
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(from) + page - 1) & ~(page - 1);
    std::vector<unsigned char> flags((end - begin) / page + 1); // + 1: never empty
    EXPECT_EQ(mincore(reinterpret_cast<void*>(begin), end - begin, flags.data()), 0);
    return std::count_if(flags.begin(), flags.end() - 1, [](unsigned char f) { return f & 1u; }) /
           static_cast<double>(flags.size() - 1);
}

TEST(PravonTilePool, FreshMemoryHasThePagesItsTileWritesFaultedInAtOnceOrComesInHugePages) {
    alignas(4096) BYTE probe[4096];
    if (madvise(probe, sizeof probe, MADV_POPULATE_WRITE) != 0)
        GTEST_SKIP() << "the kernel faults pages in only at their first write";
    // Larger than what the allocator serves from memory it holds already: the buffer is fresh.
    constexpr std::size_t kBig = std::size_t{40} << 20;
    using Start = CPravonTilePool::Start;
    for (const auto& [start, used] :
         {std::pair{Start::kUnwritten, kBig / 2}, std::pair{Start::kZeroed, kBig / 8 * 7}}) {
        CPravonTilePool pool;
        pool.SetUnwrittenFill(CPravonTilePool::Fill::kAsTheyCome);
        const CPravonTilePool::Buffer buffer = pool.Take(kBig, start, used);
        ASSERT_TRUE(buffer);
        const CPravonTileSlab* slab = buffer.get_deleter().slab;
        if (slab && slab->HugePages()) {
            // Where the system gives huge pages, the slab's start on their boundaries and come in whole at
            // their first write instead.
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.get()) % (std::size_t{2} << 20), 0u);
        } else {
            EXPECT_EQ(ResidentShare(buffer.get(), buffer.get() + used), 1.0) << used;
            // Some allocators clear zeroed memory themselves, which faults all of it in.
            const double tail = ResidentShare(buffer.get() + used, buffer.get() + kBig);
            EXPECT_TRUE(tail == 0.0 || start == Start::kZeroed) << "pages no one writes: " << tail;
        }
        const bool zeroed = std::all_of(buffer.get(), buffer.get() + kBig, [](BYTE b) { return b == 0; });
        EXPECT_TRUE(zeroed || start == Start::kUnwritten);
    }
}

// A generator of our own, as a filter would be one: it fills the invalid part of a tile with values of the
// pixel's position, then validates the tile. One that misjudges its area leaves out the area's last column.
void Generate(IPravonImage* image, LONG column, LONG row, bool leavesOutAColumn) {
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(image->GetTile(column, row, &tile));
    PravonRect invalid;
    if (!tile->IsInvalid(&invalid))
        return;
    void* data = nullptr;
    ASSERT_PV_OK(tile->Lock(&data, nullptr));
    const PravonRect rect = tile->GetRect();
    const LONG right = leavesOutAColumn ? invalid.right - 1 : invalid.right;
    for (LONG y = invalid.top; y < invalid.bottom; ++y) {
        auto* samples = reinterpret_cast<WORD*>(static_cast<BYTE*>(data) +
                                                static_cast<std::size_t>(y - rect.top) * tile->GetRowBytes());
        for (LONG x = invalid.left; x < right; ++x)
            for (LONG c = 0; c < 3; ++c)
                samples[(x - rect.left) * 3 + c] = static_cast<WORD>(x * 131 + y * 17 + c);
    }
    ASSERT_PV_OK(tile->Unlock());
    tile->Validate();
}

// Generates a 3 x 2-tile image of a declaring generator from foreign pool memory, regenerates part of one
// tile, and returns every pixel.
std::vector<WORD> GenerateAll(CPravonTilePool::Fill fill, bool leavesOutAColumn) {
    CPravonMemoryManager manager(kTile);
    manager.GetTilePool().SetUnwrittenFill(fill);
    PoolForeignMemory(manager, 3, 2);
    PravonImagePtr image = MakeImage(manager, 3 * kTile - 3, 2 * kTile - 1);
    EXPECT_PV_OK(image->SetGeneratorWritesInvalidArea(true));
    for (LONG pass = 0; pass < 2; ++pass) {
        for (LONG r = 0; r < 2; ++r)
            for (LONG c = 0; c < 3; ++c)
                Generate(image.get(), c, r, leavesOutAColumn);
        IPravonTile* tile = nullptr;
        EXPECT_PV_OK(image->GetTile(1, 1, &tile));
        tile->Invalidate(CPravonRect(10, 9, 13, 12));
    }
    std::vector<WORD> pixels;
    for (LONG r = 0; r < 2; ++r)
        for (LONG c = 0; c < 3; ++c) {
            const TileMemory memory = ReadTile(image.get(), c, r);
            IPravonTile* tile = nullptr;
            EXPECT_PV_OK(image->GetTile(c, r, &tile));
            const PravonRect rect = tile->GetRect();
            for (LONG y = 0; y < rect.bottom - rect.top; ++y)
                for (LONG x = 0; x < (rect.right - rect.left) * 3; ++x) {
                    WORD v = 0;
                    std::memcpy(&v, memory.bytes.data() + y * tile->GetRowBytes() + x * 2, 2);
                    pixels.push_back(v);
                }
        }
    return pixels;
}

TEST(PravonTilePool, PoisonedMemoryShowsWhetherAGeneratorReallyWritesItsWholeInvalidArea) {
    using Fill = CPravonTilePool::Fill;
    const std::vector<WORD> reference = GenerateAll(Fill::kZero, false);
    EXPECT_EQ(GenerateAll(Fill::kPoison, false), reference);
    EXPECT_EQ(GenerateAll(Fill::kAsTheyCome, false), reference);

    const std::vector<WORD> zeroed = GenerateAll(Fill::kZero, true);
    const std::vector<WORD> poisoned = GenerateAll(Fill::kPoison, true);
    ASSERT_EQ(zeroed.size(), poisoned.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < zeroed.size(); ++i)
        if (zeroed[i] != poisoned[i]) {
            ++differing;
            EXPECT_EQ(poisoned[i], 0xA5A5) << i;
            EXPECT_EQ(zeroed[i], 0) << i;
        }
    // The last column of each of the six tiles, in their 8 or 7 rows, three samples a pixel; the column the
    // second pass leaves out was written by the first.
    EXPECT_EQ(differing, 3u * 3 * (kTile + kTile - 1));
}

} // namespace
