// Finding files on the search path: the folders searched, the ".dll" names, letter case, the buffer.
#include "platform/win/WinKernel.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinSearchPath.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring Search(const wchar_t* path, const wchar_t* name, const wchar_t* extension = nullptr) {
    wchar_t buffer[1024] = {};
    const DWORD length = SearchPathW(path, name, extension, 1024, buffer, nullptr);
    return length ? std::wstring(buffer, length) : std::wstring();
}

class WinSearchPath : public ::testing::Test {
protected:
    void TearDown() override { WinSeams::ResetAll(); }
    kvtest::TempFolder m_first;
    kvtest::TempFolder m_second;
};

TEST_F(WinSearchPath, TheFoldersOfAPathAreSearchedInOrder) {
    m_first.Write("libone.so", "1");
    m_second.Write("libone.so", "2");
    m_second.Write("Report.TXT", "3");
    const std::wstring path = Wide(m_first.Path() + ";" + m_second.Path());
    const struct {
        const wchar_t* name;
        const wchar_t* extension;
        std::string expected;
    } cases[] = {
        {L"libone.dll", nullptr, m_first.File("libone.so")},
        {L"LIBONE.DLL", nullptr, m_first.File("libone.so")},
        {L"libone", L".dll", m_first.File("libone.so")},
        {L"report.txt", nullptr, m_second.File("Report.TXT")},
        {L"report", L".txt", m_second.File("Report.TXT")},
        {L"report.txt", L".dll", m_second.File("Report.TXT")}, // a name with an extension keeps it
        {L"missing.dll", nullptr, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Search(path.c_str(), c.name, c.extension), Wide(c.expected))
            << std::string(c.name, c.name + wcslen(c.name));
}

TEST_F(WinSearchPath, ASmallBufferGetsTheLengthNeeded) {
    const std::string file = m_first.Write("MAPI32.so", "x");
    const std::wstring path = Wide(m_first.Path());
    wchar_t small[4] = {L'k', L'k', L'k', L'k'};
    EXPECT_EQ(SearchPathW(path.c_str(), L"MAPI32.DLL", nullptr, 4, small, nullptr), file.size() + 1);
    EXPECT_EQ(small[0], L'k');
    std::wstring exact(file.size() + 1, L'\0');
    wchar_t* part = nullptr;
    EXPECT_EQ(SearchPathW(path.c_str(), L"MAPI32.DLL", nullptr, static_cast<DWORD>(exact.size()),
                          exact.data(), &part),
              file.size());
    ASSERT_NE(part, nullptr);
    EXPECT_STREQ(part, L"MAPI32.so");
}

TEST_F(WinSearchPath, NothingFoundIsFileNotFound) {
    SetLastError(0);
    EXPECT_EQ(Search(Wide(m_first.Path()).c_str(), L"MAPI32.DLL"), L"");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SearchPathW(nullptr, L"", nullptr, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // A folder of the same name is not a file.
    std::filesystem::create_directory(m_first.File("folder.dll"));
    EXPECT_EQ(Search(Wide(m_first.Path()).c_str(), L"folder.dll"), L"");
}

TEST_F(WinSearchPath, TheDefaultPathIncludesTheSystemFolder) {
    m_first.Write("kvsearchtest.so", "x");
    EXPECT_EQ(Search(nullptr, L"KvSearchTest.dll"), L"");
    WinSeams::SetSystemFolder(m_first.Path());
    EXPECT_EQ(WinSeams::SystemFolder(), m_first.Path());
    EXPECT_EQ(Search(nullptr, L"KvSearchTest.dll"), Wide(m_first.File("kvsearchtest.so")));
    // A name with a folder is only looked for there.
    EXPECT_EQ(Search(nullptr, Wide(m_second.Path() + "/kvsearchtest.dll").c_str()), L"");
    EXPECT_EQ(Search(nullptr, Wide(m_first.Path() + "\\KVSEARCHTEST.DLL").c_str()),
              Wide(m_first.File("kvsearchtest.so")));
    WinSeams::ResetAll();
    EXPECT_NE(WinSeams::SystemFolder(), m_first.Path());
}

} // namespace
