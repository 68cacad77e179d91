#include "rawlib/foundation/KvOwnFolder.h"

#include "platform/win/WinModule.h"

namespace {

// An address inside the raw library, to find its file by.
const char g_anchor = 0;
constexpr DWORD kPathCapacity = 4096;

} // namespace

std::string Kv::OwnFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<const wchar_t*>(&g_anchor), &self))
        return {};
    char path[kPathCapacity];
    const DWORD length = GetModuleFileNameA(self, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return {};
    const std::string file(path, length);
    const std::size_t slash = file.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}
