// The printer services over the machine's CUPS server: its destinations listed beside the virtual printers
// with the papers and resolution its queue describes, jobs submitted to the queue, and a refused job told as
// a failure. The queue is the cups-pdf queue tools/run-tests sets up; its files are read with poppler.
#include "platform/win/WinCupsPrinters.h"
#include "platform/win/WinGlobalMemory.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSpool.h"

#include "testing/CupsTestQueue.h"
#include "testing/PdfPages.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kQueueDeadline{120};
// A4 and Letter by their standard sizes, in tenths of a millimetre.
constexpr LONG kA4Width = 2100, kA4Height = 2970;
constexpr LONG kLetterWidth = 2159, kLetterHeight = 2794;
constexpr double kPointsPerMm = 72.0 / 25.4;

std::optional<WinPrint::VirtualPrinter> Listed(const std::string& name) {
    for (WinPrint::VirtualPrinter& printer : WinPrint::MachinePrinters()) {
        if (printer.name == name)
            return printer;
    }
    return std::nullopt;
}

// The starred choice of an option as lpoptions lists the queue's ("Resolution/...: 150dpi *300dpi").
std::string DefaultChoice(const std::string& queue, const std::string& option) {
    const std::string command = "lpoptions -p '" + queue + "' -l 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char line[8192];
    while (pipe && fgets(line, sizeof line, pipe.get())) {
        const std::string text = line;
        if (text.rfind(option + "/", 0) != 0)
            continue;
        const std::size_t star = text.find(" *");
        if (star == std::string::npos)
            return {};
        const std::size_t end = text.find_first_of(" \n", star + 2);
        return text.substr(star + 2, end - star - 2);
    }
    return {};
}

// A job of pages each filled with one colour over the printable area, on the queue's A4.
int PrintColours(const std::string& queue, const wchar_t* title,
                 const std::vector<std::array<double, 3>>& pages) {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmOrientation = DMORIENT_PORTRAIT;
    mode.dmPaperSize = DMPAPER_A4;
    HDC dc = CreateDCA("CUPS", queue.c_str(), "CUPS:", &mode);
    if (!dc)
        return -1;
    DOCINFOW info{sizeof(DOCINFOW), title, nullptr, nullptr, 0};
    int result = StartDocW(dc, &info) > 0 ? 1 : -2;
    for (const auto& colour : pages) {
        if (result <= 0 || StartPage(dc) <= 0) {
            result = -3;
            break;
        }
        cairo_t* cairo = WinPrint::CairoOfDC(dc);
        cairo_set_source_rgb(cairo, colour[0], colour[1], colour[2]);
        cairo_rectangle(cairo, 0, 0, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES));
        cairo_fill(cairo);
        if (EndPage(dc) <= 0)
            result = -4;
    }
    if (result > 0)
        result = EndDoc(dc);
    DeleteDC(dc);
    return result;
}

class WinCupsPrinterTest : public ::testing::Test {
protected:
    void SetUp() override { WinPrintTest::Reset(); }
    void TearDown() override { WinPrintTest::Reset(); }
    bool SpoolEmpty() const {
        std::error_code ec;
        return !fs::exists(m_machine.File("spool"), ec) ||
               std::all_of(fs::recursive_directory_iterator(m_machine.File("spool")),
                           fs::recursive_directory_iterator(),
                           [](const auto& entry) { return !entry.is_regular_file(); });
    }

    kvtest::TempSystemRoot m_machine;
    kvtest::TempFolder m_temp;
};

