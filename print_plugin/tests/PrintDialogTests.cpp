// The print dialog as a user opens it: KvtPrint.qw7 loaded by the scripted host from a folder of its own,
// the host's photos selected, the virtual A4 printer, the dialog driven by its controls inside its modal
// loop.
#include "PrintTestModule.h"

#include "print_plugin/CPrintDlg.h"
#include "print_plugin/TPrintPlugin.h"

#include "platform/dadadud/DadaDudTest.h"
#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "plugin_framework/TPluginProgressDlg.h"
#include "testing/CupsTestQueue.h"
#include "testing/PdfPages.h"
#include "testing/ScriptedModuleTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr DWORD kDeadline = 30000;
// Inches: A4 less its 5 mm margins is about 7.87 x 11.3 in.
constexpr const char* kLayouts = R"(<?xml version="1.0"?><config><units><current>inch</current></units>
<standard_layouts><nb_rows_cols>
 <layout><name>1 x 1</name><data>1x1</data></layout>
 <layout><name>none</name><data>0x3</data></layout>
</nb_rows_cols><image_size>
 <layout><name>4 x 6 in</name><data>4x6</data></layout>
 <layout><name>20 x 30 in</name><data>20x30</data></layout>
 <layout><name>empty</name><data>0x0</data></layout>
 <layout><name>7 x 12 in</name><data>7x12</data></layout>
</image_size></standard_layouts>
<index_print_advanced><minimum_size>0</minimum_size><maximum_size>9</maximum_size>
<increment_size>1</increment_size></index_print_advanced>
<printer_types><printer_type><name>Draft</name><res_dpi>150x150</res_dpi></printer_type></printer_types>
</config>)";
constexpr const char* kNoLayouts = R"(<?xml version="1.0"?><config>
<index_print_advanced><minimum_size>1</minimum_size><maximum_size>3</maximum_size>
<increment_size>0.5</increment_size></index_print_advanced></config>)";

// The cells a page shows, each the run of content (pixels that are not the page's white) along the middle
// row of the content, with the content's top and bottom; all in fractions of the page's width from its
// corner. The page is the area (x0, y0) - (x1, y1) of a picture read through `at`.
struct PageCell {
    double left = 0, right = 0, top = 0, bottom = 0;
};
using PixelAt = std::function<std::array<int, 3>(int x, int y)>;

std::vector<PageCell> CellsOf(const PixelAt& at, int x0, int y0, int x1, int y1) {
    constexpr int kWhite = 235;
    const auto content = [&](int x, int y) {
        const std::array<int, 3> p = at(x, y);
        return p[0] < kWhite || p[1] < kWhite || p[2] < kWhite;
    };
    int top = y1, bottom = y0 - 1;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (content(x, y)) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    std::vector<PageCell> cells;
    if (bottom < top)
        return cells;
    const double width = x1 - x0;
    const int middle = (top + bottom) / 2;
    for (int x = x0; x < x1; ++x) {
        if (!content(x, middle))
            continue;
        const int left = x;
        while (x < x1 && content(x, middle))
            ++x;
        cells.push_back(
            {(left - x0) / width, (x - x0) / width, (top - y0) / width, (bottom + 1 - y0) / width});
    }
    return cells;
}

class PrintDialogTest : public kvtest::PluginModuleTest {
protected:
    PrintDialogTest() : PluginModuleTest(PrintModuleFiles(), kDeadline) {}
    void SetUp() override {
        PluginModuleTest::SetUp();
        std::ofstream(m_machine.File("printers.xml")) << kStudioPrinter;
        // Every sheet the dialog builds becomes a document made from the sheet file and the items file.
        DadaDudTest::SetCallObserver([this](const char* call, DocHandle) {
            if (std::strcmp(call, "docCreateDocumentFromLTF") == 0)
                ++m_sheetsBuilt;
        });
    }
    void TearDown() override {
        DadaDudTest::SetCallObserver(nullptr);
        PluginModuleTest::TearDown();
    }

    using PluginModuleTest::AddPhoto;
    void AddPhoto(LONG width, LONG height, const std::array<BYTE, 3>& rgb) {
        AddPhoto(m_temp.Path() + "/photo" + std::to_string(m_ids.size() + 1) + ".jpg", width, height, rgb);
    }

