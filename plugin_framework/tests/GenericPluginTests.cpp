// The generic plug-in in this program's own copy of the framework, over a scripted host's services: its
// information record, bitmaps and command, the host selection with its limit, and group expansion.
#include "DialogTestSupport.h"

#include "plugin_framework/TGenericPlugin.h"
#include "plugin_framework/TResource.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinGdiObjects.h"
#include "testing/TempFolder.h"

#include "platform/win/WinKeyboard.h"

#include <algorithm>
#include <memory>
#include <string>

namespace {

using dialogtest::Once;

constexpr DWORD kFirstCommand = 0x5001;
constexpr DWORD kSecondCommand = 0x5002;
constexpr DWORD kPlainHigh = 0x00000001;
constexpr DWORD kContainerHigh = 0x02010000;
constexpr DWORD kOtherContainerHigh = 0x02020000;

// What the plug-in sent to the host, and the answer the host gives to the request for an up-to-date
// selection.
struct HostLine {
    std::vector<DWORD> requests;
    KvwResult updateAnswer = kKvwOk;
};
HostLine g_line;

KvwResult Answer(DWORD id, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord) {
    g_line.requests.push_back(id);
    return id == KvwPluginRequest::kUpdateSelection ? g_line.updateAnswer : kKvwOk;
}

// A dialog that remembers each selection it was opened on.
class SelectionDialog : public TGenPluginDlg {
public:
    LONG OnInit() override {
        opened.push_back(GetSelection() ? *GetSelection() : TNuidList());
        return TGenPluginDlg::OnInit();
    }
    std::vector<TNuidList> opened;
};

class TestPlugin : public TGenericPlugin {
public:
    TString GetName() override { return L"Générique"; }
    TString GetLanguageDllName() override { return L"DialogTestLang.so"; }
    WORD GetDialogTemplateId() override { return dialogtest::kControlsDialog; }
    void GetCommandList(std::vector<DWORD>& commands) override { commands = {kFirstCommand, kSecondCommand}; }
    KvwResult Initialize(KvwHostCallback callback, IKvwHost* host) override {
        const KvwResult result = TGenericPlugin::Initialize(callback, host);
        if (result == kKvwOk) {
            m_dialog = TRefPtr<TGenPluginDlg>::Adopt(new SelectionDialog);
            InitDialogResource();
        }
        return result;
    }
    SelectionDialog* Dialog() const { return static_cast<SelectionDialog*>(GetDialog()); }
    void SetLimit(DWORD limit) { m_selectionLimit = limit; }
};

KvwItemId Plain(DWORD n) {
    return KvwMakeItemId(n, kPlainHigh);
}
KvwItemId Container(DWORD n, DWORD high = kContainerHigh) {
    return KvwMakeItemId(n, high);
}

TNuidList Items(DWORD count, DWORD first = 1) {
    TNuidList items;
    for (DWORD i = 0; i < count; ++i)
        items.push_back(Plain(first + i));
    return items;
}

class GenericPluginTest : public dialogtest::DialogFixture {
protected:
    void SetUp() override {
        dialogtest::DialogFixture::SetUp();
        g_line = HostLine{};
        m_plugin = std::make_unique<TestPlugin>();
        ASSERT_EQ(m_plugin->Initialize(&Answer, &m_host), kKvwOk);
        ASSERT_NE(m_plugin->Dialog(), nullptr);
    }
    void TearDown() override {
        m_plugin->Close();
        EXPECT_EQ(m_plugin->GetDialog(), nullptr) << "Close deletes the dialog";
        m_plugin.reset();
        dialogtest::DialogFixture::TearDown();
    }
    // An item the host describes, with the source subtype and members given.
    void Describe(KvwItemId id, DWORD subtype = 0, const TNuidList& members = {}) {
        CHostItemRecord item;
        item.id = id;
        item.source.subtype = subtype;
        item.data.members = members;
        m_host.AddItem(item);
    }
    KvwResult Command() {
        return m_plugin->OnMessage(KvwHostMessage::kCommand, kFirstCommand, 0, 0, 0, 0, 0, 0, 0);
    }
    // The command with a step that ends its dialog with OK; how many dialogs it opened.
    std::size_t CommandAcceptingTheDialog() {
        const std::size_t before = m_plugin->Dialog()->opened.size();
        const DWORD steps = static_cast<DWORD>(WinDialogTest::PendingModalSteps());
        Once([](HWND) { WinUserTest::InjectKey(nullptr, VK_RETURN); });
        EXPECT_EQ(Command(), kKvwHandled);
        const std::size_t opened = m_plugin->Dialog()->opened.size() - before;
        // A step that no dialog ran is not left for the next test.
        if (WinDialogTest::PendingModalSteps() > steps)
            WinDialogTest::ClearModalSteps();
        return opened;
    }

