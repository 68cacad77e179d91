// The print dialog's window: the selection taken in, the start-up, the controls and their handlers, the
// preview (whose page buttons the plug-in dialog base runs), and the clean-up when it closes.
#include "CPrintDlg.h"

#include "plugin_framework/CodecTable.h"
#include "plugin_framework/HostLink.h"
#include "plugin_framework/LengthUnits.h"
#include "plugin_framework/PngResourceImage.h"
#include "plugin_framework/TCheckBoxCtrl.h"
#include "plugin_framework/TComboBoxCtrl.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TOwnerDrawCtrl.h"
#include "plugin_framework/TSliderCtrl.h"

#include "platform/kvtrtl/KvwRecords.h"

#include <cmath>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

// The host's date and time text of an item, and its rotation in degrees as a double.
constexpr DWORD kDatePropertyId = 2;
constexpr DWORD kRotationPropertyId = 0x10005;
constexpr DWORD kDoublePropertyType = 4;
constexpr LONG kQuarterTurn = 90;
constexpr LONG kFullTurn = 360;
constexpr double kSizeListSlack = 0.0001;
// No advanced size list grows beyond this many entries, whatever the configuration's step.
constexpr LONG kMaxSizeEntries = 10000;

constexpr int kEasyGroup[] = {1045, 1046, 1073, 1074, 1075, 1076, 1077, 1078};
constexpr int kAdvancedGroup[] = {1047, 1048, 1049, 1050, 1051, 1052};
constexpr int kHostControls[] = {1006, 1008, 1012, 1031, 1032, 1033, 1034, 1035};
constexpr int kReplicaControls[] = {CPrintDlg::kReplicaCombo, CPrintDlg::kReplicaLabel};
constexpr int kHostCaptionControls[] = {1040, 1041};
constexpr int kCaptionControls[] = {CPrintDlg::kCaptionLabel, CPrintDlg::kImprintLabel,
                                    CPrintDlg::kCaptionSettingsButton};

template <class Control>
Control* ControlAs(CPrintDlg& dialog, int id) {
    return dynamic_cast<Control*>(dialog.GetControl(id));
}

LONG ReadRecordValue(KvwItemId item, DWORD record) {
    BYTE* bytes = nullptr;
    DWORD length = 0;
    if (!HostRequests::GetItemRecord(item, record, bytes, length))
        return 0;
    const std::unique_ptr<BYTE[]> owned(bytes);
    if (length != sizeof(DWORD))
        return 0;
    DWORD value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return static_cast<LONG>(value);
}

// The item's rotation property when it is a double; false when it has none.
bool ReadRotation(KvwItemId item, double& degrees) {
    IKvwItem* found = HostLink::Instance()->AcquireItem(item);
    if (!found)
        return false;
    CKvwItemProperty property;
    const bool read = KvwSucceeded(found->GetProperty(kRotationPropertyId, &property)) &&
                      property.type == kDoublePropertyType && property.value.size() == sizeof(double);
    found->Release();
    if (!read)
        return false;
    std::memcpy(&degrees, property.value.data(), sizeof degrees);
    return std::isfinite(degrees);
}

TString FormatDouble(double value) {
    TString text;
    text.Format(L"%.1lf", value);
    return text;
}

TString FormatLong(LONG value) {
    TString text;
    text.Format(L"%ld", static_cast<long>(value));
    return text;
}

bool ParseDouble(const TString& text, double& value) {
    return std::swscanf(static_cast<const wchar_t*>(text), L"%lf", &value) == 1 && std::isfinite(value);
}

bool SelectedText(TComboBoxCtrl* combo, TString& text) {
    if (!combo)
        return false;
    const LONG chosen = combo->GetCurSel();
    return chosen >= 0 && combo->GetItemText(chosen, text);
}

} // namespace

TSize_T<LONG> CPrintDlg::RotatedSize(const TSize_T<LONG>& size, double degrees) {
    const LONG turn = static_cast<LONG>(std::trunc(degrees + 0.5));
    if (turn == kQuarterTurn || turn == kFullTurn - kQuarterTurn)
        return TSize_T<LONG>(size.cy, size.cx);
    return size;
}

