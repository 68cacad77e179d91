#include "CMailDlg.h"

#include "FileSaveFit.h"
#include "MailPreviewDocument.h"

#include "plugin_framework/CodecTable.h"
#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/HostLink.h"
#include "plugin_framework/PngResourceImage.h"
#include "plugin_framework/TCheckBoxCtrl.h"
#include "plugin_framework/TColorPicker.h"
#include "plugin_framework/TComboBoxCtrl.h"
#include "plugin_framework/TImgBtnCtrl.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TOwnerDrawCtrl.h"
#include "plugin_framework/TResource.h"
#include "plugin_framework/TSliderCtrl.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinGdiObjects.h"

#include <algorithm>
#include <new>

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

constexpr LONG kAttachmentSides[CMailDlg::kAttachmentSizeCount][2] = {
    {160, 120}, {320, 240}, {640, 480}, {800, 600}, {1024, 768}, {1600, 1200}, {2048, 1536}, {0, 0}};
// Bytes a JPEG takes per pixel, by quality in steps of 10 from 50: a rough figure for the estimate only.
constexpr double kBytesPerPixel[] = {0.10, 0.12, 0.15, 0.20, 0.30, 0.80};
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;
constexpr int kIndexControls[] = {CMailDlg::kLayoutLabel,      CMailDlg::kLayoutCombo,
                                  CMailDlg::kBackgroundLabel,  CMailDlg::kCaptionLabel,
                                  CMailDlg::kBackgroundButton, CMailDlg::kCaptionCheck};
constexpr int kQualityControls[] = {CMailDlg::kQualityCaption, CMailDlg::kQualityLabel,
                                    CMailDlg::kQualitySlider};
constexpr LONG kFrameMargin = 8;
constexpr double kMoreButtonRise = 1.5;

template <class Control>
Control* ControlAs(CMailDlg& dialog, int id) {
    return dynamic_cast<Control*>(dialog.GetControl(id));
}

// How the user knows a picture in a message: the host's file name of it without its folder.
TString DisplayNameOf(const TString& itemPath) {
    const TString name = GetFileName(itemPath);
    return name.IsEmpty() ? TString(L"image") : name;
}

} // namespace

TString CMailDlg::AttachmentBaseName(const TString& itemPath) {
    TString name = GetFileName(itemPath);
    const int dot = name.ReverseFind(L'.');
    if (dot >= 0)
        name = name.Left(dot);
    std::wstring safe;
    for (const wchar_t* c = name; *c; ++c) {
        if (*c == L'.' && (safe.empty() || safe.back() == L'.'))
            continue;
        safe += *c;
    }
    while (!safe.empty() && safe.back() == L'.')
        safe.pop_back();
    return safe.empty() ? TString(L"image") : TString(safe.c_str());
}

CMailDlg::CMailDlg()
    : m_saver(TRefPtr<TAsyncFileSaver>::Adopt(new TAsyncFileSaver)),
      m_sheetRenderer(TRefPtr<TAsyncRenderer>::Adopt(new TAsyncRenderer)),
      m_iterator(TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator)) {}

CMailDlg::~CMailDlg() {
    ReleaseButtonImages();
}

TSize_T<LONG> CMailDlg::AttachmentSize(LONG index) {
    if (index < 0 || index >= kAttachmentSizeCount)
        return TSize_T<LONG>(0, 0);
    return TSize_T<LONG>(kAttachmentSides[index][0], kAttachmentSides[index][1]);
}

double CMailDlg::EstimateMegabytes(const std::vector<TItem>& items, LONG attachmentSize, bool indexSheets,
                                   LONG pages, LONG pageSize, LONG quality) {
    const LONG step = std::clamp<LONG>((quality - TUserOptions::kMinimumQuality) / 10, 0,
                                       static_cast<LONG>(std::size(kBytesPerPixel)) - 1);
    double pixels = 0;
    if (indexSheets) {
        const TSize_T<LONG> page = MailIndexSheet::PageSize(pageSize);
        pixels = static_cast<double>(std::max<LONG>(pages, 0)) * page.cx * page.cy;
    } else {
        const TSize_T<LONG> box = AttachmentSize(attachmentSize);
        for (const TItem& item : items) {
            const TSize_T<LONG>& size = item.pictureSize;
            if (size.cx <= 0 || size.cy <= 0)
                continue;
            const double factor = box.cx > 0 ? FileSaveFit::ScaleFactor(size, box) : 1.0;
            pixels += (size.cx * factor) * (size.cy * factor);
        }
    }
    return pixels * kBytesPerPixel[step] / kBytesPerMegabyte;
}

