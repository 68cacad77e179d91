#include "TRequestWindow.h"

#include <memory>

bool TRequestWindow::Create(const TString& className) {
    if (!TWindow::Create(className, 0, TRect(0, 0, 0, 0), nullptr))
        return false;
    m_thread.store(GetCurrentThreadId());
    m_target.store(GetHandle());
    return true;
}

bool TRequestWindow::Destroy() {
    m_target.store(nullptr);
    if (IsOwnThread())
        DropQueued();
    return TWindow::Destroy();
}

bool TRequestWindow::Post(UINT message, TCodecRequest* request) {
    const HWND target = m_target.load();
    if (!request || !target)
        return false;
    request->AddRef();
    if (PostMessageW(target, message, 0, reinterpret_cast<LPARAM>(request)) == TRUE)
        return true;
    request->Release();
    return false;
}

bool TRequestWindow::PostRelease(TArgsReleaseItem* release) {
    const HWND target = m_target.load();
    if (release && target && PostMessageW(target, m_release, 0, reinterpret_cast<LPARAM>(release)) == TRUE)
        return true;
    delete release;
    return false;
}

bool TRequestWindow::IsOwnThread() const {
    return m_thread.load() == GetCurrentThreadId();
}

void TRequestWindow::DropQueued() {
    const HWND window = GetHandle();
    if (!window)
        return;
    MSG message;
    while (PeekMessageW(&message, window, m_first, m_last, PM_REMOVE)) {
        if (message.message == m_release) {
            delete reinterpret_cast<TArgsReleaseItem*>(message.lParam);
        } else if (auto* request = reinterpret_cast<TCodecRequest*>(message.lParam)) {
            request->Drop();
            request->Release();
        }
    }
}

LONG TRequestWindow::OnReleaseItem(TMessageInfo* info, void*) {
    std::unique_ptr<TArgsReleaseItem> release(reinterpret_cast<TArgsReleaseItem*>(info->lParam));
    if (release && release->requester)
        release->requester->SendToHost(KvwPluginRequest::kStopWaiting, KvwItemIdLow(release->item),
                                       KvwItemIdHigh(release->item), 0, 0, 0, 0, 0, kKvwFrameworkRequestTag);
    return 1;
}
