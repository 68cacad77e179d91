// The sheet built for printing and its page 1 rendered by the page renderer library, each picture read
// from the scripted host by item id: every photo lands in its own cell, in selection order, where the
// printable area divided into five columns puts it.
#include "plugin_framework/tests/ImageTestSupport.h"
#include "plugin_framework/tests/RendererTestSupport.h"

#include "print_plugin/CPrintDlg.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/host/CHostPhotos.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSeams.h"
#include "plugin_framework/CodecTable.h"
#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/TiProObjects.h"
#include "testing/TempSystemRoot.h"

#include <array>
#include <fstream>

namespace {

using graphtypes::TSize_T;

constexpr const char* kPrinters = R"(<printers><printer name="Photos" dpi="300" default="1">
<paper id="9" name="A4" width="2100" height="2970" left="64" top="64" right="64" bottom="64"/>
</printer></printers>)";
// The printable area of A4 at 300 dpi less 76 pixels on every side.
constexpr double kPrintableWidth = 2480 - 2 * 76;
// The rendered page is a quarter of the printed one on each side.
constexpr double kScale = 0.25;
constexpr KvwItemId kFirstItem = 4294967301ull;

const std::array<std::array<BYTE, 3>, 7> kColours = {{{200, 30, 30},
                                                      {30, 160, 40},
                                                      {40, 60, 200},
                                                      {220, 200, 40},
                                                      {160, 40, 170},
                                                      {30, 170, 170},
                                                      {90, 90, 90}}};

std::uint32_t Argb(const std::array<BYTE, 3>& rgb) {
    return 0xFF000000u | std::uint32_t(rgb[0]) << 16 | std::uint32_t(rgb[1]) << 8 | rgb[2];
}

class PrintedPageTest : public imagetest::ImageHostTest {
protected:
    void SetUp() override {
        ImageHostTest::SetUp();
        ASSERT_EQ(iproStartup(), 1);
        ASSERT_EQ(docStartup(), 1);
        ASSERT_EQ(utlStartup(), 1);
        WinPrintTest::Reset();
        WinSeams::SetTempBase(m_folder.Path());
        std::ofstream(m_machine.File("printers.xml")) << kPrinters;
        ASSERT_TRUE(m_config.Load(TString(KV_PRINT_CONFIG_FILE)));
        ASSERT_TRUE(m_printer.Init(PrinterOptionRecord(), nullptr));
        m_options.printAs = TUserOptions::kIndexPrint;
        m_options.columns = 5;
        m_dialog = std::make_unique<CPrintDlg>(m_printer, m_config, m_options);
        ASSERT_TRUE(m_dialog->LoadSheetResources());
    }
    void TearDown() override {
        m_dialog.reset();
        m_printer.Release();
        WinPrintTest::Reset();
        WinSeams::ResetAll();
        utlShutdown();
        docShutdown();
        iproShutdown();
        ImageHostTest::TearDown();
    }

    // Page 1 of the print document, rendered at kScale with the host's full pictures; empty on failure.
    IproPixels RenderPage1() {
        const TSize_T<double> page = m_dialog->GetSheet().pageSize;
        const TSize_T<double> target(page.cx * kScale, page.cy * kScale);
        std::unique_ptr<TiProImage> image(
            TiProImage::Create(TSize_T<LONG>(static_cast<LONG>(target.cx), static_cast<LONG>(target.cy))));
        if (!image)
            return IproPixels{};
        rendertest::NoticeWindow window;
        auto* renderer = new TAsyncRenderer;
        renderer->SetRendererFolder(rendertest::Folder());
        renderer->SetNotifyTarget(window.Target());
        TString context, media;
        BuildDocContext(target, TString(), context);
        BuildCodecParameters(media, false, 4096, 0);
        bool rendered = renderer->Start(nullptr) &&
                        renderer->SetDocument(m_dialog->GetPrintDocument(), context) &&
                        renderer->SetMediaContext(media);
        if (rendered) {
            renderer->SetReady();
            auto* request = new TRndrData;
            request->m_pageNumber = 1;
            BuildPageContext(image->GetHandle(), request->m_context, &target);
            rendered = renderer->QueueRequest(request);
            request->Release();
        }
        rendered = rendered &&
                   WinUserTest::PumpUntil([&] { return !window.finished.empty(); },
                                          static_cast<DWORD>(kvtest::kThreadDeadline.count())) &&
                   window.finished[0].result == 1;
        renderer->Stop();
        renderer->Release();
        WinUserTest::PumpPending();
        IproPixels pixels = rendered ? rendertest::PixelsOf(image->GetHandle()) : IproPixels{};
        image->Release();
        return pixels;
    }

    kvtest::TempSystemRoot m_machine;
    kvtest::TempFolder m_folder;
    TConfigSettings m_config;
    TUserOptions m_options;
    TPrinter m_printer;
    std::unique_ptr<CPrintDlg> m_dialog;
};