bool CMailDlg::SetSelection(const TNuidList* list) {
    if (!TGenPluginDlg::SetSelection(list))
        return false;
    m_items.clear();
    for (KvwItemId id : *GetSelection()) {
        TItem item;
        item.id = id;
        item.designPage = HostRequests::IsDesignPage(id);
        HostRequests::GetSourceInfo(id, item.pictureSize);
        m_items.push_back(item);
    }
    return true;
}

void CMailDlg::OnHostProgress(DWORD position, DWORD range) {
    if (!m_progress || !m_progress->IsVisible() || m_sendingSheets)
        return;
    m_progress->SetStepRange(static_cast<LONG>(range));
    m_progress->SetStepPos(static_cast<LONG>(position));
}

LONG CMailDlg::OnInit() {
    UINT failure = kOpenFailedText;
    if (Initialize(failure))
        return 1;
    FailInitialization(failure);
    return 1;
}

void CMailDlg::FailInitialization(UINT text) {
    ShowMessageBox(LoadText(text), kErrorMessage, GetHandle());
    Close();
}

bool CMailDlg::Initialize(UINT& failureText) {
    m_idle = true;
    m_sent = false;
    TFilePath temp;
    if (GetPluginTempFolder(temp))
        temp.Delete();
    if (TDialog::OnInit() != 1)
        return false;

    const TResource hostResource;
    TFilePath hostFolder;
    TFilePath ownFolder;
    if (!hostResource.GetModuleFolder(hostFolder) || !GetResource().GetModuleFolder(ownFolder))
        return false;
    m_options.SetDefaults();
    m_options.Load();
    if (m_rendererFolder.GetPath().IsEmpty())
        m_rendererFolder = hostFolder;

    m_layouts = MailIndexSheet::BuildLayouts();
    if (!m_mailManager.Init()) {
        failureText = kNoMailProgramText;
        return false;
    }
    m_mailManager.SetResource(GetResource());

    CreateWrappers();
    if (!TResource::LoadOwnText(L"XML", kItemTemplate, m_itemTemplate) ||
        !TResource::LoadOwnText(L"XSLT", kSheetStylesheet, m_sheetStylesheet))
        return false;
    LoadButtonImages();
    if (auto* sendAs = ControlAs<TComboBoxCtrl>(*this, kSendAsCombo)) {
        sendAs->ResetContent();
        sendAs->AddString(LoadText(kIndividualText));
        sendAs->AddString(LoadText(kIndexSheetText));
        sendAs->SetCurSel(IsIndexMode() ? 1 : 0);
    }

    m_notify.Attach(this);
    m_saver->SetNotifyTarget(&m_notify);
    if (!m_saver->Start())
        return false;
    m_sheetRenderer->SetRendererFolder(m_rendererFolder);
    m_sheetRenderer->SetNotifyTarget(&m_notify);
    if (!m_sheetRenderer->Start(nullptr))
        return false;
    TString codec;
    BuildCodecParameters(codec, true, kSheetProfile, static_cast<DWORD>(m_options.jpegQuality));
    m_sheetRenderer->SetMediaContext(codec);

    m_iterator->SetRendererFolder(m_rendererFolder);
    if (!m_iterator->Init(GetHandle(), &CMailDlg::OnPreviewPageChanged, this, nullptr))
        return false;
    BuildCodecParameters(codec, true, kPreviewProfile, static_cast<DWORD>(m_options.jpegQuality));
    m_iterator->SetMediaContext(codec);

    if (!GetSelection() ||
        !HostRequests::TransformCaption(*GetSelection(), kItemDataCaptions, m_dataSourcePath, 1))
        return false;

    m_sheet.margins = TRect_T<double>(MailIndexSheet::kMargin, MailIndexSheet::kMargin,
                                      MailIndexSheet::kMargin, MailIndexSheet::kMargin);
    m_sheet.spacing =
        TSize_T<double>(MailIndexSheet::kHorizontalSpacing, MailIndexSheet::kCaptionVerticalSpacing);
    AddMessageHandler(kRenderProgressMessage, MemberHandler<&CMailDlg::OnRenderProgress>(this));
    AddMessageHandler(kCancelMessage, MemberHandler<&CMailDlg::OnCancelMessage>(this));
    AddMessageHandler(kFileFinishedMessage, MemberHandler<&CMailDlg::OnFileFinished>(this));
    AddMessageHandler(kCloseMessage, MemberHandler<&CMailDlg::OnCloseMessage>(this));
    AddCommandHandler(kSendButton, MemberHandler<&CMailDlg::OnSendCommand>(this));
    AddCommandHandler(kPreviousPage, MemberHandler<&CMailDlg::OnPreviousPage>(this));
    AddCommandHandler(kNextPage, MemberHandler<&CMailDlg::OnNextPage>(this));
    AddCommandHandler(kMoreOptions, MemberHandler<&CMailDlg::OnMoreOptions>(this));
    AddCommandHandler(kNoEffectCommand, MemberHandler<&CMailDlg::OnNoEffect>(this));
    AddCommandHandler(kBackgroundButton, MemberHandler<&CMailDlg::OnBackgroundClicked>(this));
    AddCommandHandler(kCaptionCheck, MemberHandler<&CMailDlg::OnCaptionsClicked>(this));
    AddNotifyHandler(kSelectionEnd, kSizeCombo, MemberHandler<&CMailDlg::OnSizeChanged>(this));
    AddNotifyHandler(kSelectionEnd, kLayoutCombo, MemberHandler<&CMailDlg::OnLayoutChanged>(this));
    AddNotifyHandler(kSelectionEnd, kSendAsCombo, MemberHandler<&CMailDlg::OnSendAsChanged>(this));
    for (WORD code = SB_LINEUP; code <= SB_BOTTOM; ++code)
        AddNotifyHandler(code, kQualitySlider, MemberHandler<&CMailDlg::OnQualityScroll>(this));

    if (auto* slider = ControlAs<TSliderCtrl>(*this, kQualitySlider)) {
        slider->SetRangeMin(kMinQualityPosition);
        slider->SetRangeMax(kMaxQualityPosition);
        slider->SetPos(m_options.jpegQuality / 10);
    }
    FillSizeCombo();
    FillLayoutCombo();
    BindPreviewDocument();
    UpdateQualityLabel();
    if (TControl* client = GetControl(kClientLabel)) {
        TString text;
        text.Format(LoadText(kClientText), static_cast<const wchar_t*>(m_mailManager.GetDefaultMailClient()));
        client->SetText(text);
    }
    if (TControl* count = GetControl(kCountLabel)) {
        TString text;
        text.Format(LoadText(kCountText), static_cast<int>(m_items.size()));
        count->SetText(text);
    }
    if (auto* captions = ControlAs<TCheckBoxCtrl>(*this, kCaptionCheck))
        captions->SetCheck(m_options.useCaption ? 1 : 0);
    if (m_options.IsRestrictedHost()) {
        if (TControl* sendAs = GetControl(kSendAsCombo))
            sendAs->Enable(false);
    }
    LayoutStep();
    return true;
}

