// The resources of the test plug-ins, by library name: what the build compiles into each library and
// what the resource readers' fuzz corpus starts from.
#pragma once

#include "platform/plugins/KvPluginResourceWriter.h"

#include <string>
#include <vector>

namespace KvTestPlugins {

struct Resources {
    std::string library;          // the library's file name without ".so"
    KvPlugin::ResourceBytes pipl; // empty: the library carries none
    KvPlugin::ResourceBytes aete;
};

const std::vector<Resources>& AllResources();
// Null for a name that is not a test plug-in's.
const Resources* ResourcesOf(const std::string& library);

} // namespace KvTestPlugins
