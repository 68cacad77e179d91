#include "TRequestWindow.h"

#include <utility>

TRequestWindow::~TRequestWindow() {
    m_target.store(nullptr);
    DropQueued();
}

bool TRequestWindow::Create(const TString& className) {
    if (!TWindow::Create(className, 0, TRect(0, 0, 0, 0), nullptr))
        return false;
    m_thread.store(GetCurrentThreadId());
    std::lock_guard<std::mutex> guard(m_postedLock);
    m_target.store(GetHandle());
    return true;
}

bool TRequestWindow::Destroy() {
    {
        // A post that found the window registered its record before this, and is let go below.
        std::lock_guard<std::mutex> guard(m_postedLock);
        m_target.store(nullptr);
    }
    DropQueued();
    return TWindow::Destroy();
}

bool TRequestWindow::Post(UINT message, TCodecRequest* request) {
    if (!request)
        return false;
    Posted posted;
    posted.request = TRefPtr<TCodecRequest>(request);
    return PostPosted(message, std::move(posted), reinterpret_cast<LPARAM>(request));
}

bool TRequestWindow::PostRelease(TArgsReleaseItem* release) {
    if (!release)
        return false;
    Posted posted;
    posted.release.reset(release);
    return PostPosted(m_release, std::move(posted), reinterpret_cast<LPARAM>(release));
}

bool TRequestWindow::PostPosted(UINT message, Posted posted, LPARAM record) {
    HWND target;
    WPARAM ticket;
    {
        std::lock_guard<std::mutex> guard(m_postedLock);
        target = m_target.load();
        if (!target)
            return false;
        ticket = ++m_lastTicket;
        m_posted.emplace(ticket, std::move(posted));
    }
    if (PostMessageW(target, message, ticket, record) == TRUE)
        return true;
    // Unless the window went meanwhile and took the record with it, it is let go here.
    Posted failed;
    {
        std::lock_guard<std::mutex> guard(m_postedLock);
        auto it = m_posted.find(ticket);
        if (it != m_posted.end()) {
            failed = std::move(it->second);
            m_posted.erase(it);
        }
    }
    return false;
}

TRequestWindow::Posted TRequestWindow::TakeEntry(const TMessageInfo* info) {
    auto* window = info ? dynamic_cast<TRequestWindow*>(FromHandle(info->hwnd)) : nullptr;
    Posted taken;
    if (!window)
        return taken;
    std::lock_guard<std::mutex> guard(window->m_postedLock);
    auto it = window->m_posted.find(info->wParam);
    // The ticket and the record must both match: a message of a record let go already names nothing.
    if (it == window->m_posted.end())
        return taken;
    const LPARAM record = it->second.request ? reinterpret_cast<LPARAM>(it->second.request.Get())
                                             : reinterpret_cast<LPARAM>(it->second.release.get());
    if (record != info->lParam)
        return taken;
    taken = std::move(it->second);
    window->m_posted.erase(it);
    return taken;
}

TCodecRequest* TRequestWindow::TakePosted(const TMessageInfo* info) {
    return TakeEntry(info).request.Detach();
}

bool TRequestWindow::IsOwnThread() const {
    return m_thread.load() == GetCurrentThreadId();
}

void TRequestWindow::DropQueued() {
    const HWND window = GetHandle();
    MSG message;
    while (window && IsOwnThread() && PeekMessageW(&message, window, m_first, m_last, PM_REMOVE)) {
        // The message only goes: its record is among the entries let go below.
    }
    std::map<WPARAM, Posted> left;
    {
        std::lock_guard<std::mutex> guard(m_postedLock);
        left.swap(m_posted);
    }
    for (auto& [ticket, posted] : left) {
        if (posted.request)
            posted.request->Drop();
    }
}

LONG TRequestWindow::OnReleaseItem(TMessageInfo* info, void*) {
    auto* window = info ? dynamic_cast<TRequestWindow*>(FromHandle(info->hwnd)) : nullptr;
    const std::unique_ptr<TArgsReleaseItem> release = std::move(TakeEntry(info).release);
    if (release && window && window->StopWaiting(release->item) && release->requester)
        release->requester->SendToHost(KvwPluginRequest::kStopWaiting, KvwItemIdLow(release->item),
                                       KvwItemIdHigh(release->item), 0, 0, 0, 0, 0, kKvwFrameworkRequestTag);
    return 1;
}

bool TRequestWindow::StopWaiting(KvwItemId) {
    return true;
}
