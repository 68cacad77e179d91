#include "TAsyncRenderer.h"

#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"

#include <memory>
#include <new>
#include <utility>

namespace {

// Sets the render lock again when a render is over, however it ends.
class RenderLockScope {
public:
    explicit RenderLockScope(TSyncEvent& lock) : m_lock(lock) { m_lock.Reset(); }
    ~RenderLockScope() { m_lock.Unlock(); }
    RenderLockScope(const RenderLockScope&) = delete;
    RenderLockScope& operator=(const RenderLockScope&) = delete;

private:
    TSyncEvent& m_lock;
};

} // namespace

TAsyncRenderer::TAsyncRenderer() : m_renderLock(true, true), m_cancelEvent(false, true) {}

TAsyncRenderer::~TAsyncRenderer() {
    m_worker.Stop(true);
    ReleaseRenderer();
}

void TAsyncRenderer::SetRendererFolder(const TFilePath& folder) {
    m_rendererFolder = folder;
}

void TAsyncRenderer::SetNotifyTarget(TAutoHandle* target) {
    m_notifyTarget.store(target);
}

bool TAsyncRenderer::GetRendererPath(TFilePath& location) {
    return ResolveRendererPath(L"renderer.rgb", location, m_rendererFolder);
}

TRefPtr<CRenderer> TAsyncRenderer::HoldBinding() const {
    std::lock_guard<std::mutex> guard(m_bindingLock);
    return TRefPtr<CRenderer>(m_renderer);
}

void TAsyncRenderer::Hold(CRenderer* binding) {
    CRenderer* previous = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_bindingLock);
        previous = std::exchange(m_renderer, binding);
    }
    if (previous)
        previous->Release();
}

void TAsyncRenderer::ReleaseRenderer() {
    Hold(nullptr);
}

bool TAsyncRenderer::Start(CRenderer* binding) {
    bool documentTaken = true;
    if (binding) {
        binding->AddRef();
        Hold(binding);
    } else {
        ReleaseRenderer();
        TFilePath location;
        CRenderer* created = GetRendererPath(location) ? CRenderer::Create(location) : nullptr;
        Hold(created);
        if (created && m_document)
            documentTaken = created->SetDocument(m_document, TString()) == 1;
    }
    if (!HoldBinding() || !documentTaken)
        return false;
    return m_worker.Start(&TAsyncRenderer::HandleRequest);
}

bool TAsyncRenderer::SetDocument(const TdocDocument* document, const TString& context) {
    m_document = document;
    TRefPtr<CRenderer> binding = HoldBinding();
    return !binding || binding->SetDocument(document, context) == 1;
}

bool TAsyncRenderer::RefreshDoc(const TdocDocument* document) {
    m_document = document;
    TRefPtr<CRenderer> binding = HoldBinding();
    return !binding || binding->RefreshDoc(document) == 1;
}

bool TAsyncRenderer::SetMediaContext(const TString& context) {
    TRefPtr<CRenderer> binding = HoldBinding();
    return !binding || binding->SetMediaContext(context) == 1;
}

void TAsyncRenderer::SetReady() {
    m_cancelled.store(false);
    m_cancelEvent.Reset();
    if (TRefPtr<CRenderer> binding = HoldBinding())
        binding->SetReady();
}

bool TAsyncRenderer::QueueRequest(TRndrData* request) {
    if (!request || m_cancelled.load() || WinSeams::RenderQueueRefuses())
        return false;
    request->SetOwner(this);
    request->m_messageCode = kRenderRequestMessage;
    request->m_finishNotice = static_cast<LONG>(kRenderFinishedMessage);
    request->m_notifyTarget = m_notifyTarget.load();
    TString pair;
    pair.Format(L"cancel_event=%llu",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&m_cancelEvent)));
    request->m_context += pair;
    return m_worker.Post(request, false);
}

bool TAsyncRenderer::IsIdle() const {
    return m_renderLock.Wait(0) == TSyncObject::kWaitSignalled;
}

bool TAsyncRenderer::Abort(bool wait) {
    m_cancelled.store(true);
    if (!HoldBinding())
        return true;
    m_cancelEvent.Unlock();
    if (wait && !IsIdle())
        m_renderLock.Wait(WinSeams::RenderAbortWait());
    return true;
}

bool TAsyncRenderer::Cancel(bool abort, bool wait) {
    m_worker.SetAccepting(false);
    m_worker.ClearQueue();
    if (abort)
        Abort(wait);
    m_worker.SetAccepting(true);
    return true;
}

bool TAsyncRenderer::Stop() {
    m_worker.SetAccepting(false);
    Abort(true);
    // A second stop finds no worker: the queue is left accepting, as the first stop left it, so that the
    // next Start takes requests again.
    if (!m_worker.Stop(true))
        m_worker.SetAccepting(true);
    // A worker that was let go sees so before it posts: once this lock was free, none is posting.
    { std::lock_guard<std::mutex> barrier(m_deliveryLock); }
    ReleaseRenderer();
    return true;
}

