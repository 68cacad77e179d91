// The framework's synchronisation objects over the kernel's: a common interface (lock, unlock, wait,
// signal) for critical sections, events and semaphores, with subscribers that are told, under one
// process-wide lock, when an object is signalled or reset. Nothing ever waits while holding that lock.
#pragma once

#include "platform/win/WinKernel.h"
#include "platform/win/wintypes.h"

#include <vector>

class TSyncObject;

// Told about an object's signal and reset. OnSignal answers whether the subscriber took the signal.
// Both run with GlobalSyncLock held and must not wait.
class TSubscriber {
public:
    virtual ~TSubscriber() = default;
    virtual void OnReset(TSyncObject* object) = 0;
    virtual bool OnSignal(TSyncObject* object) = 0;
};

class TSyncObject {
public:
    // Wait codes.
    static constexpr LONG kWaitNoHandle = 0;
    static constexpr LONG kWaitSignalled = 1;
    static constexpr LONG kWaitTimedOut = 2;
    static constexpr LONG kWaitAbandoned = 3;
    static constexpr LONG kWaitFailed = -1;

    TSyncObject() = default;
    TSyncObject(const TSyncObject&) = delete;
    TSyncObject& operator=(const TSyncObject&) = delete;
    virtual ~TSyncObject();

    // Tells the subscribers the object is being taken, then waits; a successful wait on an event or a
    // semaphore consumes its signal.
    virtual LONG Lock(DWORD timeout = INFINITE);
    // Signals and offers the signal to the subscribers; false without a handle or when the signal
    // failed (a semaphore at its maximum), and then nobody is told anything.
    virtual bool Unlock();
    virtual LONG Wait(DWORD timeout);
    virtual bool Signal() = 0;

    bool CallUnlock() { return Unlock(); }
    bool Subscribe(TSubscriber* subscriber);
    bool Unsubscribe(TSubscriber* subscriber);

    HANDLE GetHandle() const { return m_hObject; }

    // The wait code of a kernel wait result.
    static LONG ToWaitCode(DWORD result);

protected:
    void NotifyReset();

    // Stays the first field: renderer libraries read it through the object's address.
    HANDLE m_hObject = 0;
    std::vector<TSubscriber*> m_subscribers;
};

// A recursive lock owned by the entering thread. It has no handle and tells no subscriber anything.
class TCritSection : public TSyncObject {
public:
    TCritSection();
    ~TCritSection() override;

    LONG Lock(DWORD timeout = INFINITE) override;
    bool Unlock() override;
    LONG Wait(DWORD timeout) override;
    bool Signal() override;

private:
    CRITICAL_SECTION m_section;
};

// An unnamed event. The default one is auto-reset and starts signalled, so that it serves as a mutex.
class TSyncEvent : public TSyncObject {
public:
    TSyncEvent();
    TSyncEvent(bool initiallySignalled, bool manualReset);
    ~TSyncEvent() override;

    bool Signal() override;
    // Tells the subscribers, then resets the event; false without a handle.
    bool Reset();
};

// An unnamed semaphore with the count 0 and the maximum 10000.
class TSyncSemaphore : public TSyncObject {
public:
    static constexpr LONG kMaximumCount = 10000;

    TSyncSemaphore();
    // Raises the count by 1; false at the maximum, with the count unchanged.
    bool Signal() override;
};

// The process-wide lock over every subscriber list and notification.
TCritSection& GlobalSyncLock();

class TGlobalSyncGuard {
public:
    TGlobalSyncGuard() { GlobalSyncLock().Lock(); }
    ~TGlobalSyncGuard() { GlobalSyncLock().Unlock(); }
    TGlobalSyncGuard(const TGlobalSyncGuard&) = delete;
    TGlobalSyncGuard& operator=(const TGlobalSyncGuard&) = delete;
};
