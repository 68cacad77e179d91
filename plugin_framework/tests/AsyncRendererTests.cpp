// The asynchronous renderers against the scripted library: the test thread is the user-interface thread
// and pumps its messages while the worker renders.
#include "RendererTestSupport.h"

#include "plugin_framework/TAsyncRenderer.h"

#include "platform/renderers/CScriptRenderer.h"
#include "platform/win/WinSeams.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"
#include "testing/TraceCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using rendertest::Folder;
using rendertest::Library;
using rendertest::LoadsOf;
using rendertest::ProbeRequest;
using Block = CScriptRenderer::RenderBlock;
using Delivery = RendrSubscriptions::Delivery;

constexpr DWORD kDeadline = 10000;

CScriptRenderer& Script() {
    return CScriptRenderer::Instance();
}

// The position of the first call of the entry in the log, or -1.
int PositionOf(const std::vector<std::string>& entries, const std::string& entry) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == entry)
            return static_cast<int>(i);
    }
    return -1;
}

class AsyncRendering : public ::testing::Test {
protected:
    void SetUp() override {
        Script().Reset();
        m_threadsBefore = WinKernelTest::RunningThreads();
    }
    void TearDown() override {
        Script().OpenLatch();
        EXPECT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::RunningThreads() == m_threadsBefore; }))
            << "a render worker is still running";
        WinSeams::ResetAll();
        Script().Reset();
    }

    // A renderer of the kind over the scripted libraries, with the window as its notification target.
    template <class Renderer = TAsyncRenderer>
    Renderer* Make() {
        auto* renderer = new Renderer;
        renderer->SetRendererFolder(Folder("script"));
        renderer->SetNotifyTarget(window.Target());
        return renderer;
    }
    // Queues a counted request for the page and drops the test's reference.
    bool Queue(TAsyncRenderer& renderer, LONG page) {
        auto* request = new ProbeRequest(destroyed, page);
        request->m_context = L"iProImg=1;";
        const bool queued = renderer.QueueRequest(request);
        request->Release();
        return queued;
    }
    // A started renderer whose render of page 1 blocks as told, with the pages up to the count waiting.
    TAsyncRenderer* Blocked(Block block, LONG pages) {
        Script().SetRenderBlock(block);
        TAsyncRenderer* renderer = Make();
        EXPECT_TRUE(renderer->Start(nullptr));
        for (LONG page = 1; page <= pages; ++page)
            EXPECT_TRUE(Queue(*renderer, page));
        EXPECT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
        return renderer;
    }
    bool PumpUntilFinished(std::size_t count) {
        return WinUserTest::PumpUntil([&] { return window.finished.size() >= count; }, kDeadline);
    }

    kvtest::Watchdog watchdog{"asynchronous rendering"};
    rendertest::NoticeWindow window;
    std::atomic<int> destroyed{0};
    DWORD m_threadsBefore = 0;
};

TEST_F(AsyncRendering, StartKeepsTheCallersBindingWithOneReferenceMore) {
    CRenderer* binding = CRenderer::Create(Library("script", "RGBRenderer.so"));
    ASSERT_NE(binding, nullptr);
    TAsyncRenderer* renderer = Make();
    ASSERT_TRUE(renderer->Start(binding));
    EXPECT_EQ(binding->GetRefCount(), 2);
    EXPECT_FALSE(renderer->Start(binding)) << "a second worker";
    ASSERT_TRUE(Queue(*renderer, 1));
    ASSERT_TRUE(PumpUntilFinished(1));
    EXPECT_EQ(window.finished[0].result, 1);
    EXPECT_TRUE(renderer->Stop());
    EXPECT_EQ(binding->GetRefCount(), 1);
    renderer->Release();
    EXPECT_EQ(Script().Count("rendrShutdown"), 0) << "the caller's binding is still the caller's";
    binding->Release();
    EXPECT_EQ(Script().Count("rendrStartup"), 1);
    EXPECT_EQ(Script().Count("rendrShutdown"), 1);
}

