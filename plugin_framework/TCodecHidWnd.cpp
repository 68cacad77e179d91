#include "TCodecHidWnd.h"

#include "HostLink.h"

#include <algorithm>

namespace {

// Every part of an item's source data.
constexpr DWORD kAllSourceData = 0xFFFFFFFF;
// An item whose source data has this type and subtype is served by its preview, also for a full image.
constexpr DWORD kPreviewServedType = 0x1100;
constexpr DWORD kPreviewServedSubtype = 0x10000000;
// Request flags of the codec's image requests: progress notices and a completion.
constexpr KvwWord kProgressAndCompletion = 6;
constexpr KvwWord kImageRequestWord7 = 64;
// The flag of KvwPluginRequest::kMakeAvailable that asks the host to make the item available.
constexpr KvwWord kMakeAvailableFlag = 1;

} // namespace

bool TCodecHidWnd::Create() {
    if (!TRequestWindow::Create(L"CodecHidWnd"))
        return false;
    AddMessageHandler(kLoadFullImage, TMessageHandler{this, &TCodecHidWnd::OnLoadFullImage});
    AddMessageHandler(kGetTags, TMessageHandler{this, &TCodecHidWnd::OnGetTags});
    AddMessageHandler(kWriteImage, TMessageHandler{this, &TCodecHidWnd::OnWriteImage});
    AddMessageHandler(kGetSourceInfo, TMessageHandler{this, &TCodecHidWnd::OnGetSourceInfo});
    AddMessageHandler(kLoadPreview, TMessageHandler{this, &TCodecHidWnd::OnPreviewImage});
    AddMessageHandler(kReleaseItem, TMessageHandler{this, &TCodecHidWnd::OnReleaseItem});
    return true;
}

bool TCodecHidWnd::Destroy() {
    DropWaiters();
    return TRequestWindow::Destroy();
}

void TCodecHidWnd::SetContext(IKvwMessage* requester, IKvwItemService* items) {
    m_requester.store(requester);
    m_items = items;
    if (!items)
        DropWaiters();
}

void TCodecHidWnd::AddWaiter(DWORD requestId, KvwItemId item, TCodecRequest* request) {
    if (!request)
        return;
    auto& waiters = m_waiters[{requestId, item}];
    const bool waiting =
        std::any_of(waiters.begin(), waiters.end(),
                    [request](const TRefPtr<TCodecRequest>& w) { return w.Get() == request; });
    if (!waiting)
        waiters.emplace_back(request);
}

