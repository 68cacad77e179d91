#include "print_plugin/TPrinter.h"

#include "plugin_framework/TBaseObject.h"

#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSeams.h"
#include "testing/TempSystemRoot.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using graphtypes::TRect_T;
using WinPrintTest::PrinterCall;

// A4 at 300 dpi with margins of 5, 10, 15 and 20 mm; a Letter printer at 600 dpi is the default.
constexpr const char* kPrinters = R"(<printers>
  <printer name="Studio" dpi="300">
    <paper id="9" name="A4" width="2100" height="2970" left="50" top="100" right="150" bottom="200"/>
    <paper id="11" name="A5" width="1480" height="2100" left="50" top="50" right="50" bottom="50"/>
  </printer>
  <printer name="Office" dpi="600" default="1">
    <paper id="1" name="Letter" width="2159" height="2794" left="64" top="64" right="64" bottom="64"/>
  </printer>
</printers>)";

// Whole pixels of a length in tenths of a millimetre, as the printer reports them.
double Px(double tenths, double dpi) {
    return std::round(tenths / 254.0 * dpi);
}

int PdfPages(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(("pdfinfo '" + path + "' 2>/dev/null").c_str(), "r"),
                                               pclose);
    int pages = -1;
    char line[512];
    while (pipe && fgets(line, sizeof(line), pipe.get()))
        std::sscanf(line, "Pages: %d", &pages);
    return pages;
}

void ExpectRect(const TRect_T<double>& rect, double l, double t, double r, double b) {
    EXPECT_NEAR(rect.left, l, 1e-9);
    EXPECT_NEAR(rect.top, t, 1e-9);
    EXPECT_NEAR(rect.right, r, 1e-9);
    EXPECT_NEAR(rect.bottom, b, 1e-9);
}

class PrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        WinPrintTest::Reset();
        std::ofstream(m_machine.File("printers.xml")) << kPrinters;
    }
    void TearDown() override {
        WinPrintTest::Reset();
        WinSeams::SetReportedVersion(5, 1);
        ResetOSVersionForTesting();
    }
    static PrinterOptionRecord Record(const wchar_t* printer, const wchar_t* paper = L"", BYTE portrait = 1) {
        PrinterOptionRecord record;
        record.printerName = printer;
        record.paperName = paper;
        record.portrait = portrait;
        return record;
    }
    std::vector<std::string> Spooled(const std::string& printer) const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_machine.Path() + "/spool/" + printer, error))
            names.push_back(entry.path().filename().string());
        return names;
    }

    kvtest::TempSystemRoot m_machine;
};

TEST_F(PrinterTest, APrinterByNameIsMeasuredInInches) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio", L"A4"), nullptr));
    EXPECT_TRUE(printer.IsValid());
    EXPECT_EQ(printer.GetPrinterName(), L"Studio");
    EXPECT_EQ(printer.GetPaperName(), L"A4");
    EXPECT_TRUE(printer.IsPortrait());
    EXPECT_EQ(printer.GetResolution(), (graphtypes::TSize_T<LONG>(300, 300)));
    const double w = Px(2100, 300), h = Px(2970, 300);
    const double l = Px(50, 300), t = Px(100, 300), r = Px(150, 300), b = Px(200, 300);
    ExpectRect(printer.GetPaperRect(LengthUnit::kInch), 0, 0, w / 300, h / 300);
    ExpectRect(printer.GetMinMarginRect(LengthUnit::kInch), l / 300, t / 300, r / 300, b / 300);
    ExpectRect(printer.GetUserMargins(), l / 300, t / 300, r / 300, b / 300);
    ExpectRect(printer.GetPrintableRect(LengthUnit::kPixel, true), l, t, w - r, h - b);
    ExpectRect(printer.GetPrintableRect(LengthUnit::kPixel, false), 0, 0, w - r - l, h - b - t);
}

TEST_F(PrinterTest, ThePaperTableHoldsEveryPaperInInchesAndPicksTheRecordsPaper) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio", L"A5"), nullptr));
    const auto& papers = printer.GetPaperTable();
    ASSERT_EQ(papers.size(), 2u);
    EXPECT_EQ(papers.at(L"A4").id, 9);
    EXPECT_NEAR(papers.at(L"A4").size.cx, 210 / 25.4, 1e-9);
    EXPECT_NEAR(papers.at(L"A5").size.cy, 210 / 25.4, 1e-9);
    EXPECT_EQ(papers.at(L"A5").unit, LengthUnit::kInch);
    EXPECT_EQ(printer.GetPaperName(), L"A5");
    ExpectRect(printer.GetPaperRect(LengthUnit::kPixel), 0, 0, Px(1480, 300), Px(2100, 300));
}

