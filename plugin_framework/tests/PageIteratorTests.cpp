// The double-buffered page iterator over the scripted renderer, which paints each page in a colour of its
// own: queued renders, the painted front image with its bars, stale renders, paging, documents replaced
// and released under a render, partial renders after an item picture arrived, and what is left when it
// shuts down.
#include "PageIteratorTestSupport.h"

#include "platform/dadadud/DadaDud.h"

namespace {

using namespace pagetest;

class PageIterator : public PageIteratorTest {};

TEST_F(PageIterator, RedrawQueuesOneRenderAndASecondRedrawDuringItQueuesNothing) {
    ASSERT_TRUE(Start(200, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(2, "100", "50")), TSize(200, 100)));
    Script().SetRenderBlock(Block::kLatchOnly);
    Paint();
    ASSERT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
    Paint();
    EXPECT_EQ(m_iterator->GetRefCount(), 2) << "one request: the page renders already";
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 1; }));
    EXPECT_EQ(Renders(), 1);
    // A page of 100 x 50 fitted into 200 x 100 keeps the target's width and height.
    const std::wstring context = LastRenderContext();
    EXPECT_NE(context.find(L"page_width=200.000000;page_height=100.000000;"), std::wstring::npos) << context;
    EXPECT_NE(context.find(L"page_switch=1;"), std::wstring::npos) << context;
    EXPECT_NE(
        context.find(L"page_img_load_manager_subscr_id=" + std::to_wstring(m_iterator->GetSubscription())),
        std::wstring::npos)
        << context;
    Paint();
    EXPECT_EQ(m_iterator->GetDisplayedPage(), 1);
    EXPECT_EQ(Pixel(100, 50), PageArgb(1));
}

// Where the front image lands and where the bars go, worked out by hand for each view.
struct Placement {
    LONG windowWidth, windowHeight;
    TRect clip, view;
    bool centred;
};
struct Point {
    LONG x, y;
    std::uint32_t expected;
};

class FrontImagePlacement : public PageIteratorTest {
protected:
    // A page of cx x cy fitted into the target, painted as placed, with the points checked.
    void Check(const char* what, const Placement& placement, const char* cx, const char* cy,
               const TSize& target, std::initializer_list<Point> points) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(Start(placement.windowWidth, placement.windowHeight));
        ASSERT_TRUE(m_iterator->SetDocument(Document(Layout({{1, cx, cy, ""}})), target));
        m_changes = 0;
        Paint(placement.clip, placement.view, placement.centred, placement.centred);
        ASSERT_TRUE(PumpUntil([&] { return m_changes > 0; }));
        Paint(placement.clip, placement.view, placement.centred, placement.centred);
        for (const Point& p : points)
            EXPECT_EQ(Pixel(p.x, p.y), p.expected) << "at " << p.x << "," << p.y;
    }
};

TEST_F(FrontImagePlacement, TheFrontImageIsPlacedInTheViewWithFrameBarsAroundIt) {
    const std::uint32_t page = PageArgb(1), face = kFaceArgb, none = kUntouched;
    const Placement whole{200, 100, TRect(0, 0, 200, 100), TRect(0, 0, 200, 100), true};
    const Placement uncentred{200, 100, TRect(0, 0, 200, 100), TRect(0, 0, 200, 100), false};
    const Placement inner{240, 140, TRect(0, 0, 240, 140), TRect(20, 20, 220, 120), true};
    const Placement clipped{200, 100, TRect(0, 0, 100, 100), TRect(0, 0, 200, 100), true};

    Check("narrower than the view, centred: 100 x 100 at 50, 0", whole, "100", "100", TSize(200, 100),
          {{49, 50, face}, {50, 50, page}, {149, 99, page}, {150, 50, face}, {100, 0, page}});
    Check("narrower, not centred: at 0, 0", uncentred, "100", "100", TSize(200, 100),
          {{0, 50, page}, {99, 50, page}, {100, 50, face}, {199, 0, face}});
    Check("shorter than the view, centred: 200 x 50 at 0, 25", whole, "200", "50", TSize(200, 100),
          {{100, 24, face}, {100, 25, page}, {0, 74, page}, {199, 74, page}, {100, 75, face}});
    Check("narrower and taller than the view: 100 x 200 at 50, 0, cut at the view's bottom", whole, "100",
          "200", TSize(200, 200), {{49, 50, face}, {50, 0, page}, {149, 99, page}, {150, 50, face}});
    Check("wider than the view: 300 x 100 from the view's left edge, no bars", whole, "300", "100",
          TSize(300, 100), {{0, 0, page}, {199, 99, page}});
    Check("a view inside the window: the image at the clip's corner plus the view's", inner, "100", "100",
          TSize(200, 100),
          {{10, 10, none}, {69, 50, face}, {70, 50, page}, {169, 119, page}, {170, 50, face}});
    Check("the view's corners inside the window", inner, "100", "100", TSize(200, 100),
          {{20, 20, face}, {219, 119, face}, {230, 130, none}});
    Check("bars only inside the clip rectangle", clipped, "100", "100", TSize(200, 100),
          {{25, 50, face}, {50, 50, page}, {149, 50, page}, {175, 50, none}});
}

