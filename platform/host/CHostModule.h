// One host module loaded from its file (.qw7, .md7) and reached through its four exports. The library stays
// mapped after it is freed, so a thread of the module that outlived its close never runs unmapped code.
// Load it on the host's user-interface thread: the module makes its windows while it loads.
#pragma once

#include "platform/kvtrtl/IKvwHost.h"

#include <memory>
#include <string>

class CHostModule {
public:
    using InitializeFunction = KvwResult (*)(KvwHostCallback, IKvwHost*);
    using MessageFunction = KvwResult (*)(DWORD, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord,
                                          KvwWord, KvwWord);
    using InformationFunction = KvwResult (*)(DWORD*, DWORD*);
    using CloseFunction = void (*)();

    // Null, with the reason in error, when the file does not load or lacks one of the four exports.
    static std::unique_ptr<CHostModule> Load(const std::string& path, std::string& error);
    // A module that is part of the calling program (its own copy of the framework), reached through the
    // exports given; null when one is missing. Nothing is loaded or freed.
    static std::unique_ptr<CHostModule> FromExports(const std::string& name, InitializeFunction initialize,
                                                    MessageFunction message, InformationFunction information,
                                                    CloseFunction close);
    // Frees the library (without calling KvwClose).
    ~CHostModule();
    CHostModule(const CHostModule&) = delete;
    CHostModule& operator=(const CHostModule&) = delete;

    // The exports, called as they are: the host decides what it may call when.
    KvwResult Initialize(KvwHostCallback callback, IKvwHost* host) const;
    KvwResult Message(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0,
                      KvwWord p5 = 0, KvwWord p6 = 0, KvwWord p7 = 0, KvwWord p8 = 0) const;
    KvwResult GetInformation(DWORD* kind, DWORD* version) const;
    void Close();

    bool IsClosed() const { return m_closed; }
    HMODULE Handle() const { return m_module; }
    const std::string& Path() const { return m_path; }

private:
    CHostModule() = default;

    std::string m_path;
    HMODULE m_module = nullptr;
    InitializeFunction m_initialize = nullptr;
    MessageFunction m_message = nullptr;
    InformationFunction m_information = nullptr;
    CloseFunction m_close = nullptr;
    bool m_closed = false;
};
