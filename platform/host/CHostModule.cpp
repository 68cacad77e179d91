#include "CHostModule.h"

#include "platform/win/WinModule.h"
#include "platform/win/utf16.h"

std::unique_ptr<CHostModule> CHostModule::Load(const std::string& path, std::string& error) {
    std::unique_ptr<CHostModule> module(new CHostModule);
    module->m_path = path;
    // A module stays mapped once loaded, for the threads it may leave behind; a file that turns out to be
    // no module is first looked at without that, so that it goes again when it is given back.
    const std::wstring file = Utf::Utf8ToWide(path);
    module->m_module = LoadLibraryExW(file.c_str(), 0, 0);
    if (!module->m_module) {
        error = "cannot load " + path;
        return nullptr;
    }
    module->m_initialize =
        reinterpret_cast<InitializeFunction>(GetProcAddress(module->m_module, "KvwInitialize"));
    module->m_message = reinterpret_cast<MessageFunction>(GetProcAddress(module->m_module, "KvwMessage"));
    module->m_information =
        reinterpret_cast<InformationFunction>(GetProcAddress(module->m_module, "KvwGetInformation"));
    module->m_close = reinterpret_cast<CloseFunction>(GetProcAddress(module->m_module, "KvwClose"));
    if (!module->m_initialize || !module->m_message || !module->m_information || !module->m_close) {
        error = path + " is not a host module: an entry point is missing";
        return nullptr;
    }
    const HMODULE kept = LoadLibraryExW(file.c_str(), 0, LOAD_LIBRARY_KEEP_MAPPED);
    if (kept != module->m_module) {
        if (kept)
            FreeLibrary(kept);
        error = "cannot load " + path;
        return nullptr;
    }
    FreeLibrary(kept);
    return module;
}

std::unique_ptr<CHostModule> CHostModule::FromExports(const std::string& name, InitializeFunction initialize,
                                                      MessageFunction message,
                                                      InformationFunction information, CloseFunction close) {
    if (!initialize || !message || !information || !close)
        return nullptr;
    std::unique_ptr<CHostModule> module(new CHostModule);
    module->m_path = name;
    module->m_initialize = initialize;
    module->m_message = message;
    module->m_information = information;
    module->m_close = close;
    return module;
}

CHostModule::~CHostModule() {
    if (m_module)
        FreeLibrary(m_module);
}

KvwResult CHostModule::Initialize(KvwHostCallback callback, IKvwHost* host) const {
    return m_initialize(callback, host);
}

KvwResult CHostModule::Message(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                               KvwWord p6, KvwWord p7, KvwWord p8) const {
    return m_message(id, p1, p2, p3, p4, p5, p6, p7, p8);
}

KvwResult CHostModule::GetInformation(DWORD* kind, DWORD* version) const {
    return m_information(kind, version);
}

void CHostModule::Close() {
    m_close();
    m_closed = true;
}