TEST_F(AsyncRendering, ADocumentSetBeforeStartReachesTheDefaultBinding) {
    kvtest::TempFolder folder;
    ASSERT_EQ(docStartup(), 1);
    std::unique_ptr<TdocDocument> document = rendertest::OnePageDocument(folder);
    ASSERT_NE(document, nullptr);

    TAsyncRenderer* renderer = Make();
    EXPECT_TRUE(renderer->SetDocument(document.get(), L"ldf_file_name=one.ldf;")) << "nothing bound yet";
    EXPECT_TRUE(Script().Entries().empty());
    ASSERT_TRUE(renderer->Start(nullptr));
    const std::vector<ScriptCall> calls = Script().Calls();
    ASSERT_EQ(Script().Entries(),
              (std::vector<std::string>{"rendrStartup", "rendrCreateRenderer", "rendrSetDocument"}));
    EXPECT_EQ(static_cast<DocHandle>(calls[2].number), document->GetHandle());
    EXPECT_EQ(calls[2].text, L"") << "given with an empty document context";
    renderer->Stop();
    renderer->Release();

    // A library that refuses the document fails the start.
    Script().Reset();
    Script().SetResult("rendrSetDocument", 0);
    renderer = Make();
    renderer->SetDocument(document.get(), L"");
    EXPECT_FALSE(renderer->Start(nullptr));
    renderer->Stop();
    renderer->Release();
    EXPECT_EQ(Script().Count("rendrShutdown"), 1);
    document.reset();
    docShutdown();
}

TEST_F(AsyncRendering, StartFailsWithoutALibraryAndLeavesNothingLoaded) {
    const struct {
        const char* what;
        std::string folder;
        LONG createResult;
    } cases[] = {
        {"a folder without renderers", "script/nowhere", 1},
        {"a library without subscrUnsubscribeAll", "script-without-unsubscribe-all", 1},
        {"a library that makes no instance", "script", 0},
    };
    for (const auto& c : cases) {
        Script().Reset();
        Script().SetResult("rendrCreateRenderer", c.createResult);
        TAsyncRenderer* renderer = Make();
        renderer->SetRendererFolder(Folder(c.folder));
        EXPECT_FALSE(renderer->Start(nullptr)) << c.what;
        renderer->Release();
        EXPECT_EQ(LoadsOf(Library(c.folder, "RGBRenderer.so")), 0u) << c.what;
        EXPECT_EQ(Script().Count("rendrStartup"), Script().Count("rendrShutdown")) << c.what;
    }
}

TEST_F(AsyncRendering, TheWorkerRendersAndNotifiesWhileTheCallersThreadSetsUp) {
    Script().SetRenderNotices({{kRendrNoticeProgress, 40, Delivery::kSubscribedKinds},
                               {3, 99, Delivery::kEverySubscription},
                               {kRendrNoticeProgress, 77, Delivery::kEverySubscriptionWithoutUser}});
    TAsyncRenderer* renderer = Make();
    ASSERT_TRUE(renderer->Start(nullptr));
    EXPECT_TRUE(renderer->SetMediaContext(L"preview=1"));
    renderer->SetReady();
    ASSERT_TRUE(Queue(*renderer, 2));
    ASSERT_TRUE(PumpUntilFinished(1));
    WinUserTest::PumpPending();
    EXPECT_EQ(window.progress, std::vector<DWORD>{40})
        << "other kinds and notices without a request are ignored";
    ASSERT_EQ(window.finished.size(), 1u);
    EXPECT_EQ(window.finished[0].page, 2);
    EXPECT_EQ(window.finished[0].result, 1);
    EXPECT_EQ(window.finished[0].references, 1) << "the worker's reference, passed to the receiver";
    renderer->Stop();
    renderer->Release();

    const DWORD ui = GetCurrentThreadId();
    DWORD worker = 0;
    for (const ScriptCall& call : Script().Calls()) {
        if (call.entry == "rendrRenderPage") {
            worker = call.thread;
            EXPECT_EQ(call.number, 1) << "pages count from 1, the library's from 0";
            EXPECT_EQ(call.text.rfind(L"iProImg=1;cancel_event=", 0), 0u);
        }
    }
    ASSERT_NE(worker, 0u);
    EXPECT_NE(worker, ui);
    for (const ScriptCall& call : Script().Calls()) {
        const bool onWorker = call.entry == "subscrSubscribe" || call.entry == "rendrRenderPage" ||
                              call.entry == "subscrUnsubscribeAll" || call.entry == "render returned";
        EXPECT_EQ(call.thread, onWorker ? worker : ui) << call.entry;
        if (call.entry == "subscrSubscribe") {
            EXPECT_EQ(call.number, static_cast<LONG>(kRendrNoticeProgress));
        }
    }
    EXPECT_EQ(Script().LiveSubscriptions(), 0u) << "each render unsubscribes";
}

