// A hidden window that carries request records from worker threads to the user-interface thread that made
// it: any thread posts a record (the window keeps a reference of its own, or, for a release, the plain
// record, until a handler takes it), and the window's handlers run on its thread. The records posted and
// not yet taken are dropped (their requesters woken without an answer) and let go when the window is
// destroyed or its object goes, also when their messages never reach a handler (the window's thread
// ended, or the window went another way).
#pragma once

#include "IKvwMessage.h"
#include "TWindow.h"

#include "platform/kvtrtl/KvwHostTypes.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

// A request that may wait for the host: the module's pre-dispatch completes it by item and request id.
class TCodecRequest : public TBaseObject {
public:
    // On the user-interface thread, when the host has completed the request for the item.
    virtual void Complete(KvwItemId item, DWORD requestId) = 0;
    // No completion will come (the window goes, or the module closes): a requester still waiting wakes.
    virtual void Drop() {}
    // Its requester still waits for it.
    virtual bool IsPending() const { return true; }
};

// What a release message carries: not counted, deleted by its handler (or when the window goes).
struct TArgsReleaseItem {
    KvwItemId item;
    IKvwMessage* requester;
};

class TRequestWindow : public TWindow {
public:
    // Records travel as messages first .. last; release is the one among them that carries a release.
    TRequestWindow(UINT first, UINT last, UINT release) : m_first(first), m_last(last), m_release(release) {}
    ~TRequestWindow() override;

    // The hidden window of the class, on the calling thread.
    bool Create(const TString& className);
    bool Destroy() override;

    // From any thread: the record goes with a reference of its own; false, with nothing kept, when the
    // window is gone.
    bool Post(UINT message, TCodecRequest* request);
    // From any thread: the window owns the record from here on; it is deleted now when it cannot be
    // posted.
    bool PostRelease(TArgsReleaseItem* release);
    // The calling thread is the window's, whose messages only it takes.
    bool IsOwnThread() const;
    // From any thread: the window is there to post to.
    bool CanPost() const { return m_target.load() != nullptr; }

    // The record of a message on one of the window's handlers, with the window's reference, which goes
    // when the handler is done with it; null when the record was let go already.
    template <class Record>
    static TRefPtr<Record> AdoptRecord(const TMessageInfo* info) {
        return TRefPtr<Record>::Adopt(static_cast<Record*>(TakePosted(info)));
    }

protected:
    // The handler of the release message: unless StopWaiting answers false, tells the host, through the
    // record's requester, that nobody waits for the item any more (KvwPluginRequest::kStopWaiting); deletes
    // the record.
    static LONG OnReleaseItem(TMessageInfo* info, void* context);
    // On the window's thread, when a requester of the item has stopped waiting for it: whether nobody else
    // waits for the item, so that the host may stop. True unless the window keeps waiters of its own.
    virtual bool StopWaiting(KvwItemId item);

private:
    // What one posted message carries: a counted request or a release record.
    struct Posted {
        TRefPtr<TCodecRequest> request;
        std::unique_ptr<TArgsReleaseItem> release;
    };

    // Registers the record under a new ticket (the message's wParam) and posts it; false, with the record
    // taken back, when the window is gone or the post fails.
    bool PostPosted(UINT message, Posted posted, LPARAM record);
    // The message's entry, taken out of the window's (whose handle the message names); empty when it was
    // let go already or belongs to no such window.
    static Posted TakeEntry(const TMessageInfo* info);
    static TCodecRequest* TakePosted(const TMessageInfo* info);
    // Removes the messages still queued for the window (its own thread only) and lets go of every entry.
    void DropQueued();

    const UINT m_first, m_last, m_release;
    std::mutex m_postedLock; // m_posted, m_lastTicket, and m_target as posts read it
    std::map<WPARAM, Posted> m_posted;
    WPARAM m_lastTicket = 0;
    // Read by posting threads while the user-interface thread makes and destroys the window.
    std::atomic<HWND> m_target{nullptr};
    std::atomic<DWORD> m_thread{0};
};
