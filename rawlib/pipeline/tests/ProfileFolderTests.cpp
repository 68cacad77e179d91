#include "rawlib/foundation/KvProfileFolder.h"

#include "platform/win/WinRegistry.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

void SetCommonFiles(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "CommonFilesDir", 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetCommonFiles(const std::string& text) {
    SetCommonFiles(REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

TEST(ProfileFolder, LiesUnderTheMachinesCommonFilesFolder) {
    kvtest::TempSystemRoot machine;
    EXPECT_STREQ(GetProfileFolder(), (machine.Path() + "/Common Files/Korvel/Profiles/").c_str());
}

TEST(ProfileFolder, AddsASeparatorOnlyWhenTheFolderLacksOne) {
    kvtest::TempSystemRoot machine;
    SetCommonFiles("/opt/common");
    EXPECT_STREQ(GetProfileFolder(), "/opt/common/Korvel/Profiles/");
    SetCommonFiles("/opt/common/");
    EXPECT_STREQ(GetProfileFolder(), "/opt/common/Korvel/Profiles/");
    SetCommonFiles("D:\\Common Files\\");
    EXPECT_STREQ(GetProfileFolder(), "D:\\Common Files\\Korvel/Profiles/");
}

TEST(ProfileFolder, WithoutAStringValueTheFolderStartsAtASeparator) {
    kvtest::TempSystemRoot machine;
    const DWORD number = 7;
    SetCommonFiles(REG_DWORD, &number, sizeof number);
    EXPECT_STREQ(GetProfileFolder(), "/Korvel/Profiles/") << "a value of another type is not read";
    SetCommonFiles("");
    EXPECT_STREQ(GetProfileFolder(), "/Korvel/Profiles/");
}

TEST(ProfileFolder, WithoutTheKeyTheFolderStartsAtASeparator) {
    kvtest::TempSystemRoot machine;
    // A machine whose store holds nothing at all.
    std::FILE* file = std::fopen(machine.File("registry.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_STREQ(GetProfileFolder(), "/Korvel/Profiles/");
}

} // namespace
