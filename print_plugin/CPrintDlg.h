// The print plug-in's dialog: the layout sheets (the sheet resources, the sheet record computed from the
// printer, the configuration and the options, and the layout document made from it for the preview or for
// printing, with the pictures' date imprints), and the printer's page setup run on its own for the host.
// The dialog's windows and controls build on this.
#pragma once

#include "SheetGeometry.h"
#include "SheetLayout.h"
#include "TConfigSettings.h"
#include "TPrinter.h"
#include "TUserOptions.h"

#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TAutoHandle.h"
#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TGenPluginDlg.h"
#include "plugin_framework/TImgBtnCtrl.h"
#include "plugin_framework/TPageButtonFaces.h"
#include "plugin_framework/TPluginProgressDlg.h"
#include "plugin_framework/TResource.h"
#include "plugin_framework/TdocObject.h"

#include <memory>
#include <vector>

class TOwnerDrawCtrl;
class TiProImage;

// One selected picture as the dialog lays it out: its id, its size in pixels as it stands (after its
// orientation) and the host's date and time text of it.
struct PrintSelectionRecord {
    KvwItemId id = 0;
    graphtypes::TSize_T<LONG> size{0, 0};
    TString dateText;
};

class CPrintDlg : public TGenPluginDlg {
public:
    // The module's resources: the items file's caption stylesheet (used by the host requests), the page
    // template, the layout stylesheet and the imprint stylesheet.
    static constexpr UINT kCaptionStylesheet = 1001;
    static constexpr UINT kPageTemplate = 1003;
    static constexpr UINT kLayoutStylesheet = 1008;
    static constexpr UINT kImprintStylesheet = 1017;
    static constexpr const wchar_t* kSheetFileName = L"sheet_ltf.xml";

    // Controls of the dialog's template.
    static constexpr int kPrinterLabel = 1007;
    static constexpr int kPrintAsCombo = 1008;
    static constexpr int kPaperLabel = 1009;
    static constexpr int kPageSetupButton = 1030;
    static constexpr int kLayoutCombo = 1031;
    static constexpr int kRotateCheck = 1033;
    static constexpr int kBorderlessCheck = 1034;
    static constexpr int kReplicateCheck = 1035;
    static constexpr int kReplicaCombo = 1036;
    static constexpr int kReplicaLabel = 1037;
    static constexpr int kPrinterKindCombo = 1039;
    static constexpr int kCaptionCheck = 1041;
    static constexpr int kCaptionLabel = 1042;
    static constexpr int kImprintLabel = 1043;
    static constexpr int kCaptionSettingsButton = 1044;
    static constexpr int kColumnSlider = 1045;
    static constexpr int kItemWidthCombo = 1051;
    static constexpr int kItemHeightCombo = 1052;
    static constexpr int kWidthUnitLabel = 1049;
    static constexpr int kHeightUnitLabel = 1050;

    // The language library's texts of the dialog.
    static constexpr UINT kPrinterText = 1005;
    static constexpr UINT kPaperText = 1006;
    static constexpr UINT kPortraitText = 1007;
    static constexpr UINT kLandscapeText = 1008;
    static constexpr UINT kConfigFailedText = 1009;
    static constexpr UINT kAdvancedIndexText = 1010;
    static constexpr UINT kEasyIndexText = 1011;
    static constexpr UINT kStandardPrintText = 1013;
    static constexpr UINT kIndexPrintText = 1014;
    static constexpr UINT kCaptionLineText = 1059;
    static constexpr UINT kImprintLineText = 1060;
    static constexpr UINT kNoImprintText = 1062;
    static constexpr UINT kDateImprintText = 1067;
    static constexpr UINT kDateTimeImprintText = 1068;
    static constexpr UINT kCentimetreText = 1073;
    static constexpr UINT kMillimetreText = 1074;
    static constexpr UINT kInchText = 1080;
    // The button faces: previous page normal, hot, pressed, disabled, then the next page's.
    static constexpr UINT kButtonImages[8] = {1022, 1023, 1024, 1025, 1026, 1028, 1027, 1029};

    // Messages the dialog handles.
    static constexpr UINT kCancelMessage = 0xB424;
    static constexpr UINT kCloseMessage = 0xB03A;
    static constexpr WORD kSelectionEnd = 9;
    static constexpr LONG kFirstColumns = 5;
    static constexpr LONG kLastColumns = 10;
    static constexpr DWORD kPreviewProfile = 0x1000;
    static constexpr DWORD kPrintProfile = 0x1100;

    // The language library's texts of the page setup and the caption description.
    static constexpr UINT kModuleNotFoundText = 1085;
    static constexpr UINT kNoPrinterText = 1018;
    static constexpr UINT kCaptionBasicText = 1063;
    static constexpr UINT kCaptionAdditionalText = 1064;
    static constexpr UINT kCaptionDetailedText = 1065;
    static constexpr UINT kNoCaptionText = 1066;
    // The template of the caption and imprint settings dialog in the language library.
    static constexpr UINT kMetadataDialogTemplate = 1090;
    // The most replicas of one picture and the largest imprint font's floor, in points.
    static constexpr LONG kMaxReplicas = 5;
    static constexpr LONG kMinImprintPoints = 4;

