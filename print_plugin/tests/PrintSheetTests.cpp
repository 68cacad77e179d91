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

} // namespace