TEST_F(AsyncRendering, ACancelDuringARenderPostsItOnceAsCancelledAndDropsTheWaitingRequests) {
    TAsyncRenderer* renderer = Blocked(Block::kLatchOrCancel, 3);
    EXPECT_FALSE(renderer->IsIdle());

    EXPECT_TRUE(renderer->Cancel(true, false));
    ASSERT_TRUE(PumpUntilFinished(1));
    EXPECT_EQ(window.finished[0].page, 1);
    EXPECT_EQ(window.finished[0].result, kRenderCancelled);
    EXPECT_EQ(destroyed, 3) << "pages 2 and 3 released unrendered, page 1 by the receiver";
    EXPECT_FALSE(Queue(*renderer, 4)) << "refused until SetReady";
    EXPECT_EQ(destroyed, 4);

    Script().SetRenderBlock(Block::kNone);
    renderer->SetReady();
    ASSERT_TRUE(Queue(*renderer, 5));
    ASSERT_TRUE(PumpUntilFinished(2));
    WinUserTest::PumpPending();
    ASSERT_EQ(window.finished.size(), 2u) << "the cancelled render is posted once";
    EXPECT_EQ(window.finished[1].page, 5);
    EXPECT_EQ(window.finished[1].result, 1);
    EXPECT_EQ(Script().Count("rendrRenderPage"), 2);
    const std::vector<ScriptCall> calls = Script().Calls();
    EXPECT_EQ(calls[static_cast<std::size_t>(PositionOf(Script().Entries(), "render returned"))].number, 1)
        << "the library saw the cancel event";
    renderer->Stop();
    renderer->Release();
}

TEST_F(AsyncRendering, ARequestTakenAfterAnAbortIsPostedUnrendered) {
    TAsyncRenderer* renderer = Blocked(Block::kLatchOnly, 2);
    EXPECT_TRUE(renderer->Abort(false));
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntilFinished(2));
    EXPECT_EQ(window.finished[0].result, kRenderCancelled);
    EXPECT_EQ(window.finished[1].page, 2);
    EXPECT_EQ(window.finished[1].result, -1) << "no render took place";
    EXPECT_EQ(Script().Count("rendrRenderPage"), 1);
    renderer->Stop();
    renderer->Release();
}

TEST_F(AsyncRendering, AnAbortThatWaitsReturnsAtOnceWhenIdleAndGivesUpOnARenderThatGoesOn) {
    // A wait that really waited this long would meet the watchdog.
    WinSeams::SetRenderAbortWait(kDeadline * 10);
    TAsyncRenderer* renderer = Make();
    EXPECT_TRUE(renderer->Abort(true)) << "nothing bound";
    ASSERT_TRUE(renderer->Start(nullptr));
    EXPECT_TRUE(renderer->IsIdle());
    EXPECT_TRUE(renderer->Abort(true));
    EXPECT_FALSE(Queue(*renderer, 1));

    WinSeams::SetRenderAbortWait(20);
    renderer->SetReady();
    Script().SetRenderBlock(Block::kLatchOnly);
    ASSERT_TRUE(Queue(*renderer, 2));
    ASSERT_TRUE(Script().WaitForBlockedRenders(1, kDeadline));
    EXPECT_TRUE(renderer->Abort(true));
    EXPECT_FALSE(renderer->IsIdle()) << "the abort gave up and the render goes on";
    Script().OpenLatch();
    ASSERT_TRUE(PumpUntilFinished(1));
    EXPECT_EQ(window.finished[0].result, kRenderCancelled);
    renderer->Stop();
    renderer->Release();
}

