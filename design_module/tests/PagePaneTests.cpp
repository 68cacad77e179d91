// The page panes in headless windows: the contact sheet's grid and parameters, zoom and fit, the delayed
// re-layout on the manual clock, painting, paging keys and the clean copy.
#include "design_module/TPageWindows.h"

#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinSeams.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using TLSize = TGenericPane::TLSize;
using TLRect = TGenericPane::TLRect;
using TLPoint = TGenericPane::TLPoint;

TEST(ContactSheet, GridFollowsThePaneAndTheMode) {
    const struct {
        LONG mode;
        double width, height;
        bool built;
        LONG columns, rows;
        double pageWidth, pageHeight;
    } cases[] = {
        {1, 350, 400, true, 3, 3, 350, 347},       // (350 - 20 + 10) / 110 = 3 columns, 3 x 109 + 20 high
        {2, 350, 400, true, 7, 1, 783, 390},       // one row: 7 x 109 + 20 wide, H - 10 high
        {1, 50, 400, true, 1, 7, 50, 783},         // narrower than one item: still one column
        {2, 350, 5, false, 0, 0, 0, 0},            // no page height left
        {1, 9, 400, false, 0, 0, 0, 0},            // below the smallest pane
        {0, 350, 400, false, 0, 0, 0, 0},          // hidden
    };
    for (const auto& c : cases) {
        TContactSheet sheet;
        ASSERT_EQ(TContactSheet::Compute(c.mode, c.width, c.height, 7, TGenericPane::kBackgroundColour, sheet),
                  c.built)
            << c.mode << " " << c.width << "x" << c.height;
        if (!c.built)
            continue;
        EXPECT_EQ(sheet.grid, TLSize(c.columns, c.rows)) << c.mode << " " << c.width;
        EXPECT_EQ(sheet.pageSize.cx, c.pageWidth) << c.mode << " " << c.width;
        EXPECT_EQ(sheet.pageSize.cy, c.pageHeight) << c.mode << " " << c.width;
    }
}

TEST(ContactSheet, ParametersAreByteExact) {
    TContactSheet sheet;
    ASSERT_TRUE(TContactSheet::Compute(1, 350, 400, 7, TGenericPane::kBackgroundColour, sheet));
    EXPECT_EQ(Utf::WideToUtf8(static_cast<const wchar_t*>(sheet.FormatParameters())),
              "pageW=350.000000<;/>pageH=347.000000<;/>itemW=100.000000<;/>itemH=100.000000<;/>nbCols=3<;/>"
              "nbRows=3<;/>borderL=10.000000<;/>borderT=10.000000<;/>borderR=10.000000<;/>borderB=10.000000<;/>"
              "spaceW=10.000000<;/>spaceH=10.000000<;/>bkColor='#e5e5e5ff'<;/>");
}

// One 1000 x 800 page: a real item, a template helper, a focus frame and an overlay.
const char* const kLayout = R"(<ldf version="1"><page id="1" cx="1000" cy="800">
<item id="1"><bounding-box x="100" y="100" cx="400" cy="300"/></item>
<item id="2"><metadata><property name="kind">UI_Helper</property></metadata><bounding-box x="0" y="0" cx="10" cy="10"/></item>
<item id="4194305"><metadata><property name="kind">UI_Focus</property></metadata><bounding-box x="98" y="98" cx="404" cy="304"/></item>
<item id="2097153"><metadata><property name="kind">UI_Selector</property></metadata><bounding-box x="100" y="100" cx="400" cy="300"/></item>
</page><page id="2" cx="1000" cy="800"/></ldf>)";

class RecordingOwner : public TPaneOwner {
public:
    void RequestPreviousPage() override { requests.push_back(-1); }
    void RequestNextPage() override { requests.push_back(+1); }
    void GoToPage(LONG page) override { requests.push_back(100 + page); }
    void UpdatePageLabel() override { ++labels; }
    std::vector<LONG> requests;
    int labels = 0;
};

