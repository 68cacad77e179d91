#include "TGenMultiPagePane.h"

#include "DesignImageBundle.h"

#include "plugin_framework/PackedColor.h"
#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinDebug.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kItemSide = 100.0;
constexpr double kSpacing = 10.0;
constexpr double kMargin = 10.0;
// Mode 1 builds for panes of at least this much on each side; mode 2 leaves this much below the row.
constexpr double kMinPaneSide = 10.0;
constexpr double kRowHeightLoss = 10.0;
constexpr const wchar_t* kSeparator = L"<;/>";
// The picture count is a LONG.
constexpr std::size_t kMaxPictures = 0x7FFFFFFF;

} // namespace

bool TContactSheet::Compute(LONG mode, double width, double height, LONG pictures, DWORD background,
                            TContactSheet& sheet) {
    if (mode == TGenericPane::kHidden || (mode == TGenericPane::kShown && (width < kMinPaneSide ||
                                                                           height < kMinPaneSide)))
        return false;
    TContactSheet out;
    out.itemSize = graphtypes::TSize_T<double>(kItemSide, kItemSide);
    out.spacing = graphtypes::TSize_T<double>(kSpacing, kSpacing);
    out.margins = graphtypes::TRect_T<double>(kMargin, kMargin, kMargin, kMargin);
    out.background = background;
    const LONG n = std::max<LONG>(pictures, 0);
    if (mode == TGenericPane::kOneRow) {
        out.grid = graphtypes::TSize_T<LONG>(n, 1);
        out.pageSize.cx = n * (out.spacing.cx - 1.0 + out.itemSize.cx) + out.margins.left + out.margins.right;
        out.pageSize.cy = height - kRowHeightLoss;
    } else {
        const double columns = std::trunc((width - (out.margins.left + out.margins.right) + out.spacing.cx) /
                                          (out.itemSize.cx + out.spacing.cx));
        const LONG cols = std::max<LONG>(static_cast<LONG>(columns), 1);
        out.grid = graphtypes::TSize_T<LONG>(cols, n / cols + (n % cols != 0 ? 1 : 0));
        out.pageSize.cx = width;
        out.pageSize.cy =
            out.grid.cy * (out.spacing.cy - 1.0 + out.itemSize.cy) + out.margins.top + out.margins.bottom;
    }
    // A page without a size is never built.
    if (!(out.pageSize.cx > 0.0) || !(out.pageSize.cy > 0.0))
        return false;
    sheet = out;
    return true;
}

TString TContactSheet::FormatParameters() const {
    const wchar_t* s = kSeparator;
    const TString colour = QuotedHexColor(background);
    TString out;
    out.Format(L"pageW=%lf%lspageH=%lf%lsitemW=%lf%lsitemH=%lf%lsnbCols=%d%lsnbRows=%d%lsborderL=%lf%lsborderT="
               L"%lf%lsborderR=%lf%lsborderB=%lf%lsspaceW=%lf%lsspaceH=%lf%lsbkColor=%ls%ls",
               pageSize.cx, s, pageSize.cy, s, itemSize.cx, s, itemSize.cy, s, static_cast<int>(grid.cx), s,
               static_cast<int>(grid.cy), s, margins.left, s, margins.top, s, margins.right, s, margins.bottom,
               s, spacing.cx, s, spacing.cy, s, static_cast<const wchar_t*>(colour), s);
    return out;
}

TGenMultiPagePane::~TGenMultiPagePane() {
    DestroyPane();
}

bool TGenMultiPagePane::Init(HWND parent, UINT controlId) {
    m_controller = TRefPtr<TControllerGenericPane>::Adopt(new TControllerMultiPane);
    if (!TGenericPane::Init(parent, controlId))
        return false;
    return TResource::LoadOwnText(L"XML", m_templateId, m_templateText) &&
           TResource::LoadOwnText(L"XSLT", m_stylesheetId, m_stylesheetText);
}

