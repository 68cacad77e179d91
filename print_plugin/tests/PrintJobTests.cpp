// What the print dialog prints against what its preview shows, as a user sees both: KvtPrint.qw7 under the
// scripted host on a virtual 300 dpi printer of A4 and Letter, the printed PDF read with poppler's tools
// and the preview's own document drawn by the page renderer library at the printer's resolution.
#include "PrintTestModule.h"

#include "print_plugin/CPrintDlg.h"

#include "platform/dadadud/DadaDudTest.h"
#include "platform/renderers/RendererApi.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinUser.h"
#include "platform/win/WinVirtualPrinters.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"
#include "testing/PdfPages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr DWORD kDeadline = 60000;
constexpr int kDpi = 300;
// One inch of margin on every side, in the page-setup dialog's thousandths of an inch.
constexpr LONG kInchMargin = 1000;

// A4 and Letter with margins of 5 mm, at 300 dpi.
constexpr const char* kPrinters = R"(<printers>
  <printer name="Studio" dpi="300" default="1">
    <paper id="9" name="A4" width="2100" height="2970" left="50" top="50" right="50" bottom="50"/>
    <paper id="1" name="Letter" width="2159" height="2794" left="50" top="50" right="50" bottom="50"/>
  </printer>
</printers>)";
// Pages render at the printer's own resolution.
constexpr const char* kConfig = R"(<?xml version="1.0"?><config><units><current>inch</current></units>
<index_print_advanced><minimum_size>1</minimum_size><maximum_size>3</maximum_size>
<increment_size>1</increment_size></index_print_advanced>
<printer_types><printer_type><name>Photo</name><res_dpi>0x0</res_dpi></printer_type></printer_types>
</config>)";

const std::array<std::array<BYTE, 3>, 7> kColours = {{{200, 30, 30},
                                                      {30, 160, 40},
                                                      {40, 60, 200},
                                                      {220, 200, 40},
                                                      {160, 40, 170},
                                                      {30, 170, 170},
                                                      {90, 90, 90}}};

// A rectangle of pixels, right and bottom excluded.
struct Cell {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// The cells of a page: the bounding boxes of the groups of touching pixels (corners too) that stand off white
// (some channel more than 60 below it), of at least 100 pixels, top row first and left to right in a row.
template <class Pixel>
std::vector<Cell> CellsOf(int width, int height, Pixel at) {
    std::vector<char> content(static_cast<std::size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::array<int, 3> p = at(x, y);
            content[static_cast<std::size_t>(y) * width + x] = 255 - std::min({p[0], p[1], p[2]}) > 60;
        }
    std::vector<Cell> cells;
    std::vector<std::size_t> stack;
    for (std::size_t start = 0; start < content.size(); ++start) {
        if (!content[start])
            continue;
        Cell cell{width, height, -1, -1};
        std::size_t count = 0;
        content[start] = 0;
        stack.push_back(start);
        while (!stack.empty()) {
            const std::size_t i = stack.back();
            stack.pop_back();
            ++count;
            const int x = static_cast<int>(i % width), y = static_cast<int>(i / width);
            cell = {std::min(cell.left, x), std::min(cell.top, y), std::max(cell.right, x + 1),
                    std::max(cell.bottom, y + 1)};
            for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, height - 1); ++ny)
                for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, width - 1); ++nx) {
                    const std::size_t j = static_cast<std::size_t>(ny) * width + nx;
                    if (content[j]) {
                        content[j] = 0;
                        stack.push_back(j);
                    }
                }
        }
        if (count >= 100)
            cells.push_back(cell);
    }
    // Cells of one row start within a few pixels of each other.
    std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
        return a.top / 20 != b.top / 20 ? a.top < b.top : a.left < b.left;
    });
    return cells;
}

std::wstring Property(DocHandle object, const wchar_t* path) {
    wchar_t buffer[512] = {};
    LONG count = static_cast<LONG>(std::size(buffer)) - 1;
    if (docGetPropertyValue(object, path, buffer, &count, 0) != 1 ||
        count >= static_cast<LONG>(std::size(buffer)))
        return std::wstring();
    return std::wstring(buffer, static_cast<std::size_t>(count));
}

double Number(DocHandle object, const wchar_t* path) {
    return std::wcstod(Property(object, path).c_str(), nullptr);
}

