#include "plugin_framework/tests/PageIteratorTestSupport.h"

#include "print_plugin/CPrintDlg.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/win/WinPrintDialogs.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using graphtypes::TSize_T;

// A4 at 300 dpi (2480 x 3508 pixels) with 76 pixels (6.4 mm) of hardware margin on every side.
constexpr const char* kPrinters = R"(<printers>
  <printer name="Sheets" dpi="300" default="1">
    <paper id="9" name="A4" width="2100" height="2970" left="64" top="64" right="64" bottom="64"/>
  </printer>
</printers>)";
constexpr double kMargin = 76, kWidth = 2480 - 2 * kMargin, kHeight = 3508 - 2 * kMargin;

std::string BundleText(int pictures) {
    std::string text = "<bundle>";
    for (int k = 0; k < pictures; ++k)
        text += "<object><content>" + std::to_string(4294967301ull + k) + "</content></object>";
    return text + "</bundle>";
}

class PrintSheetTest : public pagetest::PageIteratorTest {
protected:
    void SetUp() override {
        PageIteratorTest::SetUp();
        WinPrintTest::Reset();
        ASSERT_EQ(utlStartup(), 1);
        std::ofstream(m_machine.File("printers.xml")) << kPrinters;
        ASSERT_TRUE(m_config.Load(TString(KV_PRINT_CONFIG_FILE)));
        ASSERT_TRUE(m_printer.Init(PrinterOptionRecord(), nullptr));
        m_options.printAs = TUserOptions::kIndexPrint;
        m_options.columns = 5;
        ASSERT_TRUE(Start(400, 300));
        m_dialog = std::make_unique<CPrintDlg>(m_printer, m_config, m_options);
        ASSERT_TRUE(m_dialog->LoadSheetResources());
        m_dialog->SetPageIterator(m_iterator.Get(), TSize_T<double>(400, 300));
        SetPictures(7);
    }
    void TearDown() override {
        DadaDudTest::SetCallObserver(nullptr);
        StopIterator();
        m_dialog.reset();
        m_printer.Release();
        utlShutdown();
        WinPrintTest::Reset();
        PageIteratorTest::TearDown();
    }

    void SetPictures(int count) {
        TFilePath items;
        items.Set(Utf::Utf8ToWide(m_base.Write("bndl.xml", BundleText(count))).c_str());
        m_dialog->SetItemsFile(items);
    }
    // The names of the document library's calls from now on.
    void ObserveCalls() {
        DadaDudTest::SetCallObserver([this](const char* call, DocHandle) { m_calls.push_back(call); });
    }
    bool Called(const std::string& name) const {
        return std::find(m_calls.begin(), m_calls.end(), name) != m_calls.end();
    }

    kvtest::TempSystemRoot m_machine;
    TConfigSettings m_config;
    TUserOptions m_options;
    TPrinter m_printer;
    std::unique_ptr<CPrintDlg> m_dialog;
    std::vector<std::string> m_calls;
};

