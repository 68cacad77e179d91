// The four exports of a host module. They are the only functions a module exports (with its resource
// table); each forwards to the module object and answers as for a missing host while there is none.
#include "TBasicQWComp.h"
#include "TModuleValues.h"
#include "TObjectManager.h"

#include "platform/win/WinModule.h"

#define KVW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

KvwModuleFactory g_factory = nullptr;
TBasicQWComp* g_module = nullptr;
bool g_closed = false;
DWORD g_closedGeneration = 0;

// The module object, made anew when the library was loaded again after KvwClose.
TBasicQWComp* Module() {
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

TBasicQWComp* KvwGetModuleObject() {
    return g_module;
}

KVW_EXPORT KvwResult KvwInitialize(KvwHostCallback callback, IKvwHost* host) {
    TBasicQWComp* module = Module();
    return module ? module->Initialize(callback, host) : kKvwInvalidArgument;
}

KVW_EXPORT KvwResult KvwMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                KvwWord p6, KvwWord p7, KvwWord p8) {
    TBasicQWComp* module = Module();
    return module ? module->OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8) : kKvwInvalidArgument;
}

KVW_EXPORT KvwResult KvwGetInformation(DWORD* kind, DWORD* version) {
    TBasicQWComp* module = Module();
    return module ? module->GetInformation(kind, version) : kKvwInvalidArgument;
}

KVW_EXPORT void KvwClose() {
    TBasicQWComp* module = Module();
    if (!module)
        return;
    module->Close();
    // Cleared before the deletion, so that a call that comes in while the object goes finds none.
    g_module = nullptr;
    g_closed = true;
    g_closedGeneration = WinModule::LoadGeneration(GetThisModule());
    delete module;
    // Last: what the module object released on its way was still registered when it went.
    TObjectManager::Destroy();
}
