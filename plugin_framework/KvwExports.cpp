// The four exports of a host module. They are the only functions a module exports (with its resource
// table); each forwards to the module object and answers as for a missing host while there is none.
#include "TBasicQWComp.h"
#include "TObjectManager.h"

#define KVW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

TBasicQWComp* g_module = nullptr;

} // namespace

void KvwSetModuleObject(TBasicQWComp* module) {
    g_module = module;
}

TBasicQWComp* KvwGetModuleObject() {
    return g_module;
}

KVW_EXPORT KvwResult KvwInitialize(KvwHostCallback callback, IKvwHost* host) {
    return g_module ? g_module->Initialize(callback, host) : kKvwInvalidArgument;
}

KVW_EXPORT KvwResult KvwMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                KvwWord p6, KvwWord p7, KvwWord p8) {
    return g_module ? g_module->OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8) : kKvwInvalidArgument;
}

KVW_EXPORT KvwResult KvwGetInformation(DWORD* kind, DWORD* version) {
    return g_module ? g_module->GetInformation(kind, version) : kKvwInvalidArgument;
}

KVW_EXPORT void KvwClose() {
    TBasicQWComp* module = g_module;
    if (!module)
        return;
    module->Close();
    // Cleared before the deletion, so that a call that comes in while the object goes finds none.
    g_module = nullptr;
    delete module;
    // Last: what the module object released on its way was still registered when it went.
    TObjectManager::Destroy();
}