// The text items of a document's first page: their text and their boxes in page units.
struct TextItem {
    std::wstring text;
    Cell box;
};
std::vector<TextItem> TextItemsOf(DocHandle document) {
    std::vector<TextItem> texts;
    DocHandle page = kDocNoHandle;
    if (docGetPageByIndex(document, 0, &page) != 1)
        return texts;
    DocHandle item = kDocNoHandle;
    for (LONG index = 0; docGetItem(page, index, &item) == 1; ++index) {
        if (Property(item, L"@kind") == L"text") {
            const double x = Number(item, L"bounding-box/@x"), y = Number(item, L"bounding-box/@y");
            texts.push_back({Property(item, L"content/text"),
                             {static_cast<int>(x), static_cast<int>(y),
                              static_cast<int>(x + Number(item, L"bounding-box/@cx")),
                              static_cast<int>(y + Number(item, L"bounding-box/@cy"))}});
        }
        docReleaseHandle(item);
    }
    docReleaseHandle(page);
    return texts;
}

// Page 1 of an LDF file drawn by the page renderer library at one pixel a page unit, without pictures:
// each picture's cell shows the renderer's placeholder in its frame.
IproPixels DrawLdfPage(const std::string& ldf) {
    IproPixels pixels;
    const HMODULE library =
        LoadLibraryExW(Utf::Utf8ToWide(std::string(KV_RENDERER_DIR) + "/RGBRenderer.dll").c_str(), 0,
                       LOAD_LIBRARY_KEEP_MAPPED);
    if (!library)
        return pixels;
    const auto startup = reinterpret_cast<RendrStartupProc>(GetProcAddress(library, "rendrStartup"));
    const auto shutdown = reinterpret_cast<RendrShutdownProc>(GetProcAddress(library, "rendrShutdown"));
    const auto create =
        reinterpret_cast<RendrCreateRendererProc>(GetProcAddress(library, "rendrCreateRenderer"));
    const auto setDocument =
        reinterpret_cast<RendrSetDocumentProc>(GetProcAddress(library, "rendrSetDocument"));
    const auto render = reinterpret_cast<RendrRenderPageProc>(GetProcAddress(library, "rendrRenderPage"));
    const auto release =
        reinterpret_cast<RendrReleaseHandleProc>(GetProcAddress(library, "rendrReleaseHandle"));
    DocHandle document = kDocNoHandle, page = kDocNoHandle;
    RendrHandle renderer = kRendrNoHandle;
    IproHandle image = kIproNoHandle;
    if (startup && shutdown && create && setDocument && render && release && startup() == 1) {
        if (create(&renderer) == 1 &&
            docCreateDocumentFromLDF(Utf::Utf8ToWide(ldf).c_str(), &document) == 1 &&
            docGetPageByIndex(document, 0, &page) == 1 && setDocument(renderer, document, L"") == 1) {
            const double width = Number(page, L"@cx"), height = Number(page, L"@cy");
            const std::wstring context = L"iProImg=";
            if (iproCreateImage(static_cast<LONG>(width), static_cast<LONG>(height), &image) == 1 &&
                render(renderer, 0, (context + std::to_wstring(image) + L";").c_str()) == 1) {
                std::shared_ptr<CIproImage> found = IproHandles::FindImage(image);
                std::lock_guard<std::mutex> guard(found->lock);
                pixels = found->pixels;
            }
        }
        iproReleaseHandle(image);
        docReleaseHandle(page);
        docReleaseHandle(document);
        release(renderer);
        shutdown();
    }
    FreeLibrary(library);
    return pixels;
}

class PrintJobTest : public kvtest::PluginModuleTest {
protected:
    PrintJobTest() : PluginModuleTest(PrintModuleFiles(), kDeadline) {}
    void SetUp() override {
        PluginModuleTest::SetUp();
        ASSERT_EQ(iproStartup(), 1);
        ASSERT_EQ(docStartup(), 1);
        std::ofstream(m_machine.File("printers.xml")) << kPrinters;
        // The preview's iterator copies each new preview document through an LDF file: that document is
        // the one whose copy was saved last.
        DadaDudTest::SetCallObserver([this](const char* call, DocHandle first) {
            if (std::strcmp(call, "docSaveLDF") == 0)
                m_preview = first;
        });
    }
    void TearDown() override {
        DadaDudTest::SetCallObserver(nullptr);
        PluginModuleTest::TearDown();
        docShutdown();
        iproShutdown();
    }

