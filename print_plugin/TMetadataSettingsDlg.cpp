#include "TMetadataSettingsDlg.h"

#include "plugin_framework/TCheckBoxCtrl.h"
#include "plugin_framework/TColorPicker.h"
#include "plugin_framework/TComboBoxCtrl.h"

#include "platform/win/WinControls.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr DWORD kOpaque = 0xFF000000u;
constexpr int kCommands[] = {TMetadataSettingsDlg::kCaptionFace,   TMetadataSettingsDlg::kCaptionStyle,
                             TMetadataSettingsDlg::kCaptionSize,   TMetadataSettingsDlg::kImprintFace,
                             TMetadataSettingsDlg::kImprintStyle,  TMetadataSettingsDlg::kImprintSize,
                             TMetadataSettingsDlg::kColourButton,  TMetadataSettingsDlg::kImprintBox,
                             TMetadataSettingsDlg::kDateAndTimeBox};

bool SameFace(const TString& a, const TString& b) {
    if (a.GetLength() != b.GetLength())
        return false;
    for (int i = 0; i < a.GetLength(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}

} // namespace

TMetadataSettingsDlg::~TMetadataSettingsDlg() = default;

bool TMetadataSettingsDlg::Destroy() {
    m_colourButton = nullptr;
    return TDialog::Destroy();
}

LONG TMetadataSettingsDlg::OnInit() {
    TDialog::OnInit();
    m_colourButton = new TImgBtnCtrl;
    if (m_colourButton->Attach(GetDlgItem(kColourButton), false)) {
        m_colourButton->SetBkColor(&m_settings.imprintColour);
    } else {
        m_colourButton->Release();
        m_colourButton = nullptr;
    }

    std::vector<TString> faces;
    if (HDC dc = GetDC()) {
        EnumerateFontFaces(faces, dc);
        ReleaseDC(dc);
    }
    FillFontLists(faces, kCaptionFace, kCaptionStyle, kCaptionSize, m_settings.captionFont);
    FillFontLists(faces, kImprintFace, kImprintStyle, kImprintSize, m_settings.imprintFont);
    UpdateSample();

    Tick(kBasicBox, m_settings.captionFlags & TMetadataSettings::kBasic);
    Tick(kAdditionalBox, m_settings.captionFlags & TMetadataSettings::kAdditional);
    Tick(kDetailedBox, m_settings.captionFlags & TMetadataSettings::kDetailed);
    Tick(kImprintBox, m_settings.imprintEnabled);
    Tick(kDateAndTimeBox, m_settings.imprintDateAndTime);
    EnableImprintControls(IsTicked(kImprintBox));

    for (int id : kCommands)
        AddCommandHandler(static_cast<DWORD>(id), MemberHandler<&TMetadataSettingsDlg::OnCommand>(this));
    return 1;
}

void TMetadataSettingsDlg::FillFontLists(const std::vector<TString>& faces, int faceList, int styleList,
                                         int sizeList, TFontInfo& font) {
    if (!faces.empty()) {
        const TString* match = &faces.front();
        for (const TString& face : faces) {
            if (SameFace(face, font.face)) {
                match = &face;
                break;
            }
        }
        font.face = *match;
    }
    if (auto* list = dynamic_cast<TComboBoxCtrl*>(GetControl(faceList))) {
        list->ResetContent();
        for (const TString& face : faces)
            list->AddString(face);
        for (LONG i = 0; i < static_cast<LONG>(faces.size()); ++i) {
            if (faces[static_cast<std::size_t>(i)] == font.face)
                list->SetCurSel(i);
        }
    }
    if (auto* list = dynamic_cast<TComboBoxCtrl*>(GetControl(styleList))) {
        list->ResetContent();
        for (LONG style = 0; style < kStyleCount; ++style) {
            TString name;
            GetResource().LoadString(kFirstStyleText + static_cast<UINT>(style), name);
            list->AddString(name);
        }
        list->SetCurSel(font.style & (TFontInfo::kBold | TFontInfo::kItalic));
    }
    if (auto* list = dynamic_cast<TComboBoxCtrl*>(GetControl(sizeList))) {
        list->ResetContent();
        list->AddString(kAutomaticText);
        for (LONG size = m_minSize; size <= m_maxSize; ++size) {
            TString text;
            text.Format(L"%d", size);
            list->AddString(text);
        }
        const LONG entry = font.size == -1 ? 0 : font.size - m_minSize + 1;
        if (entry >= 0 && entry < list->GetCount())
            list->SetCurSel(entry);
    }
}

void TMetadataSettingsDlg::UpdateSample() {
    TControl* sample = GetControl(kSample);
    if (!sample)
        return;
    TString text(kSampleDate);
    if (m_settings.imprintDateAndTime) {
        text += L" ";
        text += kSampleTime;
    }
    TFontInfo font = m_settings.imprintFont;
    if (font.size == -1)
        font.size = m_automaticSize;
    sample->SetFont(&font);
    sample->SetTextColor(&m_settings.imprintColour);
    sample->SetText(text);
}

void TMetadataSettingsDlg::EnableImprintControls(bool enable) {
    for (int id = kDateAndTimeBox; id <= kSample; ++id) {
        if (TControl* control = GetControl(id))
            control->Enable(enable);
    }
}

bool TMetadataSettingsDlg::IsTicked(int id) {
    LONG state = 0;
    auto* box = dynamic_cast<TCheckBoxCtrl*>(GetControl(id));
    return box && box->GetCheck(state) && state == static_cast<LONG>(BST_CHECKED);
}

void TMetadataSettingsDlg::Tick(int id, bool ticked) {
    if (auto* box = dynamic_cast<TCheckBoxCtrl*>(GetControl(id)))
        box->SetCheck(static_cast<LONG>(ticked ? BST_CHECKED : BST_UNCHECKED));
}

bool TMetadataSettingsDlg::Selected(int id, LONG& index, TString& text) {
    auto* list = dynamic_cast<TComboBoxCtrl*>(GetControl(id));
    if (!list)
        return false;
    index = list->GetCurSel();
    return index >= 0 && list->GetItemText(index, text);
}

bool TMetadataSettingsDlg::TakeFace(int id, TFontInfo& font) {
    LONG index = 0;
    TString text;
    if (!Selected(id, index, text) || text == font.face)
        return false;
    font.face = text;
    return true;
}

bool TMetadataSettingsDlg::TakeStyle(int id, TFontInfo& font) {
    LONG index = 0;
    TString text;
    if (!Selected(id, index, text) || index >= kStyleCount || index == font.style)
        return false;
    font.style = index;
    return true;
}

bool TMetadataSettingsDlg::TakeSize(int id, TFontInfo& font) {
    LONG index = 0;
    TString text;
    if (!Selected(id, index, text))
        return false;
    LONG size = -1;
    if (index != 0 && std::swscanf(static_cast<const wchar_t*>(text), L"%d", &size) != 1)
        return false;
    if (size == font.size)
        return false;
    font.size = size;
    return true;
}

void TMetadataSettingsDlg::ChooseColour() {
    TColorData data{};
    data.colour = m_settings.imprintColour;
    data.owner = GetHandle();
    TColorPicker picker;
    picker.SetColorData(&data);
    DWORD chosen = m_settings.imprintColour;
    if (!picker.Choose(chosen) || (chosen | kOpaque) == m_settings.imprintColour)
        return;
    m_settings.imprintColour = chosen | kOpaque;
    UpdateSample();
    if (m_colourButton) {
        m_colourButton->SetBkColor(&m_settings.imprintColour);
        m_colourButton->Invalidate(nullptr, true);
    }
}

LONG TMetadataSettingsDlg::OnCommand(TMessageInfo& info) {
    const bool selectionChange = HIWORD(info.wParam) == kSelectionChange;
    TMetadataSettings& settings = m_settings;
    switch (static_cast<int>(info.key)) {
    case kCaptionFace:
        if (selectionChange)
            TakeFace(kCaptionFace, settings.captionFont);
        break;
    case kCaptionStyle:
        if (selectionChange)
            TakeStyle(kCaptionStyle, settings.captionFont);
        break;
    case kCaptionSize:
        if (selectionChange)
            TakeSize(kCaptionSize, settings.captionFont);
        break;
    case kImprintFace:
        if (selectionChange && TakeFace(kImprintFace, settings.imprintFont))
            UpdateSample();
        break;
    case kImprintStyle:
        if (selectionChange && TakeStyle(kImprintStyle, settings.imprintFont))
            UpdateSample();
        break;
    case kImprintSize:
        if (selectionChange && TakeSize(kImprintSize, settings.imprintFont))
            UpdateSample();
        break;
    case kColourButton:
        ChooseColour();
        break;
    case kImprintBox:
        settings.imprintEnabled = IsTicked(kImprintBox);
        EnableImprintControls(settings.imprintEnabled);
        break;
    case kDateAndTimeBox:
        settings.imprintDateAndTime = IsTicked(kDateAndTimeBox);
        UpdateSample();
        break;
    default:
        break;
    }
    return 1;
}

void TMetadataSettingsDlg::OnOK() {
    LONG flags = 0;
    if (IsTicked(kBasicBox))
        flags |= TMetadataSettings::kBasic;
    if (IsTicked(kAdditionalBox))
        flags |= TMetadataSettings::kAdditional;
    if (IsTicked(kDetailedBox))
        flags |= TMetadataSettings::kDetailed;
    m_settings.captionFlags = flags;
    TDialog::OnOK();
}
