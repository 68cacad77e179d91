// The order in which the page iterator's locks may be taken on one thread, checked whenever one is taken:
// the document lock and the preview lock are never held together (in either order), and a preview's own
// lock is taken alone or inside the preview lock, never the other way round and never with the document
// lock. A wrong order is reported to the violation handler: by default it is traced and, in a debug build,
// ends the program.
#pragma once

#include "TSyncObject.h"

enum class TLockRank { kDocument = 0, kPreviews = 1, kPreview = 2 };

namespace LockOrder {

using ViolationHandler = void (*)(TLockRank held, TLockRank wanted);

// Checks the rank against what the calling thread holds, then counts it as held.
void Enter(TLockRank wanted);
void Leave(TLockRank rank);
// How many times the calling thread holds locks of the rank.
int HeldCount(TLockRank rank);
// Null puts the default back.
void SetViolationHandler(ViolationHandler handler);

} // namespace LockOrder

// Takes the lock for the scope, with the order checked first.
class TOrderedLock {
public:
    TOrderedLock(TCritSection& lock, TLockRank rank) : m_lock(lock), m_rank(rank) {
        LockOrder::Enter(rank);
        m_lock.Lock();
    }
    ~TOrderedLock() {
        m_lock.Unlock();
        LockOrder::Leave(m_rank);
    }
    TOrderedLock(const TOrderedLock&) = delete;
    TOrderedLock& operator=(const TOrderedLock&) = delete;

private:
    TCritSection& m_lock;
    const TLockRank m_rank;
};