TEST_F(PrinterTest, AnEmptyOrUnknownNameTakesTheDefaultPrinter) {
    for (const wchar_t* name : {L"", L"Nobody"}) {
        TPrinter printer;
        ASSERT_TRUE(printer.Init(Record(name), nullptr)) << name;
        EXPECT_EQ(printer.GetPrinterName(), L"Office");
        EXPECT_EQ(printer.GetPaperName(), L"Letter");
        EXPECT_EQ(printer.GetResolution().cx, 600);
    }
}

TEST_F(PrinterTest, WithoutPrintersOrPaperListsInitFails) {
    TPrinter printer;
    WinPrintTest::FailCall(PrinterCall::kDeviceCapabilities);
    EXPECT_FALSE(printer.Init(Record(L"Studio"), nullptr));
    EXPECT_TRUE(printer.GetPaperTable().empty());
    EXPECT_FALSE(printer.IsValid());
    WinPrintTest::FailCall(PrinterCall::kCreateIC);
    EXPECT_FALSE(printer.Init(Record(L"Studio"), nullptr)) << "a page that cannot be measured";
    std::ofstream(m_machine.File("printers.xml")) << "<printers>";
    EXPECT_FALSE(printer.Init(Record(L"Studio"), nullptr));
    EXPECT_FALSE(printer.IsValid());
}

TEST_F(PrinterTest, LandscapeSwapsThePage) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio", L"A4", 0), nullptr));
    EXPECT_FALSE(printer.IsPortrait());
    // The paper turned: its top margin is now the left one, its right margin the top one.
    ExpectRect(printer.GetPaperRect(LengthUnit::kPixel), 0, 0, Px(2970, 300), Px(2100, 300));
    ExpectRect(printer.GetMinMarginRect(LengthUnit::kPixel), Px(100, 300), Px(150, 300), Px(200, 300),
               Px(50, 300));
}

TEST_F(PrinterTest, AScaleOfFiftyHalvesThePageAndShrinksThePrintableAreaAboutItsCentre) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio", L"A4"), nullptr));
    struct Seen {
        bool accepted = false, changed = false;
    } seen;
    auto completion = [](bool accepted, bool changed, void* context) {
        *static_cast<Seen*>(context) = Seen{accepted, changed};
    };
    // A cancelled dialog shows which device mode the printer keeps; the user then scales it to 50 %.
    ASSERT_TRUE(printer.PageSetupDialog(nullptr, completion, &seen));
    EXPECT_FALSE(seen.accepted);
    const HGLOBAL devModeBlock = WinPrintTest::PageSetupCalls().back().hDevMode;
    auto* devMode = static_cast<DEVMODEA*>(GlobalLock(devModeBlock));
    ASSERT_NE(devMode, nullptr);
    devMode->dmScale = 50;
    GlobalUnlock(devModeBlock);
    WinPrintTest::QueuePageSetupAnswer({});
    ASSERT_TRUE(printer.PageSetupDialog(nullptr, completion, &seen));
    EXPECT_TRUE(seen.accepted);
    EXPECT_TRUE(seen.changed);

    const double w = Px(2100, 300) / 2, h = Px(2970, 300) / 2;
    ExpectRect(printer.GetPaperRect(LengthUnit::kPixel), 0, 0, w, h);
    ExpectRect(printer.GetMinMarginRect(LengthUnit::kPixel), Px(50, 300) / 2, Px(100, 300) / 2,
               Px(150, 300) / 2, Px(200, 300) / 2);
    // The user margins came back from the dialog in thousandths of an inch, taken from the full-size page.
    auto userMargin = [](double tenths) { return std::trunc(Px(tenths, 300) / 300 * 1000) / 1000; };
    const double ul = userMargin(50), ut = userMargin(100), ur = userMargin(150), ub = userMargin(200);
    const double pw = w / 300 - ur - ul, ph = h / 300 - ub - ut;
    const double left = ul + pw / 4, top = ut + ph / 4;
    ExpectRect(printer.GetPrintableRect(LengthUnit::kInch, true), left, top, left + pw / 2, top + ph / 2);
}

