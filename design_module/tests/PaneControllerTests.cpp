#include "design_module/TControllerGenericPane.h"

#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using TArea = TControllerGenericPane::TArea;
using TPoint = TControllerGenericPane::TPoint;
constexpr WPARAM kShift = TControllerGenericPane::kShift;
constexpr WPARAM kControl = TControllerGenericPane::kControl;

// Three photos in a row on a 2000 x 1000 page, and a real item whose id carries the overlay bit of photo 1.
// The pane shows the page at half size from (10, 20): page point = 2 * (window point - origin).
const char* const kLayout = R"(<ldf version="1"><page id="1" cx="2000" cy="1000">
<item id="1"><bounding-box x="100" y="100" cx="400" cy="300"/></item>
<item id="2"><bounding-box x="700" y="100" cx="400" cy="300"/></item>
<item id="3"><bounding-box x="1300" y="100" cx="400" cy="300"/></item>
<item id="2097153"><bounding-box x="100" y="600" cx="400" cy="300"/></item>
</page></ldf>)";

TPoint WindowPoint(double pageX, double pageY) {
    return TPoint(static_cast<LONG>(10 + pageX / 2), static_cast<LONG>(20 + pageY / 2));
}
const TPoint kOn1 = WindowPoint(300, 200), kOn2 = WindowPoint(900, 200), kOn3 = WindowPoint(1500, 200);
const TPoint kBetween = WindowPoint(600, 200);

class FakePane : public TControllerGenericPane::TPane {
public:
    TdocDocument* GetFrontDocument() const override { return document; }
    TDBufPageIterator* GetPageIterator() const override { return iterator; }
    LONG GetCurrentPageIndex() const override { return 0; }
    TArea GetPageRect() const override { return rect; }
    bool IsPaneVisible() const override { return visible; }
    LONG RedrawPageArea(const TArea& area) override {
        redrawn.push_back(area);
        return 7;
    }

    TdocDocument* document = nullptr;
    TDBufPageIterator* iterator = nullptr;
    TArea rect{10, 20, 1010, 520};
    bool visible = true;
    std::vector<TArea> redrawn;
};

class PaneController : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(docStartup(), 1);
        m_document.reset(
            TdocDocument::CreateFromLDF(TString(m_folder.Write("page.ldf", std::string(kLayout)).c_str())));
        ASSERT_TRUE(m_document);
        m_iterator = TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator);
        m_pane.document = m_document.get();
        m_pane.iterator = m_iterator.Get();
        Use(m_single);
    }
    void TearDown() override {
        m_page.reset();
        m_document.reset();
        m_iterator = TRefPtr<TDBufPageIterator>();
        EXPECT_EQ(docShutdown(), 1);
    }
    void Use(TControllerGenericPane& controller) {
        controller.SetPane(&m_pane);
        controller.SetActive(true);
        m_controller = &controller;
        m_page.reset(m_document->GetPage(0));
    }
    LONG Click(const TPoint& point, WPARAM flags = 0) { return m_controller->OnLButtonDown(point, flags); }
    // The ids that the page's markers of a kind name, read back by their metadata.
    std::set<int> Marked(const char* kind, const char* property) {
        std::set<int> ids;
        for (LONG index = 0;; ++index) {
            std::unique_ptr<TdocItem> item(m_page->GetItem(index));
            if (!item)
                return ids;
            TString text;
            if (item->GetStringProperty(L"metadata/property[@name = 'kind']", text, 0) == 1 &&
                Utf::WideToUtf8(static_cast<const wchar_t*>(text)) == kind &&
                item->GetStringProperty(
                    Utf::Utf8ToWide(std::string("metadata/property[@name = '") + property + "']").c_str(),
                    text, 0) == 1)
                ids.insert(std::stoi(Utf::WideToUtf8(static_cast<const wchar_t*>(text))));
        }
    }
    std::set<int> Selected() { return Marked("UI_Selector", "selectedItemID"); }
    std::set<int> Focused() { return Marked("UI_Focus", "focusedItemID"); }
    int RealItems() {
        TString count;
        m_page->GetStringProperty(L"count(item[not(metadata)])", count, 0);
        return std::stoi(Utf::WideToUtf8(static_cast<const wchar_t*>(count)));
    }

    kvtest::TempFolder m_folder;
    std::unique_ptr<TdocDocument> m_document;
    std::unique_ptr<TdocPage> m_page;
    TRefPtr<TDBufPageIterator> m_iterator;
    FakePane m_pane;
    TRefPtr<TControllerSinglePane> m_singleRef =
        TRefPtr<TControllerSinglePane>::Adopt(new TControllerSinglePane);
    TRefPtr<TControllerMultiPane> m_multiRef = TRefPtr<TControllerMultiPane>::Adopt(new TControllerMultiPane);
    TControllerSinglePane& m_single = *m_singleRef;
    TControllerMultiPane& m_multi = *m_multiRef;
    TControllerGenericPane* m_controller = nullptr;
};

struct ClickStep {
    TPoint point;
    WPARAM flags;
};
struct ClickCase {
    const char* name;
    std::vector<ClickStep> steps;
    std::set<int> selected;
    std::set<int> focused;
};

