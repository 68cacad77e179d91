// Module handles are the load addresses of the objects in the process (the address of their first mapped
// segment), as on the original platform; the loader's own list of objects answers which address is whose.
#include "WinModule.h"

#include "WinDebug.h"
#include "WinKernel.h"
#include "WinPath.h"
#include "WinResourceFile.h"
#include "WinUserInternal.h"
#include "utf16.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace {

struct LoadedLibrary {
    void* handle = nullptr;
    int count = 0;
};

struct ModuleState {
    std::mutex lock;
    std::map<HMODULE, LoadedLibrary> loaded;
    std::map<HMODULE, DWORD> generations; // kept after the last free
    std::vector<std::string> searchFolders;
};

ModuleState& State() {
    static ModuleState* state = new ModuleState;
    return *state;
}

struct ObjectInfo {
    HMODULE base = nullptr;
    std::string path; // empty for the program
    bool program = false;
};

// The address of an object's first mapped segment, which is where dladdr says an object starts.
std::uintptr_t BaseOf(const dl_phdr_info* info) {
    std::uintptr_t lowest = UINTPTR_MAX;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD)
            lowest = std::min<std::uintptr_t>(lowest, info->dlpi_phdr[i].p_vaddr);
    }
    if (lowest == UINTPTR_MAX)
        return 0;
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return (info->dlpi_addr + lowest) & ~(page - 1);
}

// Every object in the process; the program comes first.
std::vector<ObjectInfo> Objects() {
    std::vector<ObjectInfo> objects;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) -> int {
            auto* out = static_cast<std::vector<ObjectInfo>*>(data);
            ObjectInfo object;
            object.base = reinterpret_cast<HMODULE>(BaseOf(info));
            object.program = out->empty();
            if (!object.program && info->dlpi_name)
                object.path = info->dlpi_name;
            if (object.base)
                out->push_back(std::move(object));
            return 0;
        },
        &objects);
    return objects;
}

bool FindObject(HMODULE module, ObjectInfo& found) {
    for (ObjectInfo& object : Objects()) {
        if (object.base == module || (!module && object.program)) {
            found = std::move(object);
            return true;
        }
    }
    return false;
}

HMODULE ProgramModule() {
    ObjectInfo program;
    return FindObject(nullptr, program) ? program.base : nullptr;
}

std::string ProgramPath() {
    std::string path(PATH_MAX, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0)
            return std::string();
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string PathOf(const ObjectInfo& object) {
    return object.program ? ProgramPath() : object.path;
}

std::string FileNamePart(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && Lower(text.substr(text.size() - end.size())) == end;
}

// The base of the object that dlopen gave a handle for.
HMODULE BaseOfHandle(void* handle) {
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    for (const ObjectInfo& object : Objects()) {
        if (!object.program && object.path == (map->l_name ? map->l_name : ""))
            return object.base;
    }
    return nullptr;
}

// The library in the first search folder that holds it, else the name as it is.
std::string InSearchFolders(const std::string& name) {
    std::vector<std::string> folders;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        folders = State().searchFolders;
    }
    for (const std::string& folder : folders) {
        const std::string candidate = WinPath::ToNative(folder + "/" + name);
        if (access(candidate.c_str(), F_OK) == 0)
            return candidate;
    }
    return name;
}