void CMailDlg::CreateWrappers() {
    for (int id : {kPreviousPage, kNextPage}) {
        if (auto button = TPageButtonFaces::WrapPageButton(GetDlgItem(id)))
            (id == kPreviousPage ? m_previousButton : m_nextButton) = button;
    }
    if (auto* colour = ControlAs<TOwnerDrawCtrl>(*this, kBackgroundButton)) {
        colour->SetBkColor(&m_options.pageBackgroundColour);
        colour->SetDrawCallback(&CMailDlg::DrawBackgroundButton, this);
    }
    if (auto* preview = ControlAs<TOwnerDrawCtrl>(*this, kPreviewArea))
        preview->SetDrawCallback(&CMailDlg::DrawPreviewPage, this);
}

void CMailDlg::LoadButtonImages() {
    m_buttonFaces.Load(GetThisModule(), kButtonImages, m_previousButton.Get(), m_nextButton.Get());
}

void CMailDlg::ReleaseButtonImages() {
    m_buttonFaces.Release(m_previousButton.Get(), m_nextButton.Get());
}

TSize_T<double> CMailDlg::PreviewSize() {
    TRect client;
    TControl* area = GetControl(kPreviewArea);
    if (!area || !area->GetClientRect(client))
        return TSize_T<double>(0, 0);
    return TSize_T<double>(client.right - client.left, client.bottom - client.top);
}

