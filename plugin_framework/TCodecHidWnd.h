// The module's hidden window for image requests to the host. Requests are made on the user-interface
// thread and wait here, per item and request id, for the host's completion, which the module's
// pre-dispatch hands over; completions of one item and request id reach their waiters oldest first.
#pragma once

#include "TWindow.h"

#include "platform/kvtrtl/KvwHostTypes.h"

#include <deque>
#include <map>
#include <utility>

// A request that waits for the host to complete it.
class TCodecRequest : public TBaseObject {
public:
    // On the user-interface thread, when the host has completed the request for the item.
    virtual void Complete(KvwItemId item, DWORD requestId) = 0;
};

class TCodecHidWnd : public TWindow {
public:
    // The hidden window of class "CodecHidWnd" (registered for this module).
    bool Create();

    // The request waits (holding a reference) for the completion of requestId (KvwPluginRequest::kPreview,
    // kFullImage or kWriteImage) for the item.
    void AddWaiter(DWORD requestId, KvwItemId item, TCodecRequest* request);
    // The host completed requestId for the item: every preview or full-image waiter of the item completes,
    // or the oldest output waiter. True when a waiter was there.
    bool ProcessComplete(KvwItemId item, DWORD requestId);
    // Progress of the host (message 0x20000201); the framework does nothing with it.
    void OnProgress(KvwWord data);
    std::size_t WaiterCount() const;

private:
    std::map<std::pair<DWORD, KvwItemId>, std::deque<TRefPtr<TCodecRequest>>> m_waiters;
};
