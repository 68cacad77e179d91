#include "KvGlobalManager.h"

#include <atomic>

namespace {
std::atomic<IPravonManager*> g_manager{nullptr};
} // namespace

void KvSetGlobalManager(IPravonManager* manager) {
    g_manager = manager;
}

IPravonManager* KvGetGlobalManager() {
    return g_manager;
}