bool CMailDlg::GivePreview(TdocDocument* document) {
    return document && m_iterator->SetDocument(document, PreviewSize());
}

bool CMailDlg::BuildIndexDocument() {
    m_iterator->CancelRendering(false);
    const double textHeight =
        m_options.useCaption ? MailIndexSheet::TemplateCaptionHeight(m_itemTemplate) : 0.0;
    const LONG layout = std::clamp<LONG>(m_options.pageLayout, 0, MailIndexSheet::kLayoutCount - 1);
    MailIndexSheet::Sheet sheet = m_sheet;
    if (!MailIndexSheet::ComposeSheet(m_options.GetPageSize(), layout, textHeight,
                                      m_options.pageBackgroundColour, sheet))
        return false;
    TFilePath sheetFile;
    if (!MakePluginTempFileLocation(TString(MailIndexSheet::kSheetFileName), sheetFile))
        return false;
    const TString parameters = sheet.FormatParameters();
    if (docXSLTTransform2(m_itemTemplate, sheetFile.GetPath(), m_sheetStylesheet, parameters, nullptr) != 1)
        return false;
    std::unique_ptr<TdocDocument> document(
        TdocDocument::CreateFromLTF(sheetFile.GetPath(), m_dataSourcePath));
    if (!document)
        return false;
    sheet.pageCount = document->GetPageCount();
    const bool shown = IsIndexMode();
    if (shown && !GivePreview(document.get()))
        return false;
    m_indexDocument = std::move(document);
    m_sheet = sheet;
    if (shown) {
        UpdatePageButtons();
        if (TControl* area = GetControl(kPreviewArea))
            area->Invalidate(nullptr, false);
    }
    UpdateEstimate();
    return true;
}

bool CMailDlg::BuildPreviewDocument() {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    // The system colour has no alpha byte; the preview page is opaque.
    const DWORD background = (static_cast<DWORD>(face) & 0x00FFFFFFu) | 0xFF000000u;
    std::unique_ptr<TdocDocument> document(MailPreviewDocument::Create(
        AttachmentSize(m_options.GetImageSize()), background, m_dataSourcePath, m_items));
    if (!document)
        return false;
    if (!IsIndexMode() && !GivePreview(document.get()))
        return false;
    m_previewDocument = std::move(document);
    return true;
}

void CMailDlg::BindPreviewDocument() {
    TdocDocument* document = nullptr;
    if (IsIndexMode()) {
        if (!m_indexDocument)
            BuildIndexDocument();
        document = m_indexDocument.get();
        if (document)
            m_sheet.pageCount = document->GetPageCount();
    } else {
        if (!m_previewDocument)
            BuildPreviewDocument();
        document = m_previewDocument.get();
        if (document)
            m_sheet.pageCount = document->GetPageCount();
    }
    if (document)
        GivePreview(document);
    UpdatePageButtons();
    if (TControl* area = GetControl(kPreviewArea))
        area->Invalidate(nullptr, false);
    LayoutStep();
}

void CMailDlg::UpdateQualityLabel() {
    const LONG position =
        std::clamp<LONG>(m_options.jpegQuality / 10, kMinQualityPosition, kMaxQualityPosition);
    if (TControl* label = GetControl(kQualityLabel))
        label->SetText(LoadText(kFirstQualityText + static_cast<UINT>(position - kMinQualityPosition)));
}

