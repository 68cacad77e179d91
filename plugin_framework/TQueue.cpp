#include "TQueue.h"

#include "TMultiLock.h"

#include <new>

TQueue::~TQueue() {
    Clear(true);
}

bool TQueue::Put(TThreadQueueData* item, bool atFront) {
    // A wait for the mutex fails only for want of memory; the queue is then left alone.
    if (!item || m_mutex.Lock(INFINITE) != TSyncObject::kWaitSignalled)
        return false;
    // The count is raised first: at the maximum the item is refused instead of queued without a count.
    if (!m_count.Unlock()) {
        m_mutex.Unlock();
        return false;
    }
    try {
        if (atFront)
            m_items.push_front(item);
        else
            m_items.push_back(item);
    } catch (const std::bad_alloc&) {
        // Refused like a full queue, with the count given back and the mutex free.
        m_count.Lock(0);
        m_mutex.Unlock();
        return false;
    }
    item->AddRef();
    m_mutex.Unlock();
    return true;
}

TThreadQueueData* TQueue::Get(int) {
    TMultiLock lock(true, {&m_count, &m_mutex});
    if (lock.Lock(INFINITE) != TSyncObject::kWaitSignalled)
        return nullptr;
    TThreadQueueData* item = m_items.front();
    m_items.pop_front();
    m_mutex.Unlock();
    return item;
}

bool TQueue::Clear(bool release) {
    std::deque<TThreadQueueData*> removed;
    if (m_mutex.Lock(INFINITE) != TSyncObject::kWaitSignalled)
        return false;
    // While the mutex is held the count equals the number of items, so these polls always succeed.
    for (std::size_t i = 0; i < m_items.size(); ++i)
        m_count.Lock(0);
    removed.swap(m_items);
    m_mutex.Unlock();
    // Released outside the mutex: an item's last release may reach code that uses this queue again.
    if (release) {
        for (TThreadQueueData* item : removed)
            item->Release();
    }
    return true;
}
