#include "MailIndexSheet.h"

#include "plugin_framework/FileData.h"
#include "plugin_framework/PackedColor.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TXMLFilePreferences.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/win/utf16.h"

#include <cmath>
#include <mutex>

namespace MailIndexSheet {

namespace {

using graphtypes::TSize_T;

// The extra layouts each page size offers beyond the common ones.
constexpr LONG kExtraLayouts[kPageSizeCount] = {0, 2, 5, 13};
constexpr LONG kPageSides[kPageSizeCount][2] = {{640, 480}, {800, 600}, {1024, 768}, {1600, 1200}};
// The room the item rule keeps free beside the items, in pixels.
constexpr double kEdgeAllowance = 20.0;
constexpr LONG kDarkThreshold = 128;
constexpr const wchar_t* kFontSizePath = L"/template/property[@name='font']/attr[@name='font-size']";

} // namespace

std::vector<Layout> BuildLayouts() {
    static constexpr LONG kGrids[kLayoutCount][2] = {
        {1, 1},   {2, 1},   {3, 2},   {4, 2},   {5, 3},   {6, 4},   {7, 5},
        {8, 6},   {9, 6},   {10, 7},  {11, 8},  {12, 9},  {13, 9},  {14, 10},
        {15, 11}, {16, 12}, {17, 12}, {18, 13}, {19, 14}, {20, 15}, {21, 15}};
    constexpr UINT kFirstLabel = 1037;
    std::vector<Layout> layouts;
    layouts.reserve(kLayoutCount);
    for (LONG i = 0; i < kLayoutCount; ++i)
        layouts.push_back(Layout{kFirstLabel + static_cast<UINT>(i), kGrids[i][0], kGrids[i][1]});
    return layouts;
}

TSize_T<LONG> PageSize(LONG index) {
    if (index < 0 || index >= kPageSizeCount)
        return TSize_T<LONG>(0, 0);
    return TSize_T<LONG>(kPageSides[index][0], kPageSides[index][1]);
}

LONG OfferedLayoutCount(LONG pageSize) {
    const LONG index = pageSize < 0 || pageSize >= kPageSizeCount ? 0 : pageSize;
    return kCommonLayoutCount + kExtraLayouts[index];
}

double VerticalSpacing(bool captions) {
    return captions ? kCaptionVerticalSpacing : kPlainVerticalSpacing;
}

DWORD TextColour(DWORD background) {
    const LONG red = background & 0xFF, green = (background >> 8) & 0xFF, blue = (background >> 16) & 0xFF;
    return red + green + blue / 3 <= kDarkThreshold ? kWhiteText : kBlackText;
}

bool ItemSide(const TSize_T<double>& page, LONG columns, LONG& rows, const TSize_T<double>& spacing,
              double textHeight, double& side) {
    if (columns < 1 || rows < 1 || !std::isfinite(page.cx) || !std::isfinite(page.cy))
        return false;
    const double width = page.cx, height = page.cy, t = textHeight;
    double s = std::trunc((width + spacing.cx - kEdgeAllowance - columns * spacing.cx) / columns);
    LONG r = rows;
    if (s > height - t - kEdgeAllowance) {
        s = height - t - kEdgeAllowance;
        r = 1;
    }
    // One pixel at a time until the rows fit; a side that reaches 0 fits nothing, which ends the loop.
    while (s > 0 && height + spacing.cy + t < (s + spacing.cy + 2 * t) * r + kEdgeAllowance)
        s -= 1;
    if (!(s > 0))
        return false;
    side = s;
    rows = r;
    return true;
}

LONG ReadTemplateFontSize(const TString& itemTemplate) {
    TFilePath file;
    if (!MakeUniqueFileName(TString(L"Initial_LTF_Tmp"), TString(L"xml"), file))
        return kDefaultCaptionHeight;
    const std::string text = Utf::WideToUtf8(static_cast<const wchar_t*>(itemTemplate));
    LONG size = 0;
    // The module does not keep the XML library running: it runs for this read only.
    if (WriteTextFile(file, text.c_str()) && utlStartup() == 1) {
        TXMLFilePreferences preferences;
        const TString path = file.GetPath();
        if (preferences.Open(path, false))
            preferences.GetLong(TString(kFontSizePath), &size);
        preferences.Close();
        utlShutdown();
    }
    file.Delete();
    return size > 0 ? size : kDefaultCaptionHeight;
}

double TemplateCaptionHeight(const TString& itemTemplate) {
    static std::once_flag once;
    static LONG height = kDefaultCaptionHeight;
    std::call_once(once, [&] { height = ReadTemplateFontSize(itemTemplate); });
    return height;
}

TString Sheet::FormatParameters() const {
    const wchar_t* s = kSeparator;
    const TString background = QuotedHexColor(backgroundColour);
    const TString text = QuotedHexColor(textColour);
    TString out;
    out.Format(
        L"pageW=%lf%lspageH=%lf%lsitemW=%lf%lsitemH=%lf%lsnbCols=%d%lsnbRows=%d%lsborderL=%lf%lsborderT="
        L"%lf%lsborderR=%lf%lsborderB=%lf%lsspaceW=%lf%lsspaceH=%lf%lstextHeight=%lf%lsbkColor=%ls%ls"
        L"textColor=%ls",
        pageSize.cx, s, pageSize.cy, s, itemSize.cx, s, itemSize.cy, s, layout.cx, s, layout.cy, s,
        margins.left, s, margins.top, s, margins.right, s, margins.bottom, s, spacing.cx, s, spacing.cy, s,
        textHeight, s, static_cast<const wchar_t*>(background), s, static_cast<const wchar_t*>(text));
    return out;
}

bool ComposeSheet(LONG pageSize, LONG layoutIndex, double textHeight, DWORD background, Sheet& sheet) {
    const TSize_T<LONG> page = PageSize(pageSize);
    if (page.cx <= 0 || layoutIndex < 0 || layoutIndex >= kLayoutCount)
        return false;
    const Layout layout = BuildLayouts()[static_cast<std::size_t>(layoutIndex)];
    Sheet composed = sheet;
    composed.pageSize = TSize_T<double>(page.cx, page.cy);
    composed.textHeight = textHeight > 0 ? textHeight : 0.0;
    composed.spacing = TSize_T<double>(kHorizontalSpacing, VerticalSpacing(composed.textHeight > 0));
    LONG rows = layout.rows;
    double side = 0;
    if (!ItemSide(composed.pageSize, layout.columns, rows, composed.spacing, composed.textHeight, side))
        return false;
    composed.itemSize = TSize_T<double>(side, side);
    composed.layout = TSize_T<LONG>(layout.columns, rows);
    composed.backgroundColour = background;
    composed.textColour = TextColour(background);
    sheet = composed;
    return true;
}

TString PageFileName(LONG page) {
    TString name;
    if (page <= 0)
        name.Format(L"%ls.jpg", kPageBaseName);
    else
        name.Format(L"%ls_%03d.jpg", kPageBaseName, static_cast<int>(page));
    return name;
}

} // namespace MailIndexSheet