bool CPrintDlg::SetSelection(const TNuidList* list) {
    if (!TGenPluginDlg::SetSelection(list))
        return false;
    m_selectionInfo.clear();
    for (KvwItemId id : *GetSelection()) {
        PrintSelectionRecord record;
        record.id = id;
        HostLink::Instance()->GetItemProperty(id, kDatePropertyId, record.dateText);
        record.size = TSize_T<LONG>(ReadRecordValue(id, KvwItemRecord::kWidth),
                                    ReadRecordValue(id, KvwItemRecord::kHeight));
        double degrees = 0;
        if (ReadRotation(id, degrees))
            record.size = RotatedSize(record.size, degrees);
        m_selectionInfo.push_back(record);
    }
    if (IsWindow())
        EnableForHost();
    return true;
}

LONG CPrintDlg::OnInit() {
    UINT failure = kModuleNotFoundText;
    if (Initialize(failure))
        return 1;
    TString text = LoadText(failure == 0 ? kModuleNotFoundText : failure);
    if (failure == kConfigFailedText) {
        TString formatted;
        formatted.Format(text, TConfigSettings::kFileName);
        text = formatted;
    }
    ShowMessageBox(text, kErrorMessage, GetHandle());
    Close();
    return 0;
}

bool CPrintDlg::Initialize(UINT& failureText) {
    m_idle = true;
    m_standAlone = false;
    failureText = 0;
    if (TDialog::OnInit() != 1)
        return false;
    const TResource hostResource;
    TFilePath hostFolder;
    if (m_rendererFolder.GetPath().IsEmpty()) {
        if (!hostResource.GetModuleFolder(hostFolder))
            return false;
        m_rendererFolder = hostFolder;
    }
    TFilePath ownFolder;
    if (!GetModuleFolder(ownFolder, GetThisModule()) ||
        !m_config.Load(ownFolder.GetPath() + TConfigSettings::kFileName)) {
        failureText = kConfigFailedText;
        return false;
    }
    m_options.SetDefaults();
    m_options.SetPrinterSettings(&m_printer.GetOptionRecord());
    m_options.Load();
    const PrinterOptionRecord record = m_printer.GetOptionRecord();
    if (!m_printer.Init(record, GetHandle())) {
        failureText = kNoPrinterText;
        return false;
    }
    if (m_options.printerKindIndex == TUserOptions::kNoPrinterKind)
        m_options.printerKindIndex =
            DefaultPrinterKind(m_printer.GetResolution(), m_config.GetPrinterTypes());
    CreateWrappers();
    if (!LoadSheetResources())
        return false;
    LoadButtonImages();
    FillPrintAsCombo();
    FillPrinterKindCombo();
    FillReplicaCombo();
    FillAdvancedSizeLists();
    if (!WriteItemsFile())
        return false;

    m_notify.Attach(this);
    m_renderer->SetRendererFolder(m_rendererFolder);
    if (!m_renderer->Start(nullptr))
        return false;
    m_renderer->SetNotifyTarget(&m_notify);
    TString codec;
    BuildCodecParameters(codec, false, kPrintProfile, 0);
    m_renderer->SetMediaContext(codec);
    m_ownIterator->SetRendererFolder(m_rendererFolder);
    if (!m_ownIterator->Init(GetHandle(), &CPrintDlg::OnPreviewPageChanged, this, nullptr))
        return false;
    BuildCodecParameters(codec, true, kPreviewProfile, 0);
    m_ownIterator->SetMediaContext(codec);
    SetPageIterator(m_ownIterator.Get(), PreviewSize());

    AddMessageHandler(kRenderProgressMessage, MemberHandler<&CPrintDlg::OnRenderProgress>(this));
    AddMessageHandler(kCancelMessage, MemberHandler<&CPrintDlg::OnCancelMessage>(this));
    AddMessageHandler(kRenderFinishedMessage, MemberHandler<&CPrintDlg::OnRenderFinished>(this));
    AddMessageHandler(kCloseMessage, MemberHandler<&CPrintDlg::OnCloseMessage>(this));
    AddCommandHandler(kPageSetupButton, MemberHandler<&CPrintDlg::OnPageSetupCommand>(this));
    AddCommandHandler(kCaptionSettingsButton, MemberHandler<&CPrintDlg::OnCaptionSettings>(this));
    AddNotifyHandler(kSelectionEnd, kPrintAsCombo, MemberHandler<&CPrintDlg::OnPrintAsChanged>(this));
    AddNotifyHandler(kSelectionEnd, kLayoutCombo, MemberHandler<&CPrintDlg::OnLayoutChanged>(this));
    for (WORD code = SB_LINEUP; code <= SB_BOTTOM; ++code)
        AddNotifyHandler(code, kColumnSlider, MemberHandler<&CPrintDlg::OnColumnScroll>(this));
    AddNotifyHandler(kSelectionEnd, kItemWidthCombo, MemberHandler<&CPrintDlg::OnItemWidthChanged>(this));
    AddNotifyHandler(kSelectionEnd, kItemHeightCombo, MemberHandler<&CPrintDlg::OnItemHeightChanged>(this));
    AddNotifyHandler(kSelectionEnd, kPrinterKindCombo, MemberHandler<&CPrintDlg::OnPrinterKindChanged>(this));
    AddCommandHandler(kPreviousPage, MemberHandler<&CPrintDlg::OnPreviousPage>(this));
    AddCommandHandler(kNextPage, MemberHandler<&CPrintDlg::OnNextPage>(this));
    AddCommandHandler(kCaptionCheck, MemberHandler<&CPrintDlg::OnCaptionsClicked>(this));
    AddCommandHandler(kRotateCheck, MemberHandler<&CPrintDlg::OnRotateClicked>(this));
    AddCommandHandler(kBorderlessCheck, MemberHandler<&CPrintDlg::OnBorderlessClicked>(this));
    AddCommandHandler(kReplicateCheck, MemberHandler<&CPrintDlg::OnReplicateClicked>(this));
    AddNotifyHandler(kSelectionEnd, kReplicaCombo, MemberHandler<&CPrintDlg::OnReplicasChanged>(this));
    if (auto* slider = ControlAs<TSliderCtrl>(*this, kColumnSlider)) {
        slider->SetRangeMin(kFirstColumns);
        slider->SetRangeMax(kLastColumns);
        slider->SetPos(m_options.columns);
    }

    UpdatePrinterTexts();
    const UINT unitText = m_config.GetUnit() == LengthUnit::kMillimetre   ? kMillimetreText
                          : m_config.GetUnit() == LengthUnit::kCentimetre ? kCentimetreText
                                                                          : kInchText;
    for (int id : {kWidthUnitLabel, kHeightUnitLabel}) {
        if (TControl* label = GetControl(id))
            label->SetText(LoadText(unitText));
    }
    const struct {
        int id;
        bool checked;
    } boxes[] = {{kCaptionCheck, m_options.IsMetadataEnabled()},
                 {kRotateCheck, m_options.GetRotateToFit()},
                 {kBorderlessCheck, m_options.GetBorderlessPrint()},
                 {kReplicateCheck, m_options.GetUseReplicate()}};
    for (const auto& box : boxes) {
        if (auto* check = ControlAs<TCheckBoxCtrl>(*this, box.id))
            check->SetCheck(box.checked ? 1 : 0);
    }
    if (auto* replicas = ControlAs<TComboBoxCtrl>(*this, kReplicaCombo))
        replicas->SetCurSel(replicas->FindStringExact(FormatLong(m_options.replicas)));
    UpdateCaptionControls();
    EnableForHost();
    FillLayoutCombo();
    ShowModeGroups();
    Rebuild();
    return true;
}

