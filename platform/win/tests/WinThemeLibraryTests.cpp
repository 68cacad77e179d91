// The test visual-styles libraries, found by the platform's name through the library search folders.
#include "uxtheme/TestUxTheme.h"

#include "platform/win/WinModule.h"

#include <gtest/gtest.h>

namespace {

const char* const kEntryPoints[] = {"SetWindowTheme", "OpenThemeData", "DrawThemeBackground",
                                    "CloseThemeData", "DrawThemeText", "GetThemeBackgroundContentRect"};

class ThemeLibrary : public ::testing::Test {
protected:
    void TearDown() override { WinModule::SetLibrarySearchFolders({}); }
};

TEST_F(ThemeLibrary, WithoutASearchFolderThereIsNone) {
    EXPECT_EQ(LoadLibraryExW(L"UXTHEME.DLL", 0, LOAD_WITH_ALTERED_SEARCH_PATH), nullptr);
}

TEST_F(ThemeLibrary, TheFullLibraryHasAllSixEntryPointsAndRecordsItsCalls) {
    WinModule::SetLibrarySearchFolders({"/nonexistent", KV_TEST_THEME_FULL_DIR});
    HMODULE library = LoadLibraryExW(L"UXTHEME.DLL", 0, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(GetModuleHandleW(L"uxtheme.dll"), library);
    for (const char* name : kEntryPoints)
        EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
    auto open = reinterpret_cast<OpenThemeDataProc>(GetProcAddress(library, "OpenThemeData"));
    auto calls = reinterpret_cast<TestUxThemeCallsProc>(GetProcAddress(library, "TestUxThemeCalls"));
    ASSERT_NE(calls, nullptr);
    const int before = calls(nullptr, 0);
    EXPECT_NE(open(nullptr, L"Button"), 0u);
    ThemeCall recorded[64];
    ASSERT_EQ(calls(recorded, 64), before + 1);
    EXPECT_EQ(recorded[before].kind, ThemeCallKind::kOpen);
    EXPECT_STREQ(recorded[before].classList, L"Button");
    EXPECT_TRUE(FreeLibrary(library));
}

TEST_F(ThemeLibrary, TheOtherLacksTheContentRectangle) {
    // Its file is named in lower case: the platform's name finds it all the same.
    WinModule::SetLibrarySearchFolders({KV_TEST_THEME_LACKING_DIR});
    HMODULE library = LoadLibraryExW(L"UXTHEME.DLL", 0, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(library, nullptr);
    EXPECT_NE(GetProcAddress(library, "DrawThemeText"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "GetThemeBackgroundContentRect"), nullptr);
    EXPECT_TRUE(FreeLibrary(library));
}

} // namespace
