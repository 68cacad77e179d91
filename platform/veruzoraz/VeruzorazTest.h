// Test controls of the signal-processing library: a forced result, the log of its calls (the arguments,
// the first private bytes and the progress values it reported with their answers) and a count of the
// times the library was mapped. Process-wide; a test calls VerTestReset before it starts.
#pragma once

#include "platform/veruzoraz/VERuzOraz.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

struct VerCall {
    std::int32_t heightMinus1 = 0;
    std::int32_t width = 0;
    std::int32_t redGain = 0;
    std::int32_t blueGain = 0;
    std::int32_t firstMode = 0;
    std::int32_t secondMode = 0;
    std::int32_t exposureFactor = 0;
    std::int32_t toneFactor = 0;
    std::int32_t pattern = 0;
    bool hadProgress = false;
    std::array<std::uint8_t, VER_PRIVATE_BYTES> privateData{};
    // (current, total) of each progress call, and what the function answered.
    std::vector<std::pair<std::int32_t, std::int32_t>> progress;
    std::vector<std::int32_t> answers;
    std::int32_t result = 0;
};

extern "C" {
// From now on sig_proc_ex answers `result` without converting, until VerTestReset.
void VerTestForceResult(std::int32_t result);
// Lifts the forced result and clears the log (the mapping count stays).
void VerTestReset();
// How often the library has been mapped into the process, and how often unmapped again.
std::size_t VerTestLoadCount();
std::size_t VerTestUnloadCount();
}

std::vector<VerCall> VerTestCallLog();
