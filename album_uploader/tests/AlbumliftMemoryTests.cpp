// An album list too large for the memory left: this program's allocator refuses large blocks on request.
#include "AlbumliftFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_refuseFrom{0}; // 0: refuse nothing

void* Allocate(std::size_t size) {
    const std::size_t limit = g_refuseFrom.load();
    if (limit != 0 && size >= limit)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

class AlbumliftMemory : public kvtest::AlbumliftFixture {};

TEST_F(AlbumliftMemory, AListThatCannotBeHeldAnswersOutOfMemoryAndStaysEmpty) {
    for (int i = 0; i < 10000; ++i)
        m_service.AddAlbum("k" + std::to_string(100000000000000 + i), "", "");
    Ready();
    ASSERT_EQ(m_library->GetAlbumCount(), 10000);
    // 10,000 album records take 5,360,000 bytes; nothing else on the way is that large.
    g_refuseFrom = 5000000;
    const std::int32_t result = m_library->GetAlbumList(0);
    g_refuseFrom = 0;
    EXPECT_EQ(result, 4099);
    EXPECT_EQ(m_library->GetAlbumCount(), 0);
    EXPECT_EQ(m_library->GetAlbumList(0), 0);
    EXPECT_EQ(m_library->GetAlbumCount(), 10000);
}

TEST_F(AlbumliftMemory, ACountBeyondWhatAListMayHoldIsRefused) {
    Ready();
    m_service.AddRule({"GET",
                       kvtest::CZvTestService::kAlbums,
                       0,
                       kvtest::CZvTestService::Act::Malformed,
                       200,
                       "count=10001\n",
                       {}});
    EXPECT_EQ(m_library->GetAlbumList(0), 31265);
    EXPECT_EQ(m_library->GetAlbumCount(), 0);
}

} // namespace
