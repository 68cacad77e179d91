// The folder that stands in for the machine's fixed places (registry store, common files, install and
// Startup folders, spool, outbox): $KV_SYSTEM_ROOT, or ~/.local/share/Korvel/system when that is unset.
#pragma once

#include <string>

namespace WinSystem {

// The machine folder without a trailing '/', made (with its parents) when it does not exist yet. The
// environment is read on every call, so a test that points KV_SYSTEM_ROOT elsewhere gets a fresh machine.
// Empty when no folder can be named (neither KV_SYSTEM_ROOT nor a home folder) or made.
std::string GetSystemRoot();

} // namespace WinSystem