    // The items listed in the dialog's items file, counted by their ids.
    std::size_t ListedItems() const {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(m_temp.Path())) {
            if (entry.path().filename().string().rfind("bndl", 0) != 0)
                continue;
            std::stringstream text;
            text << std::ifstream(entry.path()).rdbuf();
            for (std::size_t at = text.str().find("<content>"); at != std::string::npos;
                 at = text.str().find("<content>", at + 1))
                ++count;
        }
        return count;
    }

    // The progress dialog the job shows over the print dialog, or null: the active window or the one that
    // holds the focus, when it has the progress bars.
    static HWND ProgressOf(HWND dialog) {
        for (HWND window : {GetActiveWindow(), GetParent(GetFocus())}) {
            if (window && window != dialog && GetDlgItem(window, TPluginProgressDlg::kTotalBarId) &&
                GetDlgItem(window, TPluginProgressDlg::kStepBarId))
                return window;
        }
        return nullptr;
    }
    std::string Spool() const { return m_machine.File("spool/Studio"); }
    bool SpoolEmpty() const {
        std::error_code ec;
        return fs::is_empty(Spool(), ec) || ec;
    }
    bool OptionsSaved() const { return Stored("print_as").has_value(); }

    std::atomic<int> m_sheetsBuilt{0};
};

TEST(PrintSelectionTest, AQuarterTurnEitherWaySwapsTheSides) {
    const struct {
        double degrees;
        bool swapped;
    } cases[] = {{0, false},   {90, true},     {180, false}, {270, true},
                 {89.6, true}, {269.4, false}, {360, false}};
    for (const auto& c : cases) {
        const graphtypes::TSize_T<LONG> size =
            CPrintDlg::RotatedSize(graphtypes::TSize_T<LONG>(400, 300), c.degrees);
        EXPECT_EQ(size.cx, c.swapped ? 300 : 400) << c.degrees;
        EXPECT_EQ(size.cy, c.swapped ? 400 : 300) << c.degrees;
    }
}

TEST(PrintResolutionTest, PagesRenderAtTheTypesResolutionOrThePrintersOwn) {
    const std::vector<PrinterTypeRecord> types = {{TString(L"a"), {300, 300}},
                                                  {TString(L"b"), {0, 0}},
                                                  {TString(L"c"), {600, 1200}},
                                                  {TString(L"d"), {300, 0}}};
    const struct {
        LONG printerX, printerY, kind;
        LONG renderX, renderY;
    } cases[] = {{600, 600, 0, 300, 300}, {600, 600, 1, 600, 600}, {600, 600, 2, 1200, 1200},
                 {600, 600, 3, 600, 600}, {600, 600, 9, 600, 600}, {600, 300, 2, 600, 300},
                 {300, 600, 0, 300, 300}, {300, 600, 2, 600, 1200}};
    for (const auto& c : cases) {
        graphtypes::TSize_T<LONG> render;
        ASSERT_TRUE(CPrintDlg::RenderResolution({c.printerX, c.printerY}, types, c.kind, render)) << c.kind;
        EXPECT_EQ(render.cx, c.renderX) << c.printerX << "x" << c.printerY << " kind " << c.kind;
        EXPECT_EQ(render.cy, c.renderY) << c.printerX << "x" << c.printerY << " kind " << c.kind;
    }
    graphtypes::TSize_T<LONG> render;
    EXPECT_FALSE(CPrintDlg::RenderResolution({0, 600}, types, 0, render)) << "a printer without a resolution";
}