TEST_F(PageIterator, ARenderThatFinishesAfterACancelIsStaleAndThePageRendersAgain) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
    Script().SetRenderBlock(Block::kLatchOnly);
    Paint();
    ASSERT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
    EXPECT_TRUE(m_iterator->CancelRendering(false));
    Script().SetRenderBlock(Block::kNone);
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntilNoRequests());
    EXPECT_EQ(m_changes, 0) << "a stale render is not announced";
    Paint();
    EXPECT_EQ(m_iterator->GetRefCount(), 2) << "the page is dirty and renders again";
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 1; }));
    EXPECT_EQ(Renders(), 2);
    Paint();
    EXPECT_EQ(Pixel(50, 50), PageArgb(1));
    ASSERT_TRUE(PumpUntilNoRequests());
    EXPECT_EQ(Renders(), 2) << "rendered once more only";
}

TEST_F(PageIterator, ARenderOvertakenByAnotherPageIsStaleAndItsPageRendersWhenShownAgain) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(2, "100", "100")), TSize(100, 100)));
    Script().SetRenderBlock(Block::kLatchOnly);
    Paint();
    ASSERT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
    Script().SetRenderBlock(Block::kNone);
    EXPECT_TRUE(m_iterator->NextPage(false));
    Paint();
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 1 && m_iterator->GetRefCount() == 1; }));
    EXPECT_EQ(m_changes, 1) << "only page 2's render is announced";
    Paint();
    EXPECT_EQ(Pixel(50, 50), PageArgb(2));
    EXPECT_TRUE(m_iterator->PrevPage(false));
    Paint();
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 2; }));
    EXPECT_EQ(Renders(), 3) << "page 1 was rendered, but stale, so it renders again";
    Paint();
    EXPECT_EQ(Pixel(50, 50), PageArgb(1));
}

TEST_F(PageIterator, RequestsClearedByACancelLeaveTheirPagesToRenderAgain) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(2, "100", "100")), TSize(100, 100)));
    Script().SetRenderBlock(Block::kLatchOnly);
    Paint();
    ASSERT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
    m_iterator->NextPage(false);
    Paint(); // page 2 waits in the queue
    m_iterator->CancelRendering(false);
    Script().SetRenderBlock(Block::kNone);
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntilNoRequests());
    EXPECT_EQ(Renders(), 1) << "page 2 never rendered";
    Paint();
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 1; }));
    EXPECT_EQ(Renders(), 2);
    Paint();
    EXPECT_EQ(Pixel(50, 50), PageArgb(2));
}

