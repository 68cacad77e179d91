// An album list too large for the memory left: this program's allocator refuses large blocks on request.
#include "AlbumliftFixture.h"
#include "testing/AllocationSeam.h"

#include <gtest/gtest.h>

namespace {

class AlbumliftMemory : public kvtest::AlbumliftFixture {};

TEST_F(AlbumliftMemory, AListThatCannotBeHeldAnswersOutOfMemoryAndStaysEmpty) {
    for (int i = 0; i < 10000; ++i)
        m_service.AddAlbum("k" + std::to_string(100000000000000 + i), "", "");
    Ready();
    ASSERT_EQ(m_library->GetAlbumCount(), 10000);
    // 10,000 album records take 5,360,000 bytes; nothing else on the way is that large.
    constexpr std::size_t kLessThanTheRecords = 5000000;
    std::int32_t result = 0;
    {
        kvtest::RefuseAllocationsFrom refuse(kLessThanTheRecords);
        result = m_library->GetAlbumList(0);
    }
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
