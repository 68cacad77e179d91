// Events and semaphores.
#include "WinKernel.h"
#include "WinKernelObject.h"

#include <new>

using namespace WinKernel;

namespace {

class EventObject : public KernelObject {
public:
    EventObject(bool manualReset, bool signalled) : m_manualReset(manualReset), m_signalled(signalled) {}
    bool IsSignalled() const override { return m_signalled; }
    void Consume() override {
        if (!m_manualReset)
            m_signalled = false;
    }
    void Set() {
        m_signalled = true;
        WakeWaiters();
    }
    void Reset() { m_signalled = false; }

private:
    const bool m_manualReset;
    bool m_signalled;
};

class SemaphoreObject : public KernelObject {
public:
    SemaphoreObject(LONG count, LONG maximum) : m_count(count), m_maximum(maximum) {}
    bool IsSignalled() const override { return m_count > 0; }
    void Consume() override { --m_count; }
    bool Release(LONG count, LONG* previous) {
        if (count > m_maximum - m_count)
            return false;
        if (previous)
            *previous = m_count;
        m_count += count;
        WakeWaiters();
        return true;
    }

private:
    LONG m_count;
    const LONG m_maximum;
};

template <class T, class... Args>
HANDLE Create(const char* name, Args... args) {
    if (name) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    std::shared_ptr<T> object(new (std::nothrow) T(args...));
    if (!object) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return AddHandle(std::move(object));
}

template <class T>
std::shared_ptr<T> Find(HANDLE handle) {
    std::shared_ptr<T> object = FindHandleOf<T>(handle);
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

} // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, const char* name) {
    return Create<EventObject>(name, manualReset != FALSE, initialState != FALSE);
}

BOOL SetEvent(HANDLE event) {
    std::shared_ptr<EventObject> object = Find<EventObject>(event);
    if (!object)
        return FALSE;
    std::lock_guard<std::mutex> guard(KernelLock());
    object->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    std::shared_ptr<EventObject> object = Find<EventObject>(event);
    if (!object)
        return FALSE;
    std::lock_guard<std::mutex> guard(KernelLock());
    object->Reset();
    return TRUE;
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, const char* name) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Create<SemaphoreObject>(name, initialCount, maximumCount);
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount) {
    if (releaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<SemaphoreObject> object = Find<SemaphoreObject>(semaphore);
    if (!object)
        return FALSE;
    std::lock_guard<std::mutex> guard(KernelLock());
    if (!object->Release(releaseCount, previousCount)) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    return TRUE;
}
