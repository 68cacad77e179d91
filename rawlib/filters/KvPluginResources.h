// The readers of a filter plug-in's resources (layouts in platform/plugins/KvFilterPlugin.h): the
// property list gives its display name and category, the scripting description its scripting id. The
// bytes come from the plug-in's file and are read as untrusted: every count, length and padding is
// checked against the bytes present, and a resource that breaks any of them gives nothing.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <string>

struct KvPluginNames {
    std::string name;
    std::string category;
};

// False, with names untouched, for a damaged list. A list without one of the two keys leaves that one
// untouched.
bool KvReadPluginPipl(const BYTE* bytes, std::size_t size, KvPluginNames* names);
// The event id of the first event of the first suite; 0 when the description holds no event or is
// damaged.
DWORD KvReadPluginAete(const BYTE* bytes, std::size_t size);
