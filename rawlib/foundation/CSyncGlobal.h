// A process-wide named lock that any static initialiser may use, whatever the order in which the
// library's files are initialised. The object itself is constant-initialised (declare it `constinit`);
// the critical section behind it is made on first use, and lives until the process ends, so that code
// running in other static destructors can still take it.
//
//     constinit Kv::CSyncGlobal g_lensLock("CKvLensInformation");
//     CKvSyncGuard guard(g_lensLock);
#pragma once

#include "rawlib/foundation/CSyncCritical.h"

#include <mutex>

namespace Kv {

class CSyncGlobal {
public:
    // The name is copied when the lock is first used; pass a literal.
    constexpr explicit CSyncGlobal(const char* name, int spinCount = -1)
        : m_name(name), m_spinCount(spinCount) {}
    CSyncGlobal(const CSyncGlobal&) = delete;
    CSyncGlobal& operator=(const CSyncGlobal&) = delete;

    CSyncCritical& Get() const;
    operator CSyncCritical&() const { return Get(); }

    bool Lock() const { return Get().Lock(); }
    bool Unlock() const { return Get().Unlock(); }

private:
    const char* m_name;
    int m_spinCount;
    mutable std::once_flag m_once;
    mutable CSyncCritical* m_lock = nullptr;
};

} // namespace Kv
