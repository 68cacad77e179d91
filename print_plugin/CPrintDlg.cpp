// The print dialog's construction and its sheets: the item layout on the page, the caption heights and
// the sheet document built from the layout for the preview or the printer.
#include "CPrintDlg.h"

#include "plugin_framework/LengthUnits.h"
#include "plugin_framework/TResource.h"

#include "platform/dadadud/DadaDud.h"

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

} // namespace

CPrintDlg::CPrintDlg()
    : m_owned(std::make_unique<OwnedParts>()), m_printer(m_owned->printer), m_config(m_owned->config),
      m_options(m_owned->options), m_geometry(m_config, m_options),
      m_renderer(TRefPtr<TAsyncRenderer>::Adopt(new TAsyncRenderer)),
      m_ownIterator(TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator)) {}

CPrintDlg::CPrintDlg(TPrinter& printer, TConfigSettings& config, TUserOptions& options)
    : m_printer(printer), m_config(config), m_options(options), m_geometry(config, options),
      m_renderer(TRefPtr<TAsyncRenderer>::Adopt(new TAsyncRenderer)),
      m_ownIterator(TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator)) {}

CPrintDlg::~CPrintDlg() {
    ReleaseButtonImages();
}

bool CPrintDlg::LoadSheetResources() {
    return TResource::LoadOwnText(L"XML", kPageTemplate, m_sheet.pageTemplate) &&
           TResource::LoadOwnText(L"XSLT", kLayoutStylesheet, m_sheet.layoutStylesheet) &&
           TResource::LoadOwnText(L"XSLT", kImprintStylesheet, m_sheet.imprintStylesheet);
}

void CPrintDlg::SetPageIterator(TDBufPageIterator* iterator, const TSize_T<double>& previewSize) {
    m_iterator = iterator;
    m_previewSize = previewSize;
}

bool CPrintDlg::ComputeItemLayout(LONG unit, TSize_T<double>& spacing, TSize_T<LONG>& grid,
                                  const TSize_T<LONG>& resolution, TSize_T<double>& itemSize) const {
    const TRect_T<double> printable = m_printer.GetPrintableRect(unit, true);
    SheetItemLayout layout;
    if (!m_geometry.ComputeItemLayout(unit, printable.Size(), resolution, layout))
        return false;
    spacing = layout.spacing;
    grid = layout.grid;
    itemSize = layout.itemSize;
    return true;
}

double CPrintDlg::CaptionLineHeight(LONG unit, LONG verticalDpi, double itemWidth) const {
    return m_geometry.CaptionLineHeight(unit, verticalDpi, itemWidth);
}

double CPrintDlg::CaptionBlockHeight(LONG unit, LONG verticalDpi, double itemWidth) const {
    return m_geometry.CaptionBlockHeight(unit, verticalDpi, itemWidth);
}

TString CPrintDlg::FormatSheetParameters() const {
    return m_sheet.FormatParameters(m_options.metadata.captionFont);
}

bool CPrintDlg::ComposeSheet(bool forDisplay, SheetLayout& sheet) const {
    constexpr LONG unit = LengthUnit::kPixel;
    const TSize_T<LONG>& resolution = m_printer.GetResolution();
    const TRect_T<double> printable = m_printer.GetPrintableRect(unit, forDisplay);
    if (forDisplay) {
        const TRect_T<double> paper = m_printer.GetPaperRect(unit);
        sheet.pageSize = paper.Size();
        sheet.margins = TRect_T<double>(printable.left, printable.top, paper.right - printable.right,
                                        paper.bottom - printable.bottom);
    } else {
        // The device's origin is the hardware margins' corner: the page reaches as far as the printable
        // area does, and the cells start where the user's margins put them, as on the preview's page.
        sheet.pageSize = TSize_T<double>(printable.right, printable.bottom);
        sheet.margins = TRect_T<double>(printable.left, printable.top, 0, 0);
    }
    if (!ComputeItemLayout(unit, sheet.spacing, sheet.grid, resolution, sheet.itemSize))
        return false;
    sheet.backgroundColour = forDisplay ? SheetLayout::kDisplayBackground : SheetLayout::kPrintBackground;
    sheet.textColour = SheetLayout::kTextColour;
    sheet.bestFit = m_options.GetRotateToFit();
    sheet.borderless = m_options.GetBorderlessPrint();
    sheet.textHeight = m_geometry.CaptionLineHeight(unit, resolution.cy, sheet.itemSize.cx);
    const bool captions = m_options.IsMetadataEnabled();
    const LONG flags = m_options.metadata.captionFlags;
    sheet.useBasic = captions && (flags & TMetadataSettings::kBasic);
    sheet.useAdditional = captions && (flags & TMetadataSettings::kAdditional);
    sheet.useDetailed = captions && (flags & TMetadataSettings::kDetailed);
    return true;
}

bool CPrintDlg::BuildSheet(bool forDisplay) {
    if (m_iterator)
        m_iterator->CancelRendering(false);
    SheetLayout sheet = m_sheet;
    if (!ComposeSheet(forDisplay, sheet))
        return false;
    TFilePath sheetFile;
    if (!MakePluginTempFileLocation(kSheetFileName, sheetFile))
        return false;
    if (sheetFile.Exists())
        sheetFile.Delete();
    const TString parameters = sheet.FormatParameters(m_options.metadata.captionFont);
    if (docXSLTTransform2(sheet.pageTemplate, sheetFile.GetPath(), sheet.layoutStylesheet, parameters,
                          nullptr) != 1)
        return false;
    // The new document is made while the previous one still serves the preview (and the job), and takes
    // its place only once it is in use.
    std::unique_ptr<TdocDocument> document(
        TdocDocument::CreateFromLTF(sheetFile.GetPath(), m_itemsFile.GetPath()));
    if (!document)
        return false;
    // An imprint that cannot be applied leaves the pictures without it; the sheet itself stands.
    if (m_options.IsMetadataEnabled() && m_options.metadata.imprintEnabled)
        ApplyImprintsTo(*document);
    const LONG pages = document->GetPageCount();
    if (forDisplay) {
        if (!m_iterator || !m_iterator->SetDocument(document.get(), m_previewSize))
            return false;
        m_document = std::move(document);
    } else {
        m_printDocument = std::move(document);
    }
    m_sheet = sheet;
    m_pageCount = pages;
    return true;
}