void TCodecHidWnd::RemoveWaiter(DWORD requestId, KvwItemId item, TCodecRequest* request) {
    auto it = m_waiters.find({requestId, item});
    if (it == m_waiters.end())
        return;
    auto& waiters = it->second;
    auto found = std::find_if(waiters.begin(), waiters.end(),
                              [request](const TRefPtr<TCodecRequest>& w) { return w.Get() == request; });
    if (found != waiters.end())
        waiters.erase(found);
    if (waiters.empty())
        m_waiters.erase(it);
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

bool TCodecHidWnd::StopWaiting(KvwItemId item) {
    bool waited = false;
    for (DWORD requestId : {KvwPluginRequest::kPreview, KvwPluginRequest::kFullImage}) {
        auto it = m_waiters.find({requestId, item});
        if (it == m_waiters.end())
            continue;
        std::erase_if(it->second, [](const TRefPtr<TCodecRequest>& w) { return !w->IsPending(); });
        if (it->second.empty())
            m_waiters.erase(it);
        else
            waited = true;
    }
    return !waited;
}

void TCodecHidWnd::OnProgress(KvwWord) {}

std::size_t TCodecHidWnd::WaiterCount() const {
    std::size_t count = 0;
    for (const auto& [key, waiters] : m_waiters)
        count += waiters.size();
    return count;
}

void TCodecHidWnd::DropWaiters() {
    auto waiters = std::move(m_waiters);
    m_waiters.clear();
    for (auto& [key, list] : waiters)
        for (TRefPtr<TCodecRequest>& request : list)
            request->Drop();
}

KvwResult TCodecHidWnd::SendImageRequest(DWORD requestId, const TArgsLoadImage& request, KvwWord flags) {
    IKvwMessage* requester = GetRequester();
    if (!requester)
        return kKvwInvalidArgument;
    const CKvwSizeRecord* size = request.GetWantedSize();
    const KvwItemId item = request.GetItemId();
    return requester->SendToHost(requestId, KvwItemIdLow(item), KvwItemIdHigh(item),
                                 reinterpret_cast<KvwWord>(size), size ? 1 : 0, size ? kKvwRecordSize : 0,
                                 flags, kImageRequestWord7, kKvwFrameworkRequestTag);
}

LONG TCodecHidWnd::OnLoadFullImage(TMessageInfo* info, void* context) {
    auto* window = static_cast<TCodecHidWnd*>(context);
    TRefPtr<TArgsLoadImage> request = AdoptRecord<TArgsLoadImage>(info);
    if (!request || !request->IsPending())
        return 1;
    IKvwItemService* items = window->m_items;
    if (!items) {
        request->Drop();
        return 1;
    }
    const KvwItemId item = request->GetItemId();
    CKvwSourceData source;
    if (KvwSucceeded(
            items->GetSourceData(KvwItemIdLow(item), KvwItemIdHigh(item), &source, kAllSourceData)) &&
        source.type == kPreviewServedType && source.subtype == kPreviewServedSubtype) {
        window->RequestPreview(*request);
        return 1;
    }
    window->AddWaiter(KvwPluginRequest::kFullImage, item, request.Get());
    request->SetItemService(items);
    // A full image already held at exactly the wanted size completes the request without the host.
    if (request->Fetch(items, true, TArgsLoadImage::Accept::kExactSize))
        window->ProcessComplete(item, KvwPluginRequest::kFullImage);
    else
        window->SendImageRequest(KvwPluginRequest::kFullImage, *request, kProgressAndCompletion);
    return 1;
}

LONG TCodecHidWnd::OnPreviewImage(TMessageInfo* info, void* context) {
    auto* window = static_cast<TCodecHidWnd*>(context);
    TRefPtr<TArgsLoadImage> request = AdoptRecord<TArgsLoadImage>(info);
    if (request && request->IsPending())
        window->RequestPreview(*request);
    return 1;
}

void TCodecHidWnd::RequestPreview(TArgsLoadImage& request) {
    if (!m_items) {
        request.Drop();
        return;
    }
    const KvwItemId item = request.GetItemId();
    AddWaiter(KvwPluginRequest::kPreview, item, &request);
    request.SetItemService(m_items);
    // A preview at least as large as wanted completes the request without the host, except for a page
    // that the design module renders: the host asks the module for it anew.
    if (!HostRequests::IsDesignPage(item) &&
        request.Fetch(m_items, false, TArgsLoadImage::Accept::kAtLeastSize))
        ProcessComplete(item, KvwPluginRequest::kPreview);
    else
        SendImageRequest(KvwPluginRequest::kPreview, request, kProgressAndCompletion);
}

LONG TCodecHidWnd::OnGetTags(TMessageInfo* info, void* context) {
    auto* window = static_cast<TCodecHidWnd*>(context);
    TRefPtr<TArgsGetTags> request = AdoptRecord<TArgsGetTags>(info);
    if (!request || !request->IsPending())
        return 1;
    IKvwItemService* items = window->m_items;
    IKvwMessage* requester = window->GetRequester();
    const KvwItemId item = request->GetItemId();
    IKvwItem* found = nullptr;
    if (items && !KvwSucceeded(items->GetItem(KvwItemIdLow(item), KvwItemIdHigh(item), &found)) &&
        requester) {
        // Made available, the item is asked for once more.
        requester->SendToHost(KvwPluginRequest::kMakeAvailable, KvwItemIdLow(item), KvwItemIdHigh(item), 0, 0,
                              0, kMakeAvailableFlag, 0, 0);
        items->GetItem(KvwItemIdLow(item), KvwItemIdHigh(item), &found);
    }
    request->Answer(found);
    return 1;
}

LONG TCodecHidWnd::OnWriteImage(TMessageInfo* info, void* context) {
    auto* window = static_cast<TCodecHidWnd*>(context);
    TRefPtr<TArgsSaveImage> request = AdoptRecord<TArgsSaveImage>(info);
    if (!request || !request->IsPending())
        return 1;
    IKvwMessage* requester = window->GetRequester();
    if (!requester || !window->m_items) {
        request->Finish(false);
        return 1;
    }
    const KvwItemId item = request->GetItemId();
    CKvwOutputData* output = request->BuildOutput();
    window->AddWaiter(KvwPluginRequest::kWriteImage, item, request.Get());
    const KvwResult answer =
        requester->SendToHost(KvwPluginRequest::kWriteImage, KvwItemIdLow(item), KvwItemIdHigh(item),
                              reinterpret_cast<KvwWord>(output), 1, kKvwRecordOutputData,
                              kProgressAndCompletion, 0, kKvwFrameworkRequestTag);
    // 1 (written) and the failures end the request now; any other answer leaves it to the completion.
    if (answer == kKvwHandled || !KvwSucceeded(answer)) {
        request->Finish(KvwSucceeded(answer));
        window->RemoveWaiter(KvwPluginRequest::kWriteImage, item, request.Get());
    }
    return 1;
}

LONG TCodecHidWnd::OnGetSourceInfo(TMessageInfo* info, void* context) {
    auto* window = static_cast<TCodecHidWnd*>(context);
    TRefPtr<TArgsSourceInfo> request = AdoptRecord<TArgsSourceInfo>(info);
    if (request)
        request->Answer(window->m_items);
    return 1;
}
