#include "rawlib/foundation/CSyncCritical.h"

#include <algorithm>

namespace Kv {

namespace {

std::atomic<int> g_processorCountOverride{0};

int MachineProcessorCount() {
    static const int count = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    return count;
}

bool TryEnter(std::recursive_mutex& section) {
    return section.try_lock();
}

} // namespace

int GetProcessorCount() {
    const int count = g_processorCountOverride.load(std::memory_order_relaxed);
    return count > 0 ? count : MachineProcessorCount();
}

void SetProcessorCountForTesting(int count) {
    g_processorCountOverride.store(std::max(count, 0), std::memory_order_relaxed);
}

CSyncBase::CSyncBase(const char* name, int spinCount)
    : m_name(name ? name : ""), m_spinCount(spinCount < 0 ? kDefaultSpinCount : spinCount) {
    if (GetProcessorCount() == 1)
        m_spinCount = 0;
}

bool CSyncBase::SpinLock(int count) {
    if (count < 0)
        count = m_spinCount;
    for (int i = 0; i < count; ++i) {
        if (TryLock())
            return true;
    }
    return Lock();
}

CSyncCritical::CSyncCritical(const char* name, int spinCount) : CSyncBase(name, spinCount) {
    Init();
}

CSyncCritical::~CSyncCritical() {
    Delete();
}

bool CSyncCritical::Init() {
    m_tryEnter = &TryEnter;
    return true;
}

void CSyncCritical::Delete() {}

void CSyncCritical::Entered() {
    if (m_depth++ == 0)
        m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

bool CSyncCritical::TryLock() {
    if (!m_tryEnter)
        return Lock();
    if (!m_tryEnter(m_section))
        return false;
    Entered();
    return true;
}

bool CSyncCritical::Lock() {
    m_section.lock();
    Entered();
    return true;
}

bool CSyncCritical::Unlock() {
    // Only the owner can find its own id here: every other thread sees another id or none.
    if (m_owner.load(std::memory_order_relaxed) != std::this_thread::get_id())
        return false;
    if (--m_depth == 0)
        m_owner.store(std::thread::id(), std::memory_order_relaxed);
    m_section.unlock();
    return true;
}

} // namespace Kv
