// Resource files: a manifest in its text form (see WinResources.h), loaded by LoadLibraryEx with
// LOAD_LIBRARY_AS_DATAFILE in place of a compiled resource-only library. Such a module has resources and no
// code; its handle is issued here and is known to FreeLibrary, GetModuleFileName and the resource calls.
#pragma once

#include "WinResources.h"

#include <string>

namespace WinResourceFile {

// True when the file at the (native) path exists and is not a compiled library.
bool IsResourceText(const std::string& path);
// Loads the file and the data files it names; a file loaded before gets its module again, counted. Null
// with the last error set when it cannot be read (ERROR_MOD_NOT_FOUND) or is malformed
// (ERROR_RESOURCE_DATA_NOT_FOUND; the reason is traced).
HMODULE Load(const std::string& path);
// False when the module is not a resource file's; else drops one count and unloads at the last.
bool Free(HMODULE module);
// The module's table, or null when the module is not a resource file's.
const KvwResourceTable* Table(HMODULE module);
// The file the module was loaded from; false when the module is not a resource file's.
bool Path(HMODULE module, std::string& path);

} // namespace WinResourceFile