    // The dialog with a printer, configuration and options of its own.
    CPrintDlg();
    // All three stay the caller's and must outlive the dialog.
    CPrintDlg(TPrinter& printer, TConfigSettings& config, TUserOptions& options);
    ~CPrintDlg() override;
    CPrintDlg(const CPrintDlg&) = delete;
    CPrintDlg& operator=(const CPrintDlg&) = delete;

    // The page template and the two stylesheets from the module's own resources, each tried only when the
    // one before loaded; false at the first missing one.
    bool LoadSheetResources();

    LONG OnInit() override;
    void Close() override;
    // The base's copy of the list, then one record per item from the host: its date text and its size
    // as it stands (a quarter turn either way swaps the sides).
    bool SetSelection(const TNuidList* list) override;
    virtual bool IsPrintDialog() const { return true; }
    // Where the renderer libraries are looked for; the host program's folder unless set before OnInit.
    void SetRendererFolder(const TFilePath& folder) { m_rendererFolder = folder; }
    // The side of a picture after a rotation in degrees: a quarter turn either way swaps them.
    static graphtypes::TSize_T<LONG> RotatedSize(const graphtypes::TSize_T<LONG>& size, double degrees);
    bool IsIdle() const override { return m_idle; }
    TDBufPageIterator* GetPreviewPages() const override { return m_iterator; }
    // OK: the printer's print dialog over this window for the document's pages; the job starts when it
    // is accepted with pages.
    void OnOK() override;
    // Prints the page at the current position of the job: false when it cannot be started or queued.
    bool PrintPage();
    void ShowProgress(bool show);
    // The resolution pages render at for the printer's resolution and the chosen printer type: the
    // printer's own for a kind outside the list or a type axis not above 0, the type's when the printer
    // has at least that on both axes, else the type's along the printer's finer axis with the printer's
    // aspect kept. False for a printer resolution not above 0.
    static bool RenderResolution(const graphtypes::TSize_T<LONG>& printer,
                                 const std::vector<PrinterTypeRecord>& types, LONG kind,
                                 graphtypes::TSize_T<LONG>& render);
    // The printer kind a user who chose none prints with: the first type that renders at the printer's
    // own resolution, else the one that renders finest (the first of equals); kNoPrinterKind for no types.
    static LONG DefaultPrinterKind(const graphtypes::TSize_T<LONG>& printer,
                                   const std::vector<PrinterTypeRecord>& types);
    // The preview's iterator (borrowed) and the size of the preview control that pages are fitted into.
    // The document the iterator previews stays the dialog's: the iterator is shut down before the dialog
    // goes, and its ReleaseDocument is never called.
    void SetPageIterator(TDBufPageIterator* iterator, const graphtypes::TSize_T<double>& previewSize);
    // The file that lists the selected pictures with their caption texts.
    void SetItemsFile(const TFilePath& itemsFile) { m_itemsFile = itemsFile; }
    // The selected pictures in selection order, as the imprints name them.
    void SetSelectionInfo(std::vector<PrintSelectionRecord> records) { m_selectionInfo = std::move(records); }
    const std::vector<PrintSelectionRecord>& GetSelectionInfo() const { return m_selectionInfo; }

    // The host's stand-alone page setup: the options and printer are read afresh, the page-setup dialog
    // runs over the host's main window and, when accepted, the options are saved. Failures are shown in a
    // message box. Always true.
    bool RunPageSetup();
    // The imprint stylesheet applied to the preview's document with ImprintParameters; true when the
    // transform answered 1. A failed transform leaves the document as it was.
    bool ApplyImprints();
    // The caption and imprint settings dialog of the language library over a copy of the options' record,
    // with the configuration's largest caption size and the automatic size of the current layout's items;
    // the record is taken back only when the dialog ends with OK (the answer is then true).
    bool EditMetadataSettings(HWND parent);
    // The imprint stylesheet's parameters for the current layout: the pictures' sizes and date texts (each
    // repeated as often as the replicas ask), the imprint font, its height in pixels and its colour. False
    // when the sheet cannot be laid out.
    bool ImprintParameters(TString& parameters) const;

    // Builds the sheet for the preview (true) or for printing in device coordinates (false). A sheet that
    // cannot be laid out, a failed transform or document, or a preview that refuses the new document
    // answers false with the record, the page count and the previous documents as they were.
    bool BuildSheet(bool forDisplay);
    // The parameter string of the current record.
    TString FormatSheetParameters() const;
    // The item size of the current print mode on the printer's printable area (in the unit at the
    // resolution), with the spacing and grid; false when the sheet cannot be laid out.
    bool ComputeItemLayout(LONG unit, graphtypes::TSize_T<double>& spacing, graphtypes::TSize_T<LONG>& grid,
                           const graphtypes::TSize_T<LONG>& resolution,
                           graphtypes::TSize_T<double>& itemSize) const;
    double CaptionLineHeight(LONG unit, LONG verticalDpi, double itemWidth) const;
    double CaptionBlockHeight(LONG unit, LONG verticalDpi, double itemWidth) const;

