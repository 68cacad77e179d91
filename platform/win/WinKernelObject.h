// The waitable objects behind kernel handles, for the layers of this library that add kinds of their own.
// Every object's state is read and changed only under KernelLock(); a wait checks and consumes all its
// objects under that one lock, which is what makes a wait for several objects atomic.
#pragma once

#include "wintypes.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace WinKernel {

std::mutex& KernelLock();

// One thread blocked in a wait; objects wake it when their state changes and it checks again.
struct Waiter {
    std::condition_variable wake;
};

class KernelObject {
public:
    virtual ~KernelObject() = default;

    // Both are called with KernelLock() held.
    virtual bool IsSignalled() const = 0;
    // Takes the signal after a successful wait (auto-reset events, semaphores); nothing by default.
    virtual void Consume() {}

    // With KernelLock() held: tells every waiting thread to check its wait again.
    void WakeWaiters();

    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);
    std::size_t WaiterCount() const { return m_waiters.size(); }

private:
    std::vector<Waiter*> m_waiters;
};

// Enters an object into the process-wide handle table; 0 (with the last error set) when it is full.
HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// The object of a handle, or null (last error ERROR_INVALID_HANDLE). Takes KernelLock() itself.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> FindHandleOf(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

} // namespace WinKernel
