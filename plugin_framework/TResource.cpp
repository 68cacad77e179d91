#include "TResource.h"

#include "TModuleValues.h"

#include "platform/win/WinModule.h"
#include "platform/win/WinResources.h"
#include "platform/win/utf16.h"

#include <cstring>

namespace {

// Resource ids are 16-bit, as MAKEINTRESOURCE carries them.
bool IsResourceId(UINT id) {
    return id != 0 && id <= 0xFFFF;
}

// The resource's bytes, or null (with size 0) when the module does not have it.
const unsigned char* Find(HINSTANCE module, UINT id, const TString& type, DWORD& size) {
    size = 0;
    if (!module || !IsResourceId(id) || type.IsEmpty())
        return nullptr;
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(static_cast<WORD>(id)), type);
    if (!resource)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    const auto* bytes = static_cast<const unsigned char*>(LockResource(loaded));
    size = SizeofResource(module, resource);
    return bytes;
}

} // namespace

TResource* TResource::Instance() {
    static TResource instance;
    return &instance;
}

void TResource::SetModule(HINSTANCE module) {
    if (module)
        m_module = module;
}

void TResource::ForgetModule(HINSTANCE module) {
    if (module && m_module == module)
        m_module = nullptr;
}

void TResource::SetType(const TString& typeName) {
    m_type = typeName;
}

void TResource::SetParent(HWND parent) {
    m_parent = parent;
}

void TResource::SetDialogProc(DLGPROC procedure) {
    m_dialogProc = procedure;
}

void TResource::SetDialogParam(LPARAM parameter) {
    m_dialogParam = parameter;
}

bool TResource::LoadString(UINT id, TString& text) const {
    text.Empty();
    if (!m_module || id == 0)
        return false;
    return text.LoadString(m_module, id);
}

bool TResource::Load(UINT id, TString& text, bool wide) const {
    text.Empty();
    DWORD size = 0;
    const unsigned char* bytes = Find(m_module, id, m_type, size);
    if (!bytes || size == 0)
        return false;
    const std::wstring converted =
        wide ? Utf::Utf16ToWide(Utf::Utf16FromLEBytes(bytes, size))
             : Utf::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(bytes), size));
    if (converted.size() > 0x7FFFFFF0u)
        return false;
    text = TString(converted.data(), static_cast<int>(converted.size()));
    return !text.IsEmpty();
}

bool TResource::LoadRaw(UINT id, BYTE*& data, DWORD& size) const {
    data = nullptr;
    size = 0;
    DWORD found = 0;
    const unsigned char* bytes = Find(m_module, id, m_type, found);
    if (!bytes || found == 0)
        return false;
    data = new BYTE[found];
    std::memcpy(data, bytes, found);
    size = found;
    return true;
}

bool TResource::DoModal(UINT templateId, INT_PTR* result) const {
    if (!m_dialogProc || !m_module || !IsResourceId(templateId))
        return false;
    const INT_PTR answer = DialogBoxParamW(m_module, MAKEINTRESOURCEW(static_cast<WORD>(templateId)),
                                           m_parent, m_dialogProc, m_dialogParam);
    if (result)
        *result = answer;
    return true;
}

bool TResource::CreateModeless(UINT templateId, HWND* window) const {
    if (!m_dialogProc || !m_module || !IsResourceId(templateId))
        return false;
    HWND made = CreateDialogParamW(m_module, MAKEINTRESOURCEW(static_cast<WORD>(templateId)), m_parent,
                                   m_dialogProc, m_dialogParam);
    if (window)
        *window = made;
    return made != nullptr;
}

bool TResource::GetModuleFolder(TFilePath& folder) const {
    return ::GetModuleFolder(folder, m_module ? m_module : GetModuleHandleW(L"KvtImgy.exe"));
}

bool TResource::LoadOwnText(const wchar_t* type, UINT id, TString& text) {
    TResource resources = *Instance();
    resources.SetModule(GetThisModule());
    resources.SetType(type);
    return resources.Load(id, text, false);
}
