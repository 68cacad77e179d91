#include "KvGlobalManager.h"

namespace {

std::atomic<IPravonManager*> g_manager{nullptr};
std::atomic<LONG> g_attachCount{0};

// The process-wide lock hook of the imaging framework takes this name on the first attach; there is no
// lock behind it.
constexpr const char* kFrameworkLockName = "KrxLibPravonMutex";

void FrameworkLockHook(const char*) {}
void LastDetachHook() {}

// Runs when the shared library is mapped and unmapped.
[[gnu::constructor]] void OnLoad() {
    KvLibrary::Attach();
}

[[gnu::destructor]] void OnUnload() {
    KvLibrary::Detach();
}

} // namespace

void KvSetGlobalManager(IPravonManager* manager) {
    g_manager = manager;
}

IPravonManager* KvGetGlobalManager() {
    return g_manager;
}

namespace KvLibrary {

std::atomic<LONG> g_liveFilterChains{0};
std::atomic<LONG> g_liveProcessors{0};

LONG GetAttachCount() {
    return g_attachCount;
}

void Attach() {
    if (++g_attachCount != 1)
        return;
    FrameworkLockHook(kFrameworkLockName);
    MakeProcessLocks();
}

void Detach() {
    if (--g_attachCount == 0)
        LastDetachHook();
}

} // namespace KvLibrary
