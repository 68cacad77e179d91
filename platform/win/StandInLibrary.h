// What every stand-in library that hands out handles keeps: the count of starts it works between, its
// objects behind 32-bit handles with generations (HandleTable), and an observer through which tests see
// each call. Handles are issued only while started; the last shutdown lets go of every object. Objects
// are always let go of outside the lock, so their destructors may call into the library again.
#pragma once

#include "HandleTable.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

template <class T>
class StandInLibrary {
public:
    using Observer = std::function<void(const char* call, std::uint32_t first)>;

    void Startup() {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_starts;
    }
    // False when the library was not started.
    bool Shutdown() {
        std::vector<std::shared_ptr<T>> released;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_starts == 0)
            return false;
        if (--m_starts == 0) {
            std::vector<std::uint32_t> handles;
            m_table.ForEach(
                [&](std::uint32_t handle, const std::shared_ptr<T>&) { handles.push_back(handle); });
            for (std::uint32_t handle : handles)
                released.push_back(m_table.Erase(handle));
        }
        return true;
    }
    bool Started() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_starts > 0;
    }

    // The new handle, or 0 when the library is not started or every slot is taken.
    std::uint32_t Add(std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_starts > 0 ? m_table.Insert(std::move(object)) : 0;
    }
    std::shared_ptr<T> Find(std::uint32_t handle) const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_starts > 0 ? m_table.Find(handle) : nullptr;
    }
    bool Release(std::uint32_t handle) {
        std::shared_ptr<T> released;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_starts > 0)
            released = m_table.Erase(handle);
        return released != nullptr;
    }
    std::size_t Count() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_table.Count();
    }

    // The observer runs on the calling thread, without any lock of the library held.
    void SetObserver(Observer observer) {
        std::lock_guard<std::mutex> guard(m_observerLock);
        m_observed.store(static_cast<bool>(observer), std::memory_order_release);
        m_observer = std::move(observer);
    }
    void Observe(const char* call, std::uint32_t first) const {
        if (!m_observed.load(std::memory_order_acquire))
            return;
        Observer observer;
        {
            std::lock_guard<std::mutex> guard(m_observerLock);
            observer = m_observer;
        }
        if (observer)
            observer(call, first);
    }

private:
    mutable std::mutex m_lock;
    int m_starts = 0;
    HandleTable<T> m_table;

    mutable std::mutex m_observerLock;
    Observer m_observer;
    std::atomic<bool> m_observed{false};
};