void CPrintDlg::CreateWrappers() {
    for (int id : {kPreviousPage, kNextPage}) {
        if (auto button = TPageButtonFaces::WrapPageButton(GetDlgItem(id)))
            (id == kPreviousPage ? m_previousButton : m_nextButton) = button;
    }
    if (auto* preview = ControlAs<TOwnerDrawCtrl>(*this, kPreviewArea))
        preview->SetDrawCallback(&CPrintDlg::DrawPreviewPage, this);
}

void CPrintDlg::LoadButtonImages() {
    m_buttonFaces.Load(GetThisModule(), kButtonImages, m_previousButton.Get(), m_nextButton.Get());
}

void CPrintDlg::ReleaseButtonImages() {
    m_buttonFaces.Release(m_previousButton.Get(), m_nextButton.Get());
}

TSize_T<double> CPrintDlg::PreviewSize() {
    TRect client;
    TControl* area = GetControl(kPreviewArea);
    if (!area || !area->GetClientRect(client))
        return TSize_T<double>(0, 0);
    return TSize_T<double>(client.right - client.left, client.bottom - client.top);
}

bool CPrintDlg::WriteItemsFile() {
    if (!GetSelection())
        return false;
    if (m_itemsFile.Exists())
        m_itemsFile.Delete();
    const LONG copies =
        m_options.GetUseReplicate() ? std::clamp<LONG>(m_options.replicas, 1, kMaxReplicas) : 1;
    // The texts follow the caption flags whether or not captions show now: the sheet's own flags decide
    // what is drawn, so that ticking the captions on needs no new file.
    const auto flags = static_cast<DWORD>(m_options.metadata.captionFlags);
    TString path;
    if (!HostRequests::TransformCaption(*GetSelection(), flags, path, copies))
        return false;
    m_itemsFile.Set(path);
    return true;
}

