// The image-load manager of page rendering: whether an item's preview is loaded at a page's size, asked
// from a renderer's thread, the host's later notice handed to the subscribers, and what a cancel or an
// unsubscription leave.
#include "ImageTestSupport.h"

#include <mutex>
#include <set>
#include <tuple>

namespace {

// One notice a subscriber got: its context, the page id and item id, and whether it came on the
// user-interface thread.
struct Notice {
    void* context;
    LONG page;
    LONG item;
    bool onInterfaceThread;
};

std::mutex g_noticeLock;
std::vector<Notice> g_notices;
DWORD g_interfaceThread = 0;

void Record(void* context, LONG page, LONG item) {
    std::lock_guard<std::mutex> guard(g_noticeLock);
    g_notices.push_back(Notice{context, page, item, GetCurrentThreadId() == g_interfaceThread});
}

class ImageManager : public imagetest::ImageHostTest {
protected:
    void SetUp() override {
        ImageHostTest::SetUp();
        g_interfaceThread = GetCurrentThreadId();
        {
            std::lock_guard<std::mutex> guard(g_noticeLock);
            g_notices.clear();
        }
        manager = TImgLoadMng::Existing();
        ASSERT_NE(manager, nullptr);
        subscriber = manager->Subscribe(&Record, this);
        // Previews of 100 x 80, held only once the host was asked for them.
        CHostItemRecord item;
        item.id = kItem;
        item.previewWidth = 100;
        item.previewHeight = 80;
        m_host->AddItem(item);
    }
    void TearDown() override {
        manager.reset();
        ImageHostTest::TearDown();
    }
    // CheckImageState from a worker, as a renderer calls it.
    LONG Check(LONG width, LONG height, const wchar_t* id = L"77", const void* cancel = nullptr) {
        return OnWorker(
            [&] { return TImgLoadMng::CheckImageState(id, width, height, subscriber, 4, 9, cancel); });
    }
    // The same for another subscriber and box.
    LONG CheckAs(LONG who, LONG page, LONG item) {
        return OnWorker(
            [&] { return TImgLoadMng::CheckImageState(L"77", 100, 80, who, page, item, nullptr); });
    }
    std::size_t Notices() {
        std::lock_guard<std::mutex> guard(g_noticeLock);
        return g_notices.size();
    }

    static constexpr KvwItemId kItem = 77;
    std::shared_ptr<TImgLoadMng> manager;
    LONG subscriber = 0;
};

TEST_F(ImageManager, ACheckWithASideNotAboveZeroOrABadIdIsNotPossibleAndAsksNothing) {
    const std::tuple<LONG, LONG, const wchar_t*> cases[] = {{0, 80, L"77"},  {100, 0, L"77"},
                                                            {-5, 80, L"77"}, {100, 80, L"x77"},
                                                            {100, 80, L""},  {100, 80, nullptr}};
    for (const auto& [width, height, id] : cases)
        EXPECT_EQ(Check(width, height, id), TImgLoadMng::kNotPossible) << width << "x" << height;
    EXPECT_TRUE(m_host->Requests().empty());
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kIdle) << "nothing is recorded for it";
}

TEST_F(ImageManager, AnItemNotLoadedIsAskedOfTheHostAndItsSubscribersAreToldOnTheInterfaceThread) {
    EXPECT_EQ(Check(100, 80), TImgLoadMng::kNotLoaded);
    const auto requests = m_host->RequestsOf(KvwPluginRequest::kPreview);
    ASSERT_EQ(requests.size(), 1u);
    const auto& w = requests[0].words;
    EXPECT_EQ(w[0], kItem);
    EXPECT_EQ(w[3], 1u);
    EXPECT_EQ(w[4], kKvwRecordSize);
    EXPECT_EQ(w[5], 4u) << "a completion and no progress notices";
    EXPECT_EQ(w[6], 64u);
    EXPECT_EQ(w[7], kKvwFrameworkRequestTag);

    // The host's completion comes as an image-loaded notice that no codec request takes.
    ASSERT_TRUE(PumpUntil([&] { return Notices() == 1; }));
    {
        std::lock_guard<std::mutex> guard(g_noticeLock);
        EXPECT_EQ(g_notices[0].context, this);
        EXPECT_EQ(g_notices[0].page, 4);
        EXPECT_EQ(g_notices[0].item, 9);
        EXPECT_TRUE(g_notices[0].onInterfaceThread);
    }
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoadedState);

    // A loaded item is told about no more: its subscribers have their picture.
    Send(kKvwNotify_ImageLoaded, kItem, 0, 0, 0, 0, 0, KvwPluginRequest::kPreview);
    EXPECT_EQ(Notices(), 1u);
}