TEST(PrintResolutionTest, WithoutAChoiceTheKindIsTheOneThatPrintsAtThePrintersOwnResolution) {
    // The shipped kinds, and kinds none of which reaches a fine printer's resolution.
    const std::vector<PrinterTypeRecord> shipped = {
        {TString(L"Draft"), {150, 150}}, {TString(L"Normal"), {300, 300}}, {TString(L"Photo"), {0, 0}}};
    const std::vector<PrinterTypeRecord> coarse = {
        {TString(L"Draft"), {150, 150}}, {TString(L"Normal"), {300, 300}}, {TString(L"Fine"), {600, 300}}};
    const struct {
        const std::vector<PrinterTypeRecord>* types;
        LONG printerX, printerY;
        LONG kind;
    } cases[] = {{&shipped, 300, 300, 1},  {&shipped, 600, 600, 2},  {&shipped, 150, 150, 0},
                 {&shipped, 600, 1200, 2}, {&coarse, 1200, 1200, 2}, {&coarse, 300, 300, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(CPrintDlg::DefaultPrinterKind({c.printerX, c.printerY}, *c.types), c.kind)
            << c.printerX << "x" << c.printerY << " with " << c.types->size() << " kinds";
    EXPECT_EQ(CPrintDlg::DefaultPrinterKind({300, 300}, {}), TUserOptions::kNoPrinterKind);
}

TEST_F(PrintDialogTest, TheControlsShowThePrinterAndOnlyTheLayoutsThatFit) {
    Start(kLayouts);
    AddPhoto(64, 48, {200, 30, 30});
    Put("standard_print\\layout_index", "2");
    RunDialog({[&](HWND dialog) {
        EXPECT_EQ(Text(dialog, CPrintDlg::kPrinterLabel), L"Printer: Studio");
        EXPECT_EQ(Entries(dialog, CPrintDlg::kPrintAsCombo),
                  (std::vector<std::wstring>{L"Standard print", L"Index print"}));
        // Neither a count below one, a size of 0, nor one larger than the printable area is offered.
        EXPECT_EQ(Entries(dialog, CPrintDlg::kLayoutCombo),
                  (std::vector<std::wstring>{L"1 x 1", L"4 x 6 in"}));
        EXPECT_EQ(Selected(dialog, CPrintDlg::kLayoutCombo), 1) << "the stored layout, found by its name";
        EXPECT_EQ(Entries(dialog, CPrintDlg::kReplicaCombo).size(), 5u);
        EXPECT_FALSE(Enabled(dialog, CPrintDlg::kReplicaCombo)) << "replicas are not in use";
        // Sizes above 0 and below the printable width (7.87 in) and height (11.3 in) only.
        EXPECT_EQ(Entries(dialog, CPrintDlg::kItemWidthCombo),
                  (std::vector<std::wstring>{L"1.0", L"2.0", L"3.0", L"4.0", L"5.0", L"6.0", L"7.0"}));
        EXPECT_EQ(Entries(dialog, CPrintDlg::kItemHeightCombo).size(), 9u);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, CPrintDlg::kColumnSlider)))
            << "standard print hides the slider";
        Choose(dialog, CPrintDlg::kPrintAsCombo, 1);
        EXPECT_EQ(Entries(dialog, CPrintDlg::kLayoutCombo),
                  (std::vector<std::wstring>{L"Easy index print", L"Advanced index print"}));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, CPrintDlg::kColumnSlider)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, CPrintDlg::kItemWidthCombo)));
        Choose(dialog, CPrintDlg::kLayoutCombo, 1);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, CPrintDlg::kColumnSlider)));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, CPrintDlg::kItemWidthCombo)));
        return Click(dialog, IDCANCEL);
    }});
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrintDialogTest, StoredIndexesOutsideTheListsOpenTheDialog) {
    const struct {
        const char* configuration;
        std::vector<std::wstring> layouts;
    } cases[] = {{kLayouts, {L"1 x 1", L"4 x 6 in"}}, {kNoLayouts, {}}};
    for (const auto& c : cases) {
        Start(c.configuration);
        AddPhoto(64, 48, {30, 200, 30});
        Put("standard_print\\layout_index", "99");
        Put("printer_kind_index", "7");
        const auto printDialogs = [] {
            return WinPrintTest::PrintCalls().size() + WinPrintTest::PrintExCalls().size();
        };
        const std::size_t asked = printDialogs();
        RunDialog({[&](HWND dialog) {
            EXPECT_EQ(Entries(dialog, CPrintDlg::kLayoutCombo), c.layouts);
            EXPECT_EQ(Selected(dialog, CPrintDlg::kPrinterKindCombo), -1);
            // Without a sheet there are no pages: OK starts nothing (the printer's dialog is not asked).
            Click(dialog, IDOK);
            return Click(dialog, IDCANCEL);
        }});
        EXPECT_EQ(printDialogs() - asked, c.layouts.empty() ? 0u : 1u);
        EXPECT_TRUE(Boxes().empty());
        StartOver();
    }
}