void CPrintDlg::Rebuild() {
    if (!BuildSheet(true))
        return;
    UpdatePageButtons();
    if (TControl* area = GetControl(kPreviewArea))
        area->Invalidate(nullptr, false);
}

void CPrintDlg::FillPrintAsCombo() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kPrintAsCombo);
    if (!combo)
        return;
    combo->ResetContent();
    combo->AddString(LoadText(kStandardPrintText));
    combo->AddString(LoadText(kIndexPrintText));
    combo->SetCurSel(IsIndexMode() ? 1 : 0);
}

void CPrintDlg::FillPrinterKindCombo() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kPrinterKindCombo);
    if (!combo)
        return;
    combo->ResetContent();
    for (const PrinterTypeRecord& type : m_config.GetPrinterTypes())
        combo->AddString(type.name);
    // A stored kind outside the list selects nothing.
    combo->SetCurSel(m_options.printerKindIndex);
}

void CPrintDlg::FillReplicaCombo() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kReplicaCombo);
    if (!combo)
        return;
    combo->ResetContent();
    const LONG largest = std::clamp<LONG>(m_config.GetLargestColumnCount(), 1, kMaxReplicas);
    for (LONG i = 1; i <= largest; ++i)
        combo->AddString(FormatLong(i));
}

void CPrintDlg::FillAdvancedSizeLists() {
    const LONG unit = m_config.GetUnit() == LengthUnit::kNone ? LengthUnit::kInch : m_config.GetUnit();
    const TSize_T<double> printable = m_printer.GetPrintableRect(unit, true).Size();
    const double first = m_config.GetIndexPrintMinSize();
    const double step = m_config.GetIndexPrintSizeIncrement();
    const double last = m_config.GetIndexPrintMaxSize() + kSizeListSlack;
    const struct {
        int id;
        double limit;
        double* current;
    } lists[] = {{kItemWidthCombo, printable.cx, &m_options.itemSize.cx},
                 {kItemHeightCombo, printable.cy, &m_options.itemSize.cy}};
    for (const auto& list : lists) {
        auto* combo = ControlAs<TComboBoxCtrl>(*this, list.id);
        if (!combo)
            continue;
        combo->ResetContent();
        std::vector<double> values;
        for (LONG i = 0; i < kMaxSizeEntries; ++i) {
            const double value = first + i * step;
            if (!std::isfinite(value) || value > last)
                break;
            // Only sizes above 0 make a sheet.
            if (value > 0 && value < list.limit) {
                values.push_back(value);
                combo->AddString(FormatDouble(value));
            }
            if (!(step > 0))
                break;
        }
        // An empty list keeps the stored size.
        if (values.empty())
            continue;
        std::size_t chosen = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (graphtypes::DoubleEquals(values[i], *list.current)) {
                chosen = i;
                break;
            }
        }
        combo->SetCurSel(static_cast<LONG>(chosen));
        *list.current = values[chosen];
    }
}