// The worker holds the binding while it renders: a stop that gives up on it neither shuts the library down
// nor frees it under the render, and the worker, let go, posts nothing and releases what it holds.
TEST_F(AsyncRendering, AStopThatGivesUpKeepsTheLibraryUntilTheWorkerIsDone) {
    kvtest::TraceCapture trace;
    WinSeams::SetRenderAbortWait(20);
    WinSeams::SetThreadStopWait(20);
    TAsyncRenderer* renderer = Blocked(Block::kLatchOnly, 2);

    EXPECT_TRUE(renderer->Stop());
    EXPECT_EQ(trace.Count("left to end by itself"), 1);
    EXPECT_EQ(destroyed, 1) << "the waiting request is dropped";
    EXPECT_EQ(Script().Count("rendrReleaseHandle"), 0);
    EXPECT_EQ(Script().Count("rendrShutdown"), 0);
    EXPECT_EQ(LoadsOf(Library("script", "RGBRenderer.so")), 1u) << "the worker's binding holds the library";
    renderer->Release();

    Script().OpenLatch();
    ASSERT_TRUE(kvtest::WaitUntil([] { return Script().Count("rendrShutdown") == 1; }));
    ASSERT_TRUE(kvtest::WaitUntil([&] { return destroyed == 2; })) << "the render's request is released";
    const std::vector<std::string> entries = Script().Entries();
    EXPECT_LT(PositionOf(entries, "render returned"), PositionOf(entries, "rendrReleaseHandle"));
    EXPECT_LT(PositionOf(entries, "rendrReleaseHandle"), PositionOf(entries, "rendrShutdown"));
    EXPECT_TRUE(kvtest::WaitUntil([] { return LoadsOf(Library("script", "RGBRenderer.so")) == 0; }))
        << "the library goes with the binding's last reference";
    WinUserTest::PumpPending();
    EXPECT_TRUE(window.finished.empty()) << "a worker that was let go posts nothing";
}

TEST_F(AsyncRendering, EveryFinishedRequestArrivesWithOneReferenceForTheReceiver) {
    TAsyncRenderer* renderer = Make();
    ASSERT_TRUE(renderer->Start(nullptr));
    constexpr LONG kRequests = 6;
    for (LONG page = 1; page <= kRequests; ++page)
        ASSERT_TRUE(Queue(*renderer, page));
    ASSERT_TRUE(PumpUntilFinished(kRequests));
    for (LONG i = 0; i < kRequests; ++i) {
        EXPECT_EQ(window.finished[static_cast<std::size_t>(i)].page, i + 1) << "in queue order";
        EXPECT_EQ(window.finished[static_cast<std::size_t>(i)].references, 1);
    }
    EXPECT_EQ(destroyed, kRequests);
    renderer->Stop();
    renderer->Release();
}

TEST_F(AsyncRendering, AnInjectedRefusalTurnsAwayOneRequestAfterTheCountedOnes) {
    TAsyncRenderer* renderer = Make();
    ASSERT_TRUE(renderer->Start(nullptr));
    WinSeams::RefuseRenderRequest(1);
    const bool queued[] = {Queue(*renderer, 1), Queue(*renderer, 2), Queue(*renderer, 3)};
    EXPECT_TRUE(queued[0]);
    EXPECT_FALSE(queued[1]) << "the second one is refused";
    EXPECT_TRUE(queued[2]) << "the refusal is used up";
    ASSERT_TRUE(PumpUntilFinished(2));
    EXPECT_EQ(window.finished[1].page, 3);
    EXPECT_EQ(destroyed, 3) << "the refused request stays the caller's, who lets it go";
    renderer->Stop();
    renderer->Release();
}

TEST_F(AsyncRendering, ARendererStoppedTwiceTakesRequestsAgainOnceStartedAndReady) {
    TAsyncRenderer* renderer = Make();
    for (std::size_t round = 1; round <= 2; ++round) {
        ASSERT_TRUE(renderer->Start(nullptr));
        renderer->SetReady();
        EXPECT_TRUE(Queue(*renderer, static_cast<LONG>(round))) << "round " << round;
        ASSERT_TRUE(PumpUntilFinished(round));
        renderer->Stop();
        renderer->Stop();
    }
    renderer->Release();
}

