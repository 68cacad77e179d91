// The caption and imprint settings dialog from the print language library's template over the machine's
// fonts (a DejaVu-only fontconfig set), and the caption line's description from its strings.
#include "print_plugin/CPrintDlg.h"
#include "print_plugin/TMetadataSettingsDlg.h"

#include "plugin_framework/TComboBoxCtrl.h"

#include "platform/win/WinColorDialog.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinFonts.h"
#include "platform/win/WinKeyboard.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinUser.h"
#include "platform/win/utf16.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Pinned before fontconfig first reads its configuration.
const bool g_fontsPinned = setenv("FONTCONFIG_FILE", KV_TEST_FONTS_CONF, 1) == 0;

constexpr DWORD kDeadline = 10000;

std::vector<std::wstring> Entries(TDialog& dialog, int id) {
    std::vector<std::wstring> texts;
    auto* list = dynamic_cast<TComboBoxCtrl*>(dialog.GetControl(id));
    for (LONG i = 0; list && i < list->GetCount(); ++i) {
        TString text;
        list->GetItemText(i, text);
        texts.emplace_back(text);
    }
    return texts;
}

LONG Selection(TDialog& dialog, int id) {
    auto* list = dynamic_cast<TComboBoxCtrl*>(dialog.GetControl(id));
    return list ? list->GetCurSel() : -2;
}

void Command(HWND dialog, int id, WORD code) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class MetadataSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(g_fontsPinned);
        m_language =
            LoadLibraryW(Utf::Utf8ToWide(std::string(KV_PRINT_MODULE_DIR) + "/KvtPrintLang.so").c_str());
        ASSERT_NE(m_language, nullptr);
        m_previous = TResource::Instance()->GetModule();
        TResource::Instance()->SetModule(m_language);
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinUserTest::ResetColorDialog();
    }
    void TearDown() override {
        WinDialogTest::ClearModalSteps();
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        WinUserTest::ResetColorDialog();
        WinGdiTest::UseInstalledFonts();
        TResource::Instance()->SetModule(m_previous);
        FreeLibrary(m_language);
    }
    // Runs the dialog over the record; the step looks at it and ends it with the key.
    LONG Run(TMetadataSettingsDlg& dialog, std::function<void(HWND)> look, WPARAM key) {
        dialog.SetResource(*TResource::Instance());
        WinDialogTest::RunInModalLoop([&, look, key](HWND window) {
            look(window);
            EXPECT_TRUE(WinUserTest::InjectKey(nullptr, key));
            return true;
        });
        return dialog.DoModal(CPrintDlg::kMetadataDialogTemplate, nullptr);
    }

    HMODULE m_language = nullptr;
    HINSTANCE m_previous = nullptr;
};

TEST_F(MetadataSettingsTest, FacesAreTheMachinesAndSizesRunFromAutoToTheMaximum) {
    TMetadataSettings record;
    record.captionFont.face = L"dejavu SERIF";
    record.captionFont.style = TFontInfo::kBold | TFontInfo::kItalic;
    record.captionFont.size = -1;
    record.imprintFont.face = L"No Such Face";
    record.imprintFont.size = 10;
    TMetadataSettingsDlg dialog;
    dialog.SetSettings(record);
    dialog.SetMaxFontSize(16);
    const std::vector<std::wstring> faces{L"DejaVu Sans", L"DejaVu Sans Mono", L"DejaVu Serif"};
    std::vector<std::wstring> sizes{L"Auto"};
    for (int size = 4; size <= 16; ++size)
        sizes.push_back(std::to_wstring(size));
    EXPECT_EQ(Run(
                  dialog,
                  [&](HWND) {
                      EXPECT_EQ(Entries(dialog, TMetadataSettingsDlg::kCaptionFace), faces);
                      EXPECT_EQ(Entries(dialog, TMetadataSettingsDlg::kImprintFace), faces);
                      EXPECT_EQ(Selection(dialog, TMetadataSettingsDlg::kCaptionFace), 2);
                      EXPECT_EQ(Selection(dialog, TMetadataSettingsDlg::kImprintFace), 0);
                      EXPECT_EQ(Entries(dialog, TMetadataSettingsDlg::kCaptionStyle),
                                (std::vector<std::wstring>{L"Regular", L"Bold", L"Italic", L"Bold italic"}));
                      EXPECT_EQ(Selection(dialog, TMetadataSettingsDlg::kCaptionStyle), 3);
                      EXPECT_EQ(Entries(dialog, TMetadataSettingsDlg::kImprintSize), sizes);
                      EXPECT_EQ(Selection(dialog, TMetadataSettingsDlg::kCaptionSize), 0);
                      EXPECT_EQ(Selection(dialog, TMetadataSettingsDlg::kImprintSize), 10 - 4 + 1);
                  },
                  VK_RETURN),
              1);
    EXPECT_EQ(dialog.GetSettings().captionFont.face, L"DejaVu Serif");
    EXPECT_EQ(dialog.GetSettings().imprintFont.face, L"DejaVu Sans");
}

