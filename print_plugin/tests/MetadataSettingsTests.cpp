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
    LONG Run(const TMetadataSettings& record, std::function<void(HWND)> look, WPARAM key = VK_RETURN) {
        m_dialog.SetSettings(record);
        m_dialog.SetResource(*TResource::Instance());
        WinDialogTest::RunInModalLoop([look, key](HWND window) {
            look(window);
            EXPECT_TRUE(WinUserTest::InjectKey(nullptr, key));
            return true;
        });
        return m_dialog.DoModal(CPrintDlg::kMetadataDialogTemplate, nullptr);
    }
    void Tick(HWND window, int id, WPARAM state, bool notify) {
        SendMessageW(GetDlgItem(window, id), BM_SETCHECK, state, 0);
        if (notify)
            Command(window, id, BN_CLICKED);
    }

    HMODULE m_language = nullptr;
    HINSTANCE m_previous = nullptr;
    TMetadataSettingsDlg m_dialog;
};

using D = TMetadataSettingsDlg;

TEST_F(MetadataSettingsTest, FacesAreTheMachinesAndSizesRunFromAutoToTheMaximum) {
    TMetadataSettings record;
    record.captionFont = TFontInfo{L"dejavu SERIF", TFontInfo::kBold | TFontInfo::kItalic, -1};
    record.imprintFont = TFontInfo{L"No Such Face", 0, 10};
    m_dialog.SetMaxFontSize(16);
    const std::vector<std::wstring> faces{L"DejaVu Sans", L"DejaVu Sans Mono", L"DejaVu Serif"};
    std::vector<std::wstring> sizes{L"Auto"};
    for (int size = 4; size <= 16; ++size)
        sizes.push_back(std::to_wstring(size));
    EXPECT_EQ(Run(record,
                  [&](HWND) {
                      EXPECT_EQ(Entries(m_dialog, D::kCaptionFace), faces);
                      EXPECT_EQ(Entries(m_dialog, D::kImprintFace), faces);
                      EXPECT_EQ(Selection(m_dialog, D::kCaptionFace), 2);
                      EXPECT_EQ(Selection(m_dialog, D::kImprintFace), 0);
                      EXPECT_EQ(Entries(m_dialog, D::kCaptionStyle),
                                (std::vector<std::wstring>{L"Regular", L"Bold", L"Italic", L"Bold italic"}));
                      EXPECT_EQ(Selection(m_dialog, D::kCaptionStyle), 3);
                      EXPECT_EQ(Entries(m_dialog, D::kImprintSize), sizes);
                      EXPECT_EQ(Selection(m_dialog, D::kCaptionSize), 0);
                      EXPECT_EQ(Selection(m_dialog, D::kImprintSize), 10 - 4 + 1);
                  }),
              1);
    EXPECT_EQ(m_dialog.GetSettings().captionFont.face, L"DejaVu Serif");
    EXPECT_EQ(m_dialog.GetSettings().imprintFont.face, L"DejaVu Sans");
}

TEST_F(MetadataSettingsTest, AMachineWithoutFontsKeepsTheFaces) {
    WinGdiTest::UseFontList({});
    TMetadataSettings record;
    record.captionFont.face = L"Gone";
    EXPECT_EQ(Run(record, [&](HWND) { EXPECT_TRUE(Entries(m_dialog, D::kCaptionFace).empty()); }), 1);
    EXPECT_EQ(m_dialog.GetSettings().captionFont.face, L"Gone");
}

TEST_F(MetadataSettingsTest, HandlersEditTheRecordAndOkRebuildsTheFlags) {
    TMetadataSettings record;
    record.captionFlags = TMetadataSettings::kBasic;
    m_dialog.SetAutomaticSize(12);
    WinUserTest::QueueColorDialogAnswer(true, RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(Run(record,
                  [&](HWND window) {
                      EXPECT_FALSE(m_dialog.GetControl(D::kImprintFace)->IsEnabled());
                      Tick(window, D::kImprintBox, BST_CHECKED, true);
                      EXPECT_TRUE(m_dialog.GetControl(D::kImprintFace)->IsEnabled());
                      Tick(window, D::kDateAndTimeBox, BST_CHECKED, true);
                      // A selection without the change notification is not taken.
                      dynamic_cast<TComboBoxCtrl*>(m_dialog.GetControl(D::kImprintSize))->SetCurSel(3);
                      Command(window, D::kImprintSize, 1);
                      EXPECT_EQ(m_dialog.GetSettings().imprintFont.size, 10);
                      Command(window, D::kImprintSize, D::kSelectionChange);
                      Command(window, D::kColourButton, BN_CLICKED);
                      TString sample;
                      m_dialog.GetControl(D::kSample)->GetText(sample);
                      EXPECT_EQ(sample, L"2003/08/08 17:40:29");
                      EXPECT_EQ(m_dialog.GetControl(D::kSample)->GetFontInfo().size, 6);
                      Tick(window, D::kBasicBox, BST_UNCHECKED, false);
                      Tick(window, D::kDetailedBox, BST_CHECKED, false);
                  }),
              1);
    const TMetadataSettings& edited = m_dialog.GetSettings();
    EXPECT_TRUE(edited.imprintEnabled && edited.imprintDateAndTime);
    EXPECT_EQ(edited.imprintFont.size, 6);
    EXPECT_EQ(edited.imprintColour, 0xFF302010u) << "the chosen colour, opaque";
    EXPECT_EQ(edited.captionFlags, TMetadataSettings::kDetailed);
}

TEST_F(MetadataSettingsTest, ThePrintDialogTakesTheRecordBackOnlyOnOk) {
    CPrintDlg print;
    print.GetOptions().metadata.captionFlags = TMetadataSettings::kBasic;
    for (const WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}}) {
        WinDialogTest::RunInModalLoop([this, key](HWND window) {
            Tick(window, D::kAdditionalBox, BST_CHECKED, false);
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
