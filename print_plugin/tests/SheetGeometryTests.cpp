#include "CommaLocale.h"

#include "print_plugin/SheetGeometry.h"
#include "print_plugin/SheetLayout.h"

#include "platform/davuzozi/davuzOzi.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>

namespace {

using Size = graphtypes::TSize_T<double>;
using Dpi = graphtypes::TSize_T<LONG>;

const Dpi k300{300, 300};
// A4 at 300 dpi less 75 pixels of hardware margin on every side.
const Size kA4Printable{2330, 3358};

struct ConfigText {
    std::string unit = "inch";
    std::string aspect = "1.33";
    std::string spacing = "0.05";
    std::string layouts = "<nb_rows_cols><layout><name>2 x 2</name><data>2x2</data></layout></nb_rows_cols>";
    std::string captionMax = "16";
};

class SheetGeometryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(utlStartup(), 1);
        m_options.metadata.captionFont.face = L"Arial";
        m_options.metadata.captionFont.size = 10;
    }
    void TearDown() override { utlShutdown(); }

    void Configure(const ConfigText& text) {
        const std::string path = m_folder.File("PrintPluginCfg.xml");
        std::ofstream(path) << "<?xml version=\"1.0\"?><config><units><current>" << text.unit
                            << "</current></units><itemAspectRatio>" << text.aspect
                            << "</itemAspectRatio><standard_layouts>" << text.layouts
                            << "</standard_layouts><index_print_advanced><minimum_size>0.5</minimum_size>"
                               "<maximum_size>10</maximum_size><increment_size>0.5</increment_size>"
                               "</index_print_advanced><image_spacing><horizontal>"
                            << text.spacing << "</horizontal><vertical>" << text.spacing
                            << "</vertical></image_spacing><caption><font><max_size_points>"
                            << text.captionMax
                            << "</max_size_points><auto_size_ratio>0.1</auto_size_ratio></font></caption>"
                               "</config>";
        m_config.Clear();
        ASSERT_TRUE(m_config.Load(TString(path.c_str())));
    }

    void EasyIndex(LONG columns) {
        m_options.printAs = TUserOptions::kIndexPrint;
        m_options.indexPrintType = 0;
        m_options.columns = columns;
    }

    bool Layout(const Size& printable, SheetItemLayout& layout) {
        return SheetGeometry(m_config, m_options)
            .ComputeItemLayout(LengthUnit::kPixel, printable, k300, layout);
    }

    kvtest::TempFolder m_folder;
    TConfigSettings m_config;
    TUserOptions m_options;
};

// The display sheet of the A4 page as the dialog composes it.
SheetLayout A4Sheet(const SheetItemLayout& layout, double textHeight) {
    SheetLayout sheet;
    sheet.pageSize = Size(2480, 3508);
    sheet.margins = graphtypes::TRect_T<double>(75, 75, 75, 75);
    sheet.itemSize = layout.itemSize;
    sheet.spacing = layout.spacing;
    sheet.grid = layout.grid;
    sheet.textHeight = textHeight;
    return sheet;
}

const wchar_t* kA4Parameters =
    L"pageW=2480.000000<;/>pageH=3508.000000<;/>itemW=448.076923<;/>itemH=336.899942<;/>nbCols=5<;/>"
    L"nbRows=9<;/>borderL=75.000000<;/>borderT=75.000000<;/>borderR=75.000000<;/>borderB=75.000000<;/>"
    L"spaceW=22.403846<;/>spaceH=16.844997<;/>bestFit=0<;/>borderlessPrint=0<;/>textHeight=50.000000<;/>"
    L"fontName='Arial'<;/>italic=0<;/>bold=0<;/>useBasicInfo=0<;/>useAdditionalInfo=0<;/>"
    L"useDetailedInfo=0<;/>bkColor='#dcdcdcff'<;/>textColor='#000000ff'";

TEST_F(SheetGeometryTest, TheA4EasyIndexSheetGivesTheExactParameterStringInAnyLocale) {
    Configure({});
    EasyIndex(5);
    CommaLocale comma;
    SheetItemLayout layout;
    ASSERT_TRUE(Layout(kA4Printable, layout));
    const double textHeight =
        SheetGeometry(m_config, m_options).CaptionLineHeight(0, 300, layout.itemSize.cx);
    EXPECT_EQ(std::wstring(A4Sheet(layout, textHeight).FormatParameters(m_options.metadata.captionFont)),
              kA4Parameters);
}