TEST_F(PageIterator, PagingKeepsToTheDocumentAndAnnouncesOnlyChanges) {
    ASSERT_TRUE(Start(100, 100));
    EXPECT_FALSE(m_iterator->SetDocument(nullptr, TSize(100, 100)));
    EXPECT_EQ(m_iterator->GetCurrentPage(), -1);
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(5, "10", "10")), TSize(100, 100)));
    EXPECT_EQ(m_iterator->GetCurrentPage(), 1);
    EXPECT_EQ(m_iterator->GetPageCount(), 5);

    using Step = std::function<bool()>;
    const struct {
        const char* what;
        Step step;
        bool answer;
        LONG page;
        int changes;
    } steps[] = {
        {"page 0", [&] { return m_iterator->SetCurrentPage(0, true); }, false, 1, 0},
        {"page 6", [&] { return m_iterator->SetCurrentPage(6, true); }, false, 1, 0},
        {"the current page", [&] { return m_iterator->SetCurrentPage(1, true); }, true, 1, 0},
        {"back from the first", [&] { return m_iterator->PrevPage(true); }, true, 1, 0},
        {"page 5 without redraw", [&] { return m_iterator->SetCurrentPage(5, false); }, true, 5, 0},
        {"on from the last", [&] { return m_iterator->NextPage(true); }, true, 5, 0},
        {"back", [&] { return m_iterator->PrevPage(true); }, true, 4, 1},
        {"on", [&] { return m_iterator->NextPage(true); }, true, 5, 2},
        {"page 2", [&] { return m_iterator->SetCurrentPage(2, true); }, true, 2, 3},
        {"back without redraw", [&] { return m_iterator->PrevPage(false); }, true, 1, 3},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(s.step(), s.answer) << s.what;
        EXPECT_EQ(m_iterator->GetCurrentPage(), s.page) << s.what;
        EXPECT_EQ(m_changes, s.changes) << s.what;
    }

    ASSERT_TRUE(m_iterator->SetCurrentPage(5, false));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(3, "10", "10")), TSize(100, 100)));
    EXPECT_EQ(m_iterator->GetCurrentPage(), 3) << "cut to the new page count";
    ASSERT_TRUE(m_iterator->SetDocument(Document(Layout({})), TSize(100, 100)));
    EXPECT_EQ(m_iterator->GetPageCount(), 0);
    EXPECT_FALSE(m_iterator->SetCurrentPage(1, true));
    Paint();
    EXPECT_EQ(m_iterator->GetRefCount(), 1) << "a document without pages renders nothing";
}

TEST_F(PageIterator, InvalidatingTheCurrentPageNeedsItsPreviewAndRendersItAgain) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
    EXPECT_FALSE(m_iterator->InvalidateCurrentPage()) << "never rendered";
    ASSERT_TRUE(RenderAndPaint());
    EXPECT_EQ(Renders(), 1);
    EXPECT_TRUE(m_iterator->InvalidateCurrentPage());
    Paint();
    ASSERT_TRUE(PumpUntilNoRequests());
    EXPECT_EQ(Renders(), 2);
    const std::wstring context = LastRenderContext();
    EXPECT_NE(context.find(L"page_invalidRect_left=0;page_invalidRect_top=0;page_invalidRect_right=100;"
                           L"page_invalidRect_bottom=100;"),
              std::wstring::npos)
        << "the whole page: " << context;
    m_iterator->DeletePreviews();
    EXPECT_FALSE(m_iterator->InvalidateCurrentPage());
}

// The page (200 x 100) is fitted into 300 x 300 at 300 x 150, 1.5 preview pixels a unit: the item at
// 50.5, 21 sized 60 x 40 covers 75.75 .. 165.75 x 31.5 .. 91.5, truncated to 75, 31, 165, 91.
TEST_F(PageIterator, AnItemPictureThatArrivesRendersTheItemsBoundsAgainScaledToThePreview) {
    ASSERT_TRUE(Start(300, 300));
    const std::string items = Box(6, "0", "0", "10", "10") + Box(7, "50.5", "21", "60", "40", "image");
    ASSERT_TRUE(m_iterator->SetDocument(Document(Layout({{31, "200", "100", items}, {32, "200", "100", ""}})),
                                        TSize(300, 300)));
    m_iterator->OnItemImageLoaded(31, 7);
    EXPECT_EQ(m_iterator->GetRefCount(), 1) << "no preview yet: nothing queued";
    EXPECT_FALSE(m_iterator->InvalidateCurrentPage());
    ASSERT_TRUE(RenderAndPaint());

    // Through the image-load manager: a render asked for item 4242 (kept loading, as the host has no
    // picture), then the host reports it loaded.
    std::shared_ptr<TImgLoadMng> manager = TImgLoadMng::Existing();
    ASSERT_NE(manager, nullptr);
    const CKvwSizeRecord wanted{90, 60};
    EXPECT_EQ(manager->InternalCheckImageState(4242, wanted, m_iterator->GetSubscription(), 31, 7, nullptr),
              TImgLoadMng::kNotLoaded);
    manager->OnImageLoaded(4242);
    ASSERT_TRUE(PumpUntil([&] { return m_changes == 2; }));
    ASSERT_EQ(Renders(), 2);
    const std::wstring context = LastRenderContext();
    EXPECT_NE(context.find(L"page_width=300.000000;page_height=150.000000;page_invalidRect_left=75;"
                           L"page_invalidRect_top=31;page_invalidRect_right=165;page_invalidRect_bottom=91;"),
              std::wstring::npos)
        << context;
    EXPECT_EQ(context.find(L"page_switch"), std::wstring::npos) << "a partial render switches no page";
    ASSERT_TRUE(PumpUntilNoRequests());

    const struct {
        const char* what;
        LONG pageId, item;
    } ignored[] = {{"another page's id", 32, 7}, {"an item the page does not hold", 31, 8}};
    for (const auto& notice : ignored) {
        m_iterator->OnItemImageLoaded(notice.pageId, notice.item);
        EXPECT_EQ(m_iterator->GetRefCount(), 1) << notice.what;
    }
    m_iterator->NextPage(false);
    m_iterator->OnItemImageLoaded(31, 7);
    EXPECT_EQ(m_iterator->GetRefCount(), 1) << "the item is not on the current page";
    // But its page's preview no longer shows what is there: shown again, the page renders whole.
    m_iterator->PrevPage(false);
    Paint();
    ASSERT_TRUE(PumpUntilNoRequests());
    EXPECT_EQ(Renders(), 3);
    EXPECT_NE(LastRenderContext().find(L"page_switch=1;"), std::wstring::npos) << LastRenderContext();
}

