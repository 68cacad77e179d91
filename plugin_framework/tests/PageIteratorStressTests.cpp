// The page iterator used at random from the user-interface thread while every render takes a random time:
// documents replaced and released, restarts and cancels, page flips, paints, invalidated pages, changed
// documents and item notices, in an order drawn from a seed (printed; KV_PAGE_ITERATOR_SEED replays one).
// It must not hang, leave a request, an image or a document behind, or take its locks out of order, and it
// must still preview a page correctly afterwards.
#include "PageIteratorTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

using namespace pagetest;

unsigned SeedFromEnvironment(unsigned fallback) {
    const char* text = std::getenv("KV_PAGE_ITERATOR_SEED");
    return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fallback;
}

class PageIteratorStress : public PageIteratorTest {
protected:
    // The document set last, whichever the iterator took.
    TdocDocument* m_current = nullptr;

    // ReleaseDocument deleted the current document: the test no longer owns it.
    void GiveUpCurrent() {
        for (auto& document : m_documents) {
            if (document.get() == m_current)
                document.release();
        }
        m_current = nullptr;
    }
};

TEST_F(PageIteratorStress, RandomUseWhileRendersTakeRandomTimesEndsCleanly) {
    const unsigned seed = SeedFromEnvironment(36108u);
    std::printf("page iterator stress: seed %u\n", seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };

    std::vector<DWORD> times;
    for (int i = 0; i < 64; ++i)
        times.push_back(below(5));
    Script().SetRenderTimes(times);

    const std::string items = Box(1, "5", "5", "30", "20", "image") + Box(2, "40", "40", "50", "50") +
                              Box(3, "10", "60", "20", "30", "image");
    const std::string layouts[] = {
        Layout({{1, "100", "100", items}, {2, "100", "100", items}, {3, "100", "100", ""}}),
        Layout({{1, "200", "50", items}}),
        Layout({{1, "50", "150", items},
                {2, "50", "150", ""},
                {3, "50", "150", items},
                {4, "50", "150", ""},
                {5, "50", "150", items}}),
        Layout({{1, "0", "100", items}}),
    };
    const TSize targets[] = {TSize(160, 120), TSize(80, 200), TSize(300, 90), TSize(0, 120)};

    ASSERT_TRUE(Start(160, 120));
    // Each step one action, drawn by weight, and now and then the messages that arrived meanwhile.
    enum Action {
        kSetDocument,
        kRestart,
        kCancel,
        kNext,
        kPrevious,
        kGoTo,
        kPaint,
        kItemNotice,
        kInvalidate,
        kChanged,
        kRelease
    };
    const Action weighted[] = {kSetDocument, kSetDocument, kRestart,    kCancel,  kNext,
                               kNext,        kPrevious,    kPrevious,   kGoTo,    kPaint,
                               kPaint,       kPaint,       kPaint,      kPaint,   kItemNotice,
                               kItemNotice,  kItemNotice,  kInvalidate, kChanged, kRelease};
    for (int step = 0; step < 1200; ++step) {
        switch (weighted[below(std::size(weighted))]) {
        case kSetDocument: {
            TdocDocument* document = Document(layouts[below(4)]);
            if (m_iterator->SetDocument(document, targets[below(4)]))
                m_current = document;
            break;
        }
        case kRestart:
            m_iterator->Restart(below(4) == 0);
            break;
        case kCancel:
            m_iterator->CancelRendering(below(4) == 0);
            break;
        case kNext:
            m_iterator->NextPage(true);
            break;
        case kPrevious:
            m_iterator->PrevPage(true);
            break;
        case kGoTo:
            m_iterator->SetCurrentPage(static_cast<LONG>(below(6)), true);
            break;
        case kPaint:
            Paint();
            break;
        case kItemNotice:
            m_iterator->OnItemImageLoaded(static_cast<LONG>(1 + below(5)), static_cast<LONG>(1 + below(3)));
            break;
        case kInvalidate:
            m_iterator->InvalidateCurrentPage();
            break;
        case kChanged:
            m_iterator->SetDocumentChanged(true);
            break;
        case kRelease:
            if (below(4) == 0) {
                m_iterator->CancelRendering(false);
                m_iterator->ReleaseDocument();
                GiveUpCurrent();
            }
            break;
        }
        if (below(2) == 0)
            WinUserTest::PumpPending();
    }
    ASSERT_TRUE(PumpUntilNoRequests()) << "a request was never delivered";
    std::printf("page iterator stress: %d renders, %d announced\n", Renders(), m_changes);

    // Afterwards a page still previews as it should.
    Script().SetRenderTimes({});
    m_iterator->Restart(false);
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(2, "100", "100")), TSize(160, 120)));
    ASSERT_TRUE(m_iterator->SetCurrentPage(2, false));
    ASSERT_TRUE(RenderAndPaint());
    EXPECT_EQ(Pixel(80, 60), PageArgb(2));
    EXPECT_EQ(Pixel(10, 60), kFaceArgb);
}

} // namespace
