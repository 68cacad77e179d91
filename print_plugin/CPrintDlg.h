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

#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TGenPluginDlg.h"
#include "plugin_framework/TResource.h"
#include "plugin_framework/TdocObject.h"

#include <memory>
#include <vector>

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
    bool ApplyImprintsTo(TdocDocument& document) const;

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
};

// The dialog's caption line: the names of the caption blocks the flags choose, joined by commas, or the
// text for none, from the resources' strings.
TString CaptionDescription(const TResource& resources, LONG flags);