class PagePane : public ::testing::Test {
protected:
    static constexpr LONG kPaneWidth = 400;
    static constexpr LONG kPaneHeight = 300;

    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        WinSeams::UseManualClock(10000);
        ASSERT_EQ(docStartup(), 1);
        m_document.reset(
            TdocDocument::CreateFromLDF(TString(m_temp.Write("layout.ldf", std::string(kLayout)).c_str())));
        ASSERT_TRUE(m_document);
        m_host = TRefPtr<TWindow>::Adopt(new TWindow);
        ASSERT_TRUE(m_host->Create(L"PaneTestHost", WS_VISIBLE, TWindow::TRect(0, 0, 800, 600), nullptr));
        m_single->SetReferenceSize(TLSize(1000, 800));
        ASSERT_TRUE(m_single->Create(m_host->GetHandle(), TWindow::TRect(0, 0, kPaneWidth, kPaneHeight), 1));
    }
    void TearDown() override {
        m_single->Destroy();
        m_sheet->Destroy();
        m_host->Destroy();
        m_document.reset();
        EXPECT_EQ(docShutdown(), 1);
        WinSeams::UseSteadyClock();
    }
    void Resize(LONG width, LONG height) { m_single->SetSize(TWindow::TSize(width, height), true); }
    void Advance(DWORD milliseconds) {
        WinSeams::AdvanceManualClock(milliseconds);
        WinUserTest::PumpPending();
    }
    std::uint32_t Pixel(HWND window, LONG x, LONG y) {
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        if (!WinGdiTest::ReadWindowPixels(window, &width, &height, &pixels) || x >= width || y >= height)
            return 0;
        return pixels[static_cast<std::size_t>(y) * width + x];
    }

    kvtest::TempFolder m_temp;
    std::unique_ptr<TdocDocument> m_document;
    TRefPtr<TWindow> m_host;
    RecordingOwner m_owner;
    TRefPtr<TSinglePagePane> m_single = TRefPtr<TSinglePagePane>::Adopt(new TSinglePagePane(&m_owner));
    TRefPtr<TMultiPagePane> m_sheet = TRefPtr<TMultiPagePane>::Adopt(new TMultiPagePane(&m_owner));
};

TEST_F(PagePane, FixedZoomsScaleTheReferencePageAndKeepThePagePointInView) {
    const struct {
        DWORD command;
        TLSize page, content;
    } zooms[] = {
        {0x4033, {250, 200}, {290, 240}},
        {0x4032, {500, 400}, {540, 440}},
        {0x4031, {1000, 800}, {1040, 840}},
        {0x4030, {2000, 1600}, {2040, 1640}},
    };
    for (const auto& zoom : zooms) {
        m_single->SetZoom(zoom.command);
        EXPECT_EQ(m_single->GetPageSize(), zoom.page) << std::hex << zoom.command;
        EXPECT_EQ(m_single->GetContentSize(), zoom.content) << std::hex << zoom.command;
    }
    // At 200 % the window's corner shows page point (200, 150) - margin / 2; at 50 % the same point is at a
    // quarter of the scroll position.
    m_single->SetScrollPosition(TLPoint(400, 300));
    m_single->SetZoom(0x4032);
    EXPECT_EQ(m_single->GetScrollPosition(), TLPoint(100, 75));
    m_single->SetZoom(0x4035); // no zoom: nothing changes
    EXPECT_EQ(m_single->GetZoom(), 0x4032u);
}

TEST_F(PagePane, FitModeCentresThePageItLaidOut) {
    m_single->SetMode(TGenericPane::kShown);
    m_single->SetZoom(TGenSinglePagePane::kZoomFit);
    EXPECT_EQ(m_single->GetPageSize(), TLSize(kPaneWidth - 40, kPaneHeight - 40));
    EXPECT_EQ(m_single->PageRectInWindow(), TLRect(20, 20, kPaneWidth - 20, kPaneHeight - 20));
    const struct {
        LONG width, height;
        TLRect rect;
    } sizes[] = {
        {500, 300, {70, 20, 430, 280}}, // (500 - 360) / 2
        {300, 200, {0, 0, 360, 260}},   // smaller than the page: at the client's corner
        {401, 301, {20, 20, 380, 280}}, // truncated halves
    };
    for (const auto& size : sizes) {
        Resize(size.width, size.height);
        EXPECT_EQ(m_single->PageRectInWindow(), size.rect) << size.width << "x" << size.height;
    }
    Resize(30, 30);
    Advance(2000);
    EXPECT_EQ(m_single->GetPageSize(), TLSize(0, 0)) << "a client below the margins fits no page";
    EXPECT_FALSE(m_single->SetDocument(m_document.get(), true));
}

