// The raw library's process-wide named locks, under which lazily made tables, caches and libraries are
// built; each is made on its first use (the library's start-up makes them all at once).
#pragma once

#include "rawlib/foundation/CSyncGlobal.h"

namespace KvLibrary {

extern constinit Kv::CSyncGlobal g_revelationLocal; // "DORARevLocal": the Revelation library's local state
extern constinit Kv::CSyncGlobal g_revelationWhole; // "DORARevWholeThing": one Revelation run at a time
extern constinit Kv::CSyncGlobal g_lchTables;       // "CFltLch-RatLInit-Guard": the LCh filter's tables
extern constinit Kv::CSyncGlobal g_lensInformation; // "CKvLensInformation": the lens information users
extern constinit Kv::CSyncGlobal g_fisheyeCache;    // "CFisheyeFilter-InitSection": the fisheye lens cache
extern constinit Kv::CSyncGlobal g_filterLibrary;   // unnamed: the filter library side

// Makes every one of them, whichever thread gets there first.
void MakeProcessLocks();

} // namespace KvLibrary
