// The mail plug-in's modal dialog over the host's selection: it lets the user send the pictures one by one
// (each fitted to an attachment size and written as a JPEG) or as index sheets, previews what will be
// attached, writes the attachments on worker threads with a progress dialog that can cancel, and hands
// them to the mail program, closing itself once that succeeded.
#pragma once

#include "MailIndexSheet.h"
#include "TAsyncFileSaver.h"
#include "TFileSaveData.h"
#include "TMailManager.h"
#include "TUserOptions.h"

#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TAutoHandle.h"
#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TGenPluginDlg.h"
#include "plugin_framework/TImgBtnCtrl.h"
#include "plugin_framework/TPageButtonFaces.h"
#include "plugin_framework/TPluginProgressDlg.h"
#include "plugin_framework/TdocObject.h"

#include <map>
#include <memory>
#include <vector>

class TOwnerDrawCtrl;
class TiProImage;

class CMailDlg : public TGenPluginDlg {
public:
    // Controls of the dialog's template.
    static constexpr int kSendButton = 1005;
    static constexpr int kOptionsFrame = 1006;
    static constexpr int kCountLabel = 1007;
    static constexpr int kSendAsCombo = 1008;
    static constexpr int kLayoutLabel = 1012;
    static constexpr int kBackgroundLabel = 1015;
    static constexpr int kMoreOptions = 1016;
    static constexpr int kClientLabel = 1017;
    static constexpr int kEstimateLabel = 1018;
    static constexpr int kNoEffectCommand = 1019;
    static constexpr int kCaptionLabel = 1020;
    static constexpr int kBackgroundButton = 1021;
    static constexpr int kCaptionCheck = 1022;
    static constexpr int kQualityCaption = 1023;
    static constexpr int kQualityLabel = 1024;
    static constexpr int kQualitySlider = 1025;
    static constexpr int kLayoutCombo = 1029;
    static constexpr int kSizeCombo = 1030;

    // Texts of the language library.
    static constexpr UINT kClientText = 1005;
    static constexpr UINT kEstimateText = 1006;
    static constexpr UINT kCountText = 1011;
    static constexpr UINT kIndividualText = 1013;
    static constexpr UINT kIndexSheetText = 1014;
    static constexpr UINT kFewerOptionsText = 1016;
    static constexpr UINT kMoreOptionsText = 1017;
    static constexpr UINT kPictureFailedText = 1018;
    static constexpr UINT kSheetFailedText = 1019;
    static constexpr UINT kSheetProgressText = 1023;
    static constexpr UINT kPictureProgressText = 1024;
    static constexpr UINT kFirstAttachmentSizeText = 1029;
    static constexpr UINT kFullSizeText = 1036;
    static constexpr UINT kFirstQualityText = 35;
    static constexpr UINT kOpenFailedText = 1058;
    static constexpr UINT kNoMailProgramText = 1059;
    static constexpr UINT kPicturesNotQueuedText = 1060;
    static constexpr UINT kProgressTemplate = 1014;

    // Resources of the plug-in module.
    static constexpr UINT kItemTemplate = 1003;
    static constexpr UINT kSheetStylesheet = 1008;
    static constexpr UINT kButtonImages[8] = {1019, 1025, 1026, 1024, 1023, 1021, 1022, 1020};

    // Messages the dialog handles.
    static constexpr UINT kCancelMessage = 46116;
    static constexpr UINT kFileFinishedMessage = 46115;
    static constexpr UINT kCloseMessage = 45114;
    static constexpr WORD kSelectionEnd = 9;

    static constexpr LONG kMinQualityPosition = 6;
    static constexpr LONG kMaxQualityPosition = 10;
    static constexpr LONG kAttachmentSizeCount = 8;
    static constexpr DWORD kPreviewProfile = 4096;
    static constexpr DWORD kSheetProfile = 8192;
    // The caption flags of the selection's item data file: the file name.
    static constexpr DWORD kItemDataCaptions = 1;

    // The dialog's record of one selected picture.
    using TItem = TFileSaveData::TItem;

    CMailDlg();
    ~CMailDlg() override;

    LONG OnInit() override;
    void Close() override;
    // The base's copy of the list, then the item records rebuilt from the host.
    bool SetSelection(const TNuidList* list) override;
    virtual bool IsMailDialog() const { return true; }
    // The host's progress words, forwarded by the plug-in: while individual pictures are being written,
    // the step bar follows them.
    virtual void OnHostProgress(DWORD position, DWORD range);

    // The maximum attachment size of an index (full size and any index outside the table: (0, 0)).
    static graphtypes::TSize_T<LONG> AttachmentSize(LONG index);
    // The estimated total size of the attachments in megabytes for the pictures at the attachment size
    // (individual pictures) or the pages of the page size (index sheets), at the quality.
    static double EstimateMegabytes(const std::vector<TItem>& items, LONG attachmentSize, bool indexSheets,
                                    LONG pages, LONG pageSize, LONG quality);

