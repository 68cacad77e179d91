#include "KvPluginInfo.h"

#include "platform/plugins/CKvPluginLibrary.h"
#include "platform/win/WinDebug.h"
#include "platform/win/WinRegistry.h"
#include "rawlib/filters/KvPluginResources.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>

namespace {

struct Table {
    std::mutex lock;
    bool filled = false;
    std::vector<KvPluginInfo> plugins;
};

Table& Installed() {
    static Table table;
    return table;
}

constexpr const char* kLibrarySuffix = ".so";

void Skip(const std::string& path, const char* reason) {
    OutputDebugStringA(("Filter plug-in " + path + " left out: " + reason + "\n").c_str());
}

bool IsLibraryName(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name.size() > std::char_traits<char>::length(kLibrarySuffix) && name.ends_with(kLibrarySuffix);
}

// The string value "CommonFilesDir", or empty.
std::string CommonFilesFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE,
                     &key) != ERROR_SUCCESS)
        return {};
    std::string text;
    DWORD type = REG_NONE, size = 0;
    if (RegQueryValueEx(key, "CommonFilesDir", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        text.assign(size, '\0');
        if (RegQueryValueEx(key, "CommonFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                            &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            text.clear();
    }
    RegCloseKey(key);
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
}

} // namespace

bool KvPluginInfo::operator==(const KvPluginInfo& other) const {
    if (scriptingId != 0 && other.scriptingId != 0 && scriptingId == other.scriptingId)
        return true;
    return path.CompareNoCase(other.path) == 1;
}

namespace KvInstalledPlugins {

std::string PluginFolder() {
    std::string folder = CommonFilesFolder();
    if (folder.empty())
        return {};
    if (folder.back() != '/' && folder.back() != '\\')
        folder += '/';
    return folder + kPluginFolder;
}

std::vector<KvPluginInfo> ReadFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (it->is_regular_file(kind) && IsLibraryName(it->path().filename().string()))
            paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<KvPluginInfo> plugins;
    for (const std::string& path : paths) {
        CKvPluginLibrary library;
        if (!library.Open(path.c_str())) {
            Skip(path, "it does not load");
            continue;
        }
        if (!library.GetEntry()) {
            Skip(path, "it has no entry point");
            continue;
        }
        KvPluginNames names;
        const auto pipl = library.GetResource(KvPlugin::kPiplType, KvPlugin::kPluginResourceId);
        if (pipl.empty() || !KvReadPluginPipl(pipl.data(), pipl.size(), &names) || names.name.empty()) {
            Skip(path, "its property list is missing or damaged");
            continue;
        }
        const auto aete = library.GetResource(KvPlugin::kAeteType, KvPlugin::kPluginResourceId);
        const DWORD scriptingId = KvReadPluginAete(aete.data(), aete.size());
        // A stored step names its plug-in by this id alone: without one it could never be found.
        if (scriptingId == 0) {
            Skip(path, "its scripting id is missing or damaged");
            continue;
        }
        KvPluginInfo info;
        info.path = CKvString(path.c_str());
        info.name = CKvString(names.name.c_str());
        info.category = CKvString(names.category.c_str());
        info.scriptingId = scriptingId;
        plugins.push_back(std::move(info));
    }
    return plugins;
}

void Set(std::vector<KvPluginInfo> plugins) {
    Table& table = Installed();
    std::lock_guard<std::mutex> guard(table.lock);
    table.plugins = std::move(plugins);
    table.filled = true;
}

bool Find(const KvPluginInfo& probe, KvPluginInfo* found) {
    Table& table = Installed();
    std::lock_guard<std::mutex> guard(table.lock);
    if (!table.filled) {
        table.filled = true;
        const std::string folder = PluginFolder();
        if (!folder.empty())
            table.plugins = ReadFolder(folder);
    }
    const auto it = std::find(table.plugins.begin(), table.plugins.end(), probe);
    if (it == table.plugins.end())
        return false;
    if (found)
        *found = *it;
    return true;
}

} // namespace KvInstalledPlugins
