// The properties panel over the language library's dialog 101, the module's message box with scripted
// answers, and the language library found beside the module whatever the working directory.
#include "DesignModuleFixture.h"

#include "design_module/CKvwLangResource.h"
#include "design_module/TSubactPropDlg.h"

#include "plugin_framework/TModuleValues.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinGdi.h"
#include "platform/win/utf16.h"

#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using PropertiesDialog = DesignModuleTest;

TEST_F(PropertiesDialog, ListsTheTemplatesAndPassesOnlyAChoiceInTheListToTheModule) {
    WriteConfiguration("templates");
    WriteTemplate("templates", "a.xml", "First");
    WriteTemplate("templates", "b.xml", "Second");
    Start();
    Send(KvwDesign::kStartup);
    auto dialog = TRefPtr<TSubactPropDlg>::Adopt(new TSubactPropDlg(m_host->MainWindow()));
    ASSERT_EQ(dialog->Create(TSubactPropDlg::kTemplate, m_host->MainWindow()), 1);
    EXPECT_EQ(dialog->GetChoice(), -1);
    // Around its controls the panel shows its own grey (242, 242, 242), not the button face.
    ASSERT_TRUE(UpdateWindow(dialog->GetHandle()));
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(WinGdiTest::ReadWindowPixels(dialog->GetHandle(), &width, &height, &pixels));
    EXPECT_EQ(pixels.back(), 0xFFF2F2F2u);
    ASSERT_TRUE(dialog->Initialise(Module()));
    HWND combo = dialog->GetDlgItem(TSubactPropDlg::kTemplateChoice);
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 2);
    wchar_t text[32] = {};
    SendMessageW(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L"Second");
    EXPECT_EQ(dialog->GetChoice(), 0);
    const auto choose = [&](int index) {
        dialog->SetChoice(index);
        dialog->SendMessage(WM_COMMAND, MAKEWPARAM(TSubactPropDlg::kTemplateChoice, CBN_SELENDOK),
                            reinterpret_cast<LPARAM>(combo));
    };
    m_log.calls.clear();
    choose(1);
    choose(-1); // none chosen: nothing asked
    ASSERT_EQ(m_log.calls.size(), 1u);
    EXPECT_EQ(m_log.calls[0], "layouts template " + m_moduleFolder.Path() + "/templates/b.xml");
    ASSERT_TRUE(dialog->Resize(300, 80));
    TWindow::TRect rect;
    ASSERT_TRUE(dialog->GetWindowRect(rect));
    EXPECT_EQ(rect.Size(), TWindow::TSize(300, 80));
    dialog->Destroy();
}

TEST_F(PropertiesDialog, AMissingTemplateMakesNoDialog) {
    Start();
    CKvwDialogResource missing(999, m_host->MainWindow());
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_EQ(missing.Create(999, m_host->MainWindow()), 0);
    TSubactPropDlg unmade(m_host->MainWindow());
    EXPECT_FALSE(unmade.Initialise(Module())) << "no control without the dialog";
}

TEST(DesignMessage, KindsGiveTheirStylesAndOnlyOkOrYesIsTrue) {
    const struct {
        int kind;
        int answer;
        bool result;
        UINT style;
    } cases[] = {
        {0, IDOK, true, 0x40010}, {1, IDOK, true, 0x40040},  {2, IDNO, false, 0x40024},
        {2, IDYES, true, 0x40024}, {5, IDCANCEL, false, 0x40000},
    };
    for (const auto& c : cases) {
        WinDialogTest::ResetMessageBoxes();
        WinDialogTest::QueueMessageBoxAnswer(c.answer);
        EXPECT_EQ(ShowDesignMessage(L"Text", c.kind, nullptr), c.result) << c.kind << " " << c.answer;
        const auto calls = WinDialogTest::MessageBoxCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].type, c.style) << c.kind;
        EXPECT_EQ(calls[0].caption, L"DesignModule");
    }
    WinDialogTest::ResetMessageBoxes();
}

TEST(DesignLanguage, TheLibraryBesideTheModuleIsLoadedNeverOneOfTheWorkingDirectory) {
    kvtest::TempFolder elsewhere;
    fs::create_directories(fs::path(elsewhere.Path()) / "Module");
    // A planted library of the right name with a text of its own.
    fs::copy_file(fs::path(KV_TEST_MODULE_DIR) / "DesignPlantedLang.so",
                  fs::path(elsewhere.Path()) / "Module" / "KvtDesignLang.so");
    const fs::path before = fs::current_path();
    fs::current_path(elsewhere.Path());
    CKvwLangResource language;
    EXPECT_EQ(language.Load(TString()), nullptr);
    const TString path = CKvwLangResource::PathBeside(GetThisModule());
    HMODULE loaded = language.Load(path);
    fs::current_path(before);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(fs::equivalent(fs::path(Utf::WideToUtf8(static_cast<const wchar_t*>(path))).parent_path(),
                               fs::path(KV_TEST_MODULE_DIR) / "Module"));
    TString name;
    ASSERT_TRUE(name.LoadString(loaded, KvwDesign::kNameString));
    EXPECT_EQ(Utf::WideToUtf8(static_cast<const wchar_t*>(name)), "Page design");
    EXPECT_EQ(CKvwLangResource::PathBeside(nullptr), TString());
}

} // namespace