TEST_F(PagePane, ResizingLaysOutOnceAfterTheSizeSettled) {
    m_single->SetZoom(TGenSinglePagePane::kZoomFit);
    m_single->SetMode(TGenericPane::kShown);
    ASSERT_TRUE(m_single->ShowDocument(m_document.get()));
    for (LONG step = 0; step <= 20; ++step) {
        Resize(kPaneWidth + step, kPaneHeight);
        Advance(100);
    }
    EXPECT_EQ(m_single->GetLayoutCount(), 0u);
    DWORD waited = 100;
    while (m_single->GetLayoutCount() == 0 && waited < 3000) {
        Advance(100);
        waited += 100;
    }
    EXPECT_EQ(m_single->GetLayoutCount(), 1u);
    EXPECT_GE(waited, 800u);
    EXPECT_LE(waited, 1300u);
    EXPECT_EQ(m_single->GetPageSize(), TLSize(kPaneWidth + 20 - 40, kPaneHeight - 40));
    Advance(3000);
    EXPECT_EQ(m_single->GetLayoutCount(), 1u);
}

TEST_F(PagePane, PaintingFramesTheClientAndFillsAroundThePage) {
    m_single->SetZoom(TGenSinglePagePane::kZoomFit);
    m_single->SetMode(TGenericPane::kShown);
    ASSERT_TRUE(m_single->ShowDocument(m_document.get()));
    ASSERT_TRUE(UpdateWindow(m_single->GetHandle()));
    const HWND pane = m_single->GetHandle();
    const struct {
        LONG x, y;
        std::uint32_t expected;
    } points[] = {
        {0, 0, 0xFF404040},
        {kPaneWidth - 1, kPaneHeight - 1, 0xFF404040},
        {kPaneWidth / 2, 0, 0xFF404040},
        {1, 1, 0xFFE5E5E5},
        {10, kPaneHeight / 2, 0xFFE5E5E5},
        {kPaneWidth - 2, kPaneHeight - 2, 0xFFE5E5E5},
        {kPaneWidth / 2, kPaneHeight - 15, 0xFFE5E5E5},
    };
    for (const auto& p : points)
        EXPECT_EQ(Pixel(pane, p.x, p.y), p.expected) << p.x << "," << p.y;
    EXPECT_GE(m_owner.labels, 1);
}

TEST_F(PagePane, ArrowKeysAskTheOwnerForPagesAndThePaneFollowsItsIterator) {
    for (WPARAM key : {WPARAM{37}, WPARAM{39}, WPARAM{38}})
        m_single->SendMessage(WM_KEYDOWN, key, 0);
    EXPECT_EQ(m_owner.requests, (std::vector<LONG>{-1, +1}));
    m_single->SetZoom(0x4031);
    ASSERT_TRUE(m_single->ShowDocument(m_document.get()));
    m_single->NextPage();
    EXPECT_EQ(m_single->GetPageIterator()->GetCurrentPage(), 2);
    m_single->GoToPage(3);
    EXPECT_EQ(m_single->GetPageIterator()->GetCurrentPage(), 2) << "no third page";
    m_single->PreviousPage();
    EXPECT_EQ(m_single->GetCurrentPageIndex(), 0);
}

TEST_F(PagePane, TheCleanCopyLeavesOutInterfaceItemsAndTheShownDocumentKeepsThem) {
    EXPECT_EQ(m_single->CleanCopy(), nullptr) << "nothing shown";
    m_single->SetZoom(0x4031);
    ASSERT_TRUE(m_single->ShowDocument(m_document.get()));
    std::unique_ptr<TdocDocument> copy = m_single->CleanCopy();
    ASSERT_TRUE(copy);
    const auto count = [](const TdocDocument& document) {
        std::unique_ptr<TdocPage> page(document.GetPage(0));
        TString text;
        page->GetStringProperty(L"count(item)", text, 0);
        return std::stoi(Utf::WideToUtf8(static_cast<const wchar_t*>(text)));
    };
    EXPECT_EQ(count(*copy), 1);
    EXPECT_EQ(count(*m_document), 4);
    EXPECT_EQ(copy->GetPageCount(), 2);
}