    void AddPhotos(std::size_t count) {
        for (std::size_t k = 0; k < count; ++k)
            AddPhoto(m_temp.Path() + "/photo" + std::to_string(m_ids.size() + 1) + ".jpg", 80, 60,
                     kColours[k]);
    }
    // Index prints of five columns, printed at the printer's own resolution.
    void PutIndexPrint() {
        Put("print_as", "1");
        Put("index_print\\index_print_type", "0");
        Put("index_print\\easy\\nb_cols", "5");
        Put("printer_kind_index", "0");
    }
    // The preview's current document kept as an LDF file of the test's.
    std::string KeepPreview() {
        const std::string path = m_temp.Path() + "/preview" + std::to_string(++m_kept) + ".ldf";
        return docSaveLDF(m_preview.load(), Utf::Utf8ToWide(path).c_str()) == 1 ? path : std::string();
    }
    // The only PDF in the printer's spool folder, or an empty path.
    std::string PrintedFile() const {
        std::vector<std::string> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_machine.File("spool/Studio"), ec))
            files.push_back(entry.path().string());
        EXPECT_EQ(files.size(), 1u);
        return files.size() == 1 ? files[0] : std::string();
    }
    static std::vector<std::wstring> Texts(const std::vector<TextItem>& items) {
        std::vector<std::wstring> texts;
        for (const TextItem& item : items)
            texts.push_back(item.text);
        return texts;
    }

    std::atomic<DocHandle> m_preview{kDocNoHandle};
    int m_kept = 0;
};

TEST_F(PrintJobTest, AtInchMarginsThePrintPlacesEveryCellWhereThePreviewShowsIt) {
    const struct {
        SHORT paper;
        const char* name;
        int width, height; // in printer pixels
    } papers[] = {{DMPAPER_A4, "A4", 2480, 3508}, {DMPAPER_LETTER, "Letter", 2550, 3300}};
    for (const auto& paper : papers) {
        Start(kConfig);
        PutIndexPrint();
        AddPhotos(kColours.size());
        WinPrintTest::PageSetupAnswer setup;
        setup.margins = RECT{kInchMargin, kInchMargin, kInchMargin, kInchMargin};
        setup.paper = paper.paper;
        WinPrintTest::QueuePageSetupAnswer(setup);
        WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
        std::string preview;
        RunDialog({[&](HWND dialog) {
            Click(dialog, CPrintDlg::kPageSetupButton);
            preview = KeepPreview();
            return Click(dialog, IDOK);
        }});
        EXPECT_TRUE(Boxes().empty()) << paper.name << ::testing::PrintToString(Boxes());
        ASSERT_FALSE(preview.empty()) << paper.name;
        const IproPixels shown = DrawLdfPage(preview);
        ASSERT_EQ(shown.width, paper.width) << paper.name;
        const std::vector<Cell> previewed = CellsOf(shown.width, shown.height, [&](int x, int y) {
            const std::uint32_t p = shown.At(x, y);
            return std::array<int, 3>{static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
                                      static_cast<int>(p & 0xFF)};
        });
        const std::string pdf = PrintedFile();
        const kvtest::PageRaster raster = kvtest::DrawPdfPage(pdf, 1, kDpi, m_temp.Path());
        ASSERT_EQ(raster.width, paper.width) << paper.name;
        ASSERT_EQ(raster.height, paper.height) << paper.name;
        const std::vector<Cell> printed =
            CellsOf(raster.width, raster.height, [&](int x, int y) { return raster.At(x, y); });

        // Seven cells in rows of five, from the corner the margins leave: an inch in on each side.
        ASSERT_EQ(previewed.size(), kColours.size()) << paper.name;
        ASSERT_EQ(printed.size(), kColours.size()) << paper.name;
        EXPECT_NEAR(previewed[0].left, kDpi, 1) << paper.name;
        EXPECT_NEAR(previewed[0].top, kDpi, 1) << paper.name;
        EXPECT_NEAR(previewed[4].right, paper.width - kDpi, 1) << paper.name;
        for (std::size_t k = 0; k < printed.size(); ++k) {
            const std::string what = std::string(paper.name) + " cell " + std::to_string(k);
            EXPECT_NEAR(printed[k].left, previewed[k].left, 1) << what;
            EXPECT_NEAR(printed[k].top, previewed[k].top, 1) << what;
            EXPECT_NEAR(printed[k].right, previewed[k].right, 1) << what;
            EXPECT_NEAR(printed[k].bottom, previewed[k].bottom, 1) << what;
            // The photo of the cell prints in it.
            const std::array<int, 3> centre =
                raster.At((printed[k].left + printed[k].right) / 2, (printed[k].top + printed[k].bottom) / 2);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(centre[c], kColours[k][c], 24) << what << " channel " << c;
        }
        fs::remove(pdf);
        StartOver();
    }
}