void CMailDlg::UpdateEstimate() {
    TControl* label = GetControl(kEstimateLabel);
    if (!label)
        return;
    const bool sheets = IsIndexMode();
    const double megabytes = EstimateMegabytes(m_items, m_options.GetImageSize(), sheets,
                                               m_indexDocument ? m_indexDocument->GetPageCount() : 0,
                                               m_options.GetPageSize(), m_options.jpegQuality);
    TString text;
    text.Format(LoadText(kEstimateText), megabytes);
    label->SetText(text);
}

void CMailDlg::UpdateMoreOptionsText() {
    if (TControl* button = GetControl(kMoreOptions))
        button->SetText(LoadText(m_options.showMoreOptions ? kFewerOptionsText : kMoreOptionsText));
}

void CMailDlg::ShowControl(int id, bool show) {
    if (TControl* control = GetControl(id))
        control->Show(show);
}

void CMailDlg::LayoutStep() {
    const bool more = m_options.showMoreOptions;
    const bool sheetOptions = more && IsIndexMode();
    for (int id : kIndexControls)
        ShowControl(id, sheetOptions);
    for (int id : kQualityControls)
        ShowControl(id, more);
    // The frame reaches below the lowest control shown inside it, the button sits on its lower edge and
    // the preview takes the frame's height.
    TControl* frame = GetControl(kOptionsFrame);
    TControl* moreButton = GetControl(kMoreOptions);
    TRect frameRect;
    if (frame && frame->GetRectInParent(frameRect)) {
        LONG bottom = frameRect.top;
        for (int id : {kSendAsCombo, kSizeCombo, kClientLabel, kEstimateLabel, kQualityCaption, kQualityLabel,
                       kQualitySlider, kLayoutLabel, kLayoutCombo, kBackgroundLabel, kBackgroundButton,
                       kCaptionLabel, kCaptionCheck}) {
            TControl* control = GetControl(id);
            TRect rect;
            if (control && control->IsVisible() && control->GetRectInParent(rect) &&
                rect.top >= frameRect.top)
                bottom = std::max(bottom, rect.bottom);
        }
        TRect buttonRect;
        LONG buttonHeight = 0;
        if (moreButton && moreButton->GetRectInParent(buttonRect))
            buttonHeight = buttonRect.bottom - buttonRect.top;
        bottom += kFrameMargin + static_cast<LONG>(buttonHeight * kMoreButtonRise);
        frame->SetSize(TControl::TSize(frameRect.right - frameRect.left, bottom - frameRect.top), true);
        if (moreButton)
            moreButton->Move(TControl::TPoint(buttonRect.left,
                                              bottom - static_cast<LONG>(buttonHeight * kMoreButtonRise)));
        TControl* area = GetControl(kPreviewArea);
        TRect areaRect;
        if (area && area->GetRectInParent(areaRect) && bottom > areaRect.top)
            area->SetSize(TControl::TSize(areaRect.right - areaRect.left, bottom - areaRect.top), true);
    }
    UpdateMoreOptionsText();
    UpdateEstimate();
}

void CMailDlg::FillSizeCombo() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kSizeCombo);
    if (!combo)
        return;
    combo->ResetContent();
    if (IsIndexMode()) {
        for (LONG i = 0; i < MailIndexSheet::kPageSizeCount; ++i)
            combo->AddString(LoadText(MailIndexSheet::kFirstPageSizeLabel + static_cast<UINT>(i)));
        combo->SetCurSel(m_options.GetPageSize());
        return;
    }
    const LONG offered = m_options.IsRestrictedHost() ? kAttachmentSizeCount - 1 : kAttachmentSizeCount;
    for (LONG i = 0; i < offered; ++i)
        combo->AddString(LoadText(kFirstAttachmentSizeText + static_cast<UINT>(i)));
    combo->SetCurSel(std::min(m_options.GetImageSize(), offered - 1));
}

