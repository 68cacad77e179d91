// The generic test plug-ins through their four exports: the host reads their records and bitmaps, runs
// their commands on its selection, and the user answers their dialogs with keys and clicks.
#include "HostFixture.h"
#include "modules/TestPluginMessages.h"

#include "platform/win/WinBitmaps.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinGdiObjects.h"
#include "platform/win/WinInput.h"
#include "platform/win/WinKeyboard.h"

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDeadline = 10000;

std::wstring TextOf(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    return text;
}

// The colour of a bitmap's first pixel, or 0 for no bitmap.
std::uint32_t FirstPixel(HBITMAP bitmap) {
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    if (!WinGdiTest::ReadBitmapPixels(bitmap, &width, &height, &pixels) || pixels.empty())
        return 0;
    return pixels[0];
}

// What the user saw of a plug-in's dialog before pressing Enter in it.
struct Seen {
    HWND dialog = nullptr;
    std::wstring caption;
    std::wstring count;
    bool ownerEnabled = true;
};

class GenericPluginEndToEnd : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinDialogTest::ResetMessageBoxes();
        m_objectsBefore = WinGdiTest::LiveObjects();
        m_windowsBefore = WinUserTest::LiveWindows();
        m_loopsPastDeadline = WinDialogTest::ModalLoopsPastDeadline();
    }
    void TearDown() override {
        EXPECT_EQ(WinDialogTest::PendingModalSteps(), 0u);
        EXPECT_EQ(WinDialogTest::ModalLoopsPastDeadline(), m_loopsPastDeadline);
        WinDialogTest::ClearModalSteps();
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        WinDialogTest::ResetMessageBoxes();
        HostTest::TearDown();
    }

    // The host holds the items and selects them.
    void Select(DWORD count) {
        KvwItemIdList ids;
        for (DWORD i = 1; i <= count; ++i) {
            m_host->AddItem(Item(KvwMakeItemId(i, 1)));
            ids.push_back(KvwMakeItemId(i, 1));
        }
        m_host->Browse().SetSelectedItems(ids);
    }
    // Runs the plug-in's dialog command; once its dialog shows, records it and presses Enter.
    KvwResult RunDialog(std::size_t module, Seen& seen) {
        WinDialogTest::RunInModalLoop([&](HWND dialog) {
            seen.dialog = dialog;
            seen.caption = TextOf(dialog);
            seen.count = TextOf(GetDlgItem(dialog, 1000));
            seen.ownerEnabled = IsWindowEnabled(m_host->MainWindow()) == TRUE;
            EXPECT_TRUE(WinUserTest::InjectKey(nullptr, VK_RETURN));
            return true;
        });
        return m_host->Send(module, KvwHostMessage::kCommand, TestPlugin::kOpenDialog, 0);
    }
    HWND ProgressWindow(std::size_t module) {
        HWND window = nullptr;
        EXPECT_EQ(m_host->Send(module, TestPlugin::kProgressWindow, 0, 0, reinterpret_cast<KvwWord>(&window)),
                  kKvwOk);
        return window;
    }

    DWORD m_objectsBefore = 0;
    DWORD m_windowsBefore = 0;
    DWORD m_loopsPastDeadline = 0;
};

TEST_F(GenericPluginEndToEnd, TheHostReadsThePluginRunsItsDialogOnTheSelectionAndClosesIt) {
    const std::size_t plugin = Start("TestPluginA.qw7");
    ASSERT_NE(plugin, CScriptedHost::kNoModule);

    CKvwModuleInformation information;
    ASSERT_EQ(m_host->ReadInformation(plugin, information), kKvwOk);
    EXPECT_EQ(information.componentKind, 0x2001u);
    EXPECT_EQ(information.name, "Test plug-in A");
    ASSERT_EQ(information.commands.size(), 2u);
    EXPECT_EQ(information.commands[0].commandId, TestPlugin::kOpenDialog);
    EXPECT_EQ(information.commands[1].commandId, TestPlugin::kShowProgress);
    EXPECT_EQ(information.commands[1].name, "Test plug-in A");
    EXPECT_EQ(m_host->Send(plugin, KvwHostMessage::kInformation), kKvwInvalidArgument) << "no record";

    // The button's bitmaps come from the plug-in's own file, one colour per state; the language library's
    // bitmaps of the same ids are yellow.
    CKvwBitmapTable table;
    ASSERT_EQ(m_host->ReadButtonBitmaps(plugin, 0x2001, 0, table), kKvwHandled);
    const struct {
        DWORD state;
        std::uint32_t pixel;
    } states[] = {{1, 0xFFC80000}, {2, 0xFF00C800}, {3, 0xFF0000C8}, {0x100, 0xFF646464}};
    ASSERT_EQ(table.size(), 4u);
    for (const auto& s : states) {
        EXPECT_EQ(table[s.state].width, 32);
        EXPECT_EQ(table[s.state].height, 32);
        EXPECT_EQ(FirstPixel(table[s.state].bitmap), s.pixel) << "state " << s.state;
    }
    CKvwBitmapTable again;
    ASSERT_EQ(m_host->ReadButtonBitmaps(plugin, 0x2004, 0, again), kKvwHandled);
    EXPECT_EQ(again[1].bitmap, table[1].bitmap) << "the bitmaps the host holds stay the plug-in's";
    CKvwBitmapTable none;
    EXPECT_EQ(m_host->ReadButtonBitmaps(plugin, 0x2001, 1, none), kKvwOk);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(WinGdiTest::LiveObjects(), m_objectsBefore + 4);

    Select(3);
    Seen seen;
    EXPECT_EQ(RunDialog(plugin, seen), kKvwHandled);
    ASSERT_NE(seen.dialog, nullptr) << "the dialog opened";
    EXPECT_EQ(seen.caption, L"Dialog of plug-in A");
    EXPECT_EQ(seen.count, L"3 pictures");
    EXPECT_FALSE(seen.ownerEnabled) << "modal over the host's main window";
    EXPECT_FALSE(IsWindow(seen.dialog)) << "Enter ended it";
    EXPECT_TRUE(IsWindowEnabled(m_host->MainWindow()));
    EXPECT_EQ(m_host->RequestsOf(KvwPluginRequest::kUpdateSelection).size(), 1u);

    // A selection the host refuses opens nothing.
    m_host->SetAnswer(KvwPluginRequest::kUpdateSelection, kKvwNothingToWorkOn);
    EXPECT_EQ(m_host->Send(plugin, KvwHostMessage::kCommand, TestPlugin::kOpenDialog, 0), kKvwHandled);

    m_host->Close(plugin);
    EXPECT_EQ(WinGdiTest::LiveObjects(), m_objectsBefore) << "the plug-in deleted its bitmaps";
    EXPECT_EQ(WinUserTest::LiveWindows(), m_windowsBefore);
}

