#include "WinResourceFile.h"

#include "WinDebug.h"
#include "WinKernel.h"
#include "WinModule.h"
#include "WinResourceManifest.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

namespace WinResourceFile {
namespace {

// Resource files are small texts; a larger file is not one.
constexpr std::size_t kFileLimit = 16u << 20;

struct ResourceFile {
    std::string path;
    int count = 0;
    WinResourceManifest::Manifest manifest;
    std::vector<KvwStringEntry> strings;
    std::vector<KvwResourceEntry> entries;
    KvwResourceTable table{};
};

struct State {
    std::mutex lock;
    std::map<HMODULE, std::unique_ptr<ResourceFile>> files;
};

State& Files() {
    static State* state = new State;
    return *state;
}

HMODULE HandleOf(const ResourceFile* file) {
    return reinterpret_cast<HMODULE>(const_cast<ResourceFile*>(file));
}

bool ReadBytes(const std::string& path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > kFileLimit)
        return false;
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(size));
    return size == 0 || static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), size));
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? "/" : path.substr(0, slash);
}

DWORD Fail(const std::string& path, const std::string& what, DWORD error) {
    OutputDebugStringA(("LoadLibrary: " + path + ": " + what + "\n").c_str());
    return error;
}

// ERROR_SUCCESS, or the error the load fails with.
DWORD Read(ResourceFile& file) {
    std::vector<unsigned char> bytes;
    if (!ReadBytes(file.path, bytes))
        return Fail(file.path, "cannot be read", ERROR_MOD_NOT_FOUND);
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!WinResourceManifest::Parse(text, file.manifest, error))
        return Fail(file.path, error, ERROR_RESOURCE_DATA_NOT_FOUND);
    for (WinResourceManifest::DataLine& line : file.manifest.data) {
        const std::string dataPath = WinResourceManifest::DataPath(FolderOf(file.path), line.file);
        if (!ReadBytes(dataPath, line.bytes))
            return Fail(file.path, "cannot read " + dataPath, ERROR_RESOURCE_DATA_NOT_FOUND);
    }
    for (const WinResourceManifest::StringLine& line : file.manifest.strings)
        file.strings.push_back({line.id, line.text.c_str()});
    for (const WinResourceManifest::DataLine& line : file.manifest.data)
        file.entries.push_back({line.typeId, line.typeName.empty() ? nullptr : line.typeName.c_str(), line.id,
                                static_cast<std::uint32_t>(line.bytes.size()),
                                line.bytes.empty() ? nullptr : line.bytes.data()});
    file.table = {kKvwResourceTableVersion, static_cast<std::uint32_t>(file.strings.size()),
                  file.strings.empty() ? nullptr : file.strings.data(),
                  static_cast<std::uint32_t>(file.entries.size()),
                  file.entries.empty() ? nullptr : file.entries.data()};
    return ERROR_SUCCESS;
}

} // namespace

bool IsResourceText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    char magic[4] = {};
    in.read(magic, sizeof magic);
    return std::memcmp(magic,
                       "\x7f"
                       "ELF",
                       sizeof magic) != 0;
}

HMODULE Load(const std::string& path) {
    try {
        std::lock_guard<std::mutex> guard(Files().lock);
        for (auto& [handle, file] : Files().files) {
            if (file->path == path) {
                ++file->count;
                return handle;
            }
        }
        auto file = std::make_unique<ResourceFile>();
        file->path = path;
        if (const DWORD error = Read(*file)) {
            SetLastError(error);
            return nullptr;
        }
        file->count = 1;
        const HMODULE handle = HandleOf(file.get());
        Files().files.emplace(handle, std::move(file));
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

bool Free(HMODULE module) {
    std::unique_ptr<ResourceFile> unloaded;
    std::lock_guard<std::mutex> guard(Files().lock);
    auto it = Files().files.find(module);
    if (it == Files().files.end())
        return false;
    if (--it->second->count == 0) {
        unloaded = std::move(it->second);
        Files().files.erase(it);
    }
    return true;
}

const KvwResourceTable* Table(HMODULE module) {
    std::lock_guard<std::mutex> guard(Files().lock);
    auto it = Files().files.find(module);
    return it == Files().files.end() ? nullptr : &it->second->table;
}

bool Path(HMODULE module, std::string& path) {
    std::lock_guard<std::mutex> guard(Files().lock);
    auto it = Files().files.find(module);
    if (it == Files().files.end())
        return false;
    path = it->second->path;
    return true;
}

} // namespace WinResourceFile
