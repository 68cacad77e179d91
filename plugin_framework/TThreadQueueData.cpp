#include "TThreadQueueData.h"

#include <atomic>

namespace {

// Items are made on several threads (the user-interface thread, workers), so the counter is atomic.
std::atomic<DWORD> g_lastId{0};

DWORD NextId() {
    return g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
}

} // namespace

TThreadQueueData::TThreadQueueData() : m_id(NextId()) {}