TEST_F(PageIterator, APreviewDroppedWhileItsPageRendersLivesUntilTheRequestGoes) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
    Script().SetRenderBlock(Block::kLatchOnly);
    Paint();
    ASSERT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
    const std::size_t withPreview = ZizorazTest::LiveHandles();
    EXPECT_EQ(withPreview, m_imagesBefore + 2) << "a front and a back image";
    m_iterator->DeletePreviews();
    EXPECT_EQ(ZizorazTest::LiveHandles(), withPreview) << "the render still draws into the back image";
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntilNoRequests());
    ASSERT_EQ(Script().Count("render painted"), 1);
    for (const ScriptCall& call : Script().Calls()) {
        if (call.entry == "render painted") {
            EXPECT_EQ(call.number, 1) << "the back image was there to draw into";
        }
    }
    EXPECT_EQ(ZizorazTest::LiveHandles(), m_imagesBefore) << "and went with the request";
}

TEST_F(PageIterator, ADocumentReplacedUnderARenderKeepsItsCopyUntilTheRenderIsOverWithoutWaiting) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
    TdocDocument* second = Document(Pages(4, "100", "100"));
    Script().SetRenderBlock(Block::kLatchOnly);
    Paint();
    ASSERT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
    const std::size_t before = DadaDudTest::LiveHandles();
    EXPECT_TRUE(m_iterator->SetDocument(second, TSize(100, 100))) << "while the render is blocked";
    EXPECT_EQ(m_iterator->GetPageCount(), 4);
    EXPECT_EQ(DadaDudTest::LiveHandles(), before + 1) << "the new copy, and the old one for the render";
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntilNoRequests());
    EXPECT_EQ(DadaDudTest::LiveHandles(), before) << "the old copy went with the request";
    for (const ScriptCall& call : Script().Calls()) {
        if (call.entry == "rendrSetDocument") {
            EXPECT_EQ(call.thread, GetCurrentThreadId()) << "documents are set on the user-interface thread";
        }
    }
}

TEST_F(PageIterator, ADocumentTheRendererRefusesLeavesThePreviousOneInPlace) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(2, "100", "100")), TSize(100, 100)));
    ASSERT_TRUE(RenderAndPaint());
    TdocDocument* refused = Document(Pages(7, "100", "100"));
    const std::size_t before = DadaDudTest::LiveHandles();
    Script().SetResult("rendrSetDocument", 0);
    EXPECT_FALSE(m_iterator->SetDocument(refused, TSize(100, 100)));
    EXPECT_EQ(m_iterator->GetPageCount(), 2);
    EXPECT_EQ(DadaDudTest::LiveHandles(), before) << "the refused copy is gone";
    EXPECT_TRUE(m_iterator->InvalidateCurrentPage()) << "the previews stay";
    Script().SetResult("rendrSetDocument", 1);
    ASSERT_TRUE(RenderAndPaint());
    EXPECT_EQ(Pixel(50, 50), PageArgb(1));
}

// The copy the renderer was given, by its handle in the log.
DocHandle RendererCopy() {
    DocHandle handle = kDocNoHandle;
    for (const ScriptCall& call : Script().Calls()) {
        if (call.entry == "rendrSetDocument" || call.entry == "rendrRefreshDoc")
            handle = static_cast<DocHandle>(call.number);
    }
    return handle;
}

bool IsLive(DocHandle document) {
    LONG count = 0;
    return docGetDocNbPages(document, &count) == 1;
}

