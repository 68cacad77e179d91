// A work item of a worker thread's queue: reference-counted, with a process-wide id, a message code
// (kThreadQuitMessage ends the worker), a result the handler fills in, the window message that announces
// the item is done, the object whose handler processes it and the target of that announcement.
#pragma once

#include "TBaseObject.h"

class TAutoHandle;

// The message code of the item that ends a worker thread.
constexpr LONG kThreadQuitMessage = 45203;

class TThreadQueueData : public TBaseObject {
public:
    TThreadQueueData();
    ~TThreadQueueData() override;

    // The owner is held with a reference for as long as the item lives, so that a worker still handling
    // the item keeps its owner (and what the owner keeps loaded) alive even after a stop gave up on it.
    void SetOwner(TBaseObject* owner);
    TBaseObject* GetOwner() const { return m_owner; }

    DWORD GetId() const { return m_id; }

    LONG m_messageCode = -1;
    LONG m_result = -1;
    LONG m_finishNotice = -1;
    TAutoHandle* m_notifyTarget = nullptr;

private:
    const DWORD m_id;
    TBaseObject* m_owner = nullptr;
};
