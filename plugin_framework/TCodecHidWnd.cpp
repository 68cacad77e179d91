#include "TCodecHidWnd.h"

bool TCodecHidWnd::Create() {
    return TWindow::Create(L"CodecHidWnd", 0, TRect(0, 0, 0, 0), nullptr);
}

void TCodecHidWnd::AddWaiter(DWORD requestId, KvwItemId item, TCodecRequest* request) {
    if (request)
        m_waiters[{requestId, item}].emplace_back(request);
}

bool TCodecHidWnd::ProcessComplete(KvwItemId item, DWORD requestId) {
    if (requestId != KvwPluginRequest::kPreview && requestId != KvwPluginRequest::kFullImage &&
        requestId != KvwPluginRequest::kWriteImage)
        return false;
    auto it = m_waiters.find({requestId, item});
    if (it == m_waiters.end() || it->second.empty())
        return false;
    // Taken out before any waiter runs: a waiter may add new ones for the same item.
    std::deque<TRefPtr<TCodecRequest>> completed;
    if (requestId == KvwPluginRequest::kWriteImage) {
        completed.push_back(std::move(it->second.front()));
        it->second.pop_front();
        if (it->second.empty())
            m_waiters.erase(it);
    } else {
        completed.swap(it->second);
        m_waiters.erase(it);
    }
    for (TRefPtr<TCodecRequest>& request : completed)
        request->Complete(item, requestId);
    return true;
}

void TCodecHidWnd::OnProgress(KvwWord) {}

std::size_t TCodecHidWnd::WaiterCount() const {
    std::size_t count = 0;
    for (const auto& [key, waiters] : m_waiters)
        count += waiters.size();
    return count;
}