TEST_F(PrintDialogTest, TheReplicaTickRewritesTheItemsFileOnlyForMoreThanOneReplica) {
    Start(kLayouts);
    AddPhoto(64, 48, {30, 30, 200});
    AddPhoto(48, 64, {200, 200, 30});
    Put("replicate_images\\nb_replicas", "1");
    RunDialog({[&](HWND dialog) {
        EXPECT_EQ(ListedItems(), 2u);
        SendMessageW(GetDlgItem(dialog, CPrintDlg::kReplicateCheck), BM_SETCHECK, BST_CHECKED, 0);
        Click(dialog, CPrintDlg::kReplicateCheck);
        EXPECT_TRUE(Enabled(dialog, CPrintDlg::kReplicaCombo));
        EXPECT_EQ(ListedItems(), 2u) << "one replica lists each picture once";
        Choose(dialog, CPrintDlg::kReplicaCombo, 2);
        EXPECT_EQ(ListedItems(), 6u);
        SendMessageW(GetDlgItem(dialog, CPrintDlg::kReplicateCheck), BM_SETCHECK, BST_UNCHECKED, 0);
        Click(dialog, CPrintDlg::kReplicateCheck);
        EXPECT_FALSE(Enabled(dialog, CPrintDlg::kReplicaCombo));
        EXPECT_EQ(ListedItems(), 2u);
        return Click(dialog, IDCANCEL);
    }});
}

TEST_F(PrintDialogTest, ARestrictedHostDisablesTheListedControls) {
    m_host->Panes().SetNumber(TUserOptions::kRestrictedHostNumber);
    Start(kLayouts);
    AddPhoto(64, 48, {200, 30, 30});
    Put("replicate_images\\use_replicate", "1");
    RunDialog({[&](HWND dialog) {
        for (int id : {1006, 1008, 1012, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1040, 1041})
            EXPECT_FALSE(Enabled(dialog, id)) << id;
        EXPECT_TRUE(Enabled(dialog, CPrintDlg::kPrinterKindCombo));
        return Click(dialog, IDCANCEL);
    }});
}

TEST_F(PrintDialogTest, AJobThatFailsLeavesNoDocumentAndTheDialogUsable) {
    using WinPrintTest::PrinterCall;
    const auto failCall = [](PrinterCall call) { return [call] { WinPrintTest::FailCall(call); }; };
    const struct {
        const char* what;
        std::function<void()> inject;
        bool shown; // the failure is told in a box
    } cases[] = {{"StartPage", failCall(PrinterCall::kStartPage), true},
                 {"StartDoc", failCall(PrinterCall::kStartDoc), false},
                 {"EndPage", failCall(PrinterCall::kEndPage), true},
                 {"EndDoc", failCall(PrinterCall::kEndDoc), true},
                 {"a refused queue", [] { WinSeams::RefuseRenderRequest(); }, true}};
    Start(kLayouts);
    AddPhoto(64, 48, {200, 30, 30});
    for (const auto& c : cases) {
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
        int builtBefore = 0;
        RunDialog({[&](HWND dialog) {
                       // Injected last, so that nothing of the dialog's start-up meets it.
                       c.inject();
                       builtBefore = m_sheetsBuilt;
                       return Click(dialog, IDOK);
                   },
                   [&](HWND dialog) {
                       // Once the job has ended the dialog is enabled again, still open for another try.
                       return IsWindowEnabled(dialog) && Click(dialog, IDCANCEL);
                   }});
        EXPECT_EQ(Boxes(), c.shown ? std::vector<std::wstring>{L"The pictures could not be printed."}
                                   : std::vector<std::wstring>{})
            << c.what;
        // The sheet for printing, then (after a failure) the preview's again.
        EXPECT_EQ(m_sheetsBuilt - builtBefore, c.shown ? 2 : 0) << c.what;
        EXPECT_TRUE(SpoolEmpty()) << c.what << ": no document left behind";
        EXPECT_FALSE(OptionsSaved()) << c.what << ": nothing is saved";
    }
}

