#include "WinResources.h"

#include "WinKernel.h"
#include "WinModule.h"
#include "WinResourceFile.h"
#include "utf16.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

// A MAKEINTRESOURCE value rather than a name.
bool IsNumber(const wchar_t* name) {
    return reinterpret_cast<std::uintptr_t>(name) < 0x10000;
}

// The module's own table, or null when it has none (or the module is unknown).
const KvwResourceTable* TableOf(HMODULE module) {
    if (const KvwResourceTable* file = module ? WinResourceFile::Table(module) : nullptr)
        return file;
    void* handle = WinModule::NativeHandle(module);
    if (!handle)
        return nullptr;
    void* symbol = dlsym(handle, kKvwResourceTableSymbol);
    if (!symbol)
        return nullptr;
    // dlsym also searches what the module was loaded with; a table found there is another object's.
    HMODULE owner = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<const wchar_t*>(symbol),
                            &owner))
        return nullptr;
    const HMODULE wanted = module ? module : GetModuleHandleW(nullptr);
    if (owner != wanted)
        return nullptr;
    const auto* table = static_cast<const KvwResourceTable*>(symbol);
    return table->version == kKvwResourceTableVersion ? table : nullptr;
}

bool TypeMatches(const KvwResourceEntry& entry, const wchar_t* type) {
    if (IsNumber(type))
        return !entry.typeName &&
               entry.typeId == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(type));
    if (!entry.typeName)
        return false;
    const std::string wanted = Utf::WideToUtf8(type);
    const std::size_t length = std::strlen(entry.typeName);
    if (wanted.size() != length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::toupper(static_cast<unsigned char>(wanted[i])) !=
            std::toupper(static_cast<unsigned char>(entry.typeName[i])))
            return false;
    }
    return true;
}

const char* FindString(HINSTANCE module, UINT id) {
    const KvwResourceTable* table = TableOf(module);
    if (!table)
        return nullptr;
    for (std::uint32_t i = 0; i < table->stringCount; ++i) {
        if (table->strings[i].id == id)
            return table->strings[i].text;
    }
    return nullptr;
}

} // namespace

HRSRC FindResourceW(HMODULE module, const wchar_t* name, const wchar_t* type) {
    if (!IsNumber(name) || !type) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const KvwResourceTable* table = TableOf(module);
    if (!table) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const auto id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(name));
    bool typeFound = false;
    for (std::uint32_t i = 0; i < table->resourceCount; ++i) {
        const KvwResourceEntry& entry = table->resources[i];
        if (!TypeMatches(entry, type))
            continue;
        typeFound = true;
        if (entry.id == id)
            return reinterpret_cast<HRSRC>(const_cast<KvwResourceEntry*>(&entry));
    }
    SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const auto* entry = reinterpret_cast<const KvwResourceEntry*>(resource);
    // An empty resource still loads; its data is never read.
    static const unsigned char kEmpty = 0;
    return const_cast<unsigned char*>(entry->data ? entry->data : &kEmpty);
}

const void* LockResource(HGLOBAL data) {
    return data;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<const KvwResourceEntry*>(resource)->size;
}

BOOL FreeResource(HGLOBAL) {
    return FALSE;
}

int LoadStringW(HINSTANCE module, UINT id, wchar_t* buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = 0;
    const char* text = FindString(module, id);
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const std::wstring wide = Utf::Utf8ToWide(text);
    const int count = std::min(static_cast<int>(wide.size()), bufferMax - 1);
    std::copy(wide.begin(), wide.begin() + count, buffer);
    buffer[count] = 0;
    return count;
}

int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = 0;
    const char* text = FindString(module, id);
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    std::size_t count = std::min(std::strlen(text), static_cast<std::size_t>(bufferMax - 1));
    // Cut before a character that does not fit whole: continuation bytes are 10xxxxxx.
    if (count < std::strlen(text)) {
        while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80)
            --count;
    }
    std::memcpy(buffer, text, count);
    buffer[count] = 0;
    return static_cast<int>(count);
}
