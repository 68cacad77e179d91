// The four exports of a host module. They are the only functions a module exports (with its resource
// table); each forwards to the module object and answers as for a missing host while there is none.
// No exception leaves them: one that reaches an export (for want of memory, as a rule) is traced and
// answered with the framework's failure word, kKvwInvalidArgument.
#include "TBasicQWComp.h"
#include "TModuleValues.h"
#include "TObjectManager.h"

#include "platform/win/WinDebug.h"
#include "platform/win/WinModule.h"

#include <cstdio>
#include <exception>
#include <utility>

#define KVW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// A trace line that never throws, since what it reports may be the lack of memory itself.
void TraceFailure(const char* exportName, const char* what) noexcept {
    char text[256];
    std::snprintf(text, sizeof(text), "%s: failed (%s)\n", exportName, what);
    try {
        OutputDebugStringA(text);
    } catch (...) {
    }
}

// Runs the call; an exception becomes a trace line and false.
template <class Call>
bool Guarded(const char* exportName, Call call) noexcept {
    try {
        call();
        return true;
    } catch (const std::exception& error) {
        TraceFailure(exportName, error.what());
    } catch (...) {
        TraceFailure(exportName, "an exception");
    }
    return false;
}

KvwModuleFactory g_factory = nullptr;
KvwModuleStart g_start = nullptr;
bool g_startFailed = false;
TBasicQWComp* g_module = nullptr;
bool g_closed = false;
DWORD g_closedGeneration = 0;

// The module object, made anew when the library was loaded again after KvwClose.
TBasicQWComp* Module() {
    if (g_start) {
        const KvwModuleStart start = std::exchange(g_start, nullptr);
        g_startFailed = !start();
        if (!g_startFailed && !g_module && g_factory)
            g_module = g_factory();
    }
    if (g_startFailed)
        return nullptr;
    if (!g_module && g_closed && g_factory &&
        WinModule::LoadGeneration(GetThisModule()) != g_closedGeneration) {
        g_closed = false;
        g_module = g_factory();
    }
    return g_module;
}

} // namespace

void KvwSetModuleFactory(KvwModuleFactory factory) {
    g_factory = factory;
    if (!g_module && factory)
        g_module = factory();
}

void KvwSetModuleStart(KvwModuleStart start, KvwModuleFactory factory) {
    g_factory = factory;
    g_start = start;
}

TBasicQWComp* KvwGetModuleObject() {
    return g_module;
}

KVW_EXPORT KvwResult KvwInitialize(KvwHostCallback callback, IKvwHost* host) noexcept {
    KvwResult result = kKvwInvalidArgument;
    Guarded("KvwInitialize", [&] {
        TBasicQWComp* module = Module();
        result = module ? module->Initialize(callback, host) : kKvwInvalidArgument;
    });
    return result;
}

KVW_EXPORT KvwResult KvwMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                KvwWord p6, KvwWord p7, KvwWord p8) noexcept {
    KvwResult result = kKvwInvalidArgument;
    Guarded("KvwMessage", [&] {
        TBasicQWComp* module = Module();
        result = module ? module->OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8) : kKvwInvalidArgument;
    });
    return result;
}

KVW_EXPORT KvwResult KvwGetInformation(DWORD* kind, DWORD* version) noexcept {
    KvwResult result = kKvwInvalidArgument;
    Guarded("KvwGetInformation", [&] {
        TBasicQWComp* module = Module();
        result = module ? module->GetInformation(kind, version) : kKvwInvalidArgument;
    });
    return result;
}

KVW_EXPORT void KvwClose() noexcept {
    TBasicQWComp* module = nullptr;
    if (!Guarded("KvwClose", [&] { module = Module(); }) || !module)
        return;
    // A Close that fails part-way still ends in the deletion: the object gives back the rest itself.
    Guarded("KvwClose", [&] { module->Close(); });
    // Cleared before the deletion, so that a call that comes in while the object goes finds none.
    g_module = nullptr;
    g_closed = true;
    g_closedGeneration = WinModule::LoadGeneration(GetThisModule());
    delete module;
    // Last: what the module object released on its way was still registered when it went.
    TObjectManager::Destroy();
}
