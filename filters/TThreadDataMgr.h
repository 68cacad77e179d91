// A pool of per-thread working sets: each tile being computed takes one set and gives it back, so that
// sets (and the buffers they have grown) are reused instead of allocated per tile. Acquire and Release
// take the pool's own lock, so tiles of one filter may be computed on several threads.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

template <class T>
class TThreadDataMgr {
public:
    // Starts with one free, empty set.
    TThreadDataMgr()
        : m_critName("TThreadDataMgr<" + std::string(typeid(T).name()) + ">.m_crit"),
          m_noneUsedName("TThreadDataMgr<" + std::string(typeid(T).name()) + ">.m_evNoneUsed") {
        m_free.push_back(std::make_unique<T>());
    }
    TThreadDataMgr(const TThreadDataMgr&) = delete;
    TThreadDataMgr& operator=(const TThreadDataMgr&) = delete;

    // A free set, or a new empty one when none is free; null when no memory is left for one.
    T* Acquire() {
        std::lock_guard<std::mutex> hold(m_lock);
        try {
            m_used.reserve(m_used.size() + 1);
            if (m_free.empty()) {
                m_used.push_back(std::make_unique<T>());
            } else {
                m_used.push_back(std::move(m_free.back()));
                m_free.pop_back();
            }
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        return m_used.back().get();
    }

    // Puts set back among the free ones; a set the pool did not hand out is left alone.
    void Release(T* set) {
        std::lock_guard<std::mutex> hold(m_lock);
        for (auto it = m_used.begin(); it != m_used.end(); ++it) {
            if (it->get() != set)
                continue;
            try {
                m_free.reserve(m_free.size() + 1);
            } catch (const std::bad_alloc&) {
                m_used.erase(it); // no room to keep it: the set is freed instead
                return;
            }
            m_free.push_back(std::move(*it));
            m_used.erase(it);
            return;
        }
    }

    std::size_t GetFreeCount() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_free.size();
    }
    std::size_t GetUsedCount() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_used.size();
    }
    const std::string& GetLockName() const { return m_critName; }
    const std::string& GetNoneUsedName() const { return m_noneUsedName; }

private:
    const std::string m_critName;
    const std::string m_noneUsedName;
    mutable std::mutex m_lock;
    std::vector<std::unique_ptr<T>> m_free;
    std::vector<std::unique_ptr<T>> m_used;
};
