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

TThreadQueueData::~TThreadQueueData() {
    if (m_owner)
        m_owner->Release();
}

void TThreadQueueData::SetOwner(TBaseObject* owner) {
    if (owner)
        owner->AddRef();
    if (m_owner)
        m_owner->Release();
    m_owner = owner;
}
