// Settings that the system fixes but tests must change: they live here, in the one shared platform
// library, because each module carries a private copy of the framework that tests cannot reach.
#pragma once

#include "wintypes.h"

namespace WinSeams {

// How long a worker thread's stop waits for the thread to end (3000 ms unless changed).
DWORD ThreadStopWait();
void SetThreadStopWait(DWORD milliseconds);

// The version GetVersionExA reports (5.1 unless changed); failing makes it fail.
void SetReportedVersion(DWORD major, DWORD minor, bool failing = false);

// Back to the values above.
void ResetAll();

} // namespace WinSeams
