#include "TObjectManager.h"

#include <new>

namespace {

// Guards the singleton, its map and its cache. It is a leaf lock: nothing else is taken under it and no
// object is deleted while it is held. Never destroyed, and made in place: every Release takes it, so its
// first use must not allocate (a release cannot fail for want of memory).
std::mutex& ManagerLock() {
    alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
    static std::mutex* lock = new (storage) std::mutex;
    return *lock;
}

TObjectManager* g_instance = nullptr;
// Starts at 1 when the module is loaded and is never reset; 0 is never issued.
DWORD g_nextHandle = 1;

} // namespace

TObjectManager* TObjectManager::Instance() {
    std::lock_guard<std::mutex> guard(ManagerLock());
    if (!g_instance)
        g_instance = new (std::nothrow) TObjectManager;
    return g_instance;
}

bool TObjectManager::Create() {
    std::lock_guard<std::mutex> guard(ManagerLock());
    if (g_instance)
        return false;
    g_instance = new (std::nothrow) TObjectManager;
    return g_instance != nullptr;
}

bool TObjectManager::Destroy() {
    TObjectManager* old;
    {
        std::lock_guard<std::mutex> guard(ManagerLock());
        old = std::exchange(g_instance, nullptr);
    }
    delete old;
    return true;
}

DWORD TObjectManager::Register(TBaseObject* object) {
    std::lock_guard<std::mutex> guard(ManagerLock());
    for (const auto& [handle, registered] : m_objects) {
        if (registered == object) {
            m_cache = {handle, object};
            return handle;
        }
    }
    DWORD handle = g_nextHandle++;
    if (handle == 0)
        handle = g_nextHandle++;
    m_objects.emplace(handle, object);
    m_cache = {handle, object};
    return handle;
}

TBaseObject* TObjectManager::Find(DWORD handle) {
    std::lock_guard<std::mutex> guard(ManagerLock());
    if (m_cache.first == handle)
        return m_cache.second;
    auto it = m_objects.find(handle);
    if (it == m_objects.end())
        return nullptr;
    m_cache = *it;
    return it->second;
}

TBaseObject* TObjectManager::FindHeld(DWORD handle) {
    std::lock_guard<std::mutex> guard(ManagerLock());
    auto it = m_objects.find(handle);
    // An object is deleted only after its last release has unregistered it, which waits for this lock.
    if (it == m_objects.end() || !it->second->TryAddRef())
        return nullptr;
    return it->second;
}

void TObjectManager::Unregister(TBaseObject* object) {
    std::lock_guard<std::mutex> guard(ManagerLock());
    UnregisterLocked(object);
}

void TObjectManager::UnregisterLocked(TBaseObject* object) {
    if (m_cache.second == object)
        m_cache = {0, nullptr};
    for (auto it = m_objects.begin(); it != m_objects.end(); ++it) {
        if (it->second == object) {
            m_objects.erase(it);
            return;
        }
    }
}

void TObjectManager::UnregisterFromExisting(TBaseObject* object) {
    std::lock_guard<std::mutex> guard(ManagerLock());
    if (g_instance)
        g_instance->UnregisterLocked(object);
}
