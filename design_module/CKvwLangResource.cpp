#include "CKvwLangResource.h"

#include "plugin_framework/TFilePath.h"

namespace {

constexpr const wchar_t* kLanguageLibrary = L"Module/KvtDesignLang.dll";

} // namespace

HMODULE CKvwLangResource::Load(const TString& path) {
    Free();
    if (path.IsEmpty())
        return nullptr;
    m_module = LoadLibraryExW(path, 0, LOAD_LIBRARY_AS_DATAFILE);
    return m_module;
}

void CKvwLangResource::Free() {
    if (m_module)
        FreeLibrary(m_module);
    m_module = nullptr;
}

TString CKvwLangResource::PathBeside(HMODULE module) {
    TFilePath folder;
    if (!module || !GetModuleFolder(folder, module))
        return TString();
    return folder.GetPath() + kLanguageLibrary;
}