TEST_F(PrintDialogTest, ClosingOrCancellingAJobAtOnceAbortsItSilently) {
    // Close during the job, and a cancel that may well find the page's request still waiting in the queue.
    const struct {
        const char* what;
        UINT message;
        WPARAM command;
    } cases[] = {{"Close", WM_COMMAND, 2}, {"cancel", CPrintDlg::kCancelMessage, 0}};
    Start(kLayouts);
    AddPhoto(96, 64, {220, 30, 30});
    AddPhoto(96, 64, {30, 30, 220});
    for (const auto& c : cases) {
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
        std::vector<std::function<bool(HWND)>> steps = {[&](HWND dialog) {
            Click(dialog, IDOK);
            SendMessageW(dialog, c.message, c.command, 0);
            return true;
        }};
        if (c.message != WM_COMMAND)
            steps.push_back([&](HWND dialog) { return IsWindowEnabled(dialog) && Click(dialog, IDCANCEL); });
        RunDialog(steps);
        EXPECT_TRUE(Boxes().empty()) << c.what << ::testing::PrintToString(Boxes());
        EXPECT_TRUE(SpoolEmpty()) << c.what;
        EXPECT_FALSE(OptionsSaved()) << c.what;
    }
    // The module prints as before afterwards.
    WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
    RunDialog({[&](HWND dialog) { return Click(dialog, IDOK); }});
    EXPECT_EQ(kvtest::ReadPdfInfo(Spool() + "/Pictures.pdf").pages, 2);
}

TEST_F(PrintDialogTest, AOnePageJobShowsAnEmptyTotalRangeAndEndsAfterItsPage) {
    Start(kLayouts);
    AddPhoto(96, 64, {220, 30, 30});
    WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
    RunDialog({[&](HWND dialog) {
        Click(dialog, IDOK);
        HWND progress = ProgressOf(dialog);
        EXPECT_NE(progress, nullptr);
        EXPECT_FALSE(IsWindowEnabled(dialog)) << "the progress shows over a disabled dialog";
        HWND total = GetDlgItem(progress, TPluginProgressDlg::kTotalBarId);
        EXPECT_EQ(SendMessageW(total, PBM_GETRANGE, FALSE, 0), 0) << "pages - 1";
        EXPECT_EQ(SendMessageW(GetDlgItem(progress, TPluginProgressDlg::kStepBarId), PBM_GETRANGE, FALSE, 0),
                  100);
        EXPECT_EQ(Text(progress, TPluginProgressDlg::kMessageTextId), L"Printing page 1 of 1");
        return true;
    }});
    EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
    EXPECT_EQ(kvtest::ReadPdfInfo(Spool() + "/Pictures.pdf").pages, 1);
    EXPECT_TRUE(OptionsSaved());
}

TEST_F(PrintDialogTest, ThePageButtonsWalkThePreviewsPages) {
    Start(kLayouts);
    for (BYTE k = 0; k < 3; ++k)
        AddPhoto(96, 64, {static_cast<BYTE>(60 * k), 90, 90});
    const struct {
        int click; // 0: none
        int page;
        bool previous, next;
    } walk[] = {{0, 1, false, true},
                {CPrintDlg::kPreviousPage, 1, false, true},
                {CPrintDlg::kNextPage, 2, true, true},
                {CPrintDlg::kNextPage, 3, true, false},
                {CPrintDlg::kNextPage, 3, true, false},
                {CPrintDlg::kPreviousPage, 2, true, true}};
    RunDialog({[&](HWND dialog) {
        for (const auto& w : walk) {
            if (w.click)
                Click(dialog, w.click);
            EXPECT_EQ(Text(dialog, CPrintDlg::kPageLabel), L"Page " + std::to_wstring(w.page) + L" of 3")
                << w.click;
            EXPECT_EQ(Enabled(dialog, CPrintDlg::kPreviousPage), w.previous) << "page " << w.page;
            EXPECT_EQ(Enabled(dialog, CPrintDlg::kNextPage), w.next) << "page " << w.page;
        }
        return Click(dialog, IDCANCEL);
    }});
}

TEST_F(PrintDialogTest, EachNewColumnCountRebuildsOnce) {
    Start(kLayouts);
    AddPhoto(64, 48, {30, 200, 30});
    Put("print_as", "1");
    Put("index_print\\easy\\nb_cols", "5");
    const struct {
        LONG position;
        WORD code;
        int rebuilds;
    } moves[] = {{6, SB_THUMBTRACK, 1}, {6, SB_THUMBPOSITION, 0}, {8, SB_LINEDOWN, 1},
                 {8, SB_ENDSCROLL, 0},  {5, SB_TOP, 1},           {5, SB_THUMBPOSITION, 0}};
    RunDialog({[&](HWND dialog) {
        HWND slider = GetDlgItem(dialog, CPrintDlg::kColumnSlider);
        EXPECT_TRUE(IsWindowVisible(slider)) << "easy index print";
        for (const auto& m : moves) {
            const int before = m_sheetsBuilt;
            SendMessageW(slider, TBM_SETPOS, TRUE, m.position);
            SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(m.code, 0), reinterpret_cast<LPARAM>(slider));
            EXPECT_EQ(m_sheetsBuilt - before, m.rebuilds) << m.position << " code " << m.code;
        }
        return Click(dialog, IDCANCEL);
    }});
}

