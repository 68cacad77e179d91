#include "platform/win/WinKernel.h"
#include "platform/win/WinMenus.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinResources.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kLibrary = std::string(KV_TEST_LIBRARY_DIR) + "/WinTestLib.so";

std::wstring TextAt(HMENU menu, int position) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(position), text, 64, MF_BYPOSITION);
    return text;
}

struct TemplateCase {
    const char* text;
    bool reads;
};

class MenuTemplateText : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(MenuTemplateText, ReadsOnlyWellFormedMenus) {
    WinMenuTemplate::Menu menu;
    std::string error;
    EXPECT_EQ(WinMenuTemplate::ParseMenu(GetParam().text, menu, error), GetParam().reads) << error;
    if (!GetParam().reads) {
        EXPECT_FALSE(error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MenuTemplateText,
    ::testing::Values(TemplateCase{"menu 1\nitem 2 Two\n", true},
                      TemplateCase{"# note\n\nmenu 1\r\npopup P\r\nend\r\n", true}, TemplateCase{"", false},
                      TemplateCase{"item 2 Two\n", false}, TemplateCase{"menu 0\n", false},
                      TemplateCase{"menu 70000\n", false}, TemplateCase{"menu 1\nmenu 2\n", false},
                      TemplateCase{"menu 1\npopup P\n", false}, TemplateCase{"menu 1\nend\n", false},
                      TemplateCase{"menu 1\nitem x Two\n", false},
                      TemplateCase{"menu 1\nitem 65536 Two\n", false},
                      TemplateCase{"menu 1\nseparator now\n", false},
                      TemplateCase{"menu 1\nitem 2 bad\\q\n", false},
                      TemplateCase{"menu 1\nbutton 2 Two\n", false}));

TEST(MenuTemplate, NestingAndItemCountAreBounded) {
    std::string deep = "menu 1\n";
    for (std::size_t i = 0; i <= WinMenuTemplate::kMaxDepth; ++i)
        deep += "popup P\n";
    WinMenuTemplate::Menu menu;
    std::string error;
    EXPECT_FALSE(WinMenuTemplate::ParseMenu(deep, menu, error));
    std::string many = "menu 1\n";
    for (std::size_t i = 0; i <= WinMenuTemplate::kMaxItems; ++i)
        many += "separator\n";
    EXPECT_FALSE(WinMenuTemplate::ParseMenu(many, menu, error));
}

// A template of `popups` sub-menus, each inside the one before, with one item in the innermost.
std::string NestedMenu(std::size_t popups) {
    std::string text = "menu 1\n";
    for (std::size_t i = 0; i < popups; ++i)
        text += "popup Level " + std::to_string(i + 1) + "\n";
    text += "item 5 Deep\n";
    for (std::size_t i = 0; i < popups; ++i)
        text += "end\n";
    return text;
}

TEST(MenuTemplate, SubMenusNestAsDeepAsTheLimitAndTheDeepestCommandIsFound) {
    WinMenuTemplate::Menu menu;
    std::string error;
    ASSERT_TRUE(WinMenuTemplate::ParseMenu(NestedMenu(WinMenuTemplate::kMaxDepth), menu, error)) << error;
    const std::size_t live = WinMenuTest::LiveMenus();
    HMENU built = LoadMenuIndirect(menu);
    ASSERT_NE(built, nullptr);
    HMENU innermost = built;
    for (std::size_t level = 0; level < WinMenuTemplate::kMaxDepth && innermost; ++level)
        innermost = GetSubMenu(innermost, 0);
    ASSERT_NE(innermost, nullptr);
    EXPECT_EQ(GetMenuItemCount(innermost), 1);
    EXPECT_EQ(GetMenuItemID(innermost, 0), 5u);
    wchar_t text[16] = {};
    EXPECT_EQ(GetMenuStringW(built, 5, text, 16, 0), 4) << "the command is found from the top";
    EXPECT_STREQ(text, L"Deep");
    EXPECT_TRUE(DestroyMenu(built));
    EXPECT_EQ(WinMenuTest::LiveMenus(), live);
}

TEST(MenuTemplate, NestingBeyondTheLimitIsRefusedAtTheLineThatGoesTooDeep) {
    // The head is line 1 and the popups follow it, so the first one too many stands on line kMaxDepth + 2.
    const std::string tooDeep = std::to_string(WinMenuTemplate::kMaxDepth + 2) + ": ";
    for (std::size_t popups : {WinMenuTemplate::kMaxDepth + 1, std::size_t{200000}}) {
        WinMenuTemplate::Menu menu;
        std::string error;
        EXPECT_FALSE(WinMenuTemplate::ParseMenu(NestedMenu(popups), menu, error)) << popups;
        EXPECT_EQ(error.rfind(tooDeep, 0), 0u) << error;
    }
}

TEST(AcceleratorTemplate, ReadsModifiersKeysAndCommands) {
    WinMenuTemplate::AcceleratorTable table;
    std::string error;
    ASSERT_TRUE(WinMenuTemplate::ParseAccelerators(
        "accelerators 5\nkey CONTROL|ALT q 0x10\nkey NONE 0x70 2\n", table, error))
        << error;
    ASSERT_EQ(table.entries.size(), 2u);
    using namespace WinMenuTemplate;
    EXPECT_EQ(table.entries[0].flags, FVIRTKEY | FCONTROL | FALT);
    EXPECT_EQ(table.entries[0].key, 'Q');
    EXPECT_EQ(table.entries[0].command, 0x10);
    EXPECT_EQ(table.entries[1].flags, FVIRTKEY);
    EXPECT_EQ(table.entries[1].key, 0x70);
    for (const char* bad :
         {"key CONTROL S 1\n", "accelerators 5\nkey CTRL S 1\n", "accelerators 5\nkey CONTROL\n",
          "accelerators 5\nkey NONE S 1 2\n", "accelerators 5\nkey NONE ! 1\n"})
        EXPECT_FALSE(WinMenuTemplate::ParseAccelerators(bad, table, error)) << bad;
}

class LibraryMenus : public ::testing::Test {
protected:
    void SetUp() override {
        WinMenuTest::Reset();
        m_live = WinMenuTest::LiveMenus();
        m_module = LoadLibraryA(kLibrary.c_str());
        ASSERT_NE(m_module, nullptr);
    }
    void TearDown() override {
        if (m_module)
            FreeLibrary(m_module);
        EXPECT_EQ(WinMenuTest::LiveMenus(), m_live);
        WinMenuTest::Reset();
    }
    HMODULE m_module = nullptr;
    std::size_t m_live = 0;
};

TEST_F(LibraryMenus, TemplateBuildsItsItemsAndSubMenus) {
    HMENU menu = LoadMenuW(m_module, MAKEINTRESOURCEW(20));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuItemID(menu, 1), 9u);
    EXPECT_EQ(TextAt(menu, 0), L"&View");
    HMENU view = GetSubMenu(menu, 0);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(GetMenuItemCount(view), 4);
    EXPECT_EQ(GetMenuItemID(view, 0), 0x4030u);
    EXPECT_EQ(TextAt(view, 0), L"200 %");
    EXPECT_EQ(GetMenuItemID(view, 1), 0u);
    EXPECT_EQ(TextAt(view, 3), L"Fit\twindow");
    HMENU more = GetSubMenu(view, 2);
    ASSERT_EQ(GetMenuItemCount(more), 1);
    wchar_t deeper[16] = {};
    EXPECT_EQ(GetMenuStringW(menu, 7, deeper, 16, 0), 6);
    EXPECT_STREQ(deeper, L"Deeper");
    EXPECT_EQ(GetMenuStringW(menu, 7, nullptr, 0, 0), 6);
    wchar_t cut[4] = {};
    EXPECT_EQ(GetMenuStringW(menu, 7, cut, 4, 0), 3);
    EXPECT_STREQ(cut, L"Dee");

    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(IsMenu(menu));
    EXPECT_FALSE(IsMenu(view));
    EXPECT_EQ(GetMenuItemCount(view), -1);
}

TEST_F(LibraryMenus, MissingTemplatesGiveNoMenu) {
    EXPECT_EQ(LoadMenuW(m_module, MAKEINTRESOURCEW(99)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadMenuW(m_module, MAKEINTRESOURCEW(22)), nullptr); // an accelerator table's id
    EXPECT_EQ(LoadAcceleratorsW(m_module, MAKEINTRESOURCEW(20)), nullptr);
    EXPECT_EQ(LoadMenuW(m_module, nullptr), nullptr);
}

TEST_F(LibraryMenus, AcceleratorTableFromTheLibrary) {
    const std::size_t live = WinMenuTest::LiveAcceleratorTables();
    HACCEL table = LoadAcceleratorsW(m_module, MAKEINTRESOURCEW(22));
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(CopyAcceleratorTableW(table, nullptr, 0), 3);
    ACCEL entries[3] = {};
    ASSERT_EQ(CopyAcceleratorTableW(table, entries, 3), 3);
    using namespace WinMenuTemplate;
    EXPECT_EQ(entries[0].fVirt, FVIRTKEY | FCONTROL);
    EXPECT_EQ(entries[0].key, 'S');
    EXPECT_EQ(entries[0].cmd, 0x4001);
    EXPECT_EQ(entries[1].fVirt, FVIRTKEY | FCONTROL | FSHIFT);
    EXPECT_EQ(entries[1].key, 'Z');
    EXPECT_EQ(entries[2].key, 0x70);
    EXPECT_EQ(CopyAcceleratorTableW(table, entries, 1), 1);
    EXPECT_TRUE(DestroyAcceleratorTable(table));
    EXPECT_FALSE(DestroyAcceleratorTable(table));
    EXPECT_EQ(CopyAcceleratorTableW(table, nullptr, 0), 0);
    EXPECT_EQ(WinMenuTest::LiveAcceleratorTables(), live);
}

struct TrackCase {
    const char* name;
    UINT queued; // 0: nothing queued
    bool queue;
    UINT expected;
};

class TrackedPopup : public LibraryMenus, public ::testing::WithParamInterface<TrackCase> {};

TEST_P(TrackedPopup, ReturnsTheScriptedCommandOfItsItems) {
    HMENU menu = LoadMenuW(m_module, MAKEINTRESOURCEW(20));
    ASSERT_NE(menu, nullptr);
    HMENU view = GetSubMenu(menu, 0);
    if (GetParam().queue)
        WinMenuTest::QueueChoice(GetParam().queued);
    const UINT flags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_BOTTOMALIGN;
    EXPECT_EQ(static_cast<UINT>(TrackPopupMenu(view, flags, 30, 40, 0, nullptr, nullptr)),
              GetParam().expected);
    const auto calls = WinMenuTest::TrackCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].flags, flags);
    EXPECT_EQ(calls[0].x, 30);
    EXPECT_EQ(calls[0].y, 40);
    EXPECT_EQ(calls[0].chosen, GetParam().expected);
    EXPECT_EQ(calls[0].commands, (std::vector<UINT>{0x4030, 0, 0, 0x4034}));
    EXPECT_EQ(calls[0].texts[0], L"200 %");
    DestroyMenu(menu);
}