TEST_F(ImageManager, ALoadedItemAnswersASmallerAreaAtOnceAndAsksAgainForTheSameArea) {
    m_host->Items().Hold(kItem, false);
    EXPECT_EQ(Check(100, 80), TImgLoadMng::kLoaded) << "the host holds the preview already";
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoadedState);
    m_host->ClearRequests();
    EXPECT_EQ(Check(50, 40), TImgLoadMng::kLoaded);
    EXPECT_TRUE(m_host->Requests().empty()) << "a smaller area needs no look";
    EXPECT_EQ(WinUserTest::QueuedMessages(), 0u) << "and nothing was posted";
    // The same area is looked at again; a larger one too, which the held preview is too small for (and
    // which the host, asked, does not complete).
    m_host->SetAnswer(KvwPluginRequest::kPreview, kKvwOk);
    EXPECT_EQ(Check(100, 80), TImgLoadMng::kLoaded);
    EXPECT_EQ(Check(120, 80), TImgLoadMng::kNotLoaded);
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 1u) << "only the larger one asks the host";
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoading);
}

TEST_F(ImageManager, TheFirstWantedSizeOfAnItemIsTheOneLaterAreasAreComparedWith) {
    CHostItemRecord item;
    item.id = 78;
    item.previewWidth = item.previewHeight = 400;
    item.previewHeld = true;
    m_host->AddItem(item);
    m_host->SetAnswer(KvwPluginRequest::kPreview, kKvwOk); // asked, the host sends nothing
    EXPECT_EQ(Check(100, 100, L"78"), TImgLoadMng::kLoaded);
    EXPECT_EQ(Check(200, 200, L"78"), TImgLoadMng::kLoaded);
    // Now the host holds a preview of 120 x 120 only. 150 x 150 is smaller than the second check's area
    // but not than the first's, which the item keeps: it is looked at again, and the preview is too small.
    item.previewWidth = item.previewHeight = 120;
    m_host->AddItem(item);
    EXPECT_EQ(Check(150, 150, L"78"), TImgLoadMng::kNotLoaded);
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 1u);
}

TEST_F(ImageManager, AHostThatMakesThePreviewAtTheSizeCheckedLoadsTheItemForThatSizeAndNoLarger) {
    CHostItemRecord item;
    item.id = 79;
    item.source.width = 400;
    item.source.height = 300;
    item.fullPicture = std::make_shared<const CHostPicture>(CHostPicture::Pattern(400, 300, 3));
    m_host->AddItem(item);
    const struct {
        LONG width, height;
        LONG answer;
        std::size_t asked, notices;
        LONG heldWidth, heldHeight;
    } checks[] = {
        {100, 75, TImgLoadMng::kNotLoaded, 1, 1, 100, 75}, // none held: made at the size checked
        {100, 75, TImgLoadMng::kLoaded, 1, 1, 100, 75},    // the preview made is large enough
        {50, 40, TImgLoadMng::kLoaded, 1, 1, 100, 75},     // a smaller area, answered at once
        {200, 150, TImgLoadMng::kNotLoaded, 2, 2, 200, 150}, {120, 150, TImgLoadMng::kLoaded, 2, 2, 200, 150},
    };
    for (const auto& c : checks) {
        EXPECT_EQ(Check(c.width, c.height, L"79"), c.answer) << c.width << "x" << c.height;
        ASSERT_TRUE(PumpUntil([&] { return Notices() == c.notices; })) << c.width << "x" << c.height;
        EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), c.asked) << c.width << "x" << c.height;
        EXPECT_EQ(manager->GetState(79), TImgLoadMng::kLoadedState) << c.width << "x" << c.height;
        IKvwImage* held = nullptr;
        ASSERT_EQ(m_host->Items().GetPreviewImage(79, 0, &held, 0, nullptr), kKvwOk);
        EXPECT_EQ(std::make_pair(held->GetWidth(), held->GetHeight()),
                  std::make_pair(c.heldWidth, c.heldHeight))
            << c.width << "x" << c.height;
        held->Release();
    }
}

