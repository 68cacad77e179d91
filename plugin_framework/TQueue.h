// The blocking queue of a worker thread: reference-counted items behind a mutex event, with a semaphore
// that counts them. A consumer takes the count and the mutex in one atomic wait, so it returns only with
// an item there and the queue its own. The queue holds one reference on each item it contains.
#pragma once

#include "TSyncObject.h"
#include "TThreadQueueData.h"

#include <deque>

class TQueue {
public:
    TQueue() = default;
    TQueue(const TQueue&) = delete;
    TQueue& operator=(const TQueue&) = delete;
    // Releases the items still waiting.
    virtual ~TQueue();

    // Adds a reference and inserts the item at the front or the back; false (item untouched) for a null
    // item, when the queue already holds the maximum of 10000 items, or when there is no memory for it.
    bool Put(TThreadQueueData* item, bool atFront);
    // Blocks until there is an item and removes the front one; the queue's reference passes to the
    // caller. The argument is not used.
    TThreadQueueData* Get(int unused);
    // Removes every waiting item, releasing each when release is set.
    bool Clear(bool release);

private:
    TSyncEvent m_mutex;
    TSyncSemaphore m_count;
    std::deque<TThreadQueueData*> m_items;
};