TEST_F(GenericPluginEndToEnd, TheProgressDialogShowsItsValuesAndTheCancelReachesThePlugin) {
    const std::size_t plugin = Start("TestPluginA.qw7");
    ASSERT_NE(plugin, CScriptedHost::kNoModule);
    EXPECT_EQ(m_host->Send(plugin, KvwHostMessage::kCommand, TestPlugin::kShowProgress, 0), kKvwHandled);
    HWND progress = ProgressWindow(plugin);
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(IsWindowVisible(progress));
    EXPECT_TRUE(IsWindowEnabled(m_host->MainWindow())) << "modeless";
    EXPECT_EQ(TextOf(progress), L"Working");
    EXPECT_EQ(TextOf(GetDlgItem(progress, 1027)), L"Plug-in A at work");
    EXPECT_EQ(TextOf(GetDlgItem(progress, 1028)), L"Picture 3 of 5");
    EXPECT_EQ(SendMessageW(GetDlgItem(progress, 1011), PBM_GETPOS, 0, 0), 3);
    EXPECT_EQ(SendMessageW(GetDlgItem(progress, 1011), PBM_GETRANGE, FALSE, 0), 5);
    EXPECT_EQ(SendMessageW(GetDlgItem(progress, 1009), PBM_GETPOS, 0, 0), 7);
    EXPECT_EQ(SendMessageW(GetDlgItem(progress, 1009), PBM_GETRANGE, FALSE, 0), 10);

    // The user clicks Cancel; the plug-in hears of it and closes the dialog.
    HWND cancel = GetDlgItem(progress, IDCANCEL);
    ASSERT_TRUE(WinUserTest::InjectMouse(cancel, WM_LBUTTONDOWN, 5, 5, MK_LBUTTON));
    ASSERT_TRUE(WinUserTest::InjectMouse(cancel, WM_LBUTTONUP, 5, 5));
    EXPECT_TRUE(WinUserTest::PumpUntil([&] { return !IsWindow(progress); }, kDeadline));
    EXPECT_EQ(ProgressWindow(plugin), nullptr);

    // A progress dialog still open when the host closes the plug-in goes with it.
    EXPECT_EQ(m_host->Send(plugin, KvwHostMessage::kCommand, TestPlugin::kShowProgress, 0), kKvwHandled);
    progress = ProgressWindow(plugin);
    ASSERT_NE(progress, nullptr);
    m_host->Close(plugin);
    EXPECT_FALSE(IsWindow(progress));
    EXPECT_EQ(WinUserTest::LiveWindows(), m_windowsBefore);
}

TEST_F(GenericPluginEndToEnd, TwoPluginsLoadedAtOnceKeepTheirOwnDialogsAndCaptions) {
    const std::size_t a = Start("TestPluginA.qw7");
    const std::size_t b = Start("TestPluginB.qw7");
    ASSERT_NE(a, CScriptedHost::kNoModule);
    ASSERT_NE(b, CScriptedHost::kNoModule);

    Select(2);
    Seen seenA, seenB;
    EXPECT_EQ(RunDialog(b, seenB), kKvwHandled);
    EXPECT_EQ(RunDialog(a, seenA), kKvwHandled);
    EXPECT_EQ(seenA.caption, L"Dialog of plug-in A");
    EXPECT_EQ(seenB.caption, L"Dialog of plug-in B");
    EXPECT_EQ(seenA.count, L"2 pictures");
    EXPECT_EQ(seenB.count, L"2 pictures");

    // Over the limit of 500, each tells the user in its own words and under its own caption.
    Select(501);
    for (std::size_t module : {a, b})
        EXPECT_EQ(m_host->Send(module, KvwHostMessage::kCommand, TestPlugin::kOpenDialog, 0), kKvwHandled);
    const auto boxes = WinDialogTest::MessageBoxCalls();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"Plug-in A takes at most 500 pictures.");
    EXPECT_EQ(boxes[0].caption, L"Test plug-in A");
    EXPECT_EQ(boxes[0].owner, m_host->MainWindow());
    EXPECT_EQ(boxes[1].text, L"Plug-in B takes at most 500 pictures.");
    EXPECT_EQ(boxes[1].caption, L"Test plug-in B");

    // Closing one leaves the other working.
    m_host->Close(a);
    Select(4);
    Seen after;
    EXPECT_EQ(RunDialog(b, after), kKvwHandled);
    EXPECT_EQ(after.caption, L"Dialog of plug-in B");
    EXPECT_EQ(after.count, L"4 pictures");
    m_host->Close(b);
    EXPECT_EQ(WinGdiTest::LiveObjects(), m_objectsBefore);
}

} // namespace