void CPrintDlg::FillLayoutCombo() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kLayoutCombo);
    if (!combo)
        return;
    combo->ResetContent();
    if (IsIndexMode()) {
        combo->AddString(LoadText(kEasyIndexText));
        combo->AddString(LoadText(kAdvancedIndexText));
        combo->SetCurSel(m_options.indexPrintType == TUserOptions::kAdvancedIndexPrint ? 1 : 0);
        return;
    }
    const std::vector<LayoutRecord>& layouts = m_config.GetStandardLayouts();
    const LONG current = m_options.GetLayoutIndex();
    const TString currentName = current >= 0 && static_cast<std::size_t>(current) < layouts.size()
                                    ? layouts[static_cast<std::size_t>(current)].name
                                    : TString();
    const TSize_T<double> printable = m_printer.GetPrintableRect(LengthUnit::kPixel, true).Size();
    LONG matched = 0;
    bool found = false;
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        if (!m_geometry.LayoutFits(layouts[i], printable, m_printer.GetResolution()))
            continue;
        combo->AddString(layouts[i].name);
        if (!found && !currentName.IsEmpty() && layouts[i].name == currentName) {
            combo->SetCurSel(combo->GetCount() - 1);
            matched = static_cast<LONG>(i);
            found = true;
        }
    }
    m_options.layoutIndex = matched;
}

void CPrintDlg::ShowControl(int id, bool show) {
    if (TControl* control = GetControl(id))
        control->Show(show);
}

void CPrintDlg::EnableControl(int id, bool enable) {
    if (TControl* control = GetControl(id))
        control->Enable(enable);
}

bool CPrintDlg::IsChecked(int id) {
    LONG state = 0;
    auto* check = ControlAs<TCheckBoxCtrl>(*this, id);
    return check && check->GetCheck(state) && state == 1;
}

void CPrintDlg::ShowModeGroups() {
    const bool index = IsIndexMode();
    const bool advanced = m_options.indexPrintType == TUserOptions::kAdvancedIndexPrint;
    for (int id : kEasyGroup)
        ShowControl(id, index && !advanced);
    for (int id : kAdvancedGroup)
        ShowControl(id, index && advanced);
}

void CPrintDlg::UpdatePrinterTexts() {
    if (TControl* printer = GetControl(kPrinterLabel)) {
        TString text;
        text.Format(LoadText(kPrinterText), static_cast<const wchar_t*>(m_printer.GetPrinterName()));
        printer->SetText(text);
    }
    TControl* paper = GetControl(kPaperLabel);
    if (!paper)
        return;
    const LONG unit = m_config.GetUnit() == LengthUnit::kNone ? LengthUnit::kInch : m_config.GetUnit();
    const UINT unitId = unit == LengthUnit::kMillimetre   ? kMillimetreText
                        : unit == LengthUnit::kCentimetre ? kCentimetreText
                                                          : kInchText;
    const TString unitText = LoadText(unitId);
    const wchar_t* unitName = unitText;
    const TSize_T<double> sheet = m_printer.GetPaperRect(unit).Size();
    const TSize_T<double> printable = m_printer.GetPrintableRect(unit, true).Size();
    const TString orientation = LoadText(m_printer.IsPortrait() ? kPortraitText : kLandscapeText);
    TString text;
    text.Format(LoadText(kPaperText), static_cast<const wchar_t*>(m_printer.GetPaperName()), sheet.cx,
                unitName, sheet.cy, unitName, static_cast<const wchar_t*>(orientation), printable.cx,
                unitName, printable.cy, unitName);
    paper->SetText(text);
}