INSTANTIATE_TEST_SUITE_P(Choices, TrackedPopup,
                         ::testing::Values(TrackCase{"Dismissed", 0, false, 0},
                                           TrackCase{"Item", 0x4034, true, 0x4034},
                                           TrackCase{"InSubMenu", 7, true, 7},
                                           TrackCase{"NotAnItem", 9, true, 0}, TrackCase{"Zero", 0, true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Menus, BuiltByHandAndRefusedSubMenus) {
    const std::size_t live = WinMenuTest::LiveMenus();
    HMENU bar = CreateMenu();
    HMENU popup = CreatePopupMenu();
    ASSERT_TRUE(AppendMenuW(popup, MF_STRING, 5, L"Five"));
    ASSERT_TRUE(AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"Pop"));
    EXPECT_FALSE(AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"Again"));
    EXPECT_FALSE(AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(bar), L"Itself"));
    EXPECT_EQ(CheckMenuItem(bar, 5, MF_CHECKED), 0u);
    EXPECT_EQ(CheckMenuItem(bar, 5, 0), MF_CHECKED);
    EXPECT_EQ(CheckMenuItem(bar, 6, 0), static_cast<DWORD>(-1));
    EXPECT_EQ(TrackPopupMenu(nullptr, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 0);
    EXPECT_TRUE(DestroyMenu(bar));
    EXPECT_FALSE(DestroyMenu(popup));
    EXPECT_EQ(WinMenuTest::LiveMenus(), live);
    WinMenuTest::Reset();
}

} // namespace
