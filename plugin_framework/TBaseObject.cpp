#include "TBaseObject.h"

#include "TObjectManager.h"
#include "platform/win/WinKernel.h"

void TBaseObject::AddRef() {
    m_refCount.fetch_add(1, std::memory_order_relaxed);
}

bool TBaseObject::TryAddRef() {
    LONG count = m_refCount.load(std::memory_order_acquire);
    while (count > 0) {
        if (m_refCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

void TBaseObject::Release() {
    // Only the thread that takes the count from 1 to 0 destroys the object.
    if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    TObjectManager::UnregisterFromExisting(this);
    delete this;
}

namespace {

std::atomic<LONG> g_osVersion{0};

LONG QueryOSVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return 0;
    if (info.dwMajorVersion == 4) {
        switch (info.dwMinorVersion) {
        case 0:
            return 1;
        case 10:
            return 2;
        case 90:
            return 3;
        }
    } else if (info.dwMajorVersion == 5) {
        switch (info.dwMinorVersion) {
        case 0:
            return 9;
        case 1:
            return 10;
        }
    }
    return 0;
}

} // namespace

LONG GetOSVersion() {
    LONG code = g_osVersion.load(std::memory_order_acquire);
    if (code == 0) {
        code = QueryOSVersion();
        if (code != 0)
            g_osVersion.store(code, std::memory_order_release);
    }
    return code;
}

void ResetOSVersionForTesting() {
    g_osVersion.store(0);
}
