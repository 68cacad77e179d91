#include "platform/win/WinFiles.h"
#include "platform/win/WinSeams.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

class TempRoot : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_base.Path());
        m_root = m_base.Path() + "/Korvel-" + std::to_string(geteuid());
    }
    void TearDown() override { WinSeams::ResetAll(); }

    std::string TempPath() {
        char buffer[4096];
        const DWORD length = GetTempPathA(sizeof(buffer), buffer);
        return length == 0 || length >= sizeof(buffer) ? std::string() : std::string(buffer, length);
    }

    kvtest::TempFolder m_base;
    std::string m_root;
};

TEST_F(TempRoot, IsAPrivateFolderOfTheUserMadeOnFirstUse) {
    EXPECT_EQ(TempPath(), m_root + "/");
    struct stat info {};
    ASSERT_EQ(lstat(m_root.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(TempPath(), m_root + "/") << "the second call takes the folder that is there";
}

TEST_F(TempRoot, ShortBufferIsToldTheSizeItNeeds) {
    char buffer[4];
    EXPECT_EQ(GetTempPathA(sizeof(buffer), buffer), m_root.size() + 2);
}

TEST_F(TempRoot, SymbolicLinkInItsPlaceIsRefused) {
    kvtest::TempFolder elsewhere;
    ASSERT_EQ(symlink(elsewhere.Path().c_str(), m_root.c_str()), 0);
    EXPECT_EQ(TempPath(), "");
}

TEST_F(TempRoot, FileInItsPlaceIsRefused) {
    m_base.Write("Korvel-" + std::to_string(geteuid()), std::string("x"));
    EXPECT_EQ(TempPath(), "");
}

TEST_F(TempRoot, FolderOpenToOthersIsMadePrivate) {
    ASSERT_EQ(mkdir(m_root.c_str(), 0777), 0);
    ASSERT_EQ(chmod(m_root.c_str(), 0777), 0);
    EXPECT_EQ(TempPath(), m_root + "/");
    struct stat info {};
    ASSERT_EQ(stat(m_root.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(TempRoot, FolderOfAnotherUserIsRefused) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only the superuser can hand a folder to another user";
    ASSERT_EQ(mkdir(m_root.c_str(), 0700), 0);
    ASSERT_EQ(chown(m_root.c_str(), 4242, 4242), 0);
    EXPECT_EQ(TempPath(), "");
}

} // namespace
