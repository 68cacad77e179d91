// What the raw library holds for the life of the process: the manager of the filter-chain object
// initialised last, the named locks under which lazily made tables, caches and libraries are built
// (rawlib/foundation/KvProcessLocks.h), and the counts of live exported objects. The locks exist from the
// moment the library is loaded; every count is atomic, so objects may come and go on any thread.
#pragma once

#include "platform/pravon/IPravonImage.h"
#include "rawlib/foundation/KvProcessLocks.h"

#include <atomic>

void KvSetGlobalManager(IPravonManager* manager);
IPravonManager* KvGetGlobalManager();

namespace KvLibrary {

// Live objects, and how often the library has been attached to the process.
extern std::atomic<LONG> g_liveFilterChains;
extern std::atomic<LONG> g_liveProcessors;
LONG GetAttachCount();

// The library's entry point: attach makes every named lock (on the first attach), detach undoes the count.
// The loader calls both; they are public for the tests of the entry point.
void Attach();
void Detach();

} // namespace KvLibrary
