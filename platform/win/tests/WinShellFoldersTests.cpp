#include "platform/win/WinRegistry.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
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

constexpr const char* kUserFolders =
    ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kMachineFolders =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Sets an environment variable (or unsets it for null) while it lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedVariable() {
        if (m_previous)
            setenv(m_name, m_previous->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

TEST(WinShellFolders, TheStartupFoldersAreTheDesktopsAutostartFolders) {
    kvtest::TempSystemRoot machine;
    EXPECT_EQ(QueryString(HKEY_USERS, kUserFolders, "Startup"), machine.UserAutostart());
    EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, kMachineFolders, "Common Startup"), machine.CommonAutostart());
    EXPECT_EQ(
        QueryString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir"),
        machine.Path() + "/Common Files")
        << "the older value is still there";
}

TEST(WinShellFolders, TheFoldersFollowTheEnvironmentAtEveryCall) {
    kvtest::TempSystemRoot machine;
    const ScopedVariable home("HOME", "/home/ann");
    const struct {
        const char* configHome;
        const char* configDirs;
        const char* user;
        const char* common;
    } cases[] = {{"/cfg/ann", "/etc/site:/etc/xdg", "/cfg/ann/autostart", "/etc/site/autostart"},
                 {"/cfg/ann/", "/etc/site/", "/cfg/ann/autostart", "/etc/site/autostart"},
                 {nullptr, nullptr, "/home/ann/.config/autostart", "/etc/xdg/autostart"},
                 {"", "", "/home/ann/.config/autostart", "/etc/xdg/autostart"},
                 // Relative folders are not to be used.
                 {"cfg", "site:/opt/xdg", "/home/ann/.config/autostart", "/opt/xdg/autostart"},
                 {nullptr, "site::", "/home/ann/.config/autostart", "/etc/xdg/autostart"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.configHome ? c.configHome : "(unset)") + " " +
                     (c.configDirs ? c.configDirs : "(unset)"));
        const ScopedVariable configHome("XDG_CONFIG_HOME", c.configHome);
        const ScopedVariable configDirs("XDG_CONFIG_DIRS", c.configDirs);
        EXPECT_EQ(QueryString(HKEY_USERS, kUserFolders, "Startup"), c.user);
        EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, kMachineFolders, "Common Startup"), c.common);
    }
    EXPECT_FALSE(std::filesystem::exists("/cfg/ann")) << "nothing is made";
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
