// The print dialog's layout sheets: the sheet resources, the sheet record computed from the printer, the
// configuration and the options, and the layout document made from it for the preview or for printing.
// The dialog's windows and controls build on this.
#pragma once

#include "SheetGeometry.h"
#include "SheetLayout.h"
#include "TConfigSettings.h"
#include "TPrinter.h"
#include "TUserOptions.h"

#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TdocObject.h"

#include <memory>

class CPrintDlg {
public:
    // The module's resources: the items file's caption stylesheet (used by the host requests), the page
    // template, the layout stylesheet and the imprint stylesheet.
    static constexpr UINT kCaptionStylesheet = 1001;
    static constexpr UINT kPageTemplate = 1003;
    static constexpr UINT kLayoutStylesheet = 1008;
    static constexpr UINT kImprintStylesheet = 1017;
    static constexpr const wchar_t* kSheetFileName = L"sheet_ltf.xml";

    // All three stay the caller's and must outlive the dialog.
    CPrintDlg(TPrinter& printer, const TConfigSettings& config, const TUserOptions& options);
    virtual ~CPrintDlg();
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
    LONG GetPageCount() const { return m_pageCount; }
    // The preview's document and the last document built for printing; null before the first build.
    TdocDocument* GetSheetDocument() const { return m_document.get(); }
    TdocDocument* GetPrintDocument() const { return m_printDocument.get(); }

private:
    // The record of a build for display or printing; false when it cannot be laid out.
    bool ComposeSheet(bool forDisplay, SheetLayout& sheet) const;

    TPrinter& m_printer;
    const TConfigSettings& m_config;
    const TUserOptions& m_options;
    SheetGeometry m_geometry;
    SheetLayout m_sheet;
    TDBufPageIterator* m_iterator = nullptr;
    graphtypes::TSize_T<double> m_previewSize;
    TFilePath m_itemsFile;
    std::unique_ptr<TdocDocument> m_document;
    std::unique_ptr<TdocDocument> m_printDocument;
    LONG m_pageCount = 0;
};
