// Pages rendered off the user-interface thread: one renderer binding and one worker that renders the
// queued requests one after another and posts each finished one to the caller's notification window
// (kRenderFinishedMessage, the request in the second parameter, for the receiver to release). While a page
// renders, the library's progress notices arrive there as kRenderProgressMessage, whose value the
// receiver takes with TakeRenderProgress. A cancel event, whose address each request's context carries, stops
// a running render; the render lock is reset while a render runs.
//
// The worker holds the renderer and its binding while it renders, so neither goes under a render, whoever
// drops them meanwhile. A request that cannot be posted (no target, a window that is gone, or a worker
// that a stop gave up waiting for) is released on the worker, with any progress value.
#pragma once

#include "CRenderer.h"
#include "TAutoHandle.h"
#include "TBaseObject.h"
#include "TFilePath.h"
#include "TRndrData.h"
#include "TSyncObject.h"
#include "TThread.h"
#include "TdocObject.h"

#include <atomic>
#include <mutex>
#include <optional>

// The message code that marks a render request on the worker's queue (never posted).
constexpr LONG kRenderRequestMessage = 46114;
// Posted to the notification window when a queued request has been rendered (or skipped after a cancel).
constexpr UINT kRenderFinishedMessage = 46115;
// Posted to the notification window with each progress notice of the renderer library; the value rides
// allocated, so it is posted with PostRenderProgress and taken with TakeRenderProgress only.
constexpr UINT kRenderProgressMessage = 46127;
// A request's result when its render was cancelled while it ran.
constexpr LONG kRenderCancelled = 10;

// Posts kRenderProgressMessage with the value to the target's window; when the post fails nothing stays
// allocated and the answer is false.
bool PostRenderProgress(const TAutoHandle& target, DWORD value);
// The value that a kRenderProgressMessage carries (its second parameter), freed; none for a message that
// carries none.
std::optional<DWORD> TakeRenderProgress(LPARAM carried);

// Takes the renderer's notices still queued for a notification window off its queue, releasing each
// finished request and deleting each progress value, so a window that goes leaks none of them.
void DrainRenderNotices(HWND window);

class TAsyncRenderer : public TBaseObject {
public:
    TAsyncRenderer();
    // Stops the worker first, then lets go of the binding.
    ~TAsyncRenderer() override;

    // On the worker: renders the request, whose reference it takes over.
    virtual void RenderProc(TRndrData* request);
    // The location of the default library ("renderer.rgb" in the renderer folder).
    virtual bool GetRendererPath(TFilePath& location);

    void SetRendererFolder(const TFilePath& folder);
    void SetNotifyTarget(TAutoHandle* target);
    // With a binding, keeps it (adding a reference); without, binds the default library and gives it the
    // document set before, if any. Then starts the worker. False when there is no binding afterwards, the
    // stored document was refused, or the worker did not start.
    bool Start(CRenderer* binding);
    // Stores the document; true without a binding, else whether the library took it.
    bool SetDocument(const TdocDocument* document, const TString& context);
    bool RefreshDoc(const TdocDocument* document);
    bool SetMediaContext(const TString& context);
    // Accepts requests again after a cancel: the flag and the cancel event are cleared.
    void SetReady();
    // Refused (false) after a cancel until SetReady, when the worker does not take it, or when a test has
    // WinSeams refuse it. Otherwise the request is marked as this renderer's, its context gets the pair
    // "cancel_event" (no ';' after it) and it waits at the back of the queue. The caller keeps its own
    // reference.
    bool QueueRequest(TRndrData* request);
    // No render is running.
    bool IsIdle() const;
    // Refuses further requests until SetReady and signals the cancel event; with wait, waits for a running
    // render for at most WinSeams::RenderAbortWait() and gives up silently. Always true.
    bool Abort(bool wait);
    // Releases the waiting requests unrendered and, with abort, aborts the running render. Always true.
    bool Cancel(bool abort, bool wait);
    // Aborts with waiting, stops the worker (waiting for it for WinSeams::ThreadStopWait()) and lets go of
    // the binding. A worker that outlives the stop posts nothing more. Always true.
    bool Stop();
    void ReleaseRenderer();

protected:
    // The binding with a reference of the caller's, or null.
    TRefPtr<CRenderer> HoldBinding() const;
    // Runs the render itself unless cancelled: subscribed to the progress notices, the result set, 10 when
    // cancelled meanwhile, unsubscribed.
    void RenderRequest(TRndrData& request, CRenderer* binding);
    // Posts the finished request to its target, or releases it.
    void Deliver(TRefPtr<TRndrData> request);
    TSyncEvent& RenderLock() { return m_renderLock; }
    const TFilePath& GetRendererFolder() const { return m_rendererFolder; }

private:
    // Takes over a reference of the binding (or null) and lets go of the one held before.
    void Hold(CRenderer* binding);
    static void HandleRequest(TThreadQueueData* item);
    static void OnNotice(void* user, const RendrNotice* notice);
    // Posts unless the worker was let go; under the delivery lock, which Stop takes once the worker is
    // stopped or let go, so no post starts after Stop returns.
    bool PostNotice(const TRndrData& request, UINT message, LPARAM value);
    // The same for a progress value.
    void PostProgress(const TRndrData& request, DWORD value);

    mutable std::mutex m_bindingLock; // over m_renderer
    CRenderer* m_renderer = nullptr;
    const TdocDocument* m_document = nullptr;
    TThread m_worker;
    std::atomic<bool> m_cancelled{false};
    // Manual-reset, signalled while no render runs; only waited for, never taken, so IsIdle can look.
    mutable TSyncEvent m_renderLock;
    TSyncEvent m_cancelEvent;
    std::atomic<TAutoHandle*> m_notifyTarget{nullptr};
    TFilePath m_rendererFolder;
    std::mutex m_deliveryLock;
};

// The double-buffered form: binds "stateRenderer.rgb" and renders only TDBufRndrData requests, running
// their start hook before and their finish hook after the render, both on the worker and both while the
// render lock is reset, so the renderer is not idle from the start hook to the end of the finish hook.
class TDBufAsyncRenderer : public TAsyncRenderer {
public:
    void RenderProc(TRndrData* request) override;
    bool GetRendererPath(TFilePath& location) override;
};