HMODULE Load(const std::string& name, DWORD flags) {
    if (name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string mapped = WinModule::MappedLibraryName(name);
    if (mapped.find('/') == std::string::npos)
        mapped = InSearchFolders(mapped);
    if ((flags & LOAD_LIBRARY_AS_DATAFILE) && mapped.find('/') != std::string::npos &&
        WinResourceFile::IsResourceText(mapped))
        return WinResourceFile::Load(mapped);
    int mode = RTLD_NOW | RTLD_LOCAL;
    if (flags & LOAD_LIBRARY_KEEP_MAPPED)
        mode |= RTLD_NODELETE;
    void* handle = dlopen(mapped.c_str(), mode);
    if (!handle) {
        const char* error = dlerror();
        OutputDebugStringA(("LoadLibrary: " + std::string(error ? error : mapped) + "\n").c_str());
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // From here on a failure gives the library back: a load that answers null holds no reference.
    try {
        const HMODULE module = BaseOfHandle(handle);
        if (!module) {
            dlclose(handle);
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(State().lock);
        DWORD& generation = State().generations[module];
        LoadedLibrary& library = State().loaded[module];
        if (library.count == 0)
            ++generation;
        library.handle = handle;
        ++library.count;
        return module;
    } catch (const std::bad_alloc&) {
        dlclose(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

} // namespace

std::string WinModule::MappedLibraryName(const std::string& name) {
    std::string mapped = name;
    std::replace(mapped.begin(), mapped.end(), '\\', '/');
    if (EndsWithNoCase(mapped, ".dll"))
        mapped.replace(mapped.size() - 4, 4, ".so");
    if (mapped.find('/') != std::string::npos)
        mapped = WinPath::ToNative(mapped);
    return mapped;
}

void WinModule::SetLibrarySearchFolders(std::vector<std::string> folders) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().searchFolders = std::move(folders);
}

DWORD WinModule::LoadGeneration(HMODULE module) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().generations.find(module);
    return it == State().generations.end() ? 0 : it->second;
}

DWORD WinModule::LoadCount(HMODULE module) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().loaded.find(module);
    return it == State().loaded.end() ? 0 : static_cast<DWORD>(it->second.count);
}

void* WinModule::NativeHandle(HMODULE module) {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        auto it = State().loaded.find(module);
        if (it != State().loaded.end())
            return it->second.handle;
    }
    ObjectInfo object;
    if (!FindObject(module, object))
        return nullptr;
    if (object.program) {
        static void* program = dlopen(nullptr, RTLD_NOW);
        return program;
    }
    // Loaded by someone else: the handle of an object that stays loaded is valid without our reference.
    void* handle = dlopen(object.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle;
}

HMODULE LoadLibraryW(const wchar_t* fileName) {
    return LoadLibraryExW(fileName, 0, 0);
}

HMODULE LoadLibraryA(const char* fileName) {
    return LoadLibraryExA(fileName, 0, 0);
}

HMODULE LoadLibraryExW(const wchar_t* fileName, HANDLE, DWORD flags) {
    return Load(fileName ? Utf::WideToUtf8(fileName) : std::string(), flags);
}

HMODULE LoadLibraryExA(const char* fileName, HANDLE, DWORD flags) {
    return Load(fileName ? std::string(fileName) : std::string(), flags);
}

BOOL FreeLibrary(HMODULE module) {
    if (WinResourceFile::Free(module))
        return TRUE;
    void* handle;
    bool last;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        auto it = State().loaded.find(module);
        if (it == State().loaded.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        handle = it->second.handle;
        last = --it->second.count == 0;
        if (last)
            State().loaded.erase(it);
    }
    if (last)
        WinUser::UnregisterModuleClasses(module);
    dlclose(handle);
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    void* handle = WinModule::NativeHandle(module);
    if (!handle || !name) {
        SetLastError(handle ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

namespace {

template <class CharT>
DWORD CopyModuleName(HMODULE module, CharT* buffer, DWORD bufferMax, const std::basic_string<CharT>& name) {
    if (!buffer || bufferMax == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (name.size() < bufferMax) {
        std::copy(name.begin(), name.end(), buffer);
        buffer[name.size()] = 0;
        return static_cast<DWORD>(name.size());
    }
    std::copy(name.begin(), name.begin() + (bufferMax - 1), buffer);
    buffer[bufferMax - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return bufferMax;
}

bool ModulePath(HMODULE module, std::string& path) {
    if (module && WinResourceFile::Path(module, path))
        return true;
    ObjectInfo object;
    if (!FindObject(module, object)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    path = PathOf(object);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    return true;
}

} // namespace

DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD bufferMax) {
    std::string path;
    if (!ModulePath(module, path))
        return 0;
    return CopyModuleName(module, buffer, bufferMax, Utf::Utf8ToWide(path));
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD bufferMax) {
    std::string path;
    if (!ModulePath(module, path))
        return 0;
    return CopyModuleName(module, buffer, bufferMax, path);
}

HMODULE GetModuleHandleA(const char* moduleName) {
    if (!moduleName)
        return ProgramModule();
    const std::string name = moduleName;
    if (EndsWithNoCase(name, ".exe"))
        return ProgramModule();
    const std::string wanted = Lower(FileNamePart(WinModule::MappedLibraryName(name)));
    for (const ObjectInfo& object : Objects()) {
        if (!object.program && Lower(FileNamePart(object.path)) == wanted)
            return object.base;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HMODULE GetModuleHandleW(const wchar_t* moduleName) {
    if (!moduleName)
        return ProgramModule();
    return GetModuleHandleA(Utf::WideToUtf8(moduleName).c_str());
}

BOOL GetModuleHandleExW(DWORD flags, const wchar_t* moduleName, HMODULE* module) {
    if (!module) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info{};
        if (!moduleName || !dladdr(reinterpret_cast<const void*>(moduleName), &info) || !info.dli_fbase) {
            *module = nullptr;
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        *module = static_cast<HMODULE>(info.dli_fbase);
        return TRUE;
    }
    *module = GetModuleHandleW(moduleName);
    return *module ? TRUE : FALSE;
}