TEST_F(PageIterator, AChangedDocumentIsCopiedAgainBeforeTheNextRenderAndARefusedCopyLeavesTheOldOne) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
    ASSERT_TRUE(RenderAndPaint());
    EXPECT_EQ(Script().Count("rendrRefreshDoc"), 0) << "nothing changed yet";
    const struct {
        const char* what;
        LONG refreshAnswer;
        bool newCopyInFront;
    } cases[] = {{"refused", 0, false}, {"taken", 1, true}};
    DocHandle front = RendererCopy();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Script().SetResult("rendrRefreshDoc", c.refreshAnswer);
        m_iterator->SetDocumentChanged(true);
        EXPECT_TRUE(m_iterator->IsDocumentChanged());
        EXPECT_TRUE(m_iterator->InvalidateCurrentPage());
        const int refreshes = Script().Count("rendrRefreshDoc");
        ASSERT_TRUE(RenderAndPaint());
        ASSERT_TRUE(PumpUntilNoRequests());
        ASSERT_EQ(Script().Count("rendrRefreshDoc"), refreshes + 1);
        EXPECT_FALSE(m_iterator->IsDocumentChanged());
        ScriptCall refresh;
        for (const ScriptCall& call : Script().Calls()) {
            if (call.entry == "rendrRefreshDoc")
                refresh = call;
        }
        EXPECT_NE(refresh.thread, GetCurrentThreadId()) << "refreshed by the start hook, on the worker";
        const DocHandle offered = static_cast<DocHandle>(refresh.number);
        EXPECT_EQ(IsLive(offered), c.newCopyInFront);
        EXPECT_EQ(IsLive(front), !c.newCopyInFront) << "the copy before stays in front only when refused";
        if (c.newCopyInFront)
            front = offered;
    }
    EXPECT_EQ(Script().Count("rendrSetDocument"), 1) << "the worker never sets a document";
}

