// The mail plug-in as the host sees it: KvtMail.qw7 loaded through its exports from a folder of its own
// with its language library and configuration file, and, in this program, its forwarding of the host's
// progress to the dialog.
#include "mail_plugin/TMailPlugin.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinBitmaps.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinKeyboard.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr DWORD kDeadline = 10000;

std::uint32_t FirstPixel(HBITMAP bitmap) {
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    if (!WinGdiTest::ReadBitmapPixels(bitmap, &width, &height, &pixels) || pixels.empty())
        return 0;
    return pixels[0];
}

class MailModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinDialogTest::ResetMessageBoxes();
        m_host = std::make_unique<CScriptedHost>();
    }
    void TearDown() override {
        WinDialogTest::ClearModalSteps();
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        WinDialogTest::ResetMessageBoxes();
        m_host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }

    // The module and its language library copied into a folder of their own, with the configuration
    // file's text beside them (none for an empty text).
    std::size_t Start(const std::string& configuration) {
        for (const char* file : {"KvtMail.qw7", "KvtEmailLang.so"})
            fs::copy_file(std::string(KV_MAIL_MODULE_DIR) + "/" + file, m_install.File(file));
        if (!configuration.empty())
            m_install.Write("MailPluginCfg.xml", configuration);
        const std::size_t module = m_host->Load(m_install.File("KvtMail.qw7"));
        EXPECT_NE(module, CScriptedHost::kNoModule) << m_host->LastError();
        if (module != CScriptedHost::kNoModule) {
            EXPECT_EQ(m_host->Initialize(module), kKvwOk);
        }
        return module;
    }
    void Select(DWORD count) {
        KvwItemIdList ids;
        for (DWORD i = 1; i <= count; ++i) {
            CHostItemRecord item;
            item.id = KvwMakeItemId(i, 1);
            item.source.width = 400;
            item.source.height = 300;
            m_host->AddItem(item);
            ids.push_back(item.id);
        }
        m_host->Browse().SetSelectedItems(ids);
    }
    // The text of the box the mail command shows, or empty when it shows none.
    std::wstring CommandBox(std::size_t module) {
        WinDialogTest::ResetMessageBoxes();
        EXPECT_EQ(m_host->Send(module, KvwHostMessage::kCommand, TMailPlugin::kMailCommand, 0), kKvwHandled);
        const auto boxes = WinDialogTest::MessageBoxCalls();
        return boxes.empty() ? std::wstring() : boxes[0].text;
    }

    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_install;
    std::unique_ptr<CScriptedHost> m_host;
};

TEST_F(MailModuleTest, TheHostReadsTheMailPluginsRecordAndButton) {
    const std::size_t module = Start("");
    ASSERT_NE(module, CScriptedHost::kNoModule);
    DWORD kind = 0, version = 0;
    ASSERT_EQ(m_host->GetInformation(module, &kind, &version), kKvwOk);
    EXPECT_EQ(kind, 0x2001u);
    CKvwModuleInformation information;
    ASSERT_EQ(m_host->ReadInformation(module, information), kKvwOk);
    EXPECT_EQ(information.name, "E-mail");
    ASSERT_EQ(information.commands.size(), 1u);
    EXPECT_EQ(information.commands[0].commandId, 0x2004u);

    // The four bitmaps of the plug-in's own file: the states 1, 2, 3 and 0x100 show 1016, 1017, 1018, 1015.
    CKvwBitmapTable table;
    ASSERT_EQ(m_host->ReadButtonBitmaps(module, 0x2004, 0, table), kKvwHandled);
    const struct {
        DWORD state;
        std::uint32_t pixel;
    } states[] = {{1, 0xFF3C6EC8}, {2, 0xFF5A96E6}, {3, 0xFF96A0AA}, {0x100, 0xFF283C78}};
    ASSERT_EQ(table.size(), 4u);
    for (const auto& s : states) {
        EXPECT_EQ(table[s.state].width, 32);
        EXPECT_EQ(FirstPixel(table[s.state].bitmap), s.pixel) << s.state;
    }
    m_host->Close(module);
}

