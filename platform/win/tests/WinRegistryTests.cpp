#include "platform/win/WinRegistry.h"
#include "platform/win/WinSystemRoot.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr const char* kVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The string value, or "<error N>" when the query fails.
std::string QueryString(HKEY key, const char* name) {
    DWORD type = 0, size = 0;
    LONG result = RegQueryValueEx(key, name, nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS)
        return "<error " + std::to_string(result) + ">";
    std::string text(size, '\0');
    result = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (result != ERROR_SUCCESS || type != REG_SZ || size == 0 || text[size - 1] != '\0')
        return "<bad string>";
    text.resize(size - 1);
    return text;
}

LONG SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
}

HKEY Create(const char* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                             &key, nullptr),
              ERROR_SUCCESS);
    return key;
}

TEST(WinRegistry, AFreshMachinePointsCommonFilesDirIntoItsRoot) {
    kvtest::TempSystemRoot machine;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "CommonFilesDir"), machine.Path() + "/Common Files");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_directory(machine.File("Common Files")));
    EXPECT_NE(ReadFile(machine.File("registry.txt")).find("CommonFilesDir"), std::string::npos);
    EXPECT_EQ(WinSystem::GetSystemRoot(), machine.Path());
}

TEST(WinRegistry, TheMachineFolderIsMadeOnFirstUse) {
    kvtest::TempSystemRoot machine;
    const std::string nested = machine.File("deeper/machine");
    setenv("KV_SYSTEM_ROOT", (nested + "/").c_str(), 1);
    EXPECT_EQ(WinSystem::GetSystemRoot(), nested);
    EXPECT_TRUE(std::filesystem::is_directory(nested));
}

TEST(WinRegistry, StringsAndNumbersSurviveInTheStoreFile) {
    kvtest::TempSystemRoot machine;
    const std::string awkward = "C:\\Program Files\\\"Korvel\"\nsecond line\ttab";
    {
        HKEY key = Create("Software\\Korvel\\Test");
        ASSERT_EQ(SetString(key, "Folder", awkward), ERROR_SUCCESS);
        const DWORD number = 0xDEADBEEF;
        ASSERT_EQ(RegSetValueEx(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
                  ERROR_SUCCESS);
        ASSERT_EQ(SetString(key, "Empty", ""), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    const std::string stored = ReadFile(machine.File("registry.txt"));
    EXPECT_NE(stored.find("dword:deadbeef"), std::string::npos) << stored;

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Korvel\\Test", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "Folder"), awkward);
    EXPECT_EQ(QueryString(key, "Empty"), "");
    DWORD type = 0, number = 0, size = sizeof number;
    ASSERT_EQ(RegQueryValueEx(key, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(number, 0xDEADBEEFu);
    RegCloseKey(key);

    // The keys above a made key exist too.
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Korvel", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    // The fresh machine's value was kept beside the new ones.
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "CommonFilesDir"), machine.Path() + "/Common Files");
    RegCloseKey(key);
}

TEST(WinRegistry, KeysAndValueNamesMatchInAnyLetterCase) {
    kvtest::TempSystemRoot machine;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\microsoft\\Windows\\currentversion", 0,
                           KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "commonfilesdir"), machine.Path() + "/Common Files");
    ASSERT_EQ(SetString(key, "COMMONFILESDIR", "/elsewhere"), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "CommonFilesDir"), "/elsewhere") << "the value was replaced, not added";
    RegCloseKey(key);
    const std::string stored = ReadFile(machine.File("registry.txt"));
    EXPECT_NE(stored.find("\"CommonFilesDir\"=\"/elsewhere\""), std::string::npos)
        << "a replaced value keeps its name's spelling:\n"
        << stored;
}

TEST(WinRegistry, QueriesReportTheSizeTheyNeed) {
    kvtest::TempSystemRoot machine;
    HKEY key = Create("Software\\Korvel");
    ASSERT_EQ(SetString(key, "Name", "abcdef"), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 7u) << "the terminating NUL counts";
    char small[4] = {'x', 'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(RegQueryValueEx(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(small), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueEx(key, "Other", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    // Only strings and 32-bit numbers are kept.
    const BYTE bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(RegSetValueEx(key, "Binary", 0, 3 /* REG_BINARY */, bytes, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key, "Short", 0, REG_DWORD, bytes, 3), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Nobody", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
}

TEST(WinRegistry, AClosedHandleStaysClosedWhenItsSlotIsReused) {
    kvtest::TempSystemRoot machine;
    HKEY first = nullptr, second = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &first), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &second), ERROR_SUCCESS);
    EXPECT_NE(first, second);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(first, "CommonFilesDir", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
}

TEST(WinRegistry, AKeyDoesOnlyWhatItWasOpenedFor) {
    kvtest::TempSystemRoot machine;
    HKEY reading = nullptr, writing = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &reading), ERROR_SUCCESS);
    EXPECT_EQ(SetString(reading, "CommonFilesDir", "/x"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_SET_VALUE, &writing), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(writing, "CommonFilesDir", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(QueryString(reading, "CommonFilesDir"), machine.Path() + "/Common Files");
    RegCloseKey(reading);
    RegCloseKey(writing);
}

TEST(WinRegistry, AHandWrittenStoreIsRead) {
    kvtest::TempSystemRoot machine;
    WriteFile(machine.File("registry.txt"),
              "# written by hand\r\n"
              "\r\n"
              "[hkey_local_machine\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n"
              "\"CommonFilesDir\"=\"D:\\\\Common\"\r\n"
              "\"Level\"=dword:2A\r\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "CommonFilesDir"), "D:\\Common");
    DWORD number = 0, size = 4;
    EXPECT_EQ(RegQueryValueEx(key, "Level", nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(number, 42u);
    RegCloseKey(key);
}

TEST(WinRegistry, AStoreWithLinesItCannotReadIsNeverRewritten) {
    kvtest::TempSystemRoot machine;
    const std::string text = "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n"
                             "\"CommonFilesDir\"=\"/common\"\n"
                             "this line means nothing\n"
                             "\"Number\"=dword:xyz\n";
    WriteFile(machine.File("registry.txt"), text);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "CommonFilesDir"), "/common") << "the readable lines still count";
    EXPECT_EQ(SetString(key, "Other", "x"), ERROR_INVALID_DATA);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &created, nullptr),
              ERROR_INVALID_DATA);
    RegCloseKey(key);
    EXPECT_EQ(ReadFile(machine.File("registry.txt")), text);
}

} // namespace