TEST_F(PageIterator, PagesWithoutAUsableSizeQueueAndPaintNothing) {
    const struct {
        const char* what;
        std::string layout;
        TSize target;
    } cases[] = {
        {"a document without pages", Pages(0, "100", "100"), TSize(100, 100)},
        {"a page of width 0", Pages(1, "0", "100"), TSize(100, 100)},
        {"a page without a height", Pages(1, "100", ""), TSize(100, 100)},
        {"a page of negative width", Pages(1, "-5", "100"), TSize(100, 100)},
        {"a page whose width is no number", Pages(1, "nan", "100"), TSize(100, 100)},
        {"an endless page", Pages(1, "inf", "100"), TSize(100, 100)},
        {"a target of height 0", Pages(1, "100", "100"), TSize(100, 0)},
        {"a target of no size", Pages(1, "100", "100"), TSize(std::nan(""), 100)},
        {"a page too small to show", Pages(1, "1", "1000000"), TSize(100, 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Start(100, 100));
        ASSERT_TRUE(m_iterator->SetDocument(Document(c.layout), c.target));
        Paint();
        Paint();
        EXPECT_EQ(m_iterator->GetRefCount(), 1) << "nothing queued";
        EXPECT_FALSE(m_iterator->InvalidateCurrentPage()) << "no preview was made";
        EXPECT_EQ(Pixel(50, 50), kUntouched);
    }
}

TEST_F(PageIterator, ShutdownReleasesTheNoticesStillQueuedForItsWindow) {
    ASSERT_TRUE(Start(100, 100));
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
    Script().SetRenderNotices({{kRendrNoticeProgress, 40, RendrSubscriptions::Delivery::kSubscribedKinds},
                               {kRendrNoticeProgress, 90, RendrSubscriptions::Delivery::kSubscribedKinds}});
    Paint();
    // Nothing is pumped: the progress values and the finished request wait in the queue.
    ASSERT_TRUE(kvtest::WaitUntil([] { return WinUserTest::QueuedMessages() == 3; }));
    EXPECT_EQ(m_iterator->GetRefCount(), 2) << "the finished request";
    EXPECT_TRUE(m_iterator->Shutdown());
    EXPECT_EQ(m_iterator->GetRefCount(), 1);
    EXPECT_EQ(WinUserTest::QueuedMessages(), 0u);
    EXPECT_EQ(m_changes, 0);
    EXPECT_EQ(m_iterator->GetNotifyWindow(), nullptr);
    EXPECT_EQ(m_iterator->GetCurrentPage(), -1);
}

std::vector<DWORD> g_progress;

// Each render's progress reaches the callback and always ends at 100: a render that stops short (here
// one whose library reports less, or fails) is completed when it ends.
TEST_F(PageIterator, RenderProgressReachesTheProgressCallbackAndAlwaysEndsAt100) {
    const struct {
        std::vector<BYTE> notices;
        LONG result;
        std::vector<DWORD> told;
    } cases[] = {
        {{40, 90}, 1, {40, 90, 100}},
        {{50, 100}, 1, {50, 100}},
        {{30}, 0, {30, 100}},
        {{}, 1, {}},
    };
    ASSERT_TRUE(Start(100, 100));
    m_iterator->SetProgressCallback(
        [](void* user, DWORD value) {
            EXPECT_EQ(user, &g_progress);
            g_progress.push_back(value);
        },
        &g_progress);
    for (const auto& c : cases) {
        g_progress.clear();
        std::vector<CScriptRenderer::Notice> notices;
        for (BYTE value : c.notices)
            notices.push_back({kRendrNoticeProgress, value, RendrSubscriptions::Delivery::kSubscribedKinds});
        Script().SetRenderNotices(notices);
        Script().SetResult("rendrRenderPage", c.result);
        ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
        Paint();
        ASSERT_TRUE(PumpUntilNoRequests());
        WinUserTest::PumpPending();
        EXPECT_EQ(g_progress, c.told) << c.notices.size() << " notices, result " << c.result;
    }
}

TEST_F(PageIterator, ReleasingTheDocumentDeletesTheOwnersDocumentAndTheCopy) {
    ASSERT_TRUE(Start(100, 100));
    m_iterator->ReleaseDocument();
    const std::size_t before = DadaDudTest::LiveHandles();
    ASSERT_TRUE(m_iterator->SetDocument(Document(Pages(1, "100", "100")), TSize(100, 100)));
    GiveUpLastDocument();
    EXPECT_EQ(DadaDudTest::LiveHandles(), before + 2);
    m_iterator->ReleaseDocument();
    EXPECT_EQ(DadaDudTest::LiveHandles(), before);
    Paint();
    EXPECT_EQ(m_iterator->GetRefCount(), 1) << "nothing left to render";
}

TEST_F(PageIterator, InitFailsWithoutARendererAndWhenStartedAlready) {
    EXPECT_FALSE(Start(100, 100, "no-such-folder"));
    EXPECT_EQ(m_iterator->GetNotifyWindow(), nullptr);
    EXPECT_EQ(m_iterator->GetSubscription(), -1);
    ASSERT_TRUE(Start(100, 100));
    EXPECT_NE(m_iterator->GetNotifyWindow(), nullptr);
    EXPECT_FALSE(m_iterator->Init(m_view->GetHandle(), nullptr, nullptr, nullptr));
    EXPECT_EQ(m_iterator->GetFrameColour(), 0xFFC8D0D4u) << "the face colour, packed, with its flag byte";
}

// A wrong order is caught whichever locks come first; taking the same lock again and a preview's lock
// inside the preview lock are fine.
TEST(LockOrder, TheDocumentAndPreviewLocksAreNeverHeldTogether) {
    static std::vector<std::pair<TLockRank, TLockRank>> reported;
    reported.clear();
    LockOrder::SetViolationHandler(
        [](TLockRank held, TLockRank wanted) { reported.emplace_back(held, wanted); });
    using R = TLockRank;
    const struct {
        R first, second;
        bool allowed;
    } orders[] = {
        {R::kDocument, R::kPreviews, false}, {R::kPreviews, R::kDocument, false},
        {R::kPreview, R::kDocument, false},  {R::kDocument, R::kPreview, false},
        {R::kPreview, R::kPreviews, false},  {R::kPreviews, R::kPreview, true},
        {R::kDocument, R::kDocument, true},  {R::kPreviews, R::kPreviews, true},
    };
    TCritSection a, b;
    for (const auto& order : orders) {
        reported.clear();
        {
            TOrderedLock outer(a, order.first);
            TOrderedLock inner(b, order.second);
            EXPECT_EQ(LockOrder::HeldCount(order.second), order.first == order.second ? 2 : 1);
        }
        EXPECT_EQ(reported.empty(), order.allowed)
            << static_cast<int>(order.first) << " then " << static_cast<int>(order.second);
        if (!order.allowed) {
            ASSERT_EQ(reported.size(), 1u);
            EXPECT_EQ(reported[0], std::make_pair(order.first, order.second));
        }
        EXPECT_EQ(LockOrder::HeldCount(order.first), 0);
    }
    LockOrder::SetViolationHandler(nullptr);
}

} // namespace