TEST_F(SheetGeometryTest, FlagsFontStyleAndColoursReachTheirKeys) {
    SheetLayout sheet;
    sheet.bestFit = true;
    sheet.useAdditional = true;
    sheet.backgroundColour = SheetLayout::kPrintBackground;
    sheet.textColour = 0x80332211u;
    TFontInfo font;
    font.face = L"O'Neil \"Sans\" & $5 <;/> x";
    font.style = TFontInfo::kItalic;
    const std::wstring text = std::wstring(sheet.FormatParameters(font));
    for (const wchar_t* part :
         {L"<;/>bestFit=1<;/>borderlessPrint=0<;/>", L"<;/>italic=1<;/>bold=0<;/>",
          L"useBasicInfo=0<;/>useAdditionalInfo=1<;/>useDetailedInfo=0",
          L"bkColor='#ffffffff'<;/>textColor='#11223380'", L"fontName='O'Neil \"Sans\" & $5 <; /> x'<;/>"})
        EXPECT_NE(text.find(part), std::wstring::npos) << part;
    // Twenty-three values, twenty-two separators: the face's own one is broken.
    std::size_t separators = 0;
    for (std::size_t at = text.find(L"<;/>"); at != std::wstring::npos; at = text.find(L"<;/>", at + 1))
        ++separators;
    EXPECT_EQ(separators, 22u);
    font.style = TFontInfo::kBold;
    EXPECT_NE(std::wstring(sheet.FormatParameters(font)).find(L"italic=0<;/>bold=1"), std::wstring::npos);
}

TEST_F(SheetGeometryTest, AdvancedIndexAndStandardImageSizeUseTheCountRule) {
    ConfigText text;
    text.layouts = "<image_size><layout><name>4 x 6</name><data>4x6</data></layout></image_size>";
    Configure(text);
    // One inch squares: columns trunc(2345 / 315) = 7, rows trunc((3358 / 300 + 0.05) / 1.05) = 10.
    m_options.printAs = TUserOptions::kIndexPrint;
    m_options.indexPrintType = TUserOptions::kAdvancedIndexPrint;
    m_options.itemSize = Size(1.0, 1.0);
    SheetItemLayout layout;
    ASSERT_TRUE(Layout(kA4Printable, layout));
    EXPECT_EQ(layout.grid, Dpi(7, 10));
    EXPECT_DOUBLE_EQ(layout.itemSize.cx, 300);
    EXPECT_DOUBLE_EQ(layout.spacing.cy, 15);

    // With all caption blocks at 10 points: t = 5 x 50 = 250, rows trunc((3358 / 550 + 0.05) / 1.05) = 5.
    m_options.metadataEnabled = true;
    m_options.metadata.captionFlags =
        TMetadataSettings::kBasic | TMetadataSettings::kAdditional | TMetadataSettings::kDetailed;
    ASSERT_TRUE(Layout(kA4Printable, layout));
    EXPECT_EQ(layout.grid, Dpi(7, 5));

    // 4 x 6 inches is 1200 x 1800 pixels: one column (2390 / 1260), rows trunc((3358 / 1800 + 0.05) / 1.05).
    m_options.printAs = 0;
    m_options.layoutIndex = 0;
    m_options.metadataEnabled = false;
    ASSERT_TRUE(Layout(kA4Printable, layout));
    EXPECT_EQ(layout.grid, Dpi(1, 1));
    EXPECT_EQ(layout.itemSize, Size(1200, 1800));
}

TEST_F(SheetGeometryTest, FitLoopsTakeAnotherPassOnEquality) {
    // No spacing and aspects of one half keep every quantity exact.
    ConfigText text;
    text.spacing = "0";
    text.aspect = "0.5";
    text.layouts = "<nb_rows_cols><layout><name>1 x 1</name><data>1x1</data></layout></nb_rows_cols>";
    Configure(text);
    m_options.printAs = 0;
    SheetItemLayout layout;
    // Fixed grid on 1000 x 2000: the first cell is 1000 x 2000, exactly the height, so the budget shrinks
    // by one column's pixel.
    ASSERT_TRUE(Layout(Size(1000, 2000), layout));
    EXPECT_EQ(layout.itemSize, Size(999, 1998));
    EXPECT_EQ(layout.grid, Dpi(1, 1));
    // Fit to 5 columns on 1000 x 400: 200 x 400 equals the height, the budget becomes 400 x 0.5, one row.
    EasyIndex(5);
    ASSERT_TRUE(Layout(Size(1000, 400), layout));
    EXPECT_EQ(layout.itemSize, Size(40, 80));
    EXPECT_EQ(layout.grid, Dpi(5, 1));
}

