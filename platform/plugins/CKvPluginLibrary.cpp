#include "CKvPluginLibrary.h"

#include "platform/win/WinModule.h"
#include "platform/win/WinResources.h"
#include "platform/win/utf16.h"

bool CKvPluginLibrary::Open(const char* path) {
    Close();
    if (!path || !*path)
        return false;
    m_module = LoadLibraryA(path);
    return m_module != nullptr;
}

void CKvPluginLibrary::Close() {
    if (m_module)
        FreeLibrary(m_module);
    m_module = nullptr;
}

KvPluginEntry CKvPluginLibrary::GetEntry() const {
    if (!m_module)
        return nullptr;
    return reinterpret_cast<KvPluginEntry>(GetProcAddress(m_module, KvPlugin::kEntryName));
}

std::span<const std::uint8_t> CKvPluginLibrary::GetResource(const char* type, WORD id) const {
    if (!m_module || !type)
        return {};
    const std::wstring wideType = Utf::Utf8ToWide(type);
    HRSRC resource = FindResourceW(m_module, MAKEINTRESOURCEW(id), wideType.c_str());
    if (!resource)
        return {};
    const void* data = LockResource(LoadResource(m_module, resource));
    const DWORD size = SizeofResource(m_module, resource);
    if (!data || size == 0)
        return {};
    return {static_cast<const std::uint8_t*>(data), size};
}
