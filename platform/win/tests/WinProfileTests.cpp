// The [Mail] profile section and the default mail client a fresh machine has, and how tests take them away.
#include "platform/win/WinProfile.h"
#include "platform/win/WinRegistry.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

LONG SetValue(const char* keyPath, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    LONG result =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return result;
}

std::string DefaultClient() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailClientsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    char text[256] = {};
    DWORD size = sizeof text, type = 0;
    const LONG result = RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(text) : "<no value>";
}

TEST(WinProfile, AFreshMachineHasASimpleMapiClient) {
    kvtest::TempSystemRoot machine;
    EXPECT_EQ(GetProfileIntW(L"MAIL", L"MAPI", 0), 1u);
    EXPECT_EQ(GetProfileIntW(L"Mail", L"mapi", 0), 1u) << "names are compared without regard to case";
    EXPECT_EQ(DefaultClient(), kRegDefaultMailClient);
}

TEST(WinProfile, ValuesAreReadAsTheLeadingNumber) {
    kvtest::TempSystemRoot machine;
    const struct {
        const char* text;
        UINT expected;
    } texts[] = {{"0", 0}, {"12abc", 12}, {"  7", 7}, {"+3", 3}, {"-4", 0}, {"abc", 0}, {"", 0}};
    for (const auto& t : texts) {
        ASSERT_EQ(
            SetValue(kRegMailProfileKey, "MAPI", REG_SZ, t.text, static_cast<DWORD>(strlen(t.text) + 1)),
            ERROR_SUCCESS);
        EXPECT_EQ(GetProfileIntW(L"MAIL", L"MAPI", 99), t.expected) << '"' << t.text << '"';
    }
    const BYTE number[4] = {5, 1, 0, 0};
    ASSERT_EQ(SetValue(kRegMailProfileKey, "MAPI", REG_DWORD, number, 4), ERROR_SUCCESS);
    EXPECT_EQ(GetProfileIntW(L"MAIL", L"MAPI", 99), 261u);
}

TEST(WinProfile, MissingValuesAndOtherSectionsGiveTheDefault) {
    kvtest::TempSystemRoot machine;
    EXPECT_EQ(GetProfileIntW(L"MAIL", L"NoSuchKey", 42), 42u);
    EXPECT_EQ(GetProfileIntW(L"windows", L"MAPI", 42), 42u);
    EXPECT_EQ(GetProfileIntW(nullptr, L"MAPI", 42), 42u);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailProfileKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "MAPI"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "MAPI"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(GetProfileIntW(L"MAIL", L"MAPI", 0), 0u);
    EXPECT_EQ(GetProfileIntW(L"MAIL", L"MAPI", 3), 3u);
}

TEST(WinRegistryDelete, AKeyGoesOnlyOnceNothingIsBelowIt) {
    kvtest::TempSystemRoot machine;
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegMailClientsKey), ERROR_ACCESS_DENIED)
        << "the client's own key is still below";
    EXPECT_EQ(DefaultClient(), kRegDefaultMailClient);
    const std::string own = std::string(kRegMailClientsKey) + "\\" + kRegDefaultMailClient;
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, own.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegMailClientsKey), ERROR_SUCCESS);
    EXPECT_EQ(DefaultClient(), "<no key>");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegMailClientsKey), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_INVALID_PARAMETER);

    // Without write access a value stays.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailProfileKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "MAPI"), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    EXPECT_EQ(GetProfileIntW(L"MAIL", L"MAPI", 0), 1u);
}

} // namespace
