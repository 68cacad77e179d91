// Settings that the system fixes but tests must change: they live here, in the one shared platform
// library, because each module carries a private copy of the framework that tests cannot reach.
#pragma once

#include "wintypes.h"

#include <string>

namespace WinSeams {

// How long a worker thread's stop waits for the thread to end (3000 ms unless changed).
DWORD ThreadStopWait();
void SetThreadStopWait(DWORD milliseconds);

// How long an asynchronous renderer's abort waits for a running render to end (20000 ms unless changed).
DWORD RenderAbortWait();
void SetRenderAbortWait(DWORD milliseconds);

// Asynchronous renderers refuse one request, as a worker that does not take it would, after `after` more
// requests have been queued by any of them; RenderQueueRefuses answers for the request about to be queued
// and uses the refusal up.
void RefuseRenderRequest(int after = 0);
bool RenderQueueRefuses();

// The version GetVersionExA reports (5.1 unless changed); failing makes it fail.
void SetReportedVersion(DWORD major, DWORD minor, bool failing = false);

// The clock that times window timers and message times: milliseconds of a steady clock, or of a manual
// clock that only moves when a test advances it (which wakes every thread waiting for its timers).
ULONGLONG ClockMilliseconds();
void UseManualClock(ULONGLONG startMilliseconds);
void AdvanceManualClock(DWORD milliseconds);
void UseSteadyClock();

// The resolution of the screen's device contexts, in dots per inch (96 unless changed).
DWORD ScreenDpi();
void SetScreenDpi(DWORD dpi);

// The size of the desktop window's client area (WinDesktop.h; 1920 x 1080 unless changed).
void SetDesktopSize(LONG width, LONG height);

// The folder under which the per-user temporary root is made: $TMPDIR, or /tmp when that is unset or
// empty, unless a test names another one (an empty name goes back to the environment).
std::string TempBase();
void SetTempBase(const std::string& folder);

// The machine's system folder, where its own libraries lie (SearchPathW looks there): the folder of this
// layer's library file, unless a test names another one (an empty name goes back to it).
std::string SystemFolder();
void SetSystemFolder(const std::string& folder);

// Back to the values above.
void ResetAll();

} // namespace WinSeams