void CPrintDlg::UpdateCaptionControls() {
    const bool enabled = m_options.IsMetadataEnabled();
    if (TControl* caption = GetControl(kCaptionLabel)) {
        TString text;
        text.Format(LoadText(kCaptionLineText), static_cast<const wchar_t*>(CaptionDescription(
                                                    GetResource(), m_options.metadata.captionFlags)));
        caption->SetText(text);
    }
    if (TControl* imprint = GetControl(kImprintLabel)) {
        const UINT kind = !m_options.metadata.imprintEnabled      ? kNoImprintText
                          : m_options.metadata.imprintDateAndTime ? kDateTimeImprintText
                                                                  : kDateImprintText;
        TString text;
        text.Format(LoadText(kImprintLineText), static_cast<const wchar_t*>(LoadText(kind)));
        imprint->SetText(text);
    }
    for (int id : kCaptionControls)
        EnableControl(id, enabled);
}

void CPrintDlg::EnableReplicaControls() {
    const bool enable = !m_options.IsRestrictedHost() && m_options.GetUseReplicate();
    for (int id : kReplicaControls)
        EnableControl(id, enable);
}

void CPrintDlg::EnableForHost() {
    const bool open = !m_options.IsRestrictedHost();
    for (int id : kHostControls)
        EnableControl(id, open);
    for (int id : kHostCaptionControls)
        EnableControl(id, open);
    EnableReplicaControls();
}

void CPrintDlg::Close() {
    if (m_progress) {
        m_progress->Destroy();
        m_progress = TRefPtr<TPluginProgressDlg>();
    }
    if (!m_idle) {
        // A job still running goes as a whole: no half document stays behind.
        m_renderer->Stop();
        m_pageRequest = TRefPtr<TRndrData>();
        m_printer.AbortDocument();
        m_idle = true;
    }
    if (m_iterator)
        m_iterator->Shutdown();
    m_renderer->Stop();
    // A page the worker finished while the job was being stopped left its notice queued for this window,
    // which goes below: the notice's request is let go here.
    DrainRenderNotices(GetHandle());
    // The printing document goes below: the renderer, started afresh for the next run, must not find it.
    m_renderer->SetDocument(nullptr, TString());
    ReleaseButtonImages();
    m_document.reset();
    m_printDocument.reset();
    TFilePath temp;
    if (GetPluginTempFolder(temp))
        temp.Delete();
    if (GetResult() == 1)
        m_options.Save();
    m_config.Clear();
    m_printer.Release();
    m_selectionInfo.clear();
    m_pageList.clear();
    m_iterator = nullptr;
    TWindow::Close();
}

// ---- Handlers ----

LONG CPrintDlg::OnCloseMessage() {
    Close();
    return 1;
}

LONG CPrintDlg::OnPageSetupCommand() {
    m_printer.PageSetupDialog(GetHandle(), &CPrintDlg::OnPageSetupDone, this);
    return 1;
}

void CPrintDlg::OnPageSetupDone(bool accepted, bool changed, void* context) {
    static_cast<CPrintDlg*>(context)->PageSetupDone(accepted, changed);
}

void CPrintDlg::PageSetupDone(bool accepted, bool changed) {
    if (!accepted)
        return;
    if (m_standAlone) {
        m_options.Save();
        return;
    }
    if (!IsWindow())
        return;
    UpdatePrinterTexts();
    if (!changed)
        return;
    FillAdvancedSizeLists();
    FillLayoutCombo();
    Rebuild();
}

LONG CPrintDlg::OnCaptionSettings() {
    if (!EditMetadataSettings(GetHandle()))
        return 1;
    UpdateCaptionControls();
    FillLayoutCombo();
    WriteItemsFile();
    Rebuild();
    return 1;
}

