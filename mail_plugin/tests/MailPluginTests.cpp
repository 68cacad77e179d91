// The mail plug-in as the host sees it: KvtMail.qw7 loaded through its exports from a folder of its own
// with its language library and configuration file, and, in this program, its forwarding of the host's
// progress to the dialog.
#include "MailTestModule.h"

#include "mail_plugin/TMailPlugin.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinKeyboard.h"
#include "platform/win/WinUser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD kDeadline = 10000;

class MailModuleTest : public kvtest::PluginModuleTest {
protected:
    MailModuleTest() : PluginModuleTest(MailModuleFiles(), kDeadline) {}
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
    EXPECT_EQ(
        ButtonFaces(0x2004),
        (ButtonFaceTable{
            {1, {32, 0xFF3C6EC8}}, {2, {32, 0xFF5A96E6}}, {3, {32, 0xFF96A0AA}}, {0x100, {32, 0xFF283C78}}}));
}

TEST_F(MailModuleTest, TheSelectionLimitComesFromTheConfigurationBesideTheModule) {
    const std::size_t module =
        Start("<?xml version=\"1.0\"?><config><selection><max_limit>3</max_limit></selection></config>");
    ASSERT_NE(module, CScriptedHost::kNoModule);
    Select(4);
    EXPECT_EQ(Command(TMailPlugin::kMailCommand),
              std::vector<std::wstring>{L"The e-mail plug-in takes at most 3 pictures."});
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
    EXPECT_TRUE(Command(TMailPlugin::kMailCommand).empty());
    EXPECT_EQ(caption, L"E-mail");
    EXPECT_EQ(WinDialogTest::PendingModalSteps(), 0u);
}

TEST_F(MailModuleTest, WithoutALimitInTheFileOrWithoutTheFileTheLimitIsFiveHundred) {
    for (const std::string& configuration :
         {std::string("<?xml version=\"1.0\"?><config/>"), std::string()}) {
        const std::size_t module = Start(configuration);
        ASSERT_NE(module, CScriptedHost::kNoModule);
        Select(501);
        EXPECT_EQ(Command(TMailPlugin::kMailCommand),
                  std::vector<std::wstring>{L"The e-mail plug-in takes at most 500 pictures."});
        StartOver();
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