TEST_F(SheetGeometryTest, AWidePageFallsBackToOneRow) {
    Configure({});
    EasyIndex(5);
    SheetItemLayout layout;
    // 10000 / 5.2 gives cells 1446 high on a 1000 pixel page: the budget becomes 1000 x 1.33.
    ASSERT_TRUE(Layout(Size(10000, 1000), layout));
    EXPECT_DOUBLE_EQ(layout.itemSize.cx, 1330 / 5.2);
    EXPECT_EQ(layout.grid, Dpi(5, 1));
}

TEST_F(SheetGeometryTest, FixedGridPortraitAndLandscape) {
    ConfigText text;
    text.layouts = "<nb_rows_cols><layout><name>2 x 3</name><data>2x3</data></layout></nb_rows_cols>";
    Configure(text);
    m_options.printAs = 0;
    SheetItemLayout layout;
    // Portrait: three columns of 2330 / 3.1, cells of aspect (2330 / 3) / (3358 / 2), two rows.
    ASSERT_TRUE(Layout(kA4Printable, layout));
    EXPECT_EQ(layout.grid, Dpi(3, 2));
    const double q = (2330.0 / 3) / (3358.0 / 2);
    EXPECT_DOUBLE_EQ(layout.itemSize.cx, 2330 / 3.1);
    EXPECT_DOUBLE_EQ(layout.itemSize.cy, 2330 / 3.1 / q);
    EXPECT_LT(layout.itemSize.cy * 2.05, 3358);
    // Landscape: two columns, three rows.
    ASSERT_TRUE(Layout(Size(3358, 2330), layout));
    EXPECT_EQ(layout.grid, Dpi(2, 3));
    EXPECT_LT(layout.itemSize.cy * 3.1, 2330);
}

TEST_F(SheetGeometryTest, CaptionHeights) {
    Configure({});
    SheetGeometry geometry(m_config, m_options);
    // 10 points: lines of trunc(12) points, 50 pixels at 300 dpi, carried with captions off.
    EXPECT_DOUBLE_EQ(geometry.CaptionLineHeight(LengthUnit::kPixel, 300, 448), 50);
    EXPECT_DOUBLE_EQ(geometry.CaptionBlockHeight(LengthUnit::kPixel, 300, 448), 0);
    m_options.metadataEnabled = true;
    m_options.metadata.captionFlags = TMetadataSettings::kAdditional | TMetadataSettings::kDetailed;
    EXPECT_DOUBLE_EQ(geometry.CaptionBlockHeight(LengthUnit::kPixel, 300, 448), 200);
    m_options.metadata.captionFlags = TMetadataSettings::kBasic;
    EXPECT_DOUBLE_EQ(geometry.CaptionBlockHeight(LengthUnit::kInch, 300, 448), 12.0 / 72);

    struct Case {
        LONG size;
        double width;
        double pixels;
    };
    // Automatic: 0.1 x the width in points (1000 px = 240 pt -> 24 pt, lines of 28 pt); fixed sizes go
    // into 4 .. 16 points.
    const Case cases[] = {{-1, 1000, 28 * 300 / 72.0}, {-1, 448, 50},
                          {0, 448, 4 * 300 / 72.0},    {-5, 448, 4 * 300 / 72.0},
                          {16, 448, 19 * 300 / 72.0},  {100, 448, 19 * 300 / 72.0}};
    for (const Case& c : cases) {
        m_options.metadata.captionFont.size = c.size;
        EXPECT_NEAR(geometry.CaptionLineHeight(LengthUnit::kPixel, 300, c.width), c.pixels, 1e-9) << c.size;
    }
}

TEST_F(SheetGeometryTest, ColumnCountsAndLayoutIndicesAreBroughtIntoRange) {
    ConfigText text;
    text.layouts = "<nb_rows_cols><layout><name>1 x 1</name><data>1x1</data></layout>"
                   "<layout><name>2 x 2</name><data>2x2</data></layout></nb_rows_cols>";
    Configure(text);
    SheetItemLayout layout;
    for (auto [asked, used] : {std::pair<LONG, LONG>{0, 5}, {-3, 5}, {7, 7}, {50, 10}}) {
        EasyIndex(asked);
        ASSERT_TRUE(Layout(kA4Printable, layout));
        EXPECT_EQ(layout.grid.cx, used) << asked;
    }
    m_options.printAs = 0;
    for (auto [index, columns] : {std::pair<LONG, LONG>{1, 2}, {0, 1}, {2, 1}, {-1, 1}}) {
        m_options.layoutIndex = index;
        ASSERT_TRUE(Layout(kA4Printable, layout));
        EXPECT_EQ(layout.grid.cx, columns) << index;
    }
}