bool CMailDlg::FillLayoutCombo() {
    const LONG before = m_options.pageLayout;
    const LONG offered = MailIndexSheet::OfferedLayoutCount(m_options.GetPageSize());
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kLayoutCombo);
    if (combo) {
        if (combo->GetCount() == 0) {
            for (LONG i = 0; i < MailIndexSheet::kCommonLayoutCount; ++i)
                combo->AddString(LoadText(m_layouts[static_cast<std::size_t>(i)].label));
        }
        while (combo->GetCount() < offered)
            combo->AddString(LoadText(m_layouts[static_cast<std::size_t>(combo->GetCount())].label));
        while (combo->GetCount() > offered)
            combo->DeleteString(combo->GetCount() - 1);
    }
    if (m_options.pageLayout >= MailIndexSheet::kCommonLayoutCount)
        m_options.pageLayout = std::min(m_options.pageLayout, offered - 1);
    if (combo)
        combo->SetCurSel(std::clamp<LONG>(m_options.pageLayout, 0, offered - 1));
    return m_options.pageLayout != before;
}

// ---- Send and its notices ----

bool CMailDlg::Send() {
    m_idle = false;
    m_iterator->CancelRendering(false);
    m_progressCounter = 1;
    m_sendingSheets = IsIndexMode();
    if (m_sendingSheets)
        m_sheetRenderer->SetReady();
    else
        m_saver->ClearAbort();
    // Files of an earlier Send whose hand-over failed go, so that their names are free again.
    DeleteSendFiles();
    m_pending.clear();
    m_doneCount = 0;
    TString codec;
    BuildCodecParameters(codec, false, kSheetProfile, static_cast<DWORD>(m_options.jpegQuality));
    m_sheetRenderer->SetMediaContext(codec);
    std::vector<TString> refused;
    const bool queued = m_sendingSheets ? QueueSheetPages() : QueuePictures(refused);
    if (!queued || m_pending.empty()) {
        FailSend(refused);
        return false;
    }
    // The count is what was accepted: every accepted request comes back as one notice, after this returns.
    m_sheet.pageCount = static_cast<LONG>(m_pending.size());
    ShowProgress(true);
    m_progress->SetTotalRange(m_sheet.pageCount);
    m_progress->SetTotalPos(0);
    SetProgressText();
    return true;
}

bool CMailDlg::QueuePictures(std::vector<TString>& refused) {
    const LONG sizeIndex = m_options.GetImageSize();
    const TSize_T<LONG> box = AttachmentSize(sizeIndex);
    struct Prepared {
        TRefPtr<TFileSaveData> request;
        TString name;
    };
    std::vector<Prepared> prepared;
    for (const TItem& item : m_items) {
        TString path;
        HostRequests::GetItemData(item.id, path);
        TFilePath target;
        auto request = TRefPtr<TFileSaveData>::Adopt(new (std::nothrow) TFileSaveData);
        if (!request || !MakeUniqueFileName(AttachmentBaseName(path), TString(L"jpg"), target)) {
            refused.push_back(DisplayNameOf(path));
            continue;
        }
        request->m_maxSize = box;
        request->m_item = item;
        request->m_jpegQuality = m_options.jpegQuality;
        request->m_targetPath = target.GetPath();
        prepared.push_back({request, DisplayNameOf(path)});
    }
    // A mail that lacks some of the pictures is not what the user asked for: nothing is queued then.
    const auto dropAll = [&] {
        for (const Prepared& picture : prepared) {
            TFilePath file;
            file.Set(picture.request->m_targetPath);
            file.Delete();
        }
    };
    if (!refused.empty()) {
        dropAll();
        return false;
    }
    for (const Prepared& picture : prepared) {
        TFileSaveData* request = picture.request.Get();
        m_pending[request->GetId()] = Pending{TRefPtr<TThreadQueueData>(request), request->m_targetPath};
        if (!m_saver->Post(request)) {
            refused.push_back(picture.name);
            // What was queued already goes unprocessed, and a running picture is abandoned.
            m_saver->Stop(true, true);
            m_pending.clear();
            dropAll();
            return false;
        }
    }
    return true;
}