TEST_F(PrintJobTest, TickingStoredCaptionsOnShowsThemInThePreviewAndOnThePage) {
    Start(kConfig);
    PutIndexPrint();
    Put("metadata\\enabled", "0");
    Put("metadata\\caption\\flags\\basic", "1");
    AddPhoto(m_temp.Path() + "/Harbour.jpg", 80, 60, kColours[0]);
    AddPhoto(m_temp.Path() + "/Dunes.jpg", 80, 60, kColours[1]);
    WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
    std::vector<TextItem> before, after;
    RunDialog({[&](HWND dialog) {
        before = TextItemsOf(m_preview.load());
        SendMessageW(GetDlgItem(dialog, CPrintDlg::kCaptionCheck), BM_SETCHECK, BST_CHECKED, 0);
        Click(dialog, CPrintDlg::kCaptionCheck);
        after = TextItemsOf(m_preview.load());
        return Click(dialog, IDOK);
    }});
    EXPECT_TRUE(before.empty()) << "captions are off when the dialog opens";
    ASSERT_EQ(after.size(), 2u) << "one basic caption a picture";
    EXPECT_NE(after[0].text.find(L"Harbour.jpg"), std::wstring::npos)
        << ::testing::PrintToString(Texts(after));
    EXPECT_NE(after[1].text.find(L"Dunes.jpg"), std::wstring::npos) << ::testing::PrintToString(Texts(after));

    // The printed page carries the text in each caption's box (the sheet at the printer's own margins
    // lies on the page as the preview's does).
    const kvtest::PageRaster raster = kvtest::DrawPdfPage(PrintedFile(), 1, kDpi, m_temp.Path());
    ASSERT_GT(raster.width, 0);
    for (const TextItem& caption : after) {
        int dark = 0;
        for (int y = caption.box.top; y < std::min(caption.box.bottom, raster.height); ++y)
            for (int x = caption.box.left; x < std::min(caption.box.right, raster.width); ++x) {
                const std::array<int, 3> p = raster.At(x, y);
                dark += p[0] < 0x60 && p[1] < 0x60 && p[2] < 0x60;
            }
        EXPECT_GT(dark, 50) << "text in the caption box at " << caption.box.left << ", " << caption.box.top;
    }
}

TEST_F(PrintJobTest, PagesPrintAtThePrintersOwnResolutionUnlessAnotherKindWasChosen) {
    std::ifstream in(KV_PRINT_CONFIG_FILE);
    const std::string shipped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const struct {
        std::optional<std::string> stored;
        LONG selected; // Draft 150 dpi, Normal 300 dpi, Photo the printer's own
        int ppi;
    } cases[] = {{std::nullopt, 1, 300}, {"0", 0, 150}, {"2", 2, 300}};
    for (const auto& c : cases) {
        Start(shipped);
        AddPhoto(m_temp.Path() + "/photo.jpg", 80, 60, kColours[2]);
        if (c.stored)
            Put("printer_kind_index", *c.stored);
        WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
        RunDialog({[&](HWND dialog) {
            EXPECT_EQ(Entries(dialog, CPrintDlg::kPrinterKindCombo),
                      (std::vector<std::wstring>{L"Draft", L"Normal", L"Photo"}));
            EXPECT_EQ(Selected(dialog, CPrintDlg::kPrinterKindCombo), c.selected);
            return Click(dialog, IDOK);
        }});
        const std::string pdf = PrintedFile();
        const std::vector<kvtest::PdfImage> images = kvtest::ListPdfImages(pdf);
        ASSERT_EQ(images.size(), 1u) << "the page is one picture";
        EXPECT_NEAR(images[0].xPpi, c.ppi, 1) << c.selected;
        EXPECT_NEAR(images[0].yPpi, c.ppi, 1) << c.selected;
        EXPECT_EQ(Stored("printer_kind_index"), std::to_string(c.selected)) << "kept for the next print";
        fs::remove(pdf);
        StartOver();
    }
}

} // namespace