TEST_F(SheetGeometryTest, DegenerateSheetsAreRefusedWithoutHanging) {
    struct Case {
        const char* what;
        std::string layouts;
        std::string unit;
        std::string aspect;
        LONG printAs;
        LONG type;
        Size itemSize;
        Size printable;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string rc = "<nb_rows_cols><layout><name>n</name><data>";
    const std::string is = "<image_size><layout><name>n</name><data>";
    const std::string rcEnd = "</data></layout></nb_rows_cols>", isEnd = "</data></layout></image_size>";
    const Case cases[] = {
        {"grid without x", rc + "3" + rcEnd, "inch", "1.33", 0, 0, {1, 1}, kA4Printable},
        {"grid 2x0", rc + "2x0" + rcEnd, "inch", "1.33", 0, 0, {1, 1}, kA4Printable},
        {"grid -1x2", rc + "-1x2" + rcEnd, "inch", "1.33", 0, 0, {1, 1}, kA4Printable},
        {"image 0x0", is + "0x0" + isEnd, "inch", "1.33", 0, 0, {1, 1}, kA4Printable},
        {"image -4x6", is + "-4x6" + isEnd, "inch", "1.33", 0, 0, {1, 1}, kA4Printable},
        {"image far too large", is + "40x60" + isEnd, "inch", "1.33", 0, 0, {1, 1}, kA4Printable},
        {"no layouts", "", "inch", "1.33", 0, 0, {1, 1}, kA4Printable},
        {"advanced 0", "", "inch", "1.33", 1, 1, {0, 1}, kA4Printable},
        {"advanced -1", "", "inch", "1.33", 1, 1, {1, -1}, kA4Printable},
        {"advanced NaN", "", "inch", "1.33", 1, 1, {nan, 1}, kA4Printable},
        {"advanced infinite", "", "inch", "1.33", 1, 1, {INFINITY, 1}, kA4Printable},
        {"advanced tiny", "", "inch", "1.33", 1, 1, {1e-12, 1e-12}, kA4Printable},
        {"aspect 0", "", "inch", "0", 1, 0, {1, 1}, kA4Printable},
        {"aspect -1", "", "inch", "-1", 1, 0, {1, 1}, kA4Printable},
        {"empty page", "", "inch", "1.33", 1, 0, {1, 1}, {0, 0}},
        {"negative page", rc + "2x2" + rcEnd, "inch", "1.33", 0, 0, {1, 1}, {-100, 3358}},
    };
    for (const Case& c : cases) {
        ConfigText text;
        text.layouts = c.layouts;
        text.unit = c.unit;
        text.aspect = c.aspect;
        Configure(text);
        m_options.printAs = c.printAs;
        m_options.indexPrintType = c.type;
        m_options.itemSize = c.itemSize;
        kvtest::Watchdog watchdog(c.what, std::chrono::milliseconds(1000));
        SheetItemLayout layout;
        EXPECT_FALSE(Layout(c.printable, layout)) << c.what;
    }
}

TEST_F(SheetGeometryTest, CaptionsTallerThanTheirCellsAreRefused) {
    // Ten columns of 16 point captions in all three blocks leave no picture on a small page.
    Configure({});
    EasyIndex(10);
    m_options.metadataEnabled = true;
    m_options.metadata.captionFlags =
        TMetadataSettings::kBasic | TMetadataSettings::kAdditional | TMetadataSettings::kDetailed;
    m_options.metadata.captionFont.size = 16;
    kvtest::Watchdog watchdog("captions", std::chrono::milliseconds(1000));
    SheetItemLayout layout;
    EXPECT_FALSE(Layout(Size(1000, 1500), layout));
    // An unknown configuration unit counts as inch where it is used.
    ConfigText text;
    text.unit = "points";
    Configure(text);
    m_options.printAs = TUserOptions::kIndexPrint;
    m_options.indexPrintType = TUserOptions::kAdvancedIndexPrint;
    m_options.metadataEnabled = false;
    m_options.itemSize = Size(1, 1);
    ASSERT_EQ(m_config.GetUnit(), LengthUnit::kNone);
    ASSERT_TRUE(Layout(kA4Printable, layout));
    EXPECT_EQ(layout.itemSize, Size(300, 300));
}

} // namespace
