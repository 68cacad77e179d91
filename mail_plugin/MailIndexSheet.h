// The mail dialog's index sheets: the layouts and page sizes offered, the sheet record with the item size
// and colours computed from the options, the parameter string that hands the record to the sheet
// stylesheet, and the names of the page files the sheet is rendered into.
#pragma once

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TString.h"

#include "platform/win/wintypes.h"

#include <vector>

namespace MailIndexSheet {

// One layout of the layout combo: its label in the language library, columns and rows.
struct Layout {
    UINT label;
    LONG columns;
    LONG rows;
};

constexpr LONG kLayoutCount = 21;
// Every page size offers the first layouts; the larger ones offer more.
constexpr LONG kCommonLayoutCount = 8;
constexpr LONG kPageSizeCount = 4;
// The page-size combo's labels, one per page size from the first.
constexpr UINT kFirstPageSizeLabel = 1025;
constexpr double kMargin = 10.0;
constexpr double kHorizontalSpacing = 20.0;
constexpr double kCaptionVerticalSpacing = 20.0;
constexpr double kPlainVerticalSpacing = 30.0;
// The caption height when the item template gives none.
constexpr LONG kDefaultCaptionHeight = 10;
constexpr DWORD kWhiteText = 0xFFFFFFFFu;
constexpr DWORD kBlackText = 0xFF000000u;
constexpr const wchar_t* kSeparator = L"<;/>";
constexpr const wchar_t* kSheetFileName = L"sheet_ltf.xml";
constexpr const wchar_t* kPageBaseName = L"index";

// The 21 layouts in combo order.
std::vector<Layout> BuildLayouts();
// The pixel size of a page size index; (0, 0) for any index outside the table.
graphtypes::TSize_T<LONG> PageSize(LONG index);
// How many layouts the page size offers (8, 10, 13 or 21); the first page size's for any other index.
LONG OfferedLayoutCount(LONG pageSize);

// The vertical spacing between rows of items.
double VerticalSpacing(bool captions);
// White on a dark background (red + green + blue / 3 at most 128), else opaque black.
DWORD TextColour(DWORD background);

// The square item of a grid of columns x rows on the page: its side, and the rows, which become 1 when
// an item of the grid's width would not fit the page's height. False, with both untouched, when no item
// above 0 fits (or the grid has no cell).
bool ItemSide(const graphtypes::TSize_T<double>& page, LONG columns, LONG& rows,
              const graphtypes::TSize_T<double>& spacing, double textHeight, double& side);

// The caption height from the item template's font size: read once per process (through a temporary
// file, as the preferences library reads files) and kept; kDefaultCaptionHeight when the template holds
// no size above 0.
double TemplateCaptionHeight(const TString& itemTemplate);
// The same reading without the process-wide memory, for the tests.
LONG ReadTemplateFontSize(const TString& itemTemplate);

// The record of one sheet, as the sheet stylesheet takes it.
struct Sheet {
    graphtypes::TSize_T<double> pageSize;
    graphtypes::TRect_T<double> margins{kMargin, kMargin, kMargin, kMargin};
    graphtypes::TSize_T<double> spacing{kHorizontalSpacing, kCaptionVerticalSpacing};
    graphtypes::TSize_T<double> itemSize;
    graphtypes::TSize_T<LONG> layout{0, 0}; // columns, rows
    double textHeight = 0.0;
    DWORD backgroundColour = 0xFFFFFFFFu;
    DWORD textColour = kBlackText;
    LONG pageCount = 0;

    // The "name=value" pairs of the sheet joined by kSeparator.
    TString FormatParameters() const;
};

// The sheet of the page size and layout (indexes as the options hold them) with captions of the height
// (0: none) on the background. False when the page size or layout is outside its table or no item fits.
bool ComposeSheet(LONG pageSize, LONG layoutIndex, double textHeight, DWORD background, Sheet& sheet);

// "index.jpg" for the first page (0), then "index_001.jpg", "index_002.jpg" and on.
TString PageFileName(LONG page);

} // namespace MailIndexSheet