    // The base name a picture's attachment is written under, from the host's file name of it: the name
    // without its folder and its last extension, each run of dots made one dot and dots at either end
    // dropped (no "..", no hidden file); "image" when nothing is left.
    static TString AttachmentBaseName(const TString& itemPath);

    // Where the renderer libraries are looked for; the host program's folder unless set before OnInit.
    void SetRendererFolder(const TFilePath& folder) { m_rendererFolder = folder; }

    // Command 1005: writes the attachments; false (and idle again) when none could be started.
    bool Send();
    // Hands the written files to the mail program; a failure is shown in a box. The MAPI result.
    ULONG SendMail();

    bool IsIdle() const override { return m_idle; }
    bool IsSent() const { return m_sent; }
    TUserOptions& GetOptions() { return m_options; }
    const std::vector<TItem>& GetItems() const { return m_items; }
    const std::vector<TString>& GetWrittenFiles() const { return m_writtenFiles; }
    LONG GetExpectedFiles() const { return m_sheet.pageCount; }
    const MailIndexSheet::Sheet& GetSheet() const { return m_sheet; }
    TdocDocument* GetIndexDocument() const { return m_indexDocument.get(); }
    TdocDocument* GetPreviewDocument() const { return m_previewDocument.get(); }
    TDBufPageIterator* GetPageIterator() const { return m_iterator.Get(); }
    TDBufPageIterator* GetPreviewPages() const override { return m_iterator.Get(); }
    TPluginProgressDlg* GetProgressDialog() const { return m_progress.Get(); }
    const TString& GetDataSourcePath() const { return m_dataSourcePath; }

private:
    // The pending map's record of a queued request and the file it writes.
    struct Pending {
        TRefPtr<TThreadQueueData> request;
        TString path;
    };

    bool Initialize(UINT& failureText);
    void FailInitialization(UINT text);
    bool IsIndexMode() const { return m_options.GetSendAs() == TUserOptions::kIndexSheet; }
    void CreateWrappers();
    void LoadButtonImages();
    void ReleaseButtonImages();

    // Index sheets: builds the document first and lets go of the previous one only once the preview took
    // the new one; false with everything as it was.
    bool BuildIndexDocument();
    bool BuildPreviewDocument();
    void BindPreviewDocument();
    bool GivePreview(TdocDocument* document);
    graphtypes::TSize_T<double> PreviewSize();

    void UpdateQualityLabel();
    void UpdateEstimate();
    void UpdateMoreOptionsText();
    void LayoutStep();
    void FillSizeCombo();
    // Returns whether the layout index changed.
    bool FillLayoutCombo();
    void ShowControl(int id, bool show);

    // Every picture's request, or none: false with the names of the pictures that could not be queued
    // (the others let go and their files deleted).
    bool QueuePictures(std::vector<TString>& refused);
    bool QueueSheetPages();
    // None accepted or a failed set-up: progress hidden, idle, the failure shown (naming the pictures
    // that could not be queued, when there are any).
    void FailSend(const std::vector<TString>& refused = {});
    void ShowProgress(bool show);
    void SetProgressText();
    void ShowFileFailure();
    // Deletes this Send's attachments: the written files and the paths still pending.
    void DeleteSendFiles();

    LONG OnCancelMessage();
    LONG OnFileFinished(TMessageInfo& info);
    LONG OnCloseMessage();
    LONG OnSendCommand();
    LONG OnSendAsChanged();
    LONG OnSizeChanged();
    LONG OnLayoutChanged();
    LONG OnCaptionsClicked();
    LONG OnBackgroundClicked();
    LONG OnMoreOptions();
    LONG OnNoEffect();
    LONG OnQualityScroll();
    static bool DrawBackgroundButton(TOwnerDrawCtrl* control, void* context);

    bool m_idle = true;
    TMailManager m_mailManager;
    std::vector<TString> m_writtenFiles;
    std::map<DWORD, Pending> m_pending;
    TUserOptions m_options;
    TString m_dataSourcePath;
    std::unique_ptr<TdocDocument> m_indexDocument;
    std::unique_ptr<TdocDocument> m_previewDocument;
    TString m_itemTemplate;
    TString m_sheetStylesheet;
    MailIndexSheet::Sheet m_sheet;
    TRefPtr<TAsyncFileSaver> m_saver;
    TRefPtr<TAsyncRenderer> m_sheetRenderer;
    TRefPtr<TDBufPageIterator> m_iterator;
    LONG m_progressCounter = 1;
    TAutoHandle m_notify;
    // The dialog holds one reference of each as its control's wrapper, these the other.
    TRefPtr<TImgBtnCtrl> m_previousButton;
    TRefPtr<TImgBtnCtrl> m_nextButton;
    TPageButtonFaces m_buttonFaces;
    std::vector<MailIndexSheet::Layout> m_layouts;
    std::vector<TItem> m_items;
    bool m_sent = false;
    // What the running Send writes, fixed when it starts.
    bool m_sendingSheets = false;
    // Notices handled in this Send, against the count of accepted requests.
    LONG m_doneCount = 0;
    TFilePath m_rendererFolder;
};
