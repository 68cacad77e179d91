// Test controls of the Revelation processing library: forced failures of any call, a log of the calls
// made, counts of the callbacks, the last parameter block of each pass, and a cancel point from which a
// test acts in the middle of a pass. Process-wide; a test calls DragTestReset before it starts.
#pragma once

#include "platform/dragkvl1/DRAGKVL1.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class DragCall {
    kLoad,
    kUnload,
    kNew,
    kDelete,
    kInit,
    kSetStatisticsImageInfo,
    kBegin,
    kProcess,
    kComplete,
    kEnd,
    kAbort,
    kCount
};

// Any pass, for DragForce::pass.
constexpr std::int32_t kDragAnyPass = -1;

struct DragForce {
    DragCall call = DragCall::kInit;
    // What the call answers. DRAGNew answers 0 for any forced result; DRAG_ERR_TEXT comes with text,
    // DRAG_ERR_OBJECT with object, which the first forced call hands over (later ones hand over null).
    std::int32_t result = DRAG_ERR_PARAM;
    std::string text;
    void* object = nullptr;
    // Calls of this kind (in the pass, when one is given) that run normally before the first forced one.
    int skip = 0;
    // How many calls fail; 0 for every later call.
    int times = 1;
    // Only calls made in this pass count (Init, Begin, Process, Complete, End, Abort); kDragAnyPass for all.
    std::int32_t pass = kDragAnyPass;
};

struct DragLogEntry {
    DragCall call;
    std::uint32_t handle;
    std::int32_t pass; // the pass of the session's run, or kDragAnyPass outside a run
    std::int32_t result;
    bool forced;
};

// A forced call does nothing but answer. Forces add up; DragTestReset lifts them.
void DragTestForce(const DragForce& force);
// Lifts every force and the cancel point, and clears the log, the counts and the kept parameter blocks.
void DragTestReset();

std::size_t DragTestCallCount(DragCall call);
std::vector<DragLogEntry> DragTestCallLog();
const char* DragTestCallName(DragCall call);
// How often the library called each callback.
std::size_t DragTestRowSourceCount();
std::size_t DragTestRowSinkCount();
std::size_t DragTestAllocationCount();
// Blocks the library holds now, across every session (0 once every run has ended or been aborted).
std::size_t DragTestLiveAllocations();
// The block of the last DRAGInit of a pass that the library accepted; zero-filled before the first.
DragParams DragTestLastParams(std::uint32_t pass);

// The action runs on the calling thread inside the call-th DRAGProcess (counted from 1 within each run)
// of every run of the pass, after that call's work and before it answers. An empty action lifts it.
void DragTestSetCancelPoint(std::uint32_t pass, int call, std::function<void()> action);
