#include "platform/win/WinKernel.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSpool.h"

#include "testing/TempSystemRoot.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using WinPrintTest::PrinterCall;

constexpr const char* kTwoPrinters = R"(<?xml version="1.0"?>
<printers>
  <printer name="Draft" dpi="150" port="LPT9:">
    <paper id="1" name="Letter" width="2159" height="2794" left="64" top="64" right="64" bottom="127"/>
  </printer>
  <printer name="Photo" driver="KvPhoto" dpi="300" dpi_y="600" default="1">
    <paper id="9" name="A4" width="2100" height="2970" left="50" top="100" right="150" bottom="200"/>
    <paper id="11" name="A5" width="1480" height="2100"/>
  </printer>
</printers>
)";

// What pdfinfo reports of a file: its page count and the first page's size in points.
struct PdfInfo {
    int pages = -1;
    double width = 0;
    double height = 0;
};

PdfInfo ReadPdfInfo(const std::string& path) {
    PdfInfo info;
    const std::string command = "pdfinfo '" + path + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        return info;
    char line[512];
    while (fgets(line, sizeof(line), pipe.get())) {
        std::sscanf(line, "Pages: %d", &info.pages);
        std::sscanf(line, "Page size: %lf x %lf", &info.width, &info.height);
    }
    return info;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (entry.is_regular_file())
            names.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class WinPrinterTest : public ::testing::Test {
protected:
    void SetUp() override { WinPrintTest::Reset(); }
    void TearDown() override {
        WinPrintTest::Reset();
        EXPECT_EQ(WinGlobalMemoryTest::LiveBlocks(), m_blocksBefore) << "every block went back";
    }
    void WritePrinters(const std::string& text) { std::ofstream(m_machine.File("printers.xml")) << text; }
    std::string Spool(const std::string& printer) const { return m_machine.Path() + "/spool/" + printer; }

    kvtest::TempSystemRoot m_machine;
    std::size_t m_blocksBefore = WinGlobalMemoryTest::LiveBlocks();
};

TEST_F(WinPrinterTest, WithoutAPrintersFileTheMachineHasOnePdfPrinterWithA4AndLetter) {
    std::vector<WinPrint::VirtualPrinter> printers = WinPrint::MachinePrinters();
    ASSERT_EQ(printers.size(), 1u);
    EXPECT_EQ(printers[0].dpiX, 300);
    EXPECT_EQ(printers[0].dpiY, 300);
    ASSERT_EQ(printers[0].papers.size(), 2u);
    EXPECT_EQ(printers[0].papers[0].name, "A4");
    EXPECT_EQ(printers[0].papers[0].id, DMPAPER_A4);
    EXPECT_EQ(printers[0].papers[1].name, "Letter");
    EXPECT_EQ(printers[0].papers[1].id, DMPAPER_LETTER);
    ASSERT_TRUE(WinPrint::DefaultPrinter());
    EXPECT_EQ(WinPrint::DefaultPrinter()->name, printers[0].name);
}

TEST_F(WinPrinterTest, MalformedPrintersFilesGiveNoPrinters) {
    const char* files[] = {
        "<printers><printer name='A'><paper id='9' name='A4' width='2100' height='2970'/></printer>",
        "<printers><printer name='A' dpi='0'><paper id='9' name='A4' width='2100' height='2970'/></printer>"
        "</printers>",
        "<printers><printer name='A'><paper id='9' name='A4' width='-5' height='2970'/></printer></printers>",
        "<printers><printer name='A'><paper id='9' name='A4' width='100' height='100' left='60' right='40'/>"
        "</printer></printers>",
        "<printers><printer name='A'/></printers>",
        "<printers><printer name='A'><paper id='9' name='A4' width='2100' height='2970'/></printer>"
        "<printer name='A'><paper id='9' name='A4' width='2100' height='2970'/></printer></printers>",
        "<!DOCTYPE printers [<!ENTITY n 'A'>]><printers><printer name='&n;'>"
        "<paper id='9' name='A4' width='2100' height='2970'/></printer></printers>",
        "<printers><printer name='A' dpi='300x300'><paper id='9' name='A4' width='2100' height='2970'/>"
        "</printer></printers>",
        "<printers><printer name='A' dpi='1'><paper id='9' name='Stamp' width='3' height='3' left='1' top='1'"
        " right='1' bottom='1'/></printer></printers>",
        "<other/>",
        "",
    };
    for (const char* file : files) {
        SCOPED_TRACE(file);
        WritePrinters(file);
        EXPECT_TRUE(WinPrint::MachinePrinters().empty());
        HANDLE printer = 0;
        EXPECT_FALSE(OpenPrinterA("A", &printer, nullptr));
    }
}

TEST_F(WinPrinterTest, LevelTwoInformationNamesThePrinterAndCarriesItsDeviceMode) {
    WritePrinters(kTwoPrinters);
    HANDLE printer = 0;
    ASSERT_TRUE(OpenPrinterA("Photo", &printer, nullptr));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterA(printer, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(needed, sizeof(PRINTER_INFO_2A) + sizeof(DEVMODEA));
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(GetPrinterA(printer, 2, buffer.data(), needed - 1, &needed));
    ASSERT_TRUE(GetPrinterA(printer, 2, buffer.data(), needed, &needed));
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    EXPECT_STREQ(info->pPrinterName, "Photo");
    EXPECT_STREQ(info->pDriverName, "KvPhoto");
    EXPECT_STREQ(info->pPortName, "PDF:");
    ASSERT_NE(info->pDevMode, nullptr);
    EXPECT_EQ(info->pDevMode->dmSize, 156);
    EXPECT_EQ(info->pDevMode->dmOrientation, DMORIENT_PORTRAIT);
    EXPECT_EQ(info->pDevMode->dmPaperSize, 9);
    EXPECT_EQ(info->pDevMode->dmScale, 100);
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_FALSE(ClosePrinter(printer)) << "a closed handle is gone";
    EXPECT_FALSE(GetPrinterA(printer, 2, buffer.data(), needed, &needed));
    EXPECT_FALSE(OpenPrinterA("photo", &printer, nullptr)) << "names match exactly";
}

TEST_F(WinPrinterTest, PaperCapabilitiesListIdsNamesAndSizesOrMinusOne) {
    WritePrinters(kTwoPrinters);
    ASSERT_EQ(DeviceCapabilitiesA("Photo", "PDF:", DC_PAPERS, nullptr, nullptr), 2);
    std::vector<WORD> ids(2);
    EXPECT_EQ(DeviceCapabilitiesA("Photo", "PDF:", DC_PAPERS, reinterpret_cast<char*>(ids.data()), nullptr),
              2);
    EXPECT_EQ(ids, (std::vector<WORD>{9, 11}));
    std::vector<char> names(2 * kPaperNameLength, 'x');
    EXPECT_EQ(DeviceCapabilitiesA("Photo", "PDF:", DC_PAPERNAMES, names.data(), nullptr), 2);
    EXPECT_STREQ(names.data(), "A4");
    EXPECT_STREQ(names.data() + kPaperNameLength, "A5");
    std::vector<POINT> sizes(2);
    EXPECT_EQ(
        DeviceCapabilitiesA("Photo", "PDF:", DC_PAPERSIZE, reinterpret_cast<char*>(sizes.data()), nullptr),
        2);
    EXPECT_EQ(sizes[1].x, 1480);
    EXPECT_EQ(sizes[1].y, 2100);
    EXPECT_EQ(DeviceCapabilitiesA("Nobody", "PDF:", DC_PAPERS, nullptr, nullptr), -1);
    EXPECT_EQ(DeviceCapabilitiesA("Photo", "PDF:", 99, nullptr, nullptr), -1);
    WinPrintTest::FailCall(PrinterCall::kDeviceCapabilities, 1);
    EXPECT_EQ(DeviceCapabilitiesA("Photo", "PDF:", DC_PAPERS, nullptr, nullptr), 2);
    EXPECT_EQ(DeviceCapabilitiesA("Photo", "PDF:", DC_PAPERS, nullptr, nullptr), -1)
        << "the injected failure";
    EXPECT_EQ(DeviceCapabilitiesA("Photo", "PDF:", DC_PAPERS, nullptr, nullptr), 2) << "once only";
}

TEST_F(WinPrinterTest, DeviceCapsAreWholePixelsOfPaperMarginsAndResolution) {
    WritePrinters(kTwoPrinters);
    // A4 at 300 x 600 dpi, margins 5, 10, 15, 20 mm: each length in tenths of mm x dpi / 254, rounded.
    struct Case {
        SHORT orientation;
        int width, height, offsetX, offsetY, horz, vert;
    } cases[] = {
        {DMORIENT_PORTRAIT, 2480, 7016, 59, 236, 2480 - 59 - 177, 7016 - 236 - 472},
        // Landscape: 297 x 210 mm with margins left 10 (the top), top 15, right 20, bottom 5.
        {DMORIENT_LANDSCAPE, 3508, 4961, 118, 354, 3508 - 118 - 236, 4961 - 354 - 118},
    };
    for (const Case& c : cases) {
        DEVMODEA mode{};
        mode.dmSize = sizeof(mode);
        mode.dmPaperSize = DMPAPER_A4;
        mode.dmOrientation = c.orientation;
        HDC ic = CreateICA("KvPhoto", "Photo", "PDF:", &mode);
        ASSERT_NE(ic, nullptr);
        EXPECT_EQ(GetDeviceCaps(ic, LOGPIXELSX), 300);
        EXPECT_EQ(GetDeviceCaps(ic, LOGPIXELSY), 600);
        EXPECT_EQ(GetDeviceCaps(ic, PHYSICALWIDTH), c.width);
        EXPECT_EQ(GetDeviceCaps(ic, PHYSICALHEIGHT), c.height);
        EXPECT_EQ(GetDeviceCaps(ic, PHYSICALOFFSETX), c.offsetX);
        EXPECT_EQ(GetDeviceCaps(ic, PHYSICALOFFSETY), c.offsetY);
        EXPECT_EQ(GetDeviceCaps(ic, HORZRES), c.horz);
        EXPECT_EQ(GetDeviceCaps(ic, VERTRES), c.vert);
        DOCINFOW info{sizeof(DOCINFOW), L"no", nullptr, nullptr, 0};
        EXPECT_EQ(StartDocW(ic, &info), SP_ERROR) << "an information context cannot print";
        EXPECT_TRUE(DeleteDC(ic));
        EXPECT_FALSE(DeleteDC(ic));
        EXPECT_EQ(GetDeviceCaps(ic, HORZRES), 0);
    }
    EXPECT_EQ(CreateICA("", "Nobody", "", nullptr), nullptr);
}

TEST_F(WinPrinterTest, AThreePageJobLeavesAPdfOfThreePagesOfThePaper) {
    WritePrinters(kTwoPrinters);
    HDC dc = CreateDCA("KvPhoto", "Photo", "PDF:", nullptr);
    ASSERT_NE(dc, nullptr);
    DOCINFOW info{sizeof(DOCINFOW), L"Holiday", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &info), 0);
    EXPECT_EQ(FilesIn(Spool("Photo")), std::vector<std::string>{"Holiday.pdf.part"});
    EXPECT_EQ(WinPrint::CairoOfDC(dc), nullptr) << "no page yet";
    for (int page = 0; page < 3; ++page) {
        ASSERT_GT(StartPage(dc), 0);
        cairo_t* cairo = WinPrint::CairoOfDC(dc);
        ASSERT_NE(cairo, nullptr);
        // Device pixels from the printable offset: (0, 0) lies at the hardware margins.
        double x = 0, y = 0;
        cairo_user_to_device(cairo, &x, &y);
        EXPECT_NEAR(x, 59 * 72.0 / 300, 1e-9);
        EXPECT_NEAR(y, 236 * 72.0 / 600, 1e-9);
        cairo_rectangle(cairo, 0, 0, 100, 100);
        cairo_fill(cairo);
        EXPECT_GT(EndPage(dc), 0);
        EXPECT_EQ(WinPrint::CairoOfDC(dc), nullptr);
    }
    EXPECT_GT(EndDoc(dc), 0);
    EXPECT_TRUE(DeleteDC(dc));
    ASSERT_EQ(FilesIn(Spool("Photo")), std::vector<std::string>{"Holiday.pdf"});
    const PdfInfo pdf = ReadPdfInfo(Spool("Photo") + "/Holiday.pdf");
    EXPECT_EQ(pdf.pages, 3);
    EXPECT_NEAR(pdf.width, 2480 * 72.0 / 300, 0.01);
    EXPECT_NEAR(pdf.height, 7016 * 72.0 / 600, 0.01);
}

TEST_F(WinPrinterTest, AbortingOrDeletingAJobLeavesNoFile) {
    WritePrinters(kTwoPrinters);
    for (bool abort : {true, false}) {
        HDC dc = CreateDCA("", "Draft", "", nullptr);
        ASSERT_NE(dc, nullptr);
        DOCINFOW info{sizeof(DOCINFOW), L"Gone", nullptr, nullptr, 0};
        ASSERT_GT(StartDocW(dc, &info), 0);
        ASSERT_GT(StartPage(dc), 0);
        if (abort) {
            EXPECT_GT(AbortDoc(dc), 0);
            EXPECT_EQ(EndDoc(dc), 0) << "nothing left to end";
        }
        EXPECT_TRUE(DeleteDC(dc));
        EXPECT_TRUE(FilesIn(Spool("Draft")).empty());
    }
}

TEST_F(WinPrinterTest, DocumentNamesStayInsideTheSpoolAndNeverReplaceAFile) {
    WritePrinters(kTwoPrinters);
    struct Case {
        const wchar_t* name;
        const char* file;
    } cases[] = {
        {L"../../escape", ".._.._escape.pdf"},
        {L"..", "document.pdf"},
        {L"", "document (2).pdf"},
        {L"a/b\\c\x0001"
         L"d",
         "a_b_c_d.pdf"},
        {L"Report", "Report.pdf"},
        {L"Report", "Report (2).pdf"},
    };
    for (const Case& c : cases) {
        HDC dc = CreateDCA("", "Draft", "", nullptr);
        DOCINFOW info{sizeof(DOCINFOW), c.name, nullptr, nullptr, 0};
        ASSERT_GT(StartDocW(dc, &info), 0);
        ASSERT_GT(StartPage(dc), 0);
        ASSERT_GT(EndPage(dc), 0);
        ASSERT_GT(EndDoc(dc), 0);
        DeleteDC(dc);
    }
    EXPECT_EQ(FilesIn(Spool("Draft")),
              (std::vector<std::string>{".._.._escape.pdf", "Report (2).pdf", "Report.pdf", "a_b_c_d.pdf",
                                        "document (2).pdf", "document.pdf"}));
    EXPECT_EQ(FilesIn(m_machine.Path() + "/spool").size(), 6u) << "nothing outside the printer's folder";
}

TEST_F(WinPrinterTest, InjectedFailuresAnswerFailureAndLeaveNoFile) {
    WritePrinters(kTwoPrinters);
    DOCINFOW info{sizeof(DOCINFOW), L"Faulty", nullptr, nullptr, 0};
    WinPrintTest::FailCall(PrinterCall::kCreateDC);
    EXPECT_EQ(CreateDCA("", "Draft", "", nullptr), nullptr);
    for (PrinterCall call :
         {PrinterCall::kStartDoc, PrinterCall::kStartPage, PrinterCall::kEndPage, PrinterCall::kEndDoc}) {
        HDC dc = CreateDCA("", "Draft", "", nullptr);
        ASSERT_NE(dc, nullptr);
        WinPrintTest::FailCall(call);
        bool failed = StartDocW(dc, &info) <= 0;
        failed = failed || StartPage(dc) <= 0;
        failed = failed || EndPage(dc) <= 0;
        failed = failed || EndDoc(dc) <= 0;
        EXPECT_TRUE(failed);
        DeleteDC(dc);
        EXPECT_TRUE(FilesIn(Spool("Draft")).empty()) << static_cast<int>(call);
    }
}

TEST_F(WinPrinterTest, PageSetupReturnsDefaultsAndAnswersFromTheScript) {
    WritePrinters(kTwoPrinters);
    PAGESETUPDLGA setup{};
    setup.lStructSize = sizeof(setup);
    setup.Flags = PSD_RETURNDEFAULT;
    ASSERT_TRUE(PageSetupDlgA(&setup));
    ASSERT_NE(setup.hDevMode, nullptr);
    ASSERT_NE(setup.hDevNames, nullptr);
    EXPECT_EQ(GlobalSize(setup.hDevMode), 156u);
    const auto* names = static_cast<const char*>(GlobalLock(setup.hDevNames));
    const auto* header = reinterpret_cast<const DEVNAMES*>(names);
    EXPECT_EQ(header->wDriverOffset, 8);
    EXPECT_STREQ(names + header->wDriverOffset, "KvPhoto");
    EXPECT_STREQ(names + header->wDeviceOffset, "Photo") << "the printer marked default";
    EXPECT_STREQ(names + header->wOutputOffset, "PDF:");
    EXPECT_EQ(header->wDefault, DN_DEFAULTPRN);
    GlobalUnlock(setup.hDevNames);

    setup.Flags = PSD_MARGINS | PSD_INTHOUSANDTHSOFINCHES;
    EXPECT_FALSE(PageSetupDlgA(&setup)) << "no answer: cancelled";
    WinPrintTest::QueuePageSetupAnswer(
        {true, RECT{1000, 500, 1000, 500}, true, SHORT{11}, DMORIENT_LANDSCAPE});
    ASSERT_TRUE(PageSetupDlgA(&setup));
    EXPECT_EQ(setup.rtMargin.left, 1000);
    EXPECT_EQ(setup.Flags & (PSD_INHUNDREDTHSOFMILLIMETERS | PSD_INTHOUSANDTHSOFINCHES),
              PSD_INHUNDREDTHSOFMILLIMETERS);
    const auto* mode = static_cast<const DEVMODEA*>(GlobalLock(setup.hDevMode));
    EXPECT_EQ(mode->dmPaperSize, 11);
    EXPECT_EQ(mode->dmOrientation, DMORIENT_LANDSCAPE);
    GlobalUnlock(setup.hDevMode);
    EXPECT_EQ(WinPrintTest::PageSetupCalls().size(), 2u);
    EXPECT_EQ(GlobalFree(setup.hDevMode), nullptr);
    EXPECT_EQ(GlobalFree(setup.hDevNames), nullptr);
}

TEST_F(WinPrinterTest, PrintDialogsAnswerPageRangesAndRefuseImpossibleOnes) {
    WritePrinters(kTwoPrinters);
    PRINTPAGERANGE ranges[4] = {};
    PRINTDLGEXA ex{};
    ex.lStructSize = sizeof(ex);
    ex.nMinPage = 1;
    ex.nMaxPage = 4;
    ex.nMaxPageRanges = 4;
    ex.lpPageRanges = ranges;
    WinPrintTest::QueuePrintAnswer({true, {{2, 3}, {4, 4}}, "Draft"});
    ASSERT_EQ(PrintDlgExA(&ex), S_OK);
    EXPECT_EQ(ex.dwResultAction, PD_RESULT_PRINT);
    EXPECT_TRUE(ex.Flags & PD_PAGENUMS);
    ASSERT_EQ(ex.nPageRanges, 2u);
    EXPECT_EQ(ranges[1].nFromPage, 4u);
    const auto* names = static_cast<const char*>(GlobalLock(ex.hDevNames));
    EXPECT_STREQ(names + reinterpret_cast<const DEVNAMES*>(names)->wDeviceOffset, "Draft");
    GlobalUnlock(ex.hDevNames);
    WinPrintTest::QueuePrintAnswer({true, {{3, 5}}, ""});
    EXPECT_EQ(PrintDlgExA(&ex), E_INVALIDARG) << "a page past the last";
    WinPrintTest::QueuePrintAnswer({false, {}, ""});
    ASSERT_EQ(PrintDlgExA(&ex), S_OK);
    EXPECT_EQ(ex.dwResultAction, PD_RESULT_CANCEL);

    PRINTDLGA classic{};
    classic.lStructSize = sizeof(classic);
    classic.hDevMode = ex.hDevMode;
    classic.hDevNames = ex.hDevNames;
    classic.nMinPage = 1;
    classic.nMaxPage = 4;
    WinPrintTest::QueuePrintAnswer({true, {{2, 3}}, ""});
    ASSERT_TRUE(PrintDlgA(&classic));
    EXPECT_EQ(classic.hDevMode, ex.hDevMode) << "handles filled in place";
    EXPECT_TRUE(classic.Flags & PD_PAGENUMS);
    EXPECT_EQ(classic.nFromPage, 2);
    EXPECT_EQ(classic.nToPage, 3);
    WinPrintTest::QueuePrintAnswer({true, {{3, 2}}, ""});
    EXPECT_FALSE(PrintDlgA(&classic)) << "a reversed range";
    WinPrintTest::QueuePrintAnswer({true, {}, ""});
    ASSERT_TRUE(PrintDlgA(&classic));
    EXPECT_FALSE(classic.Flags & PD_PAGENUMS);
    WinPrintTest::FailCall(PrinterCall::kPrintDialog);
    EXPECT_FALSE(PrintDlgA(&classic));
    GlobalFree(ex.hDevMode);
    GlobalFree(ex.hDevNames);
}

TEST(WinGlobalMemoryTest, BlocksKeepTheirHandleWhenResizedAndFailOnceFreed) {
    const std::size_t before = WinGlobalMemoryTest::LiveBlocks();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 4);
    ASSERT_NE(block, nullptr);
    auto* bytes = static_cast<BYTE*>(GlobalLock(block));
    EXPECT_EQ(bytes[3], 0);
    bytes[0] = 7;
    EXPECT_EQ(GlobalReAlloc(block, 8, GMEM_MOVEABLE), nullptr) << "a locked block stays put";
    GlobalUnlock(block);
    EXPECT_EQ(GlobalReAlloc(block, 8, GMEM_MOVEABLE), block);
    EXPECT_EQ(GlobalSize(block), 8u);
    EXPECT_EQ(static_cast<BYTE*>(GlobalLock(block))[0], 7);
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalFree(block), block);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(WinGlobalMemoryTest::LiveBlocks(), before);
}

} // namespace