TEST_F(PrinterTest, PageSetupHandsOverMarginsInThousandthsAndReadsThemBackInEitherUnit) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio", L"A4"), nullptr));
    auto ignore = [](bool, bool, void*) {};
    WinPrintTest::QueuePageSetupAnswer({true, RECT{1000, 100, 750, 2000}, false, std::nullopt, std::nullopt});
    ASSERT_TRUE(printer.PageSetupDialog(nullptr, ignore, nullptr));
    const PAGESETUPDLGA call = WinPrintTest::PageSetupCalls().back();
    EXPECT_EQ(call.Flags, PSD_MINMARGINS | PSD_MARGINS | PSD_INTHOUSANDTHSOFINCHES);
    // 59 pixels at 300 dpi are 0.19666 in: truncated to 196 thousandths.
    EXPECT_EQ(call.rtMinMargin.left, static_cast<LONG>(Px(50, 300) / 300 * 1000));
    EXPECT_EQ(call.rtMinMargin.bottom, static_cast<LONG>(Px(200, 300) / 300 * 1000));
    EXPECT_EQ(call.rtMargin.left, call.rtMinMargin.left) << "the user margins were the minimum ones";
    ExpectRect(printer.GetUserMargins(), 1.0, 0.1, 0.75, 2.0);

    // A user margin below the minimum: the dialog is offered the minimum.
    WinPrintTest::QueuePageSetupAnswer(
        {true, RECT{2540, 1000, 1000, 1000}, true, std::nullopt, std::nullopt});
    ASSERT_TRUE(printer.PageSetupDialog(nullptr, ignore, nullptr));
    EXPECT_EQ(WinPrintTest::PageSetupCalls().back().rtMargin.top,
              static_cast<LONG>(Px(100, 300) / 300 * 1000));
    EXPECT_EQ(WinPrintTest::PageSetupCalls().back().rtMargin.left, 1000);
    ExpectRect(printer.GetUserMargins(), 1.0, 10 / 25.4, 10 / 25.4, 10 / 25.4);

    WinPrintTest::QueuePageSetupAnswer({false, RECT{1, 1, 1, 1}, false, std::nullopt, std::nullopt});
    bool accepted = true;
    ASSERT_TRUE(printer.PageSetupDialog(
        nullptr, [](bool yes, bool, void* context) { *static_cast<bool*>(context) = yes; }, &accepted));
    EXPECT_FALSE(accepted);
    ExpectRect(printer.GetUserMargins(), 1.0, 10 / 25.4, 10 / 25.4, 10 / 25.4);
    EXPECT_FALSE(printer.PageSetupDialog(nullptr, nullptr, nullptr)) << "no completion";
}

struct PrintCase {
    LONG osMajor, osMinor; // version code 10 (extended dialog) or 0 (classic)
    std::vector<std::pair<DWORD, DWORD>> ranges;
    std::vector<LONG> pages;
};

class PrintDialogPathTest : public PrinterTest, public ::testing::WithParamInterface<PrintCase> {};

TEST_P(PrintDialogPathTest, PagesComeFromTheRangesOrAreEveryPage) {
    const PrintCase& c = GetParam();
    WinSeams::SetReportedVersion(static_cast<DWORD>(c.osMajor), static_cast<DWORD>(c.osMinor));
    ResetOSVersionForTesting();
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio"), nullptr));
    WinPrintTest::QueuePrintAnswer({true, c.ranges, ""});
    struct Seen {
        bool accepted = false;
        std::vector<LONG> pages;
    } seen;
    ASSERT_TRUE(printer.PrintDialog(
        nullptr, 6,
        [](bool accepted, const std::vector<LONG>& pages, void* context) {
            *static_cast<Seen*>(context) = Seen{accepted, pages};
        },
        &seen));
    EXPECT_TRUE(seen.accepted);
    EXPECT_EQ(seen.pages, c.pages);
    const bool extended = c.osMajor == 5; // 5.1 is code 10; 6.0 is none of the known versions, code 0
    EXPECT_EQ(GetOSVersion(), extended ? 10 : 0);
    EXPECT_EQ(WinPrintTest::PrintExCalls().size(), extended ? 1u : 0u);
    EXPECT_EQ(WinPrintTest::PrintCalls().size(), extended ? 0u : 1u);
    if (extended) {
        EXPECT_EQ(WinPrintTest::PrintExCalls()[0].Flags, 0x840004u);
        EXPECT_EQ(WinPrintTest::PrintExCalls()[0].nMaxPageRanges, 6u);
        EXPECT_EQ(WinPrintTest::PrintExCalls()[0].nStartPage, START_PAGE_GENERAL);
    } else {
        EXPECT_EQ(WinPrintTest::PrintCalls()[0].Flags, 0x40004u);
        EXPECT_EQ(WinPrintTest::PrintCalls()[0].nMaxPage, 6);
    }
}

