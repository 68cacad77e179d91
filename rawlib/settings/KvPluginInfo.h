// One installed filter plug-in as the library knows it (its file, its display name and category, its
// scripting id), and the library's table of them, which its interface fills and the plug-in records
// look steps up in. The table is process-wide and guarded.
#pragma once

#include "rawlib/foundation/CKvString.h"

#include <vector>

struct KvPluginInfo {
    CKvString path;
    CKvString name;
    CKvString category;
    DWORD scriptingId = 0; // 0: none

    // The same plug-in: both scripting ids set and equal; otherwise the same path, ignoring case.
    bool operator==(const KvPluginInfo& other) const;
};

namespace KvInstalledPlugins {

void Set(std::vector<KvPluginInfo> plugins);
// The first installed entry equal to the probe; false when there is none.
bool Find(const KvPluginInfo& probe, KvPluginInfo* found);

} // namespace KvInstalledPlugins