TEST_F(MetadataSettingsTest, AMachineWithoutFontsKeepsTheFaces) {
    WinGdiTest::UseFontList({});
    TMetadataSettings record;
    record.captionFont.face = L"Gone";
    TMetadataSettingsDlg dialog;
    dialog.SetSettings(record);
    EXPECT_EQ(Run(
                  dialog,
                  [&](HWND) { EXPECT_TRUE(Entries(dialog, TMetadataSettingsDlg::kCaptionFace).empty()); },
                  VK_RETURN),
              1);
    EXPECT_EQ(dialog.GetSettings().captionFont.face, L"Gone");
}

TEST_F(MetadataSettingsTest, HandlersEditTheRecordAndOkRebuildsTheFlags) {
    TMetadataSettings record;
    record.captionFlags = TMetadataSettings::kBasic;
    record.imprintColour = 0xFF000000u;
    TMetadataSettingsDlg dialog;
    dialog.SetSettings(record);
    dialog.SetAutomaticSize(12);
    WinUserTest::QueueColorDialogAnswer(true, RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(Run(
                  dialog,
                  [&](HWND window) {
                      EXPECT_FALSE(dialog.GetControl(TMetadataSettingsDlg::kImprintFace)->IsEnabled());
                      SendMessageW(GetDlgItem(window, TMetadataSettingsDlg::kImprintBox), BM_SETCHECK,
                                   BST_CHECKED, 0);
                      Command(window, TMetadataSettingsDlg::kImprintBox, BN_CLICKED);
                      EXPECT_TRUE(dialog.GetControl(TMetadataSettingsDlg::kImprintFace)->IsEnabled());
                      SendMessageW(GetDlgItem(window, TMetadataSettingsDlg::kDateAndTimeBox), BM_SETCHECK,
                                   BST_CHECKED, 0);
                      Command(window, TMetadataSettingsDlg::kDateAndTimeBox, BN_CLICKED);
                      // A selection without the change notification is not taken.
                      auto* sizes =
                          dynamic_cast<TComboBoxCtrl*>(dialog.GetControl(TMetadataSettingsDlg::kImprintSize));
                      sizes->SetCurSel(3);
                      Command(window, TMetadataSettingsDlg::kImprintSize, 1);
                      EXPECT_EQ(dialog.GetSettings().imprintFont.size, 10);
                      Command(window, TMetadataSettingsDlg::kImprintSize,
                              TMetadataSettingsDlg::kSelectionChange);
                      Command(window, TMetadataSettingsDlg::kColourButton, BN_CLICKED);
                      TString sample;
                      dialog.GetControl(TMetadataSettingsDlg::kSample)->GetText(sample);
                      EXPECT_EQ(sample, L"2003/08/08 17:40:29");
                      EXPECT_EQ(dialog.GetControl(TMetadataSettingsDlg::kSample)->GetFontInfo().size, 6);
                      SendMessageW(GetDlgItem(window, TMetadataSettingsDlg::kBasicBox), BM_SETCHECK,
                                   BST_UNCHECKED, 0);
                      SendMessageW(GetDlgItem(window, TMetadataSettingsDlg::kDetailedBox), BM_SETCHECK,
                                   BST_CHECKED, 0);
                  },
                  VK_RETURN),
              1);
    const TMetadataSettings& edited = dialog.GetSettings();
    EXPECT_TRUE(edited.imprintEnabled);
    EXPECT_TRUE(edited.imprintDateAndTime);
    EXPECT_EQ(edited.imprintFont.size, 6);
    EXPECT_EQ(edited.imprintColour, 0xFF302010u) << "the chosen colour, opaque";
    EXPECT_EQ(edited.captionFlags, TMetadataSettings::kDetailed);
}

TEST_F(MetadataSettingsTest, ThePrintDialogTakesTheRecordBackOnlyOnOk) {
    CPrintDlg print;
    print.GetOptions().metadata.captionFlags = TMetadataSettings::kBasic;
    for (const WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}}) {
        WinDialogTest::RunInModalLoop([](HWND window) {
            SendMessageW(GetDlgItem(window, TMetadataSettingsDlg::kAdditionalBox), BM_SETCHECK, BST_CHECKED,
                         0);
            return true;
        });
        WinDialogTest::RunInModalLoop([key](HWND) {
            EXPECT_TRUE(WinUserTest::InjectKey(nullptr, key));
            return true;
        });
        EXPECT_EQ(print.EditMetadataSettings(nullptr), key == VK_RETURN);
        EXPECT_EQ(print.GetOptions().metadata.captionFlags,
                  key == VK_RETURN ? TMetadataSettings::kBasic | TMetadataSettings::kAdditional
                                   : TMetadataSettings::kBasic);
    }
}

TEST_F(MetadataSettingsTest, TheCaptionDescriptionNamesTheChosenBlocks) {
    const struct {
        LONG flags;
        const wchar_t* text;
    } cases[] = {{0, L"No caption"},
                 {2, L"Basic"},
                 {4 | 8, L"Additional,Detailed"},
                 {2 | 8, L"Basic,Detailed"},
                 {2 | 4 | 8, L"Basic,Additional,Detailed"}};
    for (const auto& c : cases)
        EXPECT_EQ(CaptionDescription(*TResource::Instance(), c.flags), c.text) << c.flags;
}

} // namespace