TEST_F(PagePane, TheContactSheetNeedsItsResourcesAndKeepsItsSheetWhenNoneCanBeBuilt) {
    m_sheet->SetSheetResources(TGenMultiPagePane::kSheetTemplate, 4999);
    EXPECT_FALSE(m_sheet->Create(m_host->GetHandle(), TWindow::TRect(0, 0, 350, 400), 2));
    m_sheet = TRefPtr<TMultiPagePane>::Adopt(new TMultiPagePane(&m_owner));
    ASSERT_TRUE(m_sheet->Create(m_host->GetHandle(), TWindow::TRect(0, 0, 350, 400), 2));
    m_sheet->SetMode(TGenericPane::kShown);
    m_sheet->RefreshPageNUIDS({201, 202, 203, 204, 205, 206, 207});
    EXPECT_EQ(m_sheet->GetPictureCount(), 7);
    EXPECT_TRUE(m_sheet->GetBundleFile().Exists());
    EXPECT_EQ(m_sheet->GetPageSize(), TLSize(350, 347));
    EXPECT_EQ(m_sheet->GetContentSize(), TLSize(350, 347));
    EXPECT_EQ(m_sheet->GetSheet().grid, TLSize(3, 3));
    m_sheet->SetSize(TWindow::TSize(350, 5), true);
    m_sheet->SetMode(TGenericPane::kOneRow);
    EXPECT_EQ(m_sheet->GetPageSize(), TLSize(350, 347)) << "a row without height builds nothing";
    EXPECT_TRUE(m_sheet->SecondDrawingFlag());
}

TEST_F(PagePane, NewPicturesRebuildTheSheetFromANewBundleAndAFailedBundleKeepsTheSheetShown) {
    ASSERT_TRUE(m_sheet->Create(m_host->GetHandle(), TWindow::TRect(0, 0, 350, 400), 2));
    for (const auto& [pane, id] : {std::pair{m_single->GetHandle(), 1}, std::pair{m_sheet->GetHandle(), 2}})
        EXPECT_TRUE(GetDlgCtrlID(pane) == id && GetDlgItem(m_host->GetHandle(), id) == pane) << id;
    m_sheet->SetMode(TGenericPane::kShown);
    m_sheet->RefreshPageNUIDS({});
    EXPECT_TRUE(m_sheet->GetBundleFile().GetPath().IsEmpty()) << "an empty list builds nothing";
    // 3 columns in 350; rows 100 + 10 - 1 high, 10 above and below.
    const std::pair<LONG, LONG> sheets[] = {{1, 1}, {4, 2}, {10, 4}}; // pictures, rows
    std::string previous;
    for (const auto& [pictures, rows] : sheets) {
        KvwItemIdList ids;
        for (LONG i = 0; i < pictures; ++i)
            ids.push_back(static_cast<KvwItemId>(300 + i));
        m_sheet->RefreshPageNUIDS(ids);
        const std::string bundle =
            Utf::WideToUtf8(static_cast<const wchar_t*>(m_sheet->GetBundleFile().GetPath()));
        std::stringstream text;
        text << std::ifstream(bundle).rdbuf();
        EXPECT_NE(text.str().find("NUID\">" + std::to_string(299 + pictures) + "<"), std::string::npos)
            << pictures;
        EXPECT_TRUE(previous.empty() || previous == bundle || !std::filesystem::exists(previous)) << pictures;
        EXPECT_EQ(m_sheet->GetPageSize(), TLSize(350, rows * 109 + 20)) << pictures;
        previous = bundle;
    }
    const TdocDocument* shown = m_sheet->GetFrontDocument();
    WinSeams::SetTempBase(m_temp.Path() + "/missing/folder"); // no bundle can be made there
    m_sheet->RefreshPageNUIDS({1, 2});
    WinSeams::SetTempBase(m_temp.Path());
    EXPECT_TRUE(m_sheet->GetFrontDocument() == shown && std::filesystem::exists(previous));
    m_sheet->SetSize(TWindow::TSize(250, 400), true);
    EXPECT_EQ(m_sheet->GetSheet().grid, TLSize(2, 5)) << "the kept bundle's ten pictures at the new width";
}

} // namespace
