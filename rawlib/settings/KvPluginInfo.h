// One installed filter plug-in as the library knows it (its file, its display name and category, its
// scripting id), and the library's table of them, which the plug-in records look steps up in. The table is
// process-wide and guarded. It is filled once, when it is first looked in, from the plug-ins folder of the
// machine's common files, unless it was set before.
#pragma once

#include "rawlib/foundation/CKvString.h"

#include <string>
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

// The installed plug-ins' folder: the string value "CommonFilesDir" under HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows\CurrentVersion", then "Korvel/Plug-ins"; empty without that value.
constexpr const char* kPluginFolder = "Korvel/Plug-ins";
std::string PluginFolder();

// The plug-ins of a folder: every library (".so", any letter case) directly in it, in name order, opened
// once to read its resources through the plug-in resource readers (as untrusted bytes) and closed again. A
// library that does not load, has no entry point, or whose property list or scripting id cannot be read is
// left out with a trace, and the others are read as if it were not there.
std::vector<KvPluginInfo> ReadFolder(const std::string& folder);

// Replaces the table; the folder is then never read for it.
void Set(std::vector<KvPluginInfo> plugins);
// The first installed entry equal to the probe; false when there is none. The first look fills the table
// from PluginFolder() when nothing was set.
bool Find(const KvPluginInfo& probe, KvPluginInfo* found);

} // namespace KvInstalledPlugins
