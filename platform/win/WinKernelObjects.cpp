#include "HandleTable.h"
#include "WinKernel.h"
#include "WinKernelObject.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <new>
#include <span>

namespace WinKernel {
namespace {

struct KernelState {
    std::mutex lock;
    HandleTable<KernelObject> handles;
};

// Never destroyed: threads that outlive main() may still close handles or wait while the process ends.
KernelState& State() {
    static KernelState* state = new KernelState;
    return *state;
}

thread_local DWORD t_lastError = ERROR_SUCCESS;

} // namespace

std::mutex& KernelLock() {
    return State().lock;
}

void KernelObject::WakeWaiters() {
    for (Waiter* waiter : m_waiters)
        waiter->wake.notify_one();
}

void KernelObject::AddWaiter(Waiter* waiter) {
    m_waiters.push_back(waiter);
}

void KernelObject::RemoveWaiter(Waiter* waiter) {
    auto it = std::find(m_waiters.begin(), m_waiters.end(), waiter);
    if (it != m_waiters.end())
        m_waiters.erase(it);
}

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    HANDLE handle;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        handle = State().handles.Insert(std::move(object));
    }
    if (!handle)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        object = State().handles.Find(handle);
    }
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

} // namespace WinKernel

using namespace WinKernel;

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD error) {
    t_lastError = error;
}

BOOL CloseHandle(HANDLE object) {
    std::shared_ptr<KernelObject> closed;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        closed = State().handles.Erase(object);
    }
    // The object (when this was its last reference) is destroyed here, outside the kernel lock.
    if (!closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !objects) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);

    std::unique_lock<std::mutex> lock(State().lock);
    // The wait holds its objects, so closing a handle meanwhile does not free what it waits on. They are
    // held in place: a wait that need not block (a poll, say) never needs memory, and so never fails for
    // want of it.
    std::array<std::shared_ptr<KernelObject>, MAXIMUM_WAIT_OBJECTS> storage;
    const auto held = std::span(storage.data(), count);
    for (DWORD i = 0; i < count; ++i) {
        std::shared_ptr<KernelObject> object = State().handles.Find(objects[i]);
        if (!object) {
            lock.unlock();
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // Waiting for all of an object twice could never be satisfied by one signal of a semaphore.
        if (waitAll && std::find(held.begin(), held.begin() + i, object) != held.begin() + i) {
            lock.unlock();
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        held[i] = std::move(object);
    }

    Waiter waiter;
    bool registered = false;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (waitAll) {
            if (std::all_of(held.begin(), held.end(), [](const auto& o) { return o->IsSignalled(); })) {
                for (auto& o : held)
                    o->Consume();
                result = WAIT_OBJECT_0;
                break;
            }
        } else {
            auto it = std::find_if(held.begin(), held.end(), [](const auto& o) { return o->IsSignalled(); });
            if (it != held.end()) {
                (*it)->Consume();
                result = WAIT_OBJECT_0 + static_cast<DWORD>(it - held.begin());
                break;
            }
        }
        if (milliseconds == 0)
            break;
        if (!registered) {
            // All or none: an object left holding this stack waiter would wake it after the wait is over.
            try {
                for (auto& o : held)
                    o->AddWaiter(&waiter);
            } catch (const std::bad_alloc&) {
                for (auto& o : held)
                    o->RemoveWaiter(&waiter);
                lock.unlock();
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return WAIT_FAILED;
            }
            registered = true;
        }
        if (milliseconds == INFINITE) {
            waiter.wake.wait(lock);
        } else if (waiter.wake.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: a signal that came with the deadline still counts.
            milliseconds = 0;
        }
    }
    if (registered) {
        for (auto& o : held)
            o->RemoveWaiter(&waiter);
    }
    lock.unlock();
    return result;
}

DWORD WinKernelTest::WaitingThreads(HANDLE object) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<KernelObject> o = State().handles.Find(object);
    return o ? static_cast<DWORD>(o->WaiterCount()) : 0;
}

DWORD WinKernelTest::OpenHandles() {
    std::lock_guard<std::mutex> guard(State().lock);
    return static_cast<DWORD>(State().handles.Count());
}
