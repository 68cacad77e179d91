// Test controls of the red-eye library: a forced result for any call, and a log of the calls made with
// what they were given and what they returned. Process-wide; tests reset them before use.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <string>
#include <vector>

enum class ReCall {
    kDetectAuto,
    kDetectNearest,
    kCorrectRegions,
    kSaveRegion,
    kLoadRegion,
    kListInsert,
    kCount
};

struct ReTestLogEntry {
    ReCall call;
    DWORD result;
    std::string detail; // the arguments that matter, as text ("64x48 format 0x1805 model \"X\" ...")
};

// After `skip` more calls of `call` have run normally, every later one returns `result` and does nothing
// else (a forced ReListInsert still frees its region). A result of RE_OK lifts the force.
void ReTestForceResult(ReCall call, DWORD result, int skip = 0);
// Lifts every forced result and clears the log and the call counts.
void ReTestReset();
std::size_t ReTestCallCount(ReCall call);
std::vector<ReTestLogEntry> ReTestCallLog();
const char* ReTestCallName(ReCall call);