bool CMailDlg::QueueSheetPages() {
    if (!m_indexDocument && !BuildIndexDocument())
        return false;
    const TSize_T<double> page = m_sheet.pageSize;
    TString documentContext;
    BuildDocContext(page, TString(), documentContext);
    if (!m_sheetRenderer->SetDocument(m_indexDocument.get(), documentContext))
        return false;
    TFilePath folder;
    if (!GetPluginTempFolder(folder))
        return false;
    const LONG pages = m_indexDocument->GetPageCount();
    for (LONG i = 0; i < pages; ++i) {
        TFilePath location;
        location.Set(folder.GetPath() + MailIndexSheet::PageFileName(i));
        auto request = TRefPtr<TRndrData>::Adopt(new (std::nothrow) TRndrData);
        if (!request)
            continue;
        request->m_pageNumber = i + 1;
        BuildFilePageContext(location, request->m_context, &page);
        m_pending[request->GetId()] = Pending{TRefPtr<TThreadQueueData>(request.Get()), location.GetPath()};
        if (!m_sheetRenderer->QueueRequest(request.Get()))
            m_pending.erase(request->GetId());
    }
    return true;
}

void CMailDlg::FailSend(const std::vector<TString>& refused) {
    m_pending.clear();
    ShowProgress(false);
    m_idle = true;
    if (refused.empty()) {
        ShowFileFailure();
        return;
    }
    TString names;
    for (const TString& name : refused) {
        if (!names.IsEmpty())
            names += L", ";
        names += name;
    }
    TString text;
    text.Format(LoadText(kPicturesNotQueuedText), static_cast<const wchar_t*>(names));
    ShowMessageBox(text, kErrorMessage, GetHandle());
}

void CMailDlg::ShowFileFailure() {
    ShowMessageBox(LoadText(m_sendingSheets ? kSheetFailedText : kPictureFailedText), kErrorMessage,
                   GetHandle());
}

void CMailDlg::ShowProgress(bool show) {
    ShowProgressDialog(m_progress, m_notify, kProgressTemplate, show);
}

void CMailDlg::SetProgressText() {
    if (!m_progress)
        return;
    TString text;
    text.Format(LoadText(m_sendingSheets ? kSheetProgressText : kPictureProgressText),
                static_cast<int>(m_sheet.pageCount), static_cast<int>(m_progressCounter));
    m_progress->SetMessageText(text);
}

void CMailDlg::DeleteSendFiles() {
    for (const TString& path : m_writtenFiles) {
        TFilePath file;
        file.Set(path);
        file.Delete();
    }
    for (const auto& [id, pending] : m_pending) {
        TFilePath file;
        file.Set(pending.path);
        file.Delete();
    }
    m_writtenFiles.clear();
}

ULONG CMailDlg::SendMail() {
    const ULONG result = m_mailManager.SendMail(m_writtenFiles, GetHandle());
    if (result != 0)
        ShowMessageBox(m_mailManager.GetErrorText(result), kErrorMessage, GetHandle());
    return result;
}

LONG CMailDlg::OnFileFinished(TMessageInfo& info) {
    auto* request = reinterpret_cast<TThreadQueueData*>(info.lParam);
    if (!request)
        return 1;
    const auto found = m_pending.find(request->GetId());
    if (found == m_pending.end()) {
        request->Release();
        return 1;
    }
    const TString path = found->second.path;
    m_pending.erase(found);
    if (request->m_result == kFileSaveAborted) {
        TFilePath file;
        file.Set(path);
        file.Delete();
        ShowFileFailure();
        DeleteSendFiles();
        PreviewPageChanged();
        request->Release();
        return 1;
    }
    CompleteProgressStep();
    ++m_doneCount;
    if (request->m_result != kFileSaved) {
        // A file that failed counts towards completion but is neither attached nor left behind.
        TFilePath file;
        file.Set(path);
        file.Delete();
        ShowFileFailure();
    } else {
        m_writtenFiles.push_back(path);
    }
    bool close = false;
    if (m_doneCount >= m_sheet.pageCount) {
        ShowProgress(false);
        m_idle = true;
        if (SendMail() == 0) {
            m_sent = true;
            close = true;
        }
    } else {
        ++m_progressCounter;
        SetProgressText();
    }
    request->Release();
    if (close)
        PostMessage(kCloseMessage, 0, 0);
    return 1;
}

LONG CMailDlg::OnCancelMessage() {
    if (m_idle)
        return 1;
    if (m_sendingSheets)
        m_sheetRenderer->Cancel(true, true);
    else
        m_saver->Stop(true, true);
    // What this Send wrote or claimed goes, so that a fresh Send starts with free names.
    DeleteSendFiles();
    m_pending.clear();
    ShowProgress(false);
    m_idle = true;
    return 1;
}

