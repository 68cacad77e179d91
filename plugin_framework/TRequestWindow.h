// A hidden window that carries request records from worker threads to the user-interface thread that made
// it: any thread posts a record (the message holds a reference of its own, or, for a release, owns the
// plain record), and the window's handlers run on its thread. When the window goes, the records still
// queued for it are dropped (their requesters woken without an answer) and let go.
#pragma once

#include "IKvwMessage.h"
#include "TWindow.h"

#include "platform/kvtrtl/KvwHostTypes.h"

#include <atomic>

// A request that may wait for the host: the module's pre-dispatch completes it by item and request id.
class TCodecRequest : public TBaseObject {
public:
    // On the user-interface thread, when the host has completed the request for the item.
    virtual void Complete(KvwItemId item, DWORD requestId) = 0;
    // No completion will come (the window goes, or the module closes): a requester still waiting wakes.
    virtual void Drop() {}
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

    // The hidden window of the class, on the calling thread.
    bool Create(const TString& className);
    bool Destroy() override;

    // From any thread: the record goes with a reference of its own; false, with nothing kept, when the
    // window is gone.
    bool Post(UINT message, TCodecRequest* request);
    // From any thread: the message owns the record; it is deleted here when it cannot be posted.
    bool PostRelease(TArgsReleaseItem* release);
    // The calling thread is the window's, whose messages only it takes.
    bool IsOwnThread() const;
    // From any thread: the window is there to post to.
    bool CanPost() const { return m_target.load() != nullptr; }

    // The record of a message on one of the window's handlers, with the message's reference, which goes
    // when the handler is done with it.
    template <class Record>
    static TRefPtr<Record> AdoptRecord(const TMessageInfo* info) {
        return TRefPtr<Record>::Adopt(reinterpret_cast<Record*>(info->lParam));
    }

protected:
    // The handler of the release message: tells the host, through the record's requester, that nobody
    // waits for the item any more (0x10000012), and deletes the record.
    static LONG OnReleaseItem(TMessageInfo* info, void* context);

private:
    // Lets go of the records still queued for the window.
    void DropQueued();

    const UINT m_first, m_last, m_release;
    // Read by posting threads while the user-interface thread makes and destroys the window.
    std::atomic<HWND> m_target{nullptr};
    std::atomic<DWORD> m_thread{0};
};
