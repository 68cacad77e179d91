// A wait for all or for any of several synchronisation objects, made by the kernel in one atomic step:
// a wait for all takes every object or none, a wait for any takes the lowest signalled one. A time-out
// takes nothing. Null entries (an absent cancel object, say) are skipped; a critical section has no
// handle and is never signalled.
#pragma once

#include "TSyncObject.h"

#include <initializer_list>
#include <vector>

class TMultiLock {
public:
    TMultiLock(bool waitAll, std::initializer_list<TSyncObject*> objects);

    // 1 when the wait ended, 2 on time-out, 3 abandoned, -1 failed (also for a wait for all that holds
    // an object without a handle, which could never end). No objects at all gives 1 at once.
    LONG Lock(DWORD timeout = INFINITE);

    // The index in the list given of the object that ended a wait for any; -1 until one did.
    int GetEndedBy() const { return m_endedBy; }

private:
    std::vector<TSyncObject*> m_objects;
    bool m_waitAll;
    int m_endedBy = -1;
};