    CScriptedHost m_host;
    std::unique_ptr<TestPlugin> m_plugin;
};

TEST_F(GenericPluginTest, TheInformationRecordNamesThePluginAndEachCommand) {
    CKvwModuleInformation record;
    record.name = "left over";
    record.commands.resize(5);
    record.reserved = 77;
    EXPECT_EQ(m_plugin->OnMessage(KvwHostMessage::kInformation, 0, 0, reinterpret_cast<KvwWord>(&record), 0,
                                  0, 0, 0, 0),
              kKvwOk);
    EXPECT_EQ(record.componentKind, 0x2001u);
    EXPECT_EQ(record.one, 1u);
    EXPECT_EQ(record.interfaceVersion, 0x10000000u);
    EXPECT_EQ(record.name, "G\xC3\xA9n\xC3\xA9rique") << "the name in narrow text";
    EXPECT_EQ(record.reserved, 0u) << "the record is made anew";
    ASSERT_EQ(record.commands.size(), 2u);
    const DWORD ids[] = {kFirstCommand, kSecondCommand};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(record.commands[i].commandId, ids[i]);
        EXPECT_EQ(record.commands[i].reserved, 0u);
        EXPECT_EQ(record.commands[i].name, record.name);
        EXPECT_EQ(record.commands[i].kind, 2u);
        EXPECT_EQ(record.commands[i].reserved2, 0u);
    }
    EXPECT_EQ(m_plugin->OnMessage(KvwHostMessage::kInformation, 0, 0, 0, 0, 0, 0, 0, 0), kKvwInvalidArgument);
}

TEST_F(GenericPluginTest, BitmapsAreHandedOnlyForTheTwoKindsWithSecondWordZero) {
    const struct {
        KvwWord p1;
        KvwWord p2;
        bool table;
        KvwResult result;
        std::size_t entries;
    } cases[] = {
        {0x2001, 0, true, kKvwHandled, 4}, {0x2004, 0, true, kKvwHandled, 4},
        {0x2001, 1, true, kKvwOk, 0},      {0x2004, 3, true, kKvwOk, 0},
        {0x2002, 0, true, kKvwOk, 0},      {0x2001, 0, false, kKvwInvalidArgument, 0},
        {0x2001, 1, false, kKvwOk, 0},
    };
    for (const auto& c : cases) {
        CKvwBitmapTable table;
        const KvwWord p3 = c.table ? reinterpret_cast<KvwWord>(&table) : 0;
        EXPECT_EQ(m_plugin->OnMessage(KvwHostMessage::kButtonBitmaps, c.p1, c.p2, p3, 0, 0, 0, 0, 0),
                  c.result)
            << c.p1 << " " << c.p2;
        EXPECT_EQ(table.size(), c.entries);
        for (DWORD state : {1u, 2u, 3u, 0x100u}) {
            if (c.entries) {
                EXPECT_EQ(table[state].width, 32);
                EXPECT_EQ(table[state].height, 32);
                EXPECT_EQ(table[state].bitmap, nullptr) << "this plug-in names no bitmap resources";
            }
        }
    }
}

TEST_F(GenericPluginTest, TheCommandOpensTheDialogModallyOnTheSelectionOverTheMainWindow) {
    TWindow owner;
    ASSERT_TRUE(owner.Create(L"PluginOwnerWnd", WS_VISIBLE, TWindow::TRect(0, 0, 200, 100), nullptr));
    SetThreadMainWindow(owner.GetHandle());
    const TNuidList selection = {Plain(1), Plain(2), Plain(3)};
    m_host.Browse().SetSelectedItems(selection);
    m_host.Browse().SetCurrentGroup(Container(40, 0x02020000));
    bool ownerDisabled = false;
    Once([&](HWND dialog) {
        ownerDisabled = !owner.IsEnabled();
        EXPECT_EQ(GetDlgItem(dialog, IDOK) != nullptr, true);
        WinUserTest::InjectKey(nullptr, VK_RETURN);
    });
    EXPECT_EQ(Command(), kKvwHandled);
    ASSERT_EQ(m_plugin->Dialog()->opened.size(), 1u);
    EXPECT_EQ(m_plugin->Dialog()->opened[0], selection);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(owner.IsEnabled());
    EXPECT_EQ(m_plugin->GetCurrentGroupId(), Container(40, 0x02020000)) << "read from the browse service";
    EXPECT_EQ(g_line.requests, std::vector<DWORD>{KvwPluginRequest::kUpdateSelection});
    SetThreadMainWindow(nullptr);
    owner.Destroy();
}