void TGenMultiPagePane::DestroyPane() {
    // The iterator goes first: no render reads the sheet after that.
    TGenericPane::DestroyPane();
    m_sheetDocument.reset();
    DeleteBundle();
}

void TGenMultiPagePane::SetSheetResources(UINT templateId, UINT stylesheetId) {
    m_templateId = templateId;
    m_stylesheetId = stylesheetId;
}

void TGenMultiPagePane::SetMode(LONG mode) {
    if (mode != kHidden && mode != m_mode) {
        m_mode = mode;
        BuildSheet();
    }
    TGenericPane::SetMode(mode);
}

void TGenMultiPagePane::OnResize() {
    const LONG oldWidth = m_client.Width();
    TGenericPane::OnResize();
    if (m_mode == kShown && !(m_sheetDocument && oldWidth == m_client.Width()))
        BuildSheet();
    else if (m_mode == kOneRow && !m_sheetDocument)
        BuildSheet();
}

void TGenMultiPagePane::OnTimer() {
    if (!IsPaneWindowVisible() || !LayoutDue())
        return;
    CountLayout();
    const TLRect visible = VisibleArea();
    m_client = visible;
    if (m_mode == kShown || (m_mode == kOneRow && !m_sheetDocument))
        BuildSheet();
}

void TGenMultiPagePane::OnModuleHook(LONG pageIndex) {
    if (m_owner)
        m_owner->GoToPage(pageIndex + 1);
}

void TGenMultiPagePane::FocusItem(LONG index) {
    if (m_controller && index >= 1)
        m_controller->FocusItem(static_cast<std::uint32_t>(index - 1));
}

void TGenMultiPagePane::DeleteBundle() {
    if (!m_bundle.GetPath().IsEmpty())
        m_bundle.Delete();
    m_bundle = TFilePath();
}

void TGenMultiPagePane::RefreshPageNUIDS(const KvwItemIdList& ids) {
    OutputDebugStringA("TGenMultiPagePane::RefreshPageNUIDS called\n");
    if (ids.empty())
        return;
    // The new bundle is made before the old one goes: when it cannot be made, the sheet shown, its
    // picture count and its bundle stay, so that a later resize still builds that sheet.
    TString path;
    if (!designbundle::BuildImageBundle(ids, path))
        return;
    DeleteBundle();
    m_bundle.Set(path);
    m_pictures = static_cast<LONG>(std::min<std::size_t>(ids.size(), kMaxPictures));
    BuildSheet();
}

bool TGenMultiPagePane::BuildSheet() {
    const TLRect client = GetPaneClientRect();
    TContactSheet sheet;
    if (!m_iterator || !TContactSheet::Compute(m_mode, client.Width(), client.Height(), m_pictures,
                                               m_background, sheet))
        return false;
    // The new sheet is made before the one shown goes, so that a failure keeps the one shown.
    TFilePath sheetFile;
    if (!MakePluginTempFileLocation(TString(kSheetFileName), sheetFile) ||
        docXSLTTransform2(m_templateText, sheetFile.GetPath(), m_stylesheetText, sheet.FormatParameters(),
                          nullptr) != 1)
        return false;
    std::unique_ptr<TdocDocument> document(TdocDocument::CreateFromLTF(sheetFile.GetPath(), m_bundle.GetPath()));
    std::unique_ptr<TdocPage> first(document ? document->GetPage(0) : nullptr);
    TDBufPageIterator::TSize read(0, 0);
    if (!first || !first->GetSize(read))
        return false;
    const TLSize size(static_cast<LONG>(std::lround(read.cx)), static_cast<LONG>(std::lround(read.cy)));
    if (size.cx <= 0 || size.cy <= 0)
        return false;
    m_iterator->Restart(true);
    const TLSize previous = m_pageSize;
    SetPageSize(size);
    SetContentSize(size);
    if (!SetDocument(document.get(), true)) {
        SetPageSize(previous);
        return false;
    }
    m_sheetDocument = std::move(document);
    m_sheet = sheet;
    return true;
}
