#include "rawlib/filters/revelation/CDRAGRunLock.h"
#include "rawlib/foundation/KvProcessLocks.h"

#include "rawlib/foundation/CSyncGlobal.h"

#include <utility>

namespace {

Kv::CSyncGlobal& g_wholeThing = KvLibrary::g_revelationWhole;

} // namespace

CDRAGRunLock CDRAGRunLock::Take() {
    g_wholeThing.Get().SpinLock();
    CDRAGRunLock hold;
    hold.m_held = true;
    hold.m_owner = std::this_thread::get_id();
    return hold;
}

CDRAGRunLock::CDRAGRunLock(CDRAGRunLock&& other) noexcept
    : m_held(std::exchange(other.m_held, false)), m_owner(other.m_owner) {}

CDRAGRunLock& CDRAGRunLock::operator=(CDRAGRunLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_held = std::exchange(other.m_held, false);
        m_owner = other.m_owner;
    }
    return *this;
}

void CDRAGRunLock::Release() {
    if (std::exchange(m_held, false))
        g_wholeThing.Unlock();
}