TEST_F(GenericPluginTest, TheSelectionLimitCountsPositionsInTheHostsList) {
    const DWORD skipped = TGenericPlugin::kSkippedSubtype;
    const struct {
        const char* what;
        DWORD limit;
        TNuidList items;
        std::vector<KvwItemId> designPages;
        KvwResult result;
        std::size_t kept;
        bool message;
    } cases[] = {
        {"as many as the limit", 500, Items(500), {}, kKvwOk, 500, false},
        {"one more than the limit", 500, Items(501), {}, kKvwNothingToWorkOn, 0, true},
        {"no limit", 0xFFFFFFFF, Items(600), {}, kKvwOk, 600, false},
        {"design pages left out", 3, Items(3), {Plain(2)}, kKvwOk, 2, false},
        // Two design pages first: the third item kept stands at position 3 of the host's list.
        {"design pages still count", 3, Items(4), {Plain(1), Plain(2)}, kKvwNothingToWorkOn, 0, true},
        {"only design pages", 3, Items(2), {Plain(1), Plain(2)}, kKvwNothingToWorkOn, 0, false},
    };
    for (const auto& c : cases) {
        WinDialogTest::ResetMessageBoxes();
        m_plugin->SetLimit(c.limit);
        for (KvwItemId item : c.items) {
            const bool page =
                std::find(c.designPages.begin(), c.designPages.end(), item) != c.designPages.end();
            Describe(item, page ? skipped : 0);
        }
        m_host.Browse().SetSelectedItems(c.items);
        TNuidList list = {Plain(999)};
        EXPECT_EQ(m_plugin->GetSelection(list, true), c.result) << c.what;
        EXPECT_EQ(list.size(), c.kept) << c.what;
        const auto boxes = WinDialogTest::MessageBoxCalls();
        ASSERT_EQ(boxes.size(), c.message ? 1u : 0u) << c.what;
        if (c.message) {
            EXPECT_EQ(boxes[0].text, L"More than " + std::to_wstring(c.limit) + L" pictures are selected.");
            EXPECT_EQ(boxes[0].caption, L"Framework tests");
            EXPECT_EQ(boxes[0].type, MB_TOPMOST | MB_ICONERROR);
        }
        EXPECT_EQ(CommandAcceptingTheDialog(), c.result == kKvwOk ? 1u : 0u) << c.what;
    }
    // Without skipping, design pages are kept.
    m_plugin->SetLimit(500);
    TNuidList list;
    EXPECT_EQ(m_plugin->GetSelection(list, false), kKvwOk);
    EXPECT_EQ(list, Items(2));
}

TEST_F(GenericPluginTest, TheGroupIsReadWhenNothingIsSelectedAndARefusedSelectionOpensNothing) {
    const struct {
        const char* what;
        TNuidList selected;
        KvwResult selectedResult;
        TNuidList group;
        KvwResult updateAnswer;
        KvwResult result;
        TNuidList expected;
    } cases[] = {
        {"the selection", Items(2), kKvwOk, Items(3, 10), kKvwOk, kKvwOk, Items(2)},
        {"an empty selection", {}, kKvwOk, Items(3, 10), kKvwOk, kKvwOk, Items(3, 10)},
        {"a refused selection", Items(2), kKvwNothingToWorkOn, Items(3, 10), kKvwOk, kKvwOk, Items(3, 10)},
        {"nothing anywhere", {}, kKvwOk, {}, kKvwOk, kKvwNothingToWorkOn, {}},
        {"the update refused", {}, kKvwOk, Items(1), kKvwNothingToWorkOn, kKvwNothingToWorkOn, {}},
        {"the update answered with a failure word",
         Items(2),
         kKvwOk,
         {},
         0x10000095,
         kKvwNothingToWorkOn,
         {}},
    };
    for (const auto& c : cases) {
        m_host.Browse().SetSelectedItems(c.selected, c.selectedResult);
        m_host.Browse().SetGroupItems(c.group);
        g_line.updateAnswer = c.updateAnswer;
        TNuidList list;
        EXPECT_EQ(m_plugin->GetSelection(list, true), c.result) << c.what;
        EXPECT_EQ(list, c.expected) << c.what;
        EXPECT_EQ(CommandAcceptingTheDialog(), c.result == kKvwOk ? 1u : 0u) << c.what;
    }
    EXPECT_TRUE(WinDialogTest::MessageBoxCalls().empty());

    // An uninitialised plug-in has no browse service.
    TestPlugin bare;
    TNuidList list = {Plain(1)};
    EXPECT_EQ(bare.GetSelection(list, true), kKvwInvalidArgument);
    EXPECT_TRUE(list.empty());
}

