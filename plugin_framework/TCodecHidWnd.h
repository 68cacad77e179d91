// The module's hidden window for the codec's requests to the host ("CodecHidWnd"). Codecs on any thread post
// their request records to it; its handlers ask the host on the user-interface thread, and the records
// that wait for the host's completion are kept per request id and item, where the module's pre-dispatch
// finds them: every full-image or preview waiter of an item completes at once, output waiters one at a
// time, oldest first. An image waiter whose requester stopped waiting (its load was cancelled) leaves when
// its release arrives; the host hears that nobody waits only when no other image waiter of the item is left.
#pragma once

#include "TImageRequests.h"
#include "TRequestWindow.h"

#include <atomic>
#include <deque>
#include <map>
#include <utility>

class TCodecHidWnd : public TRequestWindow {
public:
    static constexpr UINT kLoadFullImage = 0xB428; // TArgsLoadImage
    static constexpr UINT kGetTags = 0xB429;       // TArgsGetTags
    static constexpr UINT kWriteImage = 0xB42A;    // TArgsSaveImage
    static constexpr UINT kGetSourceInfo = 0xB42B; // TArgsSourceInfo
    static constexpr UINT kLoadPreview = 0xB42C;   // TArgsLoadImage
    static constexpr UINT kReleaseItem = 0xB42D;   // TArgsReleaseItem

    TCodecHidWnd() : TRequestWindow(kLoadFullImage, kReleaseItem, kReleaseItem) {}

    // The window, registered as "CodecHidWnd" for this module, with its handlers.
    bool Create();
    // Drops the waiters, then the window.
    bool Destroy() override;

    // The module object that sends the requests and the item service they are asked of (null values, when
    // the module closes, drop every waiter: no completion will reach them).
    void SetContext(IKvwMessage* requester, IKvwItemService* items);
    // From any thread.
    IKvwMessage* GetRequester() const { return m_requester.load(); }

    // The request waits (holding a reference) for the completion of requestId (KvwPluginRequest::kPreview,
    // kFullImage or kWriteImage) for the item; a request already waiting there is not added again.
    void AddWaiter(DWORD requestId, KvwItemId item, TCodecRequest* request);
    void RemoveWaiter(DWORD requestId, KvwItemId item, TCodecRequest* request);
    // The host completed requestId for the item: every preview or full-image waiter of the item completes,
    // or the oldest output waiter. True when a waiter was there.
    bool ProcessComplete(KvwItemId item, DWORD requestId);
    // Progress of the host (KvwHostMessage::kProgress); the framework does nothing with it.
    void OnProgress(KvwWord data);
    std::size_t WaiterCount() const;

protected:
    // Drops the image waiters of the item whose requesters no longer wait; true when none is left.
    bool StopWaiting(KvwItemId item) override;

private:
    static LONG OnLoadFullImage(TMessageInfo* info, void* context);
    static LONG OnPreviewImage(TMessageInfo* info, void* context);
    static LONG OnGetTags(TMessageInfo* info, void* context);
    static LONG OnWriteImage(TMessageInfo* info, void* context);
    static LONG OnGetSourceInfo(TMessageInfo* info, void* context);

    // The preview request of a pending record (also the full-image request of an item served by its
    // preview).
    void RequestPreview(TArgsLoadImage& request);
    // The record words of an image request: the wanted size, or none.
    KvwResult SendImageRequest(DWORD requestId, const TArgsLoadImage& request, KvwWord flags);
    void DropWaiters();

    std::map<std::pair<DWORD, KvwItemId>, std::deque<TRefPtr<TCodecRequest>>> m_waiters;
    std::atomic<IKvwMessage*> m_requester{nullptr};
    IKvwItemService* m_items = nullptr;
};
