// The design module's language library, loaded as data for its dialog and menu templates; the library is
// freed with the object.
#pragma once

#include "plugin_framework/TString.h"

#include "platform/win/WinModule.h"

class CKvwLangResource {
public:
    CKvwLangResource() = default;
    ~CKvwLangResource() { Free(); }
    CKvwLangResource(const CKvwLangResource&) = delete;
    CKvwLangResource& operator=(const CKvwLangResource&) = delete;

    // Frees the library loaded before, then loads the one of the path; null for an empty path or a library
    // that does not load.
    HMODULE Load(const TString& path);
    void Free();
    HMODULE GetHandle() const { return m_module; }

    // The language library beside a module: "Module\KvtDesignLang.dll" in the folder of the module's own
    // file, never of the working directory; empty when the module's folder is unknown.
    static TString PathBeside(HMODULE module);

private:
    HMODULE m_module = nullptr;
};