// What cannot be posted is released on the worker: the request, and the progress value of its notices.
TEST_F(AsyncRendering, RequestsAndNoticesWithoutAWindowToTakeThemLeakNothing) {
    Script().SetRenderNotices({{kRendrNoticeProgress, 50, Delivery::kSubscribedKinds}});
    TAsyncRenderer* renderer = Make();
    ASSERT_TRUE(renderer->Start(nullptr));

    window.Destroy();
    ASSERT_TRUE(Queue(*renderer, 1));
    ASSERT_TRUE(kvtest::WaitUntil([&] { return destroyed == 1; }));

    renderer->SetNotifyTarget(nullptr);
    ASSERT_TRUE(Queue(*renderer, 2));
    ASSERT_TRUE(kvtest::WaitUntil([&] { return destroyed == 2; }));
    renderer->Stop();
    renderer->Release();
    WinUserTest::PumpPending();
    EXPECT_TRUE(window.finished.empty());
    EXPECT_TRUE(window.progress.empty());
    EXPECT_EQ(Script().Count("rendrRenderPage"), 2);
}

// Hooks of the double-buffered renderer note what they see in the object that queued the request.
class HookLog : public TBaseObject {
public:
    TDBufAsyncRenderer* renderer = nullptr;
    std::vector<std::string> events;
    std::vector<bool> idle;
};

void Record(TDBufRndrData* request, const char* hook) {
    auto* log = static_cast<HookLog*>(request->m_iterator);
    log->events.push_back(std::string(hook) + " after " + std::to_string(Script().Count("rendrRenderPage")));
    log->idle.push_back(log->renderer->IsIdle());
}

TEST_F(AsyncRendering, TheDoubleBufferedFormIsBusyFromItsStartHookToTheEndOfItsFinishHook) {
    auto* log = new HookLog;
    TDBufAsyncRenderer* renderer = Make<TDBufAsyncRenderer>();
    log->renderer = renderer;
    TFilePath location;
    ASSERT_TRUE(renderer->GetRendererPath(location));
    EXPECT_NE(std::wstring(location.GetPath()).find(L"/script/StateRenderer.dll"), std::wstring::npos);
    ASSERT_TRUE(renderer->Start(nullptr));

    // A plain request is not the double-buffered form's: dropped unrendered and unposted.
    ASSERT_TRUE(Queue(*renderer, 1));
    ASSERT_TRUE(kvtest::WaitUntil([&] { return destroyed == 1; }));

    auto* request = new rendertest::CountedRequest<TDBufRndrData>(destroyed, 2);
    request->m_startHook = [](TDBufRndrData* r) { Record(r, "start"); };
    request->m_finishHook = [](TDBufRndrData* r) { Record(r, "finish"); };
    request->m_iterator = log;
    ASSERT_TRUE(renderer->QueueRequest(request));
    request->Release();
    ASSERT_TRUE(PumpUntilFinished(1));
    EXPECT_EQ(window.finished[0].page, 2);
    EXPECT_EQ(log->events, (std::vector<std::string>{"start after 0", "finish after 1"}));
    EXPECT_EQ(log->idle, (std::vector<bool>{false, false}));
    EXPECT_TRUE(renderer->IsIdle());
    EXPECT_EQ(Script().Count("rendrRenderPage"), 1);
    renderer->Stop();
    renderer->Release();
    log->Release();
}

// The progress value rides allocated from the worker to the window and is taken there with its own type:
// every value of the word arrives as it was posted, whatever its top bit.
TEST(RenderProgressMessage, EveryPostedValueArrivesUnchanged) {
    rendertest::NoticeWindow window;
    const std::vector<DWORD> values = {0, 1, 40, 100, 255, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (DWORD value : values)
        ASSERT_TRUE(PostRenderProgress(*window.Target(), value));
    WinUserTest::PumpPending();
    EXPECT_EQ(window.progress, values);
}

TEST(RenderProgressMessage, APostWithoutAWindowAndADrainedQueueKeepNothing) {
    TAutoHandle nowhere;
    EXPECT_FALSE(PostRenderProgress(nowhere, 40));
    EXPECT_FALSE(TakeRenderProgress(0).has_value());

    rendertest::NoticeWindow window;
    for (DWORD value : {10u, 20u, 30u})
        ASSERT_TRUE(PostRenderProgress(*window.Target(), value));
    DrainRenderNotices(window.GetHandle());
    WinUserTest::PumpPending();
    EXPECT_TRUE(window.progress.empty()) << "the drained values reached the window";
}

} // namespace
