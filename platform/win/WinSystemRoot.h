// The folder that stands in for the machine's fixed places (registry store, common files, install and
// Startup folders, spool, outbox): $KV_SYSTEM_ROOT, or ~/.local/share/Korvel/system when that is unset.
#pragma once

#include <string>

namespace WinSystem {

// The machine folder without a trailing '/', made (with its parents) when it does not exist yet. The
// environment is read on every call, so a test that points KV_SYSTEM_ROOT elsewhere gets a fresh machine.
// Empty when no folder can be named (neither KV_SYSTEM_ROOT nor a home folder) or made.
std::string GetSystemRoot();

// The installed tree's "Common Files" folder, from which a fresh machine takes its data files (profiles,
// lens file, language libraries): found beside the Windows layer's library by the relative path the build
// configures (cmake/KvInstall.cmake). Empty when the library does not run from an installed tree.
std::string InstalledCommonFiles();

// Copies every file of InstalledCommonFiles() into `folder` (a fresh machine's "Common Files"), each under a
// temporary name renamed into place and never over a file already there. True when there was nothing to
// copy or everything was copied.
bool CopyInstalledCommonFiles(const std::string& folder);

} // namespace WinSystem