TEST_F(PrintSheetTest, TheResourcesAreTheModulesOwn) {
    std::ifstream in(std::string(KV_PRINT_RESOURCE_DIR) + "/Sheet.xslt", std::ios::binary);
    const std::string file(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(std::string(Utf::WideToUtf8(std::wstring(m_dialog->GetSheet().layoutStylesheet))), file);
    EXPECT_NE(std::wstring(m_dialog->GetSheet().pageTemplate).find(L"<template>"), std::wstring::npos);
    EXPECT_NE(std::wstring(m_dialog->GetSheet().imprintStylesheet).find(L"arrImprintsInfo"),
              std::wstring::npos);
}

TEST_F(PrintSheetTest, TheDisplaySheetIsLaidOutOnThePaperAndPreviewed) {
    SetPictures(46);
    ASSERT_TRUE(m_dialog->BuildSheet(true));
    const SheetLayout& sheet = m_dialog->GetSheet();
    // Five columns of kWidth / 5.2 and nine rows on the printable area.
    EXPECT_EQ(sheet.pageSize, TSize_T<double>(2480, 3508));
    for (double margin : {sheet.margins.left, sheet.margins.top, sheet.margins.right, sheet.margins.bottom})
        EXPECT_NEAR(margin, kMargin, 1e-9);
    EXPECT_DOUBLE_EQ(sheet.itemSize.cx, kWidth / 5.2);
    EXPECT_EQ(sheet.grid, TSize_T<LONG>(5, 9));
    EXPECT_DOUBLE_EQ(sheet.textHeight, 50);
    EXPECT_EQ(sheet.backgroundColour, SheetLayout::kDisplayBackground);
    EXPECT_EQ(m_dialog->GetPageCount(), 2);
    EXPECT_EQ(m_iterator->GetPageCount(), 2);
    const std::wstring parameters(m_dialog->FormatSheetParameters());
    EXPECT_EQ(parameters.find(L"pageW=2480.000000<;/>pageH=3508.000000<;/>"), 0u);
    EXPECT_NE(parameters.find(L"<;/>borderL=76.000000<;/>"), std::wstring::npos);
    EXPECT_NE(parameters.find(L"bkColor='#dcdcdcff'"), std::wstring::npos);
    ASSERT_NE(m_dialog->GetSheetDocument(), nullptr);
    EXPECT_TRUE(RenderAndPaint());
    EXPECT_EQ(Renders(), 1);
}

TEST_F(PrintSheetTest, PrintingBuildsADocumentOfItsOwnInDeviceCoordinates) {
    ASSERT_TRUE(m_dialog->BuildSheet(true));
    TdocDocument* preview = m_dialog->GetSheetDocument();
    ASSERT_TRUE(m_dialog->BuildSheet(false));
    const SheetLayout& sheet = m_dialog->GetSheet();
    EXPECT_EQ(sheet.pageSize, TSize_T<double>(kWidth, kHeight));
    EXPECT_EQ(sheet.margins, graphtypes::TRect_T<double>(0, 0, 0, 0));
    EXPECT_EQ(sheet.backgroundColour, SheetLayout::kPrintBackground);
    EXPECT_EQ(m_dialog->GetSheetDocument(), preview) << "the preview keeps its document";
    ASSERT_NE(m_dialog->GetPrintDocument(), nullptr);
    EXPECT_NE(m_dialog->GetPrintDocument(), preview);
    EXPECT_EQ(m_dialog->GetPrintDocument()->GetPageCount(), 1);
    EXPECT_TRUE(RenderAndPaint()) << "the preview still renders from its own document";
}

TEST_F(PrintSheetTest, AtWiderMarginsThePrintedSheetKeepsThemFromTheDevicesCorner) {
    // An inch (300 pixels) of margin on every side: the device's origin lies 76 pixels into the paper.
    WinPrintTest::PageSetupAnswer setup;
    setup.margins = RECT{1000, 1000, 1000, 1000};
    WinPrintTest::QueuePageSetupAnswer(setup);
    ASSERT_TRUE(m_printer.PageSetupDialog(
        nullptr, [](bool, bool, void*) {}, nullptr));
    const auto expectMargins = [](const graphtypes::TRect_T<double>& margins, double left, double top,
                                  double right, double bottom, const char* what) {
        EXPECT_NEAR(margins.left, left, 1e-9) << what;
        EXPECT_NEAR(margins.top, top, 1e-9) << what;
        EXPECT_NEAR(margins.right, right, 1e-9) << what;
        EXPECT_NEAR(margins.bottom, bottom, 1e-9) << what;
    };
    ASSERT_TRUE(m_dialog->BuildSheet(true));
    expectMargins(m_dialog->GetSheet().margins, 300, 300, 300, 300, "the preview's page");
    ASSERT_TRUE(m_dialog->BuildSheet(false));
    const SheetLayout& sheet = m_dialog->GetSheet();
    EXPECT_NEAR(sheet.pageSize.cx, 2480 - 300 - kMargin, 1e-9);
    EXPECT_NEAR(sheet.pageSize.cy, 3508 - 300 - kMargin, 1e-9);
    expectMargins(sheet.margins, 300 - kMargin, 300 - kMargin, 0, 0, "the printed page");
    EXPECT_NEAR(sheet.itemSize.cx, (2480 - 600) / 5.2, 1e-9) << "the same cells as the preview's";
}

TEST_F(PrintSheetTest, SheetsThatCannotBeLaidOutFailBeforeTheTransformAndKeepThePreview) {
    SetPictures(46);
    ASSERT_TRUE(m_dialog->BuildSheet(true));
    const std::wstring before(m_dialog->FormatSheetParameters());
    TdocDocument* preview = m_dialog->GetSheetDocument();
    struct Case {
        const char* what;
        LONG type;
        TSize_T<double> size;
    };
    const Case cases[] = {{"zero width", TUserOptions::kAdvancedIndexPrint, {0, 1}},
                          {"negative height", TUserOptions::kAdvancedIndexPrint, {1, -2}},
                          {"not a number", TUserOptions::kAdvancedIndexPrint, {std::nan(""), 1}},
                          {"larger than the page", TUserOptions::kAdvancedIndexPrint, {40, 60}}};
    for (const Case& c : cases) {
        m_options.indexPrintType = c.type;
        m_options.itemSize = c.size;
        ObserveCalls();
        {
            kvtest::Watchdog watchdog(c.what, std::chrono::milliseconds(1000));
            EXPECT_FALSE(m_dialog->BuildSheet(true)) << c.what;
        }
        DadaDudTest::SetCallObserver(nullptr);
        EXPECT_FALSE(Called("docXSLTTransform2")) << c.what;
        EXPECT_EQ(std::wstring(m_dialog->FormatSheetParameters()), before) << c.what;
        EXPECT_EQ(m_dialog->GetSheetDocument(), preview);
        EXPECT_EQ(m_dialog->GetPageCount(), 2);
        m_calls.clear();
    }
    EXPECT_EQ(m_iterator->GetPageCount(), 2);
    EXPECT_TRUE(RenderAndPaint()) << "the iterator's document is still valid";
}

TEST_F(PrintSheetTest, AFailedDocumentLeavesThePreviousOneWithTheIterator) {
    ASSERT_TRUE(m_dialog->BuildSheet(true));
    TdocDocument* preview = m_dialog->GetSheetDocument();
    TFilePath missing;
    missing.Set(Utf::Utf8ToWide(m_base.File("no-such-items.xml")).c_str());
    m_dialog->SetItemsFile(missing);
    m_options.columns = 8;
    EXPECT_FALSE(m_dialog->BuildSheet(true));
    EXPECT_EQ(m_dialog->GetSheetDocument(), preview);
    EXPECT_EQ(m_dialog->GetSheet().grid.cx, 5) << "the record is the previous one";
    EXPECT_TRUE(RenderAndPaint());
    // A good rebuild replaces the document, which the iterator then previews.
    SetPictures(3);
    ASSERT_TRUE(m_dialog->BuildSheet(true));
    EXPECT_EQ(m_dialog->GetSheet().grid.cx, 8);
    EXPECT_EQ(m_iterator->GetPageCount(), 1);
    EXPECT_TRUE(RenderAndPaint());
}

// The text at the path of a document object, empty when it has none.
std::wstring Property(DocHandle object, const wchar_t* path) {
    wchar_t buffer[256] = {};
    LONG count = 255;
    return docGetPropertyValue(object, path, buffer, &count, 0) == 1 && count < 256
               ? std::wstring(buffer, count)
               : std::wstring();
}

double Number(DocHandle object, const wchar_t* path) {
    return std::stod(Property(object, path));
}

TEST_F(PrintSheetTest, ImprintParametersListEveryPictureWithItsDateByteForByte) {
    m_dialog->SetSelectionInfo({{1, {400, 300}, L"2004/05/06 10:11:12"}, {2, {300, 400}, L"20040506"}});
    m_options.metadata.imprintFont = TFontInfo{L"O'Neil \"Sans\"", TFontInfo::kItalic, 10};
    m_options.metadata.imprintColour = 0xFF0000FFu;
    const std::wstring a = L"400,300,2004/05/06;", b = L"300,400,20040506;";
    // At 300 dpi a line is trunc(points x 1.2) points; automatic: 0.1 x 447 pixels in points, 10 points.
    const struct {
        bool dateAndTime, replicate;
        LONG replicas, size;
        std::wstring items;
        int height;
    } cases[] = {
        {false, false, 3, 10, a + b, 50},
        {true, false, 3, 10, L"400,300,2004/05/06 10:11:12;" + b, 50},
        {false, true, 3, 10, a + a + a + b + b + b, 50},
        {false, true, 0, 2, a + b, 16},
        {false, true, 1000000000, 1000, a + a + a + a + a + b + b + b + b + b, 79},
        {false, false, 1, -1, a + b, 50},
    };
    for (const auto& c : cases) {
        m_options.metadata.imprintDateAndTime = c.dateAndTime;
        m_options.useReplicate = c.replicate;
        m_options.replicas = c.replicas;
        m_options.metadata.imprintFont.size = c.size;
        TString parameters;
        ASSERT_TRUE(m_dialog->ImprintParameters(parameters));
        EXPECT_EQ(std::wstring(parameters),
                  L"arrImprintsInfo='" + c.items + L"'<;/>fontName='O'Neil \"Sans\"'<;/>fontHeight=" +
                      std::to_wstring(c.height) + L"<;/>italic=1<;/>bold=0<;/>textColor='#ff0000ff'")
            << c.replicas << " " << c.size;
    }
}

TEST_F(PrintSheetTest, ImprintsStandInTheLowerRightCornerOfEachPictureInDocumentOrder) {
    SetPictures(3);
    m_dialog->SetSelectionInfo({{1, {400, 300}, L"A 1"}, {2, {0, 300}, L"B 2"}, {3, {300, 400}, L"C'\"3 4"}});
    m_options.metadataEnabled = true;
    m_options.metadata.imprintEnabled = true;
    m_options.metadata.imprintFont.size = 10;
    ASSERT_TRUE(m_dialog->BuildSheet(true));
    DocHandle page = kDocNoHandle;
    ASSERT_EQ(docGetPageByIndex(m_dialog->GetSheetDocument()->GetHandle(), 0, &page), 1);
    struct Box {
        double x, y, cx, cy;
    };
    std::vector<Box> pictures, imprints;
    std::vector<std::wstring> texts;
    DocHandle item = kDocNoHandle;
    for (LONG i = 0; docGetItem(page, i, &item) == 1; ++i) {
        const Box box{Number(item, L"bounding-box/@x"), Number(item, L"bounding-box/@y"),
                      Number(item, L"bounding-box/@cx"), Number(item, L"bounding-box/@cy")};
        if (Property(item, L"metadata/property[@name='kind']") == L"imprint") {
            imprints.push_back(box);
            texts.push_back(Property(item, L"content/text"));
            EXPECT_EQ(Property(item, L"property[@name='text']/attr[@name='font-size']"), L"50");
        } else if (Property(item, L"@kind") != L"text") {
            pictures.push_back(box);
        }
        docReleaseHandle(item);
    }
    docReleaseHandle(page);
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"A", L"C'\"3"})) << "none for a picture without a size";
    ASSERT_EQ(imprints.size(), 2u);
    // A 4:3 picture fills its cell's width; a 3:4 one its height, centred.
    const Box& first = pictures[0];
    const double firstHeight = 300.0 * first.cx / 400.0;
    EXPECT_NEAR(imprints[0].x + imprints[0].cx, first.x + first.cx, 1e-3);
    EXPECT_NEAR(imprints[0].y + imprints[0].cy, first.y + (first.cy + firstHeight) / 2, 1e-3);
    const Box& third = pictures[2];
    const double thirdWidth = 300.0 * third.cy / 400.0;
    EXPECT_NEAR(imprints[1].x + imprints[1].cx, third.x + (third.cx + thirdWidth) / 2, 1e-3);
    EXPECT_NEAR(imprints[1].y + imprints[1].cy, third.y + third.cy, 1e-3);
    EXPECT_NEAR(imprints[1].cy, 50, 1e-9);
}

} // namespace