TEST_F(PaneController, ClicksSelectAndFocusAsTheKeysSay) {
    const ClickCase cases[] = {
        {"plain", {{kOn2, 0}}, {2}, {2}},
        {"shift range", {{kOn1, 0}, {kOn3, kShift}}, {1, 2, 3}, {3}},
        {"shift range reversed", {{kOn3, 0}, {kOn1, kShift}}, {1, 2, 3}, {1}},
        {"shift from the start anchor", {{kOn2, kShift}}, {1, 2}, {2}},
        {"control adds", {{kOn1, 0}, {kOn3, kControl}}, {1, 3}, {3}},
        {"control twice", {{kOn2, kControl}, {kOn2, kControl}}, {}, {2}},
        {"between clears", {{kOn1, 0}, {kBetween, 0}}, {}, {1}},
        {"between with shift", {{kOn1, 0}, {kBetween, kShift}}, {1}, {1}},
        {"between with control", {{kOn1, 0}, {kBetween, kControl}}, {1}, {1}},
        {"shift keeps the anchor", {{kOn1, 0}, {kOn3, kShift}, {kOn2, kShift}}, {1, 2}, {2}},
    };
    for (const ClickCase& c : cases) {
        // A fresh page and controller each.
        m_page.reset();
        m_document.reset(
            TdocDocument::CreateFromLDF(TString(m_folder.Write("page.ldf", std::string(kLayout)).c_str())));
        m_pane.document = m_document.get();
        auto controller = TRefPtr<TControllerSinglePane>::Adopt(new TControllerSinglePane);
        Use(*controller);
        for (const ClickStep& step : c.steps)
            Click(step.point, step.flags);
        EXPECT_EQ(Selected(), c.selected) << c.name;
        EXPECT_EQ(Focused(), c.focused) << c.name;
        EXPECT_EQ(RealItems(), 4) << c.name;
    }
}

TEST_F(PaneController, MarkersAreNeverHitAndTheChangedAreaIsTheUnionOfTheirBoxes) {
    EXPECT_EQ(Click(kOn1), 7);
    EXPECT_TRUE(m_iterator->IsDocumentChanged());
    // The focus frame: photo 1's box grown by 2; the overlay lies inside it.
    ASSERT_EQ(m_pane.redrawn.size(), 1u);
    EXPECT_EQ(m_pane.redrawn[0], TArea(98, 98, 502, 402));
    // Inside the frame's margin but outside the photo: no item, so nothing but the overlay goes.
    EXPECT_EQ(Click(WindowPoint(99, 200), kControl), 0);
    EXPECT_EQ(Click(kOn3), 7);
    EXPECT_EQ(m_pane.redrawn.back(), TArea(98, 98, 1702, 402));
    // The real item that shares the overlay's id of photo 1 is never taken for it.
    Click(kOn1);
    Click(kOn1, kControl);
    EXPECT_EQ(Selected(), std::set<int>{});
    EXPECT_EQ(RealItems(), 4);
}

TEST_F(PaneController, HiddenOrZeroWidthPanesIgnoreClicks) {
    m_pane.visible = false;
    EXPECT_EQ(Click(kOn1), 0);
    m_pane.visible = true;
    m_pane.rect = TArea(10, 20, 10, 520);
    EXPECT_EQ(Click(kOn1), 0);
    m_pane.rect = TArea(10, 20, 5, 520);
    EXPECT_EQ(Click(kOn1), 0);
    EXPECT_EQ(Focused(), std::set<int>{});
    EXPECT_TRUE(m_pane.redrawn.empty());
}

TEST_F(PaneController, ActivationRulesOfBothPanes) {
    Click(kOn1);
    Click(kOn2, kShift);
    m_single.SetActive(false);
    EXPECT_EQ(Selected(), std::set<int>{});
    EXPECT_EQ(Focused(), std::set<int>{});
    Use(m_multi);
    m_multi.SetActive(false);
    m_multi.FocusItem(3); // inactive: only the anchor
    EXPECT_EQ(Focused(), std::set<int>{});
    m_multi.SetActive(true);
    EXPECT_EQ(Focused(), std::set<int>{3});
    m_multi.FocusItem(2);
    EXPECT_EQ(Focused(), std::set<int>{2});
}

TEST_F(PaneController, ShiftRangeOverFarApartIdsWalksOnlyThePageItems) {
    const std::string layout = R"(<ldf version="1"><page id="1" cx="2000" cy="1000">
<item id="1"><bounding-box x="100" y="100" cx="400" cy="300"/></item>
<item id="10000000"><bounding-box x="700" y="100" cx="400" cy="300"/></item></page></ldf>)";
    m_document.reset(TdocDocument::CreateFromLDF(TString(m_folder.Write("far.ldf", layout).c_str())));
    m_pane.document = m_document.get();
    m_page.reset(m_document->GetPage(0));
    Click(kOn2);
    Click(kOn1, kShift);
    EXPECT_EQ(Selected(), (std::set<int>{1, 10000000}));
}

TEST_F(PaneController, ClicksWhileAnotherThreadReadsUnderTheDocumentLock) {
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::unique_ptr<TdocPage> page(m_document->GetPage(0));
        while (!done.load()) {
            m_iterator->LockDocument();
            for (LONG index = 0;; ++index) {
                std::unique_ptr<TdocItem> item(page->GetItem(index));
                TArea box;
                if (!item || !item->GetBoundingBox(box))
                    break;
            }
            m_iterator->UnlockDocument();
        }
    });
    const TPoint points[] = {kOn1, kOn2, kOn3, kBetween};
    for (int round = 0; round < 200; ++round)
        Click(points[round % 4], round % 3 == 0 ? kShift : 0);
    done = true;
    reader.join();
    EXPECT_EQ(RealItems(), 4);
}

} // namespace
