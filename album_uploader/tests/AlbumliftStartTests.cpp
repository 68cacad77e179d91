#include "AlbumliftLibrary.h"
#include "platform/win/WinRegistry.h"
#include "platform/zavoz/testing/CZvTestService.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using kvtest::AlbumliftLibrary;

void SetCommonFilesDir(const std::string& folder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "CommonFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>(folder.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Runs in the folder while it lives.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& folder) : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(m_previous); }

private:
    std::filesystem::path m_previous;
};

TEST(AlbumliftStart, WithoutItsLanguageLibraryEveryExportRefusesUntilTheLibraryIsLoadedAgain) {
    kvtest::TempSystemRoot machine;
    kvtest::CZvTestService service;
    AlbumliftLibrary library;
    ASSERT_TRUE(library.Loaded());
    EXPECT_EQ(library.GetInformation(nullptr, nullptr, nullptr), 4104);
    kvtest::WriteLanguageFile(machine.Path(), service.BaseUrl());
    EXPECT_EQ(library.Initialize(), 4104) << "the start runs once, at the first export";
    KvUploadParms* parms = nullptr;
    EXPECT_EQ(library.CreateObject(&parms), 4104);
    EXPECT_EQ(parms, nullptr);
    EXPECT_EQ(library.Connect("anna", "secret", 0), 4104);
    EXPECT_EQ(library.GetAlbumList(0), 4104);
    EXPECT_EQ(library.DoAbort(), 0);
    library.Close();
    ASSERT_TRUE(library.Unload());

    AlbumliftLibrary again;
    EXPECT_EQ(again.Initialize(), 0);
    again.Close();
}

TEST(AlbumliftStart, ALanguageLibraryLoadedAtTheStartStaysWhenItsFileGoes) {
    kvtest::TempSystemRoot machine;
    kvtest::CZvTestService service;
    service.AddAccount("anna", "secret");
    kvtest::WriteLanguageFile(machine.Path(), service.BaseUrl());
    AlbumliftLibrary library;
    EXPECT_EQ(library.GetInformation(nullptr, nullptr, nullptr), 0);
    std::filesystem::remove(kvtest::LanguageFilePath(machine.Path()));
    EXPECT_EQ(library.Initialize(), 0);
    EXPECT_EQ(library.Connect("anna", "secret", 0), 0);
    library.Close();
}

TEST(AlbumliftStart, ALanguageLibraryIsNeverTakenFromTheWorkingFolder) {
    kvtest::TempSystemRoot machine;
    kvtest::CZvTestService planted;
    planted.AddAccount("anna", "secret");
    kvtest::TempFolder cwd;
    // What a relative folder would find, from where the program runs.
    for (const std::string& folder :
         {cwd.Path() + "/Korvel/Uploader", cwd.Path() + "/Common Files/Korvel/Uploader"}) {
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/KvtAlbumliftLang.so") << "string 31205 " << planted.BaseUrl() << "\n";
    }
    WorkingFolder working(cwd.Path());
    struct Case {
        const char* what;
        std::string registry; // the store file's text; empty: set the value
        std::string value;
    };
    const Case cases[] = {
        {"no value", "# a machine without CommonFilesDir\n", ""},
        {"empty value", "", ""},
        {"relative value", "", "Common Files"},
        {"dot", "", "."},
    };
    for (const Case& c : cases) {
        if (!c.registry.empty())
            std::ofstream(machine.File("registry.txt"), std::ios::trunc) << c.registry;
        else
            SetCommonFilesDir(c.value);
        AlbumliftLibrary library;
        EXPECT_EQ(library.Initialize(), 4104) << c.what;
        EXPECT_EQ(library.Connect("anna", "secret", 0), 4104) << c.what;
        library.Close();
        EXPECT_TRUE(library.Unload());
    }
    EXPECT_TRUE(planted.Log().empty()) << "the planted address never heard of the user";
}

TEST(AlbumliftStart, AFolderWithATrailingSeparatorOrBackslashesStillFindsTheLanguageLibrary) {
    kvtest::TempSystemRoot machine;
    kvtest::CZvTestService service;
    kvtest::WriteLanguageFile(machine.Path(), service.BaseUrl());
    std::string windows = machine.Path() + "/Common Files\\";
    for (const std::string& folder : {machine.Path() + "/Common Files/", windows}) {
        SetCommonFilesDir(folder);
        AlbumliftLibrary library;
        std::string name;
        EXPECT_EQ(library.GetInformation(nullptr, nullptr, &name), 0) << folder;
        EXPECT_EQ(name, "Test uploader");
    }
}

} // namespace