TEST_F(GenericPluginTest, ATextOfTheLanguageLibraryIsFormattedOnlyWhenItTakesOneNumber) {
    kvtest::TempFolder folder;
    const struct {
        const char* text;
        const wchar_t* shown;
    } cases[] = {
        {"Over %d!", L"Over 2!"},
        {"%05d items, 100%% too many", L"00002 items, 100% too many"},
        {"Over %s!", L"Over %s!"},
        {"%d and %d", L"%d and %d"},
        {"%n", L"%n"},
        {"No number", L"No number"},
        {"Ends in %", L"Ends in %"},
    };
    for (const auto& c : cases) {
        const std::string manifest = folder.Write("Texts.kvrc", std::string("string 1084 ") + c.text + "\n");
        HMODULE texts = LoadLibraryExA(manifest.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(texts, nullptr);
        const HINSTANCE previous = TResource::Instance()->GetModule();
        TResource::Instance()->SetModule(texts);
        WinDialogTest::ResetMessageBoxes();
        m_plugin->SetLimit(2);
        m_host.Browse().SetSelectedItems(Items(3));
        TNuidList list;
        EXPECT_EQ(m_plugin->GetSelection(list, false), kKvwNothingToWorkOn);
        const auto boxes = WinDialogTest::MessageBoxCalls();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.shown) << c.text;
        TResource::Instance()->ForgetModule(texts);
        TResource::Instance()->SetModule(previous);
        FreeLibrary(texts);
    }
}

TEST_F(GenericPluginTest, GroupsExpandDepthFirstAndAContainerOnItsOwnPathIsSkipped) {
    // A, C{B1, B2}, D under T.
    Describe(Container(1), 0, {Plain(10), Container(2), Plain(13)});
    Describe(Container(2), 0, {Plain(11), Plain(12)});
    // A container that lists itself, and two that list each other.
    Describe(Container(3), 0, {Plain(20), Container(3), Plain(21)});
    Describe(Container(4), 0, {Plain(30), Container(5)});
    Describe(Container(5), 0, {Plain(31), Container(4), Plain(32)});
    // One container under two parents, one of the second kind of container bits.
    Describe(Container(6), 0, {Container(7), Container(8, kOtherContainerHigh)});
    Describe(Container(7), 0, {Container(9)});
    Describe(Container(8, kOtherContainerHigh), 0, {Container(9)});
    Describe(Container(9), 0, {Plain(40), Plain(41)});
    // A member the host does not describe, and an empty container.
    Describe(Container(10), 0, {Container(11), Container(12), Plain(50)});
    Describe(Container(12));

    const struct {
        KvwItemId item;
        TNuidList expected;
    } cases[] = {
        {Container(1), {Plain(10), Plain(11), Plain(12), Plain(13)}},
        {Container(3), {Plain(20), Plain(21)}},
        {Container(4), {Plain(30), Plain(31), Plain(32)}},
        {Container(6), {Plain(40), Plain(41), Plain(40), Plain(41)}},
        {Container(10), {Plain(50)}},
        {Plain(10), {}},
        {Container(99), {}},
    };
    for (const auto& c : cases) {
        TNuidList list = {Plain(1)};
        m_plugin->ExpandGroupItems(c.item, list);
        TNuidList expected = {Plain(1)};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(list, expected) << "item " << KvwItemIdLow(c.item) << ": the list is not cleared first";
    }
}

TEST_F(GenericPluginTest, ExpansionStopsBelowSixtyFourLevelsOfContainers) {
    // Container k holds its plain item and container k + 1, a hundred deep.
    constexpr DWORD kLevels = 100;
    for (DWORD k = 1; k <= kLevels; ++k)
        Describe(Container(100 + k), 0, {Plain(k), Container(100 + k + 1)});
    TNuidList list;
    m_plugin->ExpandGroupItems(Container(101), list);
    EXPECT_EQ(list, Items(TGenericPlugin::kMaxGroupDepth));
}

} // namespace