void TAsyncRenderer::HandleRequest(TThreadQueueData* item) {
    auto owned = TRefPtr<TThreadQueueData>::Adopt(item);
    auto* renderer = dynamic_cast<TAsyncRenderer*>(item->GetOwner());
    auto* request = dynamic_cast<TRndrData*>(item);
    if (renderer && request)
        renderer->RenderProc(static_cast<TRndrData*>(owned.Detach()));
}

void TAsyncRenderer::RenderProc(TRndrData* request) {
    auto owned = TRefPtr<TRndrData>::Adopt(request);
    TRefPtr<CRenderer> binding = HoldBinding();
    {
        RenderLockScope running(m_renderLock);
        RenderRequest(*request, binding.Get());
    }
    Deliver(std::move(owned));
}

void TAsyncRenderer::RenderRequest(TRndrData& request, CRenderer* binding) {
    if (m_cancelled.load() || !binding)
        return;
    LONG subscription = 0;
    binding->Subscribe(&TAsyncRenderer::OnNotice, &request, kRendrNoticeProgress, &subscription);
    request.m_result = binding->RenderPage(request.m_pageNumber - 1, request.m_context);
    if (m_cancelled.load())
        request.m_result = kRenderCancelled;
    binding->UnsubscribeAll(subscription);
}

void TAsyncRenderer::Deliver(TRefPtr<TRndrData> request) {
    if (PostNotice(*request, static_cast<UINT>(request->m_finishNotice),
                   reinterpret_cast<LPARAM>(request.Get())))
        request.Detach();
}

bool TAsyncRenderer::PostNotice(const TRndrData& request, UINT message, LPARAM value) {
    std::lock_guard<std::mutex> guard(m_deliveryLock);
    return !TThread::IsCurrentWorkerDetached() && request.m_notifyTarget &&
           request.m_notifyTarget->PostMessage(message, value);
}

void TAsyncRenderer::OnNotice(void* user, const RendrNotice* notice) {
    auto* request = static_cast<TRndrData*>(user);
    if (!request || !notice || notice->kind != kRendrNoticeProgress || !request->m_notifyTarget)
        return;
    auto* renderer = dynamic_cast<TAsyncRenderer*>(request->GetOwner());
    if (!renderer)
        return;
    renderer->PostProgress(*request, static_cast<DWORD>(notice->progress));
}

void TAsyncRenderer::PostProgress(const TRndrData& request, DWORD value) {
    std::lock_guard<std::mutex> guard(m_deliveryLock);
    if (!TThread::IsCurrentWorkerDetached() && request.m_notifyTarget)
        PostRenderProgress(*request.m_notifyTarget, value);
}

bool PostRenderProgress(const TAutoHandle& target, DWORD value) {
    auto progress = std::unique_ptr<DWORD>(new (std::nothrow) DWORD(value));
    if (!progress || !target.PostMessage(kRenderProgressMessage, reinterpret_cast<LPARAM>(progress.get())))
        return false;
    progress.release();
    return true;
}

std::optional<DWORD> TakeRenderProgress(LPARAM carried) {
    const std::unique_ptr<DWORD> progress(reinterpret_cast<DWORD*>(carried));
    if (!progress)
        return std::nullopt;
    return *progress;
}

bool TDBufAsyncRenderer::GetRendererPath(TFilePath& location) {
    return ResolveRendererPath(L"stateRenderer.rgb", location, GetRendererFolder());
}

void TDBufAsyncRenderer::RenderProc(TRndrData* request) {
    auto owned = TRefPtr<TRndrData>::Adopt(request);
    auto* buffered = dynamic_cast<TDBufRndrData*>(request);
    if (!buffered)
        return;
    TRefPtr<CRenderer> binding = HoldBinding();
    {
        // Reset before the start hook: from there to the end of the finish hook the renderer is busy.
        RenderLockScope running(RenderLock());
        if (buffered->m_startHook)
            buffered->m_startHook(buffered);
        RenderRequest(*buffered, binding.Get());
        if (buffered->m_finishHook)
            buffered->m_finishHook(buffered);
    }
    Deliver(std::move(owned));
}

void DrainRenderNotices(HWND window) {
    if (!window)
        return;
    MSG message;
    while (PeekMessageW(&message, window, kRenderFinishedMessage, kRenderFinishedMessage, PM_REMOVE)) {
        if (auto* request = reinterpret_cast<TRndrData*>(message.lParam))
            request->Release();
    }
    while (PeekMessageW(&message, window, kRenderProgressMessage, kRenderProgressMessage, PM_REMOVE))
        TakeRenderProgress(message.lParam);
}