TEST(WinCupsMedia, SizeNamesMapToThePlatformsPaperIds) {
    const struct {
        const char* media;
        SHORT id;
    } cases[] = {{"iso_a4_210x297mm", 9},
                 {"na_letter_8.5x11in", 1},
                 {"na_legal_8.5x14in", 5},
                 {"iso_a3_297x420mm", 8},
                 {"iso_a5_148x210mm", 11},
                 {"na_executive_7.25x10.5in", 7},
                 {"iso_dl_110x220mm", 27},
                 {"iso_c5_162x229mm", 28},
                 {"na_govt-letter_8x10in", 0},
                 {"iso_a4_210x297mm_borderless", 0},
                 {"", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(WinPrint::PaperIdOfMedia(c.media), c.id) << c.media;
}

TEST(WinCupsOutput, TheQueuesFolderComesFromItsConfiguration) {
    const struct {
        const char* configuration;
        const char* folder;
    } cases[] = {
        {"Out ${HOME}/PDF\nGrp lpadmin\n", "/home/ann/PDF"},
        {"### Key: Out\n#Out /elsewhere\nOut /var/spool/cups-pdf/${USER}\n", "/var/spool/cups-pdf/ann"},
        {"Grp lpadmin\n", "/var/spool/cups-pdf/ann"},
        {"Out   /srv/pdf/${USER}/out  \n", "/srv/pdf/ann/out"}};
    for (const auto& c : cases)
        EXPECT_EQ(kvtest::CupsTestQueue::OutputFolderOf(c.configuration, "/home/ann", "ann"), c.folder)
            << c.configuration;
}

TEST_F(WinCupsPrinterTest, WithoutAServerTheMachineKeepsItsOwnPrinters) {
    // A socket path where nothing listens, and a plain file in its place: neither is a server.
    std::ofstream(m_machine.File("not-a-server")) << "text";
    for (const std::string& server : {m_machine.File("no-such.sock"), m_machine.File("not-a-server")}) {
        setenv("CUPS_SERVER", server.c_str(), 1);
        EXPECT_FALSE(WinPrint::CupsPrinters()) << server;
        const std::vector<WinPrint::VirtualPrinter> printers = WinPrint::MachinePrinters();
        ASSERT_EQ(printers.size(), 1u) << server;
        EXPECT_EQ(printers[0].name, "Korvel PDF");
        EXPECT_FALSE(printers[0].isCups);
        ASSERT_TRUE(WinPrint::DefaultPrinter());
        EXPECT_EQ(WinPrint::DefaultPrinter()->name, "Korvel PDF");
    }
}

TEST_F(WinCupsPrinterTest, TheQueueIsListedBesideTheVirtualPrinterWithItsPapersAndResolution) {
    kvtest::CupsTestQueue queue;
    KV_REQUIRE_CUPS_QUEUE(queue);
    std::optional<WinPrint::VirtualPrinter> printer = Listed(queue.Name());
    ASSERT_TRUE(printer) << queue.Name() << " is not listed";
    EXPECT_TRUE(Listed("Korvel PDF")) << "the virtual printer stays";
    EXPECT_TRUE(printer->isCups);
    EXPECT_EQ(printer->driver, "CUPS");
    const std::string resolution = DefaultChoice(queue.Name(), "Resolution");
    ASSERT_FALSE(resolution.empty());
    EXPECT_EQ(std::to_string(printer->dpiX) + "dpi", resolution);
    EXPECT_EQ(printer->dpiY, printer->dpiX);

    const struct {
        SHORT id;
        const char* name;
        LONG width, height;
    } papers[] = {{DMPAPER_A4, "A4", kA4Width, kA4Height},
                  {DMPAPER_LETTER, "Letter", kLetterWidth, kLetterHeight}};
    for (const auto& want : papers) {
        const auto paper = std::find_if(printer->papers.begin(), printer->papers.end(),
                                        [&](const WinPrint::VirtualPaper& p) { return p.id == want.id; });
        ASSERT_NE(paper, printer->papers.end()) << want.name;
        EXPECT_EQ(paper->name, want.name);
        EXPECT_NEAR(paper->width, want.width, 1) << want.name;
        EXPECT_NEAR(paper->height, want.height, 1) << want.name;
        EXPECT_LT(paper->left + paper->right, paper->width);
    }
    // The queue's default page size comes first: the paper a fresh device mode holds.
    const std::string pageSize = DefaultChoice(queue.Name(), "PageSize");
    EXPECT_EQ(printer->papers.front().name, pageSize);

    // The paper capabilities answer the same papers by the queue's name.
    const int count = DeviceCapabilitiesA(queue.Name().c_str(), "CUPS:", DC_PAPERS, nullptr, nullptr);
    ASSERT_EQ(count, static_cast<int>(printer->papers.size()));
    std::vector<char> names(static_cast<std::size_t>(count) * kPaperNameLength);
    ASSERT_EQ(DeviceCapabilitiesA(queue.Name().c_str(), "CUPS:", DC_PAPERNAMES, names.data(), nullptr),
              count);
    EXPECT_STREQ(names.data(), pageSize.c_str());
}

TEST_F(WinCupsPrinterTest, TheEnvironmentsDestinationIsTheDefaultPrinter) {
    kvtest::CupsTestQueue queue;
    KV_REQUIRE_CUPS_QUEUE(queue);
    const char* previous = std::getenv("LPDEST");
    const std::optional<std::string> kept = previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("LPDEST", queue.Name().c_str(), 1);
    PAGESETUPDLGA setup{};
    setup.lStructSize = sizeof setup;
    setup.Flags = PSD_RETURNDEFAULT;
    const BOOL answered = PageSetupDlgA(&setup);
    if (kept)
        setenv("LPDEST", kept->c_str(), 1);
    else
        unsetenv("LPDEST");
    ASSERT_TRUE(answered);
    const auto* names = static_cast<const DEVNAMES*>(GlobalLock(setup.hDevNames));
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(names) + names->wDeviceOffset, queue.Name().c_str());
    EXPECT_EQ(names->wDefault, DN_DEFAULTPRN);
    GlobalUnlock(setup.hDevNames);
    GlobalFree(setup.hDevNames);
    GlobalFree(setup.hDevMode);
}

TEST_F(WinCupsPrinterTest, AJobReachesTheQueueWithItsPagesAndNothingStaysInTheSpool) {
    kvtest::CupsTestQueue queue;
    KV_REQUIRE_CUPS_QUEUE(queue);
    const std::vector<std::array<double, 3>> colours = {{0.9, 0.1, 0.1}, {0.1, 0.2, 0.9}};
    ASSERT_GT(PrintColours(queue.Name(), L"KvTwoColours", colours), 0);
    EXPECT_TRUE(SpoolEmpty());
    ASSERT_TRUE(queue.WaitUntilIdle(kQueueDeadline)) << "the queue did not finish";
    const std::vector<std::string> made = queue.NewFiles("KvTwoColours");
    ASSERT_EQ(made.size(), 1u) << "in " << queue.OutputFolder();
    const kvtest::PdfInfo info = kvtest::ReadPdfInfo(made[0]);
    EXPECT_EQ(info.pages, 2);
    EXPECT_NEAR(info.width, 210 * kPointsPerMm, 1);
    EXPECT_NEAR(info.height, 297 * kPointsPerMm, 1);
    for (int page = 1; page <= 2; ++page) {
        const kvtest::PageRaster raster = kvtest::DrawPdfPage(made[0], page, 20, m_temp.Path());
        ASSERT_GT(raster.width, 0);
        const std::array<int, 3> centre = raster.At(raster.width / 2, raster.height / 2);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(centre[k], colours[static_cast<std::size_t>(page - 1)][k] * 255, 16)
                << "page " << page << " channel " << k;
    }
    fs::remove(made[0]);
}

TEST_F(WinCupsPrinterTest, ARefusedJobFailsAtTheEndOfTheDocumentAndLeavesNothing) {
    kvtest::CupsTestQueue queue;
    KV_REQUIRE_CUPS_QUEUE(queue);
    ASSERT_TRUE(Listed(queue.RefusingName())) << "a queue that refuses jobs is still a printer";
    EXPECT_EQ(PrintColours(queue.RefusingName(), L"KvRefused", {{0.5, 0.5, 0.5}}), 0)
        << "EndDoc tells the refusal";
    EXPECT_TRUE(SpoolEmpty());
    EXPECT_TRUE(queue.WaitUntilIdle(kQueueDeadline));
    EXPECT_TRUE(queue.NewFiles("KvRefused").empty());
}

} // namespace
