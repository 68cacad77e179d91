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

constinit Kv::CSyncGlobal g_revelationLocal("DORARevLocal");
constinit Kv::CSyncGlobal g_revelationWhole("DORARevWholeThing");
constinit Kv::CSyncGlobal g_lchTables("CFltLch-RatLInit-Guard");
constinit Kv::CSyncGlobal g_lensInformation("CKvLensInformation");
constinit Kv::CSyncGlobal g_fisheyeCache("CFisheyeFilter-InitSection");
constinit Kv::CSyncGlobal g_filterLibrary("");

std::atomic<LONG> g_liveFilterChains{0};
std::atomic<LONG> g_liveProcessors{0};

LONG GetAttachCount() {
    return g_attachCount;
}

void Attach() {
    if (++g_attachCount != 1)
        return;
    FrameworkLockHook(kFrameworkLockName);
    // Each lock is made once, whichever thread gets there first.
    for (const Kv::CSyncGlobal* lock : {&g_revelationLocal, &g_revelationWhole, &g_lchTables, &g_lensInformation,
                                        &g_fisheyeCache, &g_filterLibrary})
        lock->Get();
}

void Detach() {
    if (--g_attachCount == 0)
        LastDetachHook();
}

} // namespace KvLibrary
