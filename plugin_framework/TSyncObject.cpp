#include "TSyncObject.h"

#include <algorithm>
#include <new>

TCritSection& GlobalSyncLock() {
    // Never destroyed: objects that live until the module unloads still take it in their destructors.
    alignas(TCritSection) static unsigned char storage[sizeof(TCritSection)];
    static TCritSection* lock = new (storage) TCritSection;
    return *lock;
}

TSyncObject::~TSyncObject() {
    if (m_hObject)
        CloseHandle(m_hObject);
}

LONG TSyncObject::ToWaitCode(DWORD result) {
    if (result == WAIT_OBJECT_0)
        return kWaitSignalled;
    if (result == WAIT_TIMEOUT)
        return kWaitTimedOut;
    if (result == WAIT_ABANDONED_0)
        return kWaitAbandoned;
    return kWaitFailed;
}

void TSyncObject::NotifyReset() {
    TGlobalSyncGuard guard;
    // A subscriber may unsubscribe while it is told; the copy keeps the walk valid.
    const std::vector<TSubscriber*> subscribers = m_subscribers;
    for (TSubscriber* subscriber : subscribers)
        subscriber->OnReset(this);
}

LONG TSyncObject::Lock(DWORD timeout) {
    if (!m_hObject)
        return kWaitNoHandle;
    NotifyReset();
    return Wait(timeout);
}

bool TSyncObject::Unlock() {
    if (!m_hObject)
        return false;
    TGlobalSyncGuard guard;
    if (!Signal())
        return false;
    const std::vector<TSubscriber*> subscribers = m_subscribers;
    for (TSubscriber* subscriber : subscribers) {
        if (std::find(m_subscribers.begin(), m_subscribers.end(), subscriber) == m_subscribers.end())
            continue;
        if (subscriber->OnSignal(this)) {
            const std::vector<TSubscriber*> others = m_subscribers;
            for (TSubscriber* other : others)
                other->OnReset(this);
            break;
        }
    }
    return true;
}

LONG TSyncObject::Wait(DWORD timeout) {
    if (!m_hObject)
        return kWaitNoHandle;
    return ToWaitCode(WaitForSingleObject(m_hObject, timeout));
}

bool TSyncObject::Subscribe(TSubscriber* subscriber) {
    if (!subscriber)
        return false;
    TGlobalSyncGuard guard;
    // A signal that is already there is offered at once. The poll takes it, so it is put back first; it
    // is a plain wait, since telling the other subscribers of a reset would be untrue a moment later.
    if (m_hObject && Wait(0) == kWaitSignalled) {
        Signal();
        subscriber->OnSignal(this);
    }
    m_subscribers.push_back(subscriber);
    return true;
}

bool TSyncObject::Unsubscribe(TSubscriber* subscriber) {
    TGlobalSyncGuard guard;
    auto it = std::find(m_subscribers.begin(), m_subscribers.end(), subscriber);
    if (it != m_subscribers.end())
        m_subscribers.erase(it);
    return true;
}

TCritSection::TCritSection() {
    InitializeCriticalSection(&m_section);
}

TCritSection::~TCritSection() {
    DeleteCriticalSection(&m_section);
}

LONG TCritSection::Lock(DWORD) {
    EnterCriticalSection(&m_section);
    return kWaitSignalled;
}

bool TCritSection::Unlock() {
    LeaveCriticalSection(&m_section);
    return true;
}

LONG TCritSection::Wait(DWORD) {
    EnterCriticalSection(&m_section);
    return kWaitSignalled;
}

bool TCritSection::Signal() {
    LeaveCriticalSection(&m_section);
    return true;
}

TSyncEvent::TSyncEvent() : TSyncEvent(true, false) {}

TSyncEvent::TSyncEvent(bool initiallySignalled, bool manualReset) {
    m_hObject = CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, nullptr);
}

TSyncEvent::~TSyncEvent() {
    // A notification running on another thread may still be reading this event.
    TGlobalSyncGuard guard;
}

bool TSyncEvent::Signal() {
    return m_hObject && SetEvent(m_hObject) != FALSE;
}

bool TSyncEvent::Reset() {
    if (!m_hObject)
        return false;
    TGlobalSyncGuard guard;
    NotifyReset();
    return ResetEvent(m_hObject) != FALSE;
}

TSyncSemaphore::TSyncSemaphore() {
    m_hObject = CreateSemaphoreA(nullptr, 0, kMaximumCount, nullptr);
}

bool TSyncSemaphore::Signal() {
    return m_hObject && ReleaseSemaphore(m_hObject, 1, nullptr) != FALSE;
}