TEST_F(PrintDialogTest, CaptionSettingsRebuildOnOkOnly) {
    Start(kLayouts);
    AddPhoto(64, 48, {30, 200, 30});
    Put("metadata\\enabled", "1");
    for (const int answer : {IDOK, IDCANCEL}) {
        int before = 0;
        RunDialog({[&](HWND dialog) {
                       before = m_sheetsBuilt;
                       return Click(dialog, CPrintDlg::kCaptionSettingsButton);
                   },
                   [&](HWND settings) { return Click(settings, answer); },
                   [&](HWND dialog) {
                       EXPECT_EQ(m_sheetsBuilt - before, answer == IDOK ? 1 : 0) << answer;
                       return Click(dialog, IDCANCEL);
                   }});
    }
}

TEST_F(PrintDialogTest, ThreePhotosPrintInThePageListsOrderOnPagesOfThePrinter) {
    const std::array<BYTE, 3> colours[] = {{220, 30, 30}, {30, 200, 40}, {40, 40, 210}};
    const struct {
        std::vector<std::pair<DWORD, DWORD>> ranges;
        std::vector<int> photos; // the photo on each printed page
    } cases[] = {{{}, {0, 1, 2}}, {{{3, 3}, {1, 2}}, {2, 0, 1}}};
    Start(kLayouts);
    AddPhoto(96, 64, colours[0]);
    AddPhoto(64, 96, colours[1]);
    AddPhoto(96, 64, colours[2]);
    const std::string pdf = m_machine.File("spool/Studio/Pictures.pdf");
    for (const auto& c : cases) {
        WinDialogTest::ResetMessageBoxes();
        WinPrintTest::PrintAnswer answer;
        answer.ranges = c.ranges;
        WinPrintTest::QueuePrintAnswer(answer);
        // The job runs inside the dialog's loop, which ends when the dialog closes itself.
        RunDialog({[&](HWND dialog) { return Click(dialog, IDOK); }});
        EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
        ASSERT_TRUE(fs::exists(pdf));
        const kvtest::PdfInfo info = kvtest::ReadPdfInfo(pdf);
        EXPECT_EQ(info.pages, 3);
        EXPECT_NEAR(info.width, 595, 1);
        EXPECT_NEAR(info.height, 842, 1);
        for (int page = 1; page <= 3; ++page) {
            const kvtest::PageRaster raster = kvtest::DrawPdfPage(pdf, page, 50, m_temp.Path());
            ASSERT_GT(raster.width, 0) << page;
            const std::array<int, 3> centre = raster.At(raster.width / 2, raster.height / 2);
            const std::array<BYTE, 3>& colour = colours[c.photos[static_cast<std::size_t>(page - 1)]];
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(centre[k], colour[k], 24) << "page " << page << " channel " << k;
            EXPECT_EQ(raster.At(2, 2), (std::array<int, 3>{255, 255, 255})) << "page " << page;
        }
        EXPECT_TRUE(OptionsSaved()) << "the options are saved";
        fs::remove(pdf);
    }
}

