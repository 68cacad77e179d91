// What the library's calls report to the test controls (DragKvl1Test.h): each call counts itself, learns
// whether a force makes it fail, and logs its result; the callbacks and allocations are counted.
#pragma once

#include "platform/dragkvl1/DragKvl1Test.h"

#include <optional>

namespace dragkvl1 {

struct Forced {
    std::int32_t result = DRAG_OK;
    std::string text;
    void* object = nullptr;
};

// Counts the call; the answer a force gives it, if one applies.
std::optional<Forced> Enter(DragCall call, std::int32_t pass);
// Logs the call's result and returns it.
std::int32_t Leave(DragCall call, std::uint32_t handle, std::int32_t pass, std::int32_t result,
                   bool forced = false);

void CountRowSource();
void CountRowSink();
void CountAllocation();
void CountRelease();
void KeepParams(const DragParams& params);
// Runs the cancel point when it names this pass and call.
void AtProcess(std::uint32_t pass, int call);

} // namespace dragkvl1