LONG CMailDlg::OnCloseMessage() {
    Close();
    return 1;
}

void CMailDlg::Close() {
    if (m_progress) {
        m_progress->Destroy();
        m_progress = TRefPtr<TPluginProgressDlg>();
    }
    m_iterator->Shutdown();
    m_sheetRenderer->Stop();
    m_saver->Terminate();
    ReleaseButtonImages();
    m_indexDocument.reset();
    m_previewDocument.reset();
    if (m_sent)
        m_options.Save();
    TWindow::Close();
}

// ---- Commands ----

LONG CMailDlg::OnSendCommand() {
    Send();
    return 1;
}

LONG CMailDlg::OnSendAsChanged() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kSendAsCombo);
    if (!combo)
        return 1;
    const LONG chosen = combo->GetCurSel();
    if (chosen < 0 || chosen == m_options.sendAs)
        return 1;
    m_options.sendAs = chosen;
    m_iterator->CancelRendering(false);
    FillSizeCombo();
    BindPreviewDocument();
    return 1;
}

LONG CMailDlg::OnSizeChanged() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kSizeCombo);
    if (!combo)
        return 1;
    const LONG chosen = combo->GetCurSel();
    if (chosen < 0)
        return 1;
    TUserOptions& options = m_options;
    if (IsIndexMode()) {
        if (chosen != options.pageSize) {
            options.pageSize = chosen;
            FillLayoutCombo();
            BuildIndexDocument();
        }
    } else if (chosen != options.imageSize) {
        options.imageSize = chosen;
        // Every size shows the pictures at another size within its page: a picture smaller than one box
        // fills a larger one less.
        if (BuildPreviewDocument()) {
            if (TControl* area = GetControl(kPreviewArea))
                area->Invalidate(nullptr, false);
        }
        if (FillLayoutCombo())
            BuildIndexDocument();
    }
    UpdateEstimate();
    return 1;
}

LONG CMailDlg::OnLayoutChanged() {
    auto* combo = ControlAs<TComboBoxCtrl>(*this, kLayoutCombo);
    if (!combo)
        return 1;
    const LONG chosen = combo->GetCurSel();
    if (chosen >= 0 && chosen != m_options.pageLayout) {
        m_options.pageLayout = chosen;
        BuildIndexDocument();
    }
    return 1;
}

LONG CMailDlg::OnCaptionsClicked() {
    auto* check = ControlAs<TCheckBoxCtrl>(*this, kCaptionCheck);
    LONG state = 0;
    if (check && check->GetCheck(state)) {
        m_options.useCaption = state == 1;
        BuildIndexDocument();
    }
    return 1;
}

LONG CMailDlg::OnBackgroundClicked() {
    TColorData data{};
    data.colour = m_options.pageBackgroundColour;
    data.owner = GetHandle();
    TColorPicker picker;
    picker.SetColorData(&data);
    DWORD colour = data.colour;
    if (!picker.Choose(colour) || colour == m_options.pageBackgroundColour)
        return 1;
    m_options.pageBackgroundColour = colour | 0xFF000000u;
    if (TControl* button = GetControl(kBackgroundButton)) {
        button->SetBkColor(&m_options.pageBackgroundColour);
        button->Invalidate(nullptr, false);
    }
    BuildIndexDocument();
    return 1;
}

LONG CMailDlg::OnMoreOptions() {
    m_options.showMoreOptions = !m_options.showMoreOptions;
    LayoutStep();
    return 1;
}

LONG CMailDlg::OnNoEffect() {
    return 1;
}

LONG CMailDlg::OnQualityScroll() {
    auto* slider = ControlAs<TSliderCtrl>(*this, kQualitySlider);
    if (!slider)
        return 1;
    m_options.jpegQuality = slider->GetPos() * 10;
    UpdateQualityLabel();
    UpdateEstimate();
    return 1;
}

bool CMailDlg::DrawBackgroundButton(TOwnerDrawCtrl*, void*) {
    // The background colour that the wrapper fills the button with is all it shows.
    return true;
}