// A host may answer with a preview smaller than asked for. Asked again, it would answer the same, and the
// subscriber's redraw would ask again: after one answer for an area, that area is taken as loaded.
TEST_F(ImageManager, APreviewTheHostMakesSmallerThanAskedIsTakenAfterItsOneAnswer) {
    m_host->SetScript(KvwPluginRequest::kPreview, [this](const CHostRequest& request) {
        const auto* wanted = reinterpret_cast<const CKvwSizeRecord*>(request.words[2]);
        // Half the size asked for, held, and the completion.
        m_host->Items().MakePreview(kItem, CKvwSizeRecord{wanted->width / 2, wanted->height / 2});
        m_host->Items().Hold(kItem, false);
        return CHostReply{kKvwOk, {CScriptedHost::CompletionOf(request, KvwHostMessage::kImageLoaded)}};
    });
    const struct {
        LONG width, height;
        LONG answer;
        std::size_t asked, notices;
    } checks[] = {
        {100, 80, TImgLoadMng::kNotLoaded, 1, 1},  // asked; the host answers with 50 x 40
        {100, 80, TImgLoadMng::kLoaded, 1, 1},     // the redraw after the notice: taken as it is
        {100, 80, TImgLoadMng::kLoaded, 1, 1},     // and again
        {80, 100, TImgLoadMng::kLoaded, 1, 1},     // no larger an area
        {200, 160, TImgLoadMng::kNotLoaded, 2, 2}, // a larger area is asked for once more
        {200, 160, TImgLoadMng::kLoaded, 2, 2},
    };
    for (const auto& c : checks) {
        EXPECT_EQ(Check(c.width, c.height), c.answer) << c.width << "x" << c.height;
        ASSERT_TRUE(PumpUntil([&] { return Notices() == c.notices; })) << c.width << "x" << c.height;
        WinUserTest::PumpPending();
        EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), c.asked) << c.width << "x" << c.height;
        EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoadedState) << c.width << "x" << c.height;
    }
    IKvwImage* held = nullptr;
    ASSERT_EQ(m_host->Items().GetPreviewImage(KvwItemIdLow(kItem), 0, &held, 0, nullptr), kKvwOk);
    EXPECT_EQ(std::make_pair(held->GetWidth(), held->GetHeight()), std::make_pair(100, 80))
        << "the host's last answer, half of 200 x 160";
    held->Release();
}

TEST_F(ImageManager, UnsubscribingTheLastSubscriberMakesALoadingItemIdleAndItsNoticeTellsNobody) {
    m_host->SetAnswer(KvwPluginRequest::kPreview, kKvwOk); // the host never completes
    EXPECT_EQ(Check(100, 80), TImgLoadMng::kNotLoaded);
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoading);
    manager->Unsubscribe(subscriber);
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kIdle);
    Send(kKvwNotify_ImageLoaded, kItem, 0, 0, 0, 0, 0, KvwPluginRequest::kPreview);
    EXPECT_EQ(Notices(), 0u);
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kIdle) << "only a loading item becomes loaded";
    // The next check examines it afresh.
    const LONG other = manager->Subscribe(&Record, nullptr);
    EXPECT_EQ(CheckAs(other, 4, 9), TImgLoadMng::kNotLoaded);
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoading);
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 2u);
}

TEST_F(ImageManager, ASubscriberThatStaysHearsOfTheArrivalAfterAnotherUnsubscribed) {
    m_host->SetAnswer(KvwPluginRequest::kPreview, kKvwOk); // completed below, by hand
    int second = 0;
    const LONG stays = manager->Subscribe(&Record, &second);
    EXPECT_EQ(Check(100, 80), TImgLoadMng::kNotLoaded);
    EXPECT_EQ(CheckAs(stays, 6, 2), TImgLoadMng::kNotLoaded);
    manager->Unsubscribe(subscriber);
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoading) << "the second subscriber still waits";
    Send(kKvwNotify_ImageLoaded, kItem, 0, 0, 0, 0, 0, KvwPluginRequest::kPreview);
    EXPECT_EQ(manager->GetState(kItem), TImgLoadMng::kLoadedState);
    std::lock_guard<std::mutex> guard(g_noticeLock);
    ASSERT_EQ(g_notices.size(), 1u);
    EXPECT_EQ(g_notices[0].context, &second);
    EXPECT_EQ(std::make_pair(g_notices[0].page, g_notices[0].item), std::make_pair(6, 2));
}

