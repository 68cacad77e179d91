#include "CScriptRenderer.h"

#include "RendrContext.h"

#include <algorithm>
#include <chrono>

CScriptRenderer& CScriptRenderer::Instance() {
    static auto* script = new CScriptRenderer;
    return *script;
}

CScriptRenderer::CScriptRenderer() : m_latch(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

void CScriptRenderer::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
    m_results.clear();
    m_renderers.clear();
    m_block = RenderBlock::kNone;
    m_notices.clear();
    m_blockedRenders = 0;
    ResetEvent(m_latch);
    m_subscriptions.Clear();
}

void CScriptRenderer::SetResult(const std::string& entry, LONG result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_results[entry] = result;
}

void CScriptRenderer::SetRenderBlock(RenderBlock block) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_block = block;
}

void CScriptRenderer::SetRenderNotices(std::vector<Notice> notices) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_notices = std::move(notices);
}

void CScriptRenderer::OpenLatch() {
    SetEvent(m_latch);
}

bool CScriptRenderer::WaitForBlockedRenders(int count, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_blocked.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [&] { return m_blockedRenders >= count; });
}

std::vector<ScriptCall> CScriptRenderer::Calls() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

int CScriptRenderer::Count(const std::string& entry) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(),
                                          [&](const ScriptCall& call) { return call.entry == entry; }));
}

std::vector<std::string> CScriptRenderer::Entries() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> entries;
    for (const ScriptCall& call : m_calls)
        entries.push_back(call.entry);
    return entries;
}

int CScriptRenderer::LiveRenderers() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_renderers.size());
}

std::size_t CScriptRenderer::LiveSubscriptions() const {
    return m_subscriptions.Count();
}

LONG CScriptRenderer::Record(const std::string& entry, RendrHandle renderer, LONG number,
                             const wchar_t* text) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back(ScriptCall{entry, GetCurrentThreadId(), renderer, number, text ? text : L""});
    auto it = m_results.find(entry);
    return it == m_results.end() ? 1 : it->second;
}

LONG CScriptRenderer::Startup() {
    return Record("rendrStartup", kRendrNoHandle, 0, nullptr);
}

LONG CScriptRenderer::Shutdown() {
    return Record("rendrShutdown", kRendrNoHandle, 0, nullptr);
}

LONG CScriptRenderer::CreateRenderer(RendrHandle* renderer) {
    const LONG result = Record("rendrCreateRenderer", kRendrNoHandle, 0, nullptr);
    if (result == 1 && renderer) {
        std::lock_guard<std::mutex> guard(m_lock);
        *renderer = ++m_lastRenderer;
        m_renderers[*renderer] = true;
    }
    return result;
}

LONG CScriptRenderer::SetDocument(RendrHandle renderer, DocHandle document, const wchar_t* context) {
    return Record("rendrSetDocument", renderer, static_cast<LONG>(document), context);
}

LONG CScriptRenderer::RefreshDoc(RendrHandle renderer, DocHandle document) {
    return Record("rendrRefreshDoc", renderer, static_cast<LONG>(document), nullptr);
}

LONG CScriptRenderer::RenderPage(RendrHandle renderer, LONG pageIndex, const wchar_t* context) {
    const LONG result = Record("rendrRenderPage", renderer, pageIndex, context);
    std::vector<Notice> notices;
    RenderBlock block;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        notices = m_notices;
        block = m_block;
    }
    for (const Notice& scripted : notices) {
        RendrNotice notice{};
        notice.kind = scripted.kind;
        notice.progress = scripted.progress;
        m_subscriptions.Notify(notice, scripted.delivery);
    }
    const void* cancelEvent = RendrContext(context).Address(L"cancel_event");
    if (block != RenderBlock::kNone) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_blockedRenders;
        }
        m_blocked.notify_all();
        const HANDLE cancel = RendrSyncObjectHandle(cancelEvent);
        const HANDLE objects[] = {m_latch, cancel};
        const DWORD count = block == RenderBlock::kLatchOrCancel && cancel ? 2 : 1;
        WaitForMultipleObjects(count, objects, FALSE, kBlockLimit);
    }
    Record("render returned", renderer, RendrIsCancelled(cancelEvent) ? 1 : 0, nullptr);
    return result;
}

LONG CScriptRenderer::Answer(const char* entry, RendrHandle renderer, const wchar_t* text) {
    return Record(entry, renderer, 0, text);
}

LONG CScriptRenderer::ReleaseHandle(RendrHandle renderer) {
    const LONG result = Record("rendrReleaseHandle", renderer, 0, nullptr);
    std::lock_guard<std::mutex> guard(m_lock);
    m_renderers.erase(renderer);
    return result;
}

LONG CScriptRenderer::Subscribe(RendrNotifyProc notify, void* user, LONG kind, LONG* subscription) {
    const LONG result = Record("subscrSubscribe", kRendrNoHandle, kind, nullptr);
    if (result == 1)
        m_subscriptions.Subscribe(notify, user, kind, subscription);
    return result;
}

LONG CScriptRenderer::SubscriptionCall(const char* entry, LONG subscription, LONG kind) {
    return Record(entry, kRendrNoHandle, subscription, nullptr);
}

LONG CScriptRenderer::UnsubscribeAll(LONG subscription) {
    const LONG result = Record("subscrUnsubscribeAll", kRendrNoHandle, subscription, nullptr);
    m_subscriptions.UnsubscribeAll(subscription);
    return result;
}