    const SheetLayout& GetSheet() const { return m_sheet; }
    TPrinter& GetPrinter() { return m_printer; }
    TConfigSettings& GetConfig() { return m_config; }
    TUserOptions& GetOptions() { return m_options; }
    LONG GetPageCount() const { return m_pageCount; }
    // The preview's document and the last document built for printing; null before the first build.
    TdocDocument* GetSheetDocument() const { return m_document.get(); }
    TdocDocument* GetPrintDocument() const { return m_printDocument.get(); }

private:
    struct OwnedParts {
        TPrinter printer;
        TConfigSettings config;
        TUserOptions options;
    };

    // The record of a build for display or printing; false when it cannot be laid out.
    bool ComposeSheet(bool forDisplay, SheetLayout& sheet) const;
    // The imprint's font height in pixels for an item of the width in pixels.
    LONG ImprintHeight(double itemWidth) const;
    static void OnPageSetupDone(bool accepted, bool changed, void* context);
    void PageSetupDone(bool accepted, bool changed);
    bool ApplyImprintsTo(TdocDocument& document) const;

    // The dialog's start-up; false with the text of the failure (0: no text of its own).
    bool Initialize(UINT& failureText);
    bool IsIndexMode() const { return m_options.GetPrintAs() == TUserOptions::kIndexPrint; }
    void CreateWrappers();
    void LoadButtonImages();
    void ReleaseButtonImages();
    graphtypes::TSize_T<double> PreviewSize();
    // The items file afresh from the selection, with the replicas and the caption flags.
    bool WriteItemsFile();
    void Rebuild();
    void FillPrintAsCombo();
    void FillPrinterKindCombo();
    void FillReplicaCombo();
    void FillAdvancedSizeLists();
    void FillLayoutCombo();
    void ShowModeGroups();
    void UpdatePrinterTexts();
    void UpdateCaptionControls();
    void EnableReplicaControls();
    void EnableForHost();
    void ShowControl(int id, bool show);
    void EnableControl(int id, bool enable);
    bool IsChecked(int id);

    LONG OnCancelMessage();
    LONG OnRenderFinished(TMessageInfo& info);
    LONG OnCloseMessage();
    LONG OnPageSetupCommand();
    LONG OnCaptionSettings();
    LONG OnPrintAsChanged();
    LONG OnLayoutChanged();
    LONG OnColumnScroll();
    LONG OnItemWidthChanged();
    LONG OnItemHeightChanged();
    LONG OnPrinterKindChanged();
    LONG OnCaptionsClicked();
    LONG OnRotateClicked();
    LONG OnBorderlessClicked();
    LONG OnReplicateClicked();
    LONG OnReplicasChanged();
    static void OnPrintDialogDone(bool accepted, const std::vector<LONG>& pages, void* context);
    void StartJob(const std::vector<LONG>& pages);
    // The job's end after a failure: the document aborted, idle again, the preview rebuilt; unless
    // silent, the renderer cancelled, the progress hidden and the failure shown.
    void FailJob(bool silent);
    void SetProgressMessage();

    std::unique_ptr<OwnedParts> m_owned; // null when the parts are the caller's
    TPrinter& m_printer;
    TConfigSettings& m_config;
    TUserOptions& m_options;
    SheetGeometry m_geometry;
    SheetLayout m_sheet;
    TDBufPageIterator* m_iterator = nullptr;
    graphtypes::TSize_T<double> m_previewSize;
    TFilePath m_itemsFile;
    std::unique_ptr<TdocDocument> m_document;
    std::unique_ptr<TdocDocument> m_printDocument;
    LONG m_pageCount = 0;
    std::vector<PrintSelectionRecord> m_selectionInfo;
    bool m_standAlone = false;
    bool m_idle = true;
    bool m_cancelled = false;
    TRefPtr<TAsyncRenderer> m_renderer;
    TRefPtr<TDBufPageIterator> m_ownIterator;
    TAutoHandle m_notify;
    // The dialog holds one reference of each as its control's wrapper, these the other.
    TRefPtr<TImgBtnCtrl> m_previousButton;
    TRefPtr<TImgBtnCtrl> m_nextButton;
    TPageButtonFaces m_buttonFaces;
    TFilePath m_rendererFolder;
    std::vector<LONG> m_pageList;
    std::size_t m_printPosition = 0;
    // The request of the page being printed, until its notice came.
    TRefPtr<TRndrData> m_pageRequest;
    // The page of the job's sheet in the printer's pixels, which each page is drawn at.
    graphtypes::TSize_T<double> m_printPageSize;
};

// The dialog's caption line: the names of the caption blocks the flags choose, joined by commas, or the
// text for none, from the resources' strings.
TString CaptionDescription(const TResource& resources, LONG flags);