TEST_F(ImageManager, EveryBoxASubscriberShowsAnItemInIsToldOfItsArrival) {
    m_host->SetAnswer(KvwPluginRequest::kPreview, kKvwOk);
    int other = 0;
    const LONG second = manager->Subscribe(&Record, &other);
    // Replicas: one item in three boxes of page 4, one of page 5, and (asked twice) once more; another
    // subscriber shows it in a box of its own.
    const struct {
        LONG subscriber, page, item;
    } checks[] = {{subscriber, 4, 9}, {subscriber, 4, 10}, {subscriber, 4, 11},
                  {subscriber, 5, 9}, {subscriber, 4, 10}, {second, 4, 9}};
    for (const auto& c : checks)
        EXPECT_EQ(CheckAs(c.subscriber, c.page, c.item), TImgLoadMng::kNotLoaded);
    Send(kKvwNotify_ImageLoaded, kItem, 0, 0, 0, 0, 0, KvwPluginRequest::kPreview);
    std::multiset<std::tuple<void*, LONG, LONG>> told,
        expected{{this, 4, 9}, {this, 4, 10}, {this, 4, 11}, {this, 5, 9}, {&other, 4, 9}};
    {
        std::lock_guard<std::mutex> guard(g_noticeLock);
        for (const Notice& notice : g_notices) {
            told.emplace(notice.context, notice.page, notice.item);
            EXPECT_TRUE(notice.onInterfaceThread);
        }
    }
    EXPECT_EQ(told, expected) << "each box once";
}

TEST_F(ImageManager, ACancelledCheckAnswersNotLoadedAndItsRequestStillReachesTheHost) {
    TSyncEvent cancel(true, true);
    // The worker's wait ends at once: this thread has not taken the manager's message yet.
    std::atomic<LONG> result{-1};
    std::thread worker(
        [&] { result = TImgLoadMng::CheckImageState(L"77", 100, 80, subscriber, 4, 9, &cancel); });
    worker.join();
    EXPECT_EQ(result.load(), TImgLoadMng::kNotLoaded);
    EXPECT_TRUE(m_host->Requests().empty());
    WinUserTest::PumpPending();
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 1u) << "the late handler still asks for the preview";
    ASSERT_TRUE(PumpUntil([&] { return Notices() == 1; })) << "and the item's subscribers hear of it";
}

TEST_F(ImageManager, ACheckOnTheInterfaceThreadIsAnsweredThereWithoutWaiting) {
    m_host->Items().Hold(kItem, false);
    EXPECT_EQ(TImgLoadMng::CheckImageState(L"77", 100, 80, subscriber, 4, 9, nullptr), TImgLoadMng::kLoaded);
    EXPECT_EQ(WinUserTest::QueuedMessages(), 0u);
}

TEST_F(ImageManager, ACallbackMayUnsubscribeItselfAndSubscribeAnother) {
    struct Context {
        std::shared_ptr<TImgLoadMng> manager;
        LONG self = 0;
        LONG added = 0;
        int calls = 0;
    } context{manager};
    context.self = manager->Subscribe(
        [](void* raw, LONG, LONG) {
            auto* c = static_cast<Context*>(raw);
            ++c->calls;
            c->manager->Unsubscribe(c->self);
            c->added = c->manager->Subscribe(&Record, nullptr);
        },
        &context);
    EXPECT_EQ(
        OnWorker([&] { return TImgLoadMng::CheckImageState(L"77", 100, 80, context.self, 4, 9, nullptr); }),
        TImgLoadMng::kNotLoaded);
    ASSERT_TRUE(PumpUntil([&] { return context.calls == 1; }));
    EXPECT_GT(context.added, context.self);
    EXPECT_EQ(Notices(), 0u) << "the new subscriber was not interested in the item";
}

} // namespace