TEST_F(PrintDialogTest, ThreePhotosPrintThroughTheMachinesCupsQueue) {
    kvtest::CupsTestQueue queue;
    KV_REQUIRE_CUPS_QUEUE(queue);
    const std::array<BYTE, 3> colours[] = {{220, 30, 30}, {30, 200, 40}, {40, 40, 210}};
    Start(kLayouts);
    AddPhoto(96, 64, colours[0]);
    AddPhoto(64, 96, colours[1]);
    AddPhoto(96, 64, colours[2]);
    // The user picks the queue in the printer's dialog; its default paper is the queue's, A4.
    WinPrintTest::PrintAnswer answer;
    answer.printer = queue.Name();
    WinPrintTest::QueuePrintAnswer(answer);
    RunDialog({[&](HWND dialog) { return Click(dialog, IDOK); }});
    EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(m_machine.File("spool/" + queue.Name()), ec) || ec)
        << "the queue has the document";
    ASSERT_TRUE(queue.WaitUntilIdle(std::chrono::seconds(kDeadline / 1000 * 4)))
        << "the queue did not finish";
    const std::vector<std::string> made = queue.NewFiles("Pictures");
    ASSERT_EQ(made.size(), 1u) << "in " << queue.OutputFolder();
    const kvtest::PdfInfo info = kvtest::ReadPdfInfo(made[0]);
    EXPECT_EQ(info.pages, 3);
    EXPECT_NEAR(info.width, 595, 1);
    EXPECT_NEAR(info.height, 842, 1);
    for (int page = 1; page <= 3; ++page) {
        const kvtest::PageRaster raster = kvtest::DrawPdfPage(made[0], page, 50, m_temp.Path());
        ASSERT_GT(raster.width, 0) << page;
        const std::array<int, 3> centre = raster.At(raster.width / 2, raster.height / 2);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(centre[k], colours[page - 1][k], 24) << "page " << page << " channel " << k;
        // The queue's converter may round white a step down.
        const std::array<int, 3> corner = raster.At(2, 2);
        EXPECT_GE(*std::min_element(corner.begin(), corner.end()), 250) << "page " << page;
    }
    EXPECT_TRUE(OptionsSaved());
    fs::remove(made[0]);
}

TEST_F(PrintDialogTest, AJobTheCupsQueueRefusesIsToldAndLeavesNothing) {
    kvtest::CupsTestQueue queue;
    KV_REQUIRE_CUPS_QUEUE(queue);
    Start(kLayouts);
    AddPhoto(64, 48, {200, 30, 30});
    WinPrintTest::PrintAnswer answer;
    answer.printer = queue.RefusingName();
    WinPrintTest::QueuePrintAnswer(answer);
    RunDialog({[&](HWND dialog) { return Click(dialog, IDOK); },
               [&](HWND dialog) { return IsWindowEnabled(dialog) && Click(dialog, IDCANCEL); }});
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{L"The pictures could not be printed."});
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(m_machine.File("spool/" + queue.RefusingName()), ec) || ec);
    EXPECT_FALSE(OptionsSaved());
}

TEST_F(PrintDialogTest, CancelDuringTheLastPageLeavesNoDocumentAndNoBox) {
    Start(kLayouts);
    AddPhoto(96, 64, {220, 30, 30});
    WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
    RunDialog({[&](HWND dialog) { return Click(dialog, IDOK); },
               [&](HWND dialog) {
                   SendMessageW(dialog, CPrintDlg::kCancelMessage, 0, 0);
                   return true;
               },
               [&](HWND dialog) {
                   EXPECT_TRUE(IsWindowEnabled(dialog));
                   return Click(dialog, IDCANCEL);
               }});
    EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
    EXPECT_TRUE(SpoolEmpty());
    EXPECT_FALSE(OptionsSaved());
}

