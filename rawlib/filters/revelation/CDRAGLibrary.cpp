#include "rawlib/filters/revelation/CDRAGLibrary.h"

#include "platform/win/FourCC.h"
#include "platform/win/WinModule.h"
#include "rawlib/foundation/KvOwnFolder.h"

#include <string>

namespace {

constexpr LONG kComponent = FourCC("DRAG");
constexpr const char* kLibraryName = "DRAGKVL1.dll";

// Guarded by "DORARevLocal", like every load and unload.
HMODULE g_module = nullptr;
CDRAGLibrary::Calls g_calls;
std::string g_testPath;

HMODULE Open() {
    if (!g_testPath.empty())
        return LoadLibraryA(g_testPath.c_str());
    const std::string folder = Kv::OwnFolder();
    if (!folder.empty()) {
        if (HMODULE module = LoadLibraryA((folder + "/" + kLibraryName).c_str()))
            return module;
    }
    return LoadLibraryA(kLibraryName);
}

template <class Function>
bool Find(HMODULE module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(GetProcAddress(module, name));
    return *function != nullptr;
}

bool FindAll(HMODULE module, CDRAGLibrary::Calls* c) {
    return Find(module, "DRAGLoad", &c->load) && Find(module, "DRAGUnload", &c->unload) &&
           Find(module, "DRAGNew", &c->create) && Find(module, "DRAGDelete", &c->destroy) &&
           Find(module, "DRAGInit", &c->init) &&
           Find(module, "DRAGSetStatisticsImageInfo", &c->setStatisticsImageInfo) &&
           Find(module, "DRAGBegin", &c->begin) && Find(module, "DRAGProcess", &c->process) &&
           Find(module, "DRAGComplete", &c->complete) && Find(module, "DRAGEnd", &c->end) &&
           Find(module, "DRAGAbort", &c->abort);
}

} // namespace

IPravonError* CDRAGLibrary::Load() {
    HMODULE module = Open();
    if (!module)
        return PravonFail(kComponent, PravonKind::kInvalidState,
                          "the Revelation library DRAGKVL1 could not be loaded");
    Calls calls;
    if (!FindAll(module, &calls)) {
        FreeLibrary(module);
        return PravonFail(kComponent, PravonKind::kInvalidState,
                          "the Revelation library DRAGKVL1 lacks a call");
    }
    if (const std::int32_t result = calls.load()) {
        FreeLibrary(module);
        return PravonFail(kComponent, result, "DRAGLoad failed");
    }
    g_module = module;
    g_calls = calls;
    return nullptr;
}

void CDRAGLibrary::Unload() {
    if (!g_module)
        return;
    g_calls.unload();
    FreeLibrary(g_module);
    g_module = nullptr;
    g_calls = {};
}

const CDRAGLibrary::Calls& CDRAGLibrary::Get() {
    return g_calls;
}

void CDRAGLibrary::SetPathForTesting(const std::string& path) {
    g_testPath = path;
}
