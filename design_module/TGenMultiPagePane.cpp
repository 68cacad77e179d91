#include "TGenMultiPagePane.h"

#include "DesignImageBundle.h"

#include "plugin_framework/HostLink.h"
#include "plugin_framework/PackedColor.h"
#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinDebug.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>

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
// Where a sheet item names the item its picture comes from.
constexpr const wchar_t* kPicturePath = L"content/image[@refType='NUID']";

} // namespace

bool TContactSheet::Compute(LONG mode, double width, double height, LONG pictures, DWORD background,
                            TContactSheet& sheet) {
    if (mode == TGenericPane::kHidden ||
        (mode == TGenericPane::kShown && (width < kMinPaneSide || height < kMinPaneSide)))
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
    out.Format(
        L"pageW=%lf%lspageH=%lf%lsitemW=%lf%lsitemH=%lf%lsnbCols=%d%lsnbRows=%d%lsborderL=%lf%lsborderT="
        L"%lf%lsborderR=%lf%lsborderB=%lf%lsspaceW=%lf%lsspaceH=%lf%lsbkColor=%ls%ls",
        pageSize.cx, s, pageSize.cy, s, itemSize.cx, s, itemSize.cy, s, static_cast<int>(grid.cx), s,
        static_cast<int>(grid.cy), s, margins.left, s, margins.top, s, margins.right, s, margins.bottom, s,
        spacing.cx, s, spacing.cy, s, static_cast<const wchar_t*>(colour), s);
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
    m_focusPicture = index;
    const std::uint32_t item = GetPictureItem(index);
    if (m_controller && item != 0)
        m_controller->FocusItem(item);
}

std::uint32_t TGenMultiPagePane::GetPictureItem(LONG index) const {
    if (index < 1 || static_cast<std::size_t>(index) > m_pictureItems.size())
        return 0;
    return m_pictureItems[static_cast<std::size_t>(index) - 1];
}

LONG TGenMultiPagePane::OnLButtonDown(const TLPoint& point, WPARAM flags) {
    const LONG answer = TGenericPane::OnLButtonDown(point, flags);
    std::uint32_t hit = 0;
    if (!m_controller || !m_controller->GetLastHit(hit))
        return answer;
    auto it = std::find(m_pictureItems.begin(), m_pictureItems.end(), hit);
    if (hit != 0 && it != m_pictureItems.end())
        OnModuleHook(static_cast<LONG>(it - m_pictureItems.begin()));
    return answer;
}

void TGenMultiPagePane::MapPictures(const TdocDocument& sheet) {
    m_pictureItems.assign(m_ids.size(), 0);
    std::unique_ptr<TdocPage> page(sheet.GetPage(0));
    for (LONG index = 0; page; ++index) {
        std::unique_ptr<TdocItem> item(page->GetItem(index));
        if (!item)
            break;
        TString nuid, id;
        KvwItemId shown = 0;
        if (item->GetStringProperty(kPicturePath, nuid, 0) != 1 ||
            item->GetStringProperty(L"@id", id, 0) != 1 ||
            !NuidFromString(static_cast<const wchar_t*>(nuid), shown))
            continue;
        const unsigned long long value = std::wcstoull(static_cast<const wchar_t*>(id), nullptr, 10);
        if (value == 0 || value > UINT32_MAX)
            continue;
        // The first item that shows a picture is its place in the sheet.
        for (std::size_t n = 0; n < m_ids.size(); ++n) {
            if (m_ids[n] == shown && m_pictureItems[n] == 0) {
                m_pictureItems[n] = static_cast<std::uint32_t>(value);
                break;
            }
        }
    }
}

void TGenMultiPagePane::DeleteBundle() {
    if (!m_bundle.GetPath().IsEmpty())
        m_bundle.Delete();
    m_bundle = TFilePath();
}

void TGenMultiPagePane::RefreshPageNUIDS(const KvwItemIdList& ids) {
    OutputDebugStringA("TGenMultiPagePane::RefreshPageNUIDS called\n");
    if (ids.empty()) {
        // No pictures: the sheet of the ones before (another design's, perhaps) is no longer shown.
        ForgetDocument();
        m_sheetDocument.reset();
        DeleteBundle();
        m_pictures = 0;
        m_ids.clear();
        m_pictureItems.clear();
        m_focusPicture = 0;
        InvalidatePane();
        return;
    }
    // The new bundle is made before the old one goes: when it cannot be made, the sheet shown, its
    // picture count and its bundle stay, so that a later resize still builds that sheet.
    TString path;
    if (!designbundle::BuildImageBundle(ids, path))
        return;
    DeleteBundle();
    m_bundle.Set(path);
    m_pictures = static_cast<LONG>(std::min<std::size_t>(ids.size(), kMaxPictures));
    m_ids = ids;
    m_ids.resize(static_cast<std::size_t>(m_pictures));
    m_pictureItems.clear();
    BuildSheet();
}

bool TGenMultiPagePane::BuildSheet() {
    const TLRect client = GetPaneClientRect();
    TContactSheet sheet;
    if (!m_iterator ||
        !TContactSheet::Compute(m_mode, client.Width(), client.Height(), m_pictures, m_background, sheet))
        return false;
    // The new sheet is made before the one shown goes, so that a failure keeps the one shown.
    TFilePath sheetFile;
    if (!MakePluginTempFileLocation(TString(kSheetFileName), sheetFile) ||
        docXSLTTransform2(m_templateText, sheetFile.GetPath(), m_stylesheetText, sheet.FormatParameters(),
                          nullptr) != 1)
        return false;
    std::unique_ptr<TdocDocument> document(
        TdocDocument::CreateFromLTF(sheetFile.GetPath(), m_bundle.GetPath()));
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
    MapPictures(*document);
    if (!SetDocument(document.get(), true)) {
        SetPageSize(previous);
        if (m_sheetDocument)
            MapPictures(*m_sheetDocument);
        return false;
    }
    m_sheetDocument = std::move(document);
    m_sheet = sheet;
    // The picture of the page shown keeps the focus in the new sheet.
    if (m_focusPicture >= 1)
        FocusItem(m_focusPicture);
    return true;
}