TEST_F(MailModuleTest, TheSelectionLimitComesFromTheConfigurationBesideTheModule) {
    const std::size_t module =
        Start("<?xml version=\"1.0\"?><config><selection><max_limit>3</max_limit></selection></config>");
    ASSERT_NE(module, CScriptedHost::kNoModule);
    Select(4);
    EXPECT_EQ(CommandBox(module), L"The e-mail plug-in takes at most 3 pictures.");
    EXPECT_EQ(WinDialogTest::MessageBoxCalls().at(0).caption, L"E-mail");

    // Within the limit the (still empty) mail dialog opens on the selection.
    Select(3);
    std::wstring caption;
    WinDialogTest::RunInModalLoop([&](HWND dialog) {
        wchar_t text[64] = {};
        GetWindowTextW(dialog, text, 64);
        caption = text;
        EXPECT_TRUE(WinUserTest::InjectKey(nullptr, VK_ESCAPE));
        return true;
    });
    EXPECT_EQ(CommandBox(module), L"");
    EXPECT_EQ(caption, L"E-mail");
    EXPECT_EQ(WinDialogTest::PendingModalSteps(), 0u);
    m_host->Close(module);
}

TEST_F(MailModuleTest, WithoutALimitInTheFileOrWithoutTheFileTheLimitIsFiveHundred) {
    for (const std::string& configuration :
         {std::string("<?xml version=\"1.0\"?><config/>"), std::string()}) {
        const std::size_t module = Start(configuration);
        ASSERT_NE(module, CScriptedHost::kNoModule);
        Select(501);
        EXPECT_EQ(CommandBox(module), L"The e-mail plug-in takes at most 500 pictures.");
        m_host->Close(module);
        m_host->Unload(module);
        fs::remove_all(m_install.Path());
        fs::create_directory(m_install.Path());
    }
}

// In this program: a mail plug-in whose dialog notes the progress it is given.
std::vector<std::pair<DWORD, DWORD>> g_progress;

class CNotingMailDlg : public CMailDlg {
public:
    void OnHostProgress(DWORD position, DWORD range) override { g_progress.emplace_back(position, range); }
};

class TNotingMailPlugin : public TMailPlugin {
protected:
    CMailDlg* CreateMailDialog() override { return new CNotingMailDlg; }
};

TEST(MailPluginProgress, OnlyProgressForTheDialogReachesIt) {
    KvwClose();
    KvwSetModuleFactory([]() -> TBasicQWComp* { return new TNotingMailPlugin; });
    CScriptedHost host;
    const std::size_t module = host.Add(
        CHostModule::FromExports("this program", &KvwInitialize, &KvwMessage, &KvwGetInformation, &KvwClose));
    ASSERT_NE(module, CScriptedHost::kNoModule);
    ASSERT_EQ(host.Initialize(module), kKvwOk);
    auto* plugin = static_cast<TMailPlugin*>(KvwGetModuleObject());
    ASSERT_NE(plugin, nullptr);
    ASSERT_NE(plugin->GetDialog(), nullptr);
    EXPECT_EQ(plugin->GetSelectionLimit(), 500u) << "no configuration beside this program";

    g_progress.clear();
    DWORD words[2] = {37, 100};
    const KvwWord data = reinterpret_cast<KvwWord>(words);
    const struct {
        KvwWord p4, p5;
        bool forwarded;
    } cases[] = {{2, 2, true}, {2, 1, false}, {1, 2, false}, {0, 0, false}, {2, 3, false}, {2, 2, true}};
    std::size_t expected = 0;
    for (const auto& c : cases) {
        words[0] += 1;
        EXPECT_EQ(host.Send(module, KvwHostMessage::kProgress, 7, 0, data, c.p4, c.p5), kKvwOk);
        if (c.forwarded) {
            ++expected;
            ASSERT_EQ(g_progress.size(), expected);
            EXPECT_EQ(g_progress.back(), std::make_pair(words[0], DWORD{100}));
        }
        EXPECT_EQ(g_progress.size(), expected) << c.p4 << "," << c.p5;
    }
    EXPECT_EQ(host.Send(module, KvwHostMessage::kProgress, 7, 0, 0, 2, 2), kKvwOk)
        << "no words, nothing read";
    EXPECT_EQ(g_progress.size(), expected);
    host.Close(module);
    WinUserTest::PumpPending();
}

} // namespace