INSTANTIATE_TEST_SUITE_P(BothDialogs, PrintDialogPathTest,
                         ::testing::Values(PrintCase{5, 1, {{2, 3}, {5, 5}}, {2, 3, 5}},
                                           PrintCase{5, 1, {}, {1, 2, 3, 4, 5, 6}},
                                           PrintCase{6, 0, {{2, 3}}, {2, 3}},
                                           PrintCase{6, 0, {}, {1, 2, 3, 4, 5, 6}}));

TEST_F(PrinterTest, ACancelledOrFailingPrintDialogListsNoPages) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio"), nullptr));
    bool accepted = true;
    auto completion = [](bool yes, const std::vector<LONG>& pages, void* context) {
        *static_cast<bool*>(context) = yes && !pages.empty();
    };
    WinPrintTest::QueuePrintAnswer({false, {}, ""});
    ASSERT_TRUE(printer.PrintDialog(nullptr, 3, completion, &accepted));
    EXPECT_FALSE(accepted);
    accepted = true;
    WinPrintTest::FailCall(PrinterCall::kPrintDialog);
    WinPrintTest::QueuePrintAnswer({true, {}, ""});
    ASSERT_TRUE(printer.PrintDialog(nullptr, 3, completion, &accepted));
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(printer.PrintDialog(nullptr, 0, completion, &accepted)) << "no pages to print";
}

TEST_F(PrinterTest, AThreePageJobLeavesAThreePagePdfInTheSpool) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio", L"A4"), nullptr));
    ASSERT_TRUE(printer.StartDocument(L"Sheets"));
    for (int page = 0; page < 3; ++page) {
        HDC dc = nullptr;
        ASSERT_TRUE(printer.StartPage(&dc));
        cairo_t* cairo = WinPrint::CairoOfDC(dc);
        ASSERT_NE(cairo, nullptr);
        cairo_rectangle(cairo, 0, 0, 300, 300);
        cairo_fill(cairo);
        ASSERT_TRUE(printer.EndPage());
    }
    ASSERT_TRUE(printer.EndDocument());
    ASSERT_EQ(Spooled("Studio"), std::vector<std::string>{"Sheets.pdf"});
    EXPECT_EQ(PdfPages(m_machine.Path() + "/spool/Studio/Sheets.pdf"), 3);
    EXPECT_FALSE(printer.EndPage()) << "the context went with the document";
}

TEST_F(PrinterTest, AnAbortedDocumentLeavesNothing) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio"), nullptr));
    ASSERT_TRUE(printer.StartDocument(L"Gone"));
    HDC dc = nullptr;
    ASSERT_TRUE(printer.StartPage(&dc));
    ASSERT_TRUE(printer.AbortDocument());
    EXPECT_TRUE(Spooled("Studio").empty());
    // A job still running when the printer is released goes the same way.
    ASSERT_TRUE(printer.StartDocument(L"Released"));
    printer.Release();
    EXPECT_TRUE(Spooled("Studio").empty());
}

TEST_F(PrinterTest, InjectedFailuresAnswerFalse) {
    TPrinter printer;
    ASSERT_TRUE(printer.Init(Record(L"Studio"), nullptr));
    for (PrinterCall call : {PrinterCall::kCreateDC, PrinterCall::kStartDoc}) {
        WinPrintTest::FailCall(call);
        EXPECT_FALSE(printer.StartDocument(L"Doc"));
    }
    HDC dc = nullptr;
    EXPECT_FALSE(printer.StartPage(&dc)) << "no document";
    ASSERT_TRUE(printer.StartDocument(L"Doc"));
    WinPrintTest::FailCall(PrinterCall::kStartPage);
    EXPECT_FALSE(printer.StartPage(&dc));
    ASSERT_TRUE(printer.StartPage(&dc));
    WinPrintTest::FailCall(PrinterCall::kEndPage);
    EXPECT_FALSE(printer.EndPage());
    WinPrintTest::FailCall(PrinterCall::kEndDoc);
    EXPECT_FALSE(printer.EndDocument());
    ASSERT_TRUE(printer.StartDocument(L"Doc"));
    WinPrintTest::FailCall(PrinterCall::kAbortDoc);
    EXPECT_FALSE(printer.AbortDocument());
    EXPECT_TRUE(Spooled("Studio").empty()) << "every failed job took its file with it";
}

} // namespace
