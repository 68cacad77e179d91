// The installed plug-ins that the settings-record fuzz target reads plug-in steps against and its corpus
// is written with: two test plug-ins, one whose file is gone, and one without a path or a scripting id.
#pragma once

#include "platform/win/FourCC.h"
#include "rawlib/settings/KvPluginInfo.h"

#include <string>

inline std::string FuzzTestPlugin(const char* library) {
    return std::string(KV_TEST_PLUGIN_DIR) + "/" + library + ".so";
}

inline void InstallFuzzPlugins() {
    const auto entry = [](const char* library, const char(&id)[5]) {
        KvPluginInfo info;
        info.path = FuzzTestPlugin(library).c_str();
        info.scriptingId = static_cast<DWORD>(FourCC(id));
        return info;
    };
    KvInstalledPlugins::Set({entry("KvInvert", "KvIv"), entry("KvBlur", "KvBl"),
                             entry("KvRemovedSinceItWasStored", "Gone"), KvPluginInfo()});
}