TEST_F(PrintedPageTest, EachPhotoIsPrintedInItsOwnCellInSelectionOrder) {
    kvtest::Watchdog watchdog("a printed page of photos");
    std::string bundle = "<bundle>";
    for (std::size_t k = 0; k < kColours.size(); ++k) {
        const KvwItemId id = kFirstItem + k;
        m_host->AddItem(CHostPhotos::JpegItem(id, "photo " + std::to_string(k) + ".jpg",
                                              CHostPhotos::SolidJpeg(300, 200, kColours[k])));
        bundle += "<object><content>" + std::to_string(id) + "</content></object>";
    }
    TFilePath items;
    items.Set(Utf::Utf8ToWide(m_folder.Write("bndl.xml", bundle + "</bundle>")).c_str());
    m_dialog->SetItemsFile(items);
    ASSERT_TRUE(m_dialog->BuildSheet(false));
    ASSERT_EQ(m_dialog->GetPageCount(), 1);
    const IproPixels pixels = RenderPage1();
    ASSERT_GT(pixels.width, 0) << "page 1 did not render";

    // Five columns with a twentieth of an item between them fill the printable width: 5.2 items. Rows
    // are an item's height plus the same share apart (no captions); the device page starts at the
    // printable area, without margins.
    const double itemWidth = kPrintableWidth / 5.2, gap = 0.05 * itemWidth;
    const SheetLayout& sheet = m_dialog->GetSheet();
    EXPECT_NEAR(sheet.itemSize.cx, itemWidth, 1e-9);
    const double itemHeight = sheet.itemSize.cy, rowGap = 0.05 * itemHeight;
    for (std::size_t k = 0; k < 10; ++k) {
        const double column = static_cast<double>(k % 5), row = static_cast<double>(k / 5);
        const LONG x = static_cast<LONG>((column * (itemWidth + gap) + itemWidth / 2) * kScale);
        const LONG y = static_cast<LONG>((row * (itemHeight + rowGap) + itemHeight / 2) * kScale);
        const std::uint32_t expected = k < kColours.size() ? Argb(kColours[k]) : rendertest::kWhite;
        const rendertest::Point centre{x, y, expected, k < kColours.size() ? "photo" : "an empty cell"};
        rendertest::ExpectPoints(pixels, &centre, 1, 6, ("cell " + std::to_string(k)).c_str());
    }
    // Between the first two cells the page shows.
    const rendertest::Point between{static_cast<LONG>((itemWidth + gap / 2) * kScale),
                                    static_cast<LONG>(itemHeight / 2 * kScale), rendertest::kWhite, "gap"};
    rendertest::ExpectPoints(pixels, &between, 1, 0, "between the cells");
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 0u) << "printing reads full pictures, not previews";
}

TEST_F(PrintedPageTest, CaptionsAndImprintsAreDarkTextWhereTheyStand) {
    kvtest::Watchdog watchdog("a printed page with captions and imprints");
    const std::array<BYTE, 3> light{230, 220, 120};
    std::string bundle = "<bundle>";
    std::vector<PrintSelectionRecord> selection;
    for (KvwItemId k = 0; k < 2; ++k) {
        m_host->AddItem(
            CHostPhotos::JpegItem(kFirstItem + k, "p.jpg", CHostPhotos::SolidJpeg(300, 200, light)));
        bundle += "<object><content>" + std::to_string(kFirstItem + k) +
                  "</content><caption kind=\"basic\">Harbour at dusk</caption></object>";
        selection.push_back({kFirstItem + k, {300, 200}, L"2003/08/08 17:40:29"});
    }
    TFilePath items;
    items.Set(Utf::Utf8ToWide(m_folder.Write("bndl.xml", bundle + "</bundle>")).c_str());
    m_dialog->SetItemsFile(items);
    m_dialog->SetSelectionInfo(selection);
    m_options.metadataEnabled = true;
    m_options.metadata.captionFlags = TMetadataSettings::kBasic;
    m_options.metadata.captionFont = TFontInfo{L"DejaVu Sans", 0, 10};
    m_options.metadata.imprintEnabled = true;
    m_options.metadata.imprintFont = TFontInfo{L"DejaVu Sans", TFontInfo::kBold, 10};
    ASSERT_TRUE(m_dialog->BuildSheet(false));
    const IproPixels pixels = RenderPage1();
    ASSERT_GT(pixels.width, 0) << "page 1 did not render";

    // Darker than the items' frames. A 3:2 picture fills its cell's width; the 50-pixel imprint line ends at
    // the picture's bottom, the caption line of 50 pixels lies under the cell.
    const SheetLayout& sheet = m_dialog->GetSheet();
    const double w = sheet.itemSize.cx, h = sheet.itemSize.cy, pictureBottom = (h + w * 200 / 300) / 2;
    auto dark = [&](double x0, double y0, double x1, double y1) {
        int count = 0;
        for (LONG y = static_cast<LONG>(y0 * kScale); y < static_cast<LONG>(y1 * kScale); ++y)
            for (LONG x = static_cast<LONG>(x0 * kScale); x < static_cast<LONG>(x1 * kScale); ++x) {
                const std::uint32_t p = pixels.At(x, y);
                count += ((p >> 16) & 0xFF) < 0x30 && ((p >> 8) & 0xFF) < 0x30 && (p & 0xFF) < 0x30;
            }
        return count;
    };
    EXPECT_GT(dark(w / 2, pictureBottom - 50, w, pictureBottom), 10) << "the imprint";
    EXPECT_EQ(dark(0, 0, w, pictureBottom - 60), 0) << "the picture above it";
    EXPECT_GT(dark(0, h, w, h + 50), 10) << "the caption";
    const double second = w * 1.05;
    EXPECT_GT(dark(second + w / 2, pictureBottom - 50, second + w, pictureBottom), 10)
        << "the second imprint";
}

} // namespace
