#include "platform/win/WinRegistry.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

std::string QueryString(HKEY root, const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    char text[1024] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    const LONG result = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::string(text) : "<no value>";
}

TEST(WinShellFolders, AFreshMachineHasBothStartupFoldersUnderItsRoot) {
    kvtest::TempSystemRoot machine;
    const std::string user = QueryString(
        HKEY_USERS, ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        "Startup");
    const std::string common = QueryString(
        HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        "Common Startup");
    EXPECT_EQ(user, machine.Path() + "/Default User/Startup");
    EXPECT_EQ(common, machine.Path() + "/All Users/Startup");
    EXPECT_TRUE(std::filesystem::is_directory(user));
    EXPECT_TRUE(std::filesystem::is_directory(common));
    EXPECT_EQ(
        QueryString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir"),
        machine.Path() + "/Common Files")
        << "the older value is still there";
}

TEST(WinShellFolders, KeysOfHkeyUsersAreKeptInTheStore) {
    kvtest::TempSystemRoot machine;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_USERS, "S-1-5-21\\Software\\Korvel", 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string text = "kept";
    ASSERT_EQ(RegSetValueEx(key, "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 5),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(HKEY_USERS, "s-1-5-21\\SOFTWARE\\korvel", "value"), "kept");
    EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, "S-1-5-21\\Software\\Korvel", "Value"), "<no key>")
        << "the roots are apart";
    EXPECT_EQ(RegCloseKey(HKEY_USERS), ERROR_SUCCESS);
}

} // namespace
