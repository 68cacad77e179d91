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

    // The item holds no reference on its owner: a worker holds one only while it handles the item (see
    // TThread), so items still waiting in a queue never make the owner's last release happen on the worker.
    // An owner therefore takes its items out of the queue before it goes (stopping or clearing its worker).
    void SetOwner(TBaseObject* owner) { m_owner = owner; }
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