TEST_F(PrintDialogTest, ThePreviewAndThePrintedPagePlaceTheCellsAlike) {
    Start(kLayouts);
    // Photos of the cells' proportions (4:3) fill them, in the print as in the preview.
    for (BYTE k = 0; k < 3; ++k)
        AddPhoto(80, 60, {static_cast<BYTE>(70 * k), 60, 160});
    Put("print_as", "1");
    Put("index_print\\index_print_type", "0");
    Put("index_print\\easy\\nb_cols", "5");
    std::vector<PageCell> previewed;
    WinPrintTest::QueuePrintAnswer(WinPrintTest::PrintAnswer{});
    RunDialog({[&](HWND dialog) {
        // Once the preview shows the three cells: the page is what is not the frame's colour round it.
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> argb;
        if (!WinGdiTest::ReadWindowPixels(GetDlgItem(dialog, CPrintDlg::kPreviewArea), &width, &height,
                                          &argb))
            return false;
        const std::uint32_t frame = argb[static_cast<std::size_t>(height / 2) * width] & 0xFFFFFF;
        int x0 = 0, x1 = static_cast<int>(width);
        while (x0 < x1 && (argb[static_cast<std::size_t>(height / 2) * width + x0] & 0xFFFFFF) == frame)
            ++x0;
        while (x1 > x0 && (argb[static_cast<std::size_t>(height / 2) * width + x1 - 1] & 0xFFFFFF) == frame)
            --x1;
        const PixelAt at = [&](int x, int y) {
            const std::uint32_t p = argb[static_cast<std::size_t>(y) * width + x];
            return std::array<int, 3>{static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
                                      static_cast<int>(p & 0xFF)};
        };
        // A4 is as high as the preview: the page fills it from top to bottom.
        previewed = CellsOf(at, x0, 0, x1, static_cast<int>(height));
        return previewed.size() == 3 && Click(dialog, IDOK);
    }});
    const kvtest::PageRaster raster = kvtest::DrawPdfPage(Spool() + "/Pictures.pdf", 1, 100, m_temp.Path());
    ASSERT_GT(raster.width, 0);
    const std::vector<PageCell> printed =
        CellsOf([&](int x, int y) { return raster.At(x, y); }, 0, 0, raster.width, raster.height);
    ASSERT_EQ(printed.size(), previewed.size());
    const double tolerance = 0.01; // of the page's width
    for (std::size_t k = 0; k < printed.size(); ++k) {
        EXPECT_NEAR(printed[k].left, previewed[k].left, tolerance) << "cell " << k;
        EXPECT_NEAR(printed[k].right, previewed[k].right, tolerance) << "cell " << k;
        EXPECT_NEAR(printed[k].top, previewed[k].top, tolerance) << "cell " << k;
        EXPECT_NEAR(printed[k].bottom, previewed[k].bottom, tolerance) << "cell " << k;
    }
}

TEST_F(PrintDialogTest, AMissingConfigurationSaysSoAndCloses) {
    ASSERT_NE(Start(""), CScriptedHost::kNoModule);
    AddPhoto(64, 48, {200, 30, 30});
    EXPECT_EQ(m_host->Send(m_module, KvwHostMessage::kCommand, TPrintPlugin::kPrintCommand, 0), kKvwHandled);
    EXPECT_EQ(Boxes(),
              (std::vector<std::wstring>{L"The configuration file PrintPluginCfg.xml could not be read."}));
}

} // namespace

namespace {

class IntakeModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Print intake test module"; }
    TString GetLanguageDllName() override { return L"NoPrintTestLang.dll"; }
};

// The selection as the dialog takes it in from this program's module object under the scripted host.
class PrintIntakeTest : public ScriptedModuleTest<IntakeModule> {};

TEST_F(PrintIntakeTest, AQuarterTurnOfTheHostsRotationSwapsTheSides) {
    const struct {
        std::optional<double> degrees;
        DWORD type;
        LONG width, height;
    } cases[] = {{std::nullopt, 4, 400, 300},
                 {90.0, 4, 300, 400},
                 {270.0, 4, 300, 400},
                 {180.0, 4, 400, 300},
                 {90.0, 3, 400, 300}};
    KvwItemIdList ids;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        CHostItemRecord item;
        item.id = KvwMakeItemId(static_cast<DWORD>(i + 1), 1);
        item.SetSizeRecords(400, 300);
        item.propertyTexts[2] = "2024:05:0" + std::to_string(i + 1) + " 10:00:00";
        if (cases[i].degrees) {
            CKvwItemProperty rotation;
            rotation.type = cases[i].type;
            rotation.value.resize(sizeof(double));
            std::memcpy(rotation.value.data(), &*cases[i].degrees, sizeof(double));
            item.properties[0x10005] = rotation;
        }
        m_host->AddItem(item);
        ids.push_back(item.id);
    }
    CPrintDlg dialog;
    const TNuidList list(ids.begin(), ids.end());
    ASSERT_TRUE(dialog.SetSelection(&list));
    const std::vector<PrintSelectionRecord>& records = dialog.GetSelectionInfo();
    ASSERT_EQ(records.size(), std::size(cases));
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].id, ids[i]);
        EXPECT_EQ(records[i].size.cx, cases[i].width) << i;
        EXPECT_EQ(records[i].size.cy, cases[i].height) << i;
        EXPECT_EQ(std::wstring(records[i].dateText), L"2024:05:0" + std::to_wstring(i + 1) + L" 10:00:00");
    }
}

} // namespace