#include "KvPluginInfo.h"

#include <algorithm>
#include <mutex>

namespace {

struct Table {
    std::mutex lock;
    std::vector<KvPluginInfo> plugins;
};

Table& Installed() {
    static Table table;
    return table;
}

} // namespace

bool KvPluginInfo::operator==(const KvPluginInfo& other) const {
    if (scriptingId != 0 && other.scriptingId != 0 && scriptingId == other.scriptingId)
        return true;
    return path.CompareNoCase(other.path) == 1;
}

namespace KvInstalledPlugins {

void Set(std::vector<KvPluginInfo> plugins) {
    Table& table = Installed();
    std::lock_guard<std::mutex> guard(table.lock);
    table.plugins = std::move(plugins);
}

bool Find(const KvPluginInfo& probe, KvPluginInfo* found) {
    Table& table = Installed();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto it = std::find(table.plugins.begin(), table.plugins.end(), probe);
    if (it == table.plugins.end())
        return false;
    if (found)
        *found = *it;
    return true;
}

} // namespace KvInstalledPlugins