LONG CPrintDlg::OnPrintAsChanged() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kPrintAsCombo);
    if (!combo)
        return 1;
    const LONG chosen = combo->GetCurSel();
    if (chosen < 0 || chosen == m_options.printAs)
        return 1;
    m_options.printAs = chosen;
    if (m_iterator)
        m_iterator->CancelRendering(false);
    FillLayoutCombo();
    ShowModeGroups();
    Rebuild();
    return 1;
}

LONG CPrintDlg::OnLayoutChanged() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kLayoutCombo);
    if (!combo)
        return 1;
    TUserOptions& options = m_options;
    if (IsIndexMode()) {
        const LONG chosen = combo->GetCurSel();
        if (chosen >= 0 && chosen != options.indexPrintType) {
            options.indexPrintType = chosen;
            ShowModeGroups();
            Rebuild();
        }
        return 1;
    }
    TString name;
    if (!SelectedText(combo, name))
        return 1;
    LONG index = 0;
    const std::vector<LayoutRecord>& layouts = m_config.GetStandardLayouts();
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        if (layouts[i].name == name) {
            index = static_cast<LONG>(i);
            break;
        }
    }
    if (index != options.layoutIndex) {
        options.layoutIndex = index;
        Rebuild();
    }
    return 1;
}

LONG CPrintDlg::OnColumnScroll() {
    auto* slider = ControlAs<TSliderCtrl>(*this, kColumnSlider);
    if (!slider)
        return 1;
    const LONG position = slider->GetPos();
    if (position != m_options.columns) {
        m_options.columns = position;
        Rebuild();
    }
    return 1;
}

LONG CPrintDlg::OnItemWidthChanged() {
    TString text;
    double value = 0;
    if (SelectedText(ControlAs<TComboBoxCtrl>(*this, kItemWidthCombo), text) && ParseDouble(text, value) &&
        value != m_options.itemSize.cx) {
        m_options.itemSize.cx = value;
        Rebuild();
    }
    return 1;
}

LONG CPrintDlg::OnItemHeightChanged() {
    TString text;
    double value = 0;
    if (SelectedText(ControlAs<TComboBoxCtrl>(*this, kItemHeightCombo), text) && ParseDouble(text, value) &&
        value != m_options.itemSize.cy) {
        m_options.itemSize.cy = value;
        Rebuild();
    }
    return 1;
}

LONG CPrintDlg::OnPrinterKindChanged() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kPrinterKindCombo);
    if (combo && combo->GetCurSel() >= 0)
        m_options.printerKindIndex = combo->GetCurSel();
    return 1;
}

LONG CPrintDlg::OnCaptionsClicked() {
    TUserOptions& options = m_options;
    options.metadataEnabled = IsChecked(kCaptionCheck);
    if (!IsIndexMode())
        FillLayoutCombo();
    if (options.metadata.captionFlags != 0 || options.metadata.imprintEnabled)
        Rebuild();
    UpdateCaptionControls();
    return 1;
}

LONG CPrintDlg::OnRotateClicked() {
    m_options.rotateToFit = IsChecked(kRotateCheck);
    Rebuild();
    return 1;
}

LONG CPrintDlg::OnBorderlessClicked() {
    m_options.borderlessPrint = IsChecked(kBorderlessCheck);
    Rebuild();
    return 1;
}

LONG CPrintDlg::OnReplicateClicked() {
    m_options.useReplicate = IsChecked(kReplicateCheck);
    EnableReplicaControls();
    if (m_options.replicas != 1) {
        WriteItemsFile();
        Rebuild();
    }
    return 1;
}

LONG CPrintDlg::OnReplicasChanged() {
    TString text;
    long value = 0;
    if (!SelectedText(ControlAs<TComboBoxCtrl>(*this, kReplicaCombo), text) ||
        std::swscanf(static_cast<const wchar_t*>(text), L"%ld", &value) != 1)
        return 1;
    if (value != m_options.replicas) {
        m_options.replicas = static_cast<LONG>(value);
        WriteItemsFile();
        Rebuild();
    }
    return 1;
}
