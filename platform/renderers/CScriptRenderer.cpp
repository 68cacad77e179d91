#include "CScriptRenderer.h"

#include "RendrContext.h"

#include "platform/zizoraz/zIzoRaz.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace {

// Fills the target's invalid rectangle (the whole target without one) with the colour; false when the
// target cannot be drawn into.
bool PaintTarget(const RendrContext& context, DWORD colour) {
    LONG target = 0, width = 0, height = 0;
    if (!context.Long(L"iProImg", target) ||
        iproGetImageSize(static_cast<IproHandle>(target), &width, &height) != 1)
        return false;
    LONG left = 0, top = 0, right = width, bottom = height;
    if (context.Has(L"page_invalidRect_left") &&
        (!context.Long(L"page_invalidRect_left", left) || !context.Long(L"page_invalidRect_top", top) ||
         !context.Long(L"page_invalidRect_right", right) ||
         !context.Long(L"page_invalidRect_bottom", bottom)))
        return false;
    IproHandle canvas = kIproNoHandle;
    if (iproCreateCanvasFromImage(static_cast<IproHandle>(target), &canvas) != 1)
        return false;
    const bool filled = iproFillRectangle(canvas, static_cast<float>(left), static_cast<float>(top),
                                          static_cast<float>(right - left), static_cast<float>(bottom - top),
                                          colour, IPRO_FILL_COPY) == 1;
    iproReleaseHandle(canvas);
    return filled;
}

} // namespace

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
    m_times.clear();
    m_nextTime = 0;
    m_paint = false;
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

void CScriptRenderer::SetRenderTimes(std::vector<DWORD> milliseconds) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_times = std::move(milliseconds);
    m_nextTime = 0;
}

void CScriptRenderer::SetPaintPages(bool paint) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_paint = paint;
}

DWORD CScriptRenderer::PageColour(LONG pageIndex) {
    static constexpr std::array<DWORD, 8> kColours = {0xFF2040E0, 0xFF30A040, 0xFFC03020, 0xFF10C0E0,
                                                      0xFFA020A0, 0xFF808000, 0xFF0060FF, 0xFF6080A0};
    const std::size_t index = static_cast<std::size_t>(pageIndex < 0 ? -(pageIndex + 1) : pageIndex);
    return kColours[index % kColours.size()];
}

DWORD CScriptRenderer::NextRenderTime() {
    if (m_times.empty())
        return 0;
    const DWORD time = m_times[m_nextTime % m_times.size()];
    ++m_nextTime;
    return time;
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
    DWORD time = 0;
    bool paint = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        notices = m_notices;
        block = m_block;
        time = NextRenderTime();
        paint = m_paint;
    }
    for (const Notice& scripted : notices) {
        RendrNotice notice{};
        notice.kind = scripted.kind;
        notice.progress = scripted.progress;
        m_subscriptions.Notify(notice, scripted.delivery);
    }
    const RendrContext parsed(context);
    const void* cancelEvent = parsed.Address(L"cancel_event");
    if (time > 0) {
        const HANDLE cancel = RendrSyncObjectHandle(cancelEvent);
        const HANDLE objects[] = {m_latch, cancel};
        WaitForMultipleObjects(cancel ? 2 : 1, objects, FALSE, time);
    }
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
    const bool cancelled = RendrIsCancelled(cancelEvent);
    if (paint && !cancelled)
        Record("render painted", renderer, PaintTarget(parsed, PageColour(pageIndex)) ? 1 : 0, nullptr);
    Record("render returned", renderer, cancelled ? 1 : 0, nullptr);
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
