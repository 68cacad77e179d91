// The Revelation processing library: a local tone mapping in two passes over whole images. A statistics
// pass measures the picture block by block into a 16-bit grey statistics image; an output pass, run strip
// by strip, pulls each strip with a margin, pulls the statistics and pushes the mapped rows. Every pixel
// travels through the caller's row callbacks, and the library's own memory through its allocation
// callbacks. The library is loaded at run time; each call below is looked up by its name.
//
// A session (handle) runs one pass at a time: DRAGInit, DRAGBegin, DRAGProcess until DRAGComplete answers
// non-zero, then DRAGEnd; DRAGAbort ends a run at any point. Results are DRAG_OK or a negative code; with
// DRAG_ERR_TEXT the error record carries a message, with DRAG_ERR_OBJECT the error object a callback
// returned, which the caller then owns.
#pragma once

#include <cstdint>

extern "C" {

// Results.
constexpr std::int32_t DRAG_OK = 0;
constexpr std::int32_t DRAG_ERR_HANDLE = -2;   // no session has this handle
constexpr std::int32_t DRAG_ERR_PARAM = -3;    // a parameter block or argument the library cannot use
constexpr std::int32_t DRAG_ERR_STATE = -4;    // the call does not fit the session's state
constexpr std::int32_t DRAG_ERR_MEMORY = -6;   // the library could not get memory
constexpr std::int32_t DRAG_ERR_UNLOADED = -7; // DRAGLoad has not been called
constexpr std::int32_t DRAG_ERR_OBJECT = -16;  // a callback failed; DragError::object is its error
constexpr std::int32_t DRAG_ERR_TEXT = -19;    // DragError::text says what went wrong

// Passes.
constexpr std::uint32_t DRAG_PASS_STATISTICS = 0;
constexpr std::uint32_t DRAG_PASS_OUTPUT = 1;

// Pixels of the statistics image per side of one measured block.
constexpr std::uint32_t DRAG_STATISTICS_BLOCK = 16;
// The margin of source pixels around a strip that the output pass reads; no output pixel depends on a
// source pixel farther away than this.
constexpr std::uint32_t DRAG_STRIP_MARGIN = 24;

// Right and bottom are exclusive.
struct DragRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// An error record the library fills on failure. The text stays valid until the next call on the session.
struct DragError {
    const char* text;
    void* object;
};

// Callbacks answer null for success, or an error object of the caller's, which the library hands back
// through DRAG_ERR_OBJECT without looking into it.
//
// The row source fills planar 16-bit samples for the rectangle: plane k starts k * n samples in, n being
// the rectangle's area, rows packed. Positions outside the image read as the caller's edge rule gives.
// The row sink takes the same layout (as many planes as the image has channels) and writes what lies
// inside the image.
typedef void* (*DragRowSource)(const DragRect* rect, std::uint16_t* planar, void* description);
typedef void* (*DragRowSink)(const DragRect* rect, const std::uint16_t* planar, void* description);
typedef void* (*DragAllocate)(void** memory, std::uint32_t size);
typedef void* (*DragRelease)(void* memory);
// out = max(low, min(high, the caller's limit)).
typedef void* (*DragLimit)(std::int32_t low, std::int32_t high, std::int32_t unused, std::int32_t* out);

// One image as a pass uses it: the description handed to the callbacks, its size and planes, and the
// area in use, given in the order right, left, top, bottom.
struct DragImageRef {
    void* description;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t planes;
    std::uint32_t right;
    std::uint32_t left;
    std::uint32_t top;
    std::uint32_t bottom;
};

// The parameter block of DRAGInit; zero-filled before use, size = sizeof(DragParams).
struct DragParams {
    std::uint16_t size;
    std::uint32_t inputCount; // images measured: 1, or 2 with a second source (the output pass: 1)
    std::uint32_t one;        // 1
    std::uint32_t sampleBits; // 16: every sample crosses the callbacks as 16 bits
    std::uint16_t resolution; // of the source, pixels per inch
    std::uint32_t lastRow;    // source height - 1
    std::uint32_t flagSet;    // 1 when flag is not 0
    std::uint32_t flag;       // measure by the brightest channel instead of the weighted lightness
    DragRowSource rowSource;
    DragRowSink rowSink;
    DragAllocate allocate;
    DragRelease release;
    DragLimit limit;
    std::uint32_t pass; // DRAG_PASS_STATISTICS or DRAG_PASS_OUTPUT

    // Statistics pass: the source with its measured region (planes 3, or 4 when plane 3 is a second,
    // grey source that is measured instead).
    DragImageRef measured;
    std::uint32_t measuredOption;

    // Output pass: the strip of the source (its area), the strip buffer (the strip with the margin on
    // every side; its area is the strip), the statistics image and the destination (its area takes the
    // strip's rows).
    DragImageRef source;
    DragImageRef buffer;
    DragImageRef statistics;
    DragImageRef destination;
    std::uint32_t useLowest;
    std::int32_t lowest; // results below are raised to it when useLowest is set
    std::uint32_t useHighest;
    std::int32_t highest; // results above are lowered to it when useHighest is set
    std::uint32_t option;
    std::uint8_t lift;     // p1: 127 leaves the local brightness alone; above pulls it towards the target
    std::uint8_t target;   // p2: the target brightness, 190 = the picture's own mean
    std::uint8_t contrast; // p3: 127 leaves fine detail alone; above strengthens it, below softens it
};

// Filled by DRAGInit in the statistics pass: the size of the statistics image.
struct DragInfo {
    std::uint16_t size; // 12
    std::uint32_t statisticsWidth;
    std::uint32_t statisticsHeight;
};
static_assert(sizeof(DragInfo) == 12, "the information block is 12 bytes");

std::int32_t DRAGLoad(void);
void DRAGUnload(void);
// 0 when the library is not loaded or the kind is not 2..11. The two further words must be 0.
std::uint32_t DRAGNew(std::int32_t kind, std::int32_t reserved1, std::int32_t reserved2);
void DRAGDelete(std::uint32_t handle);
std::int32_t DRAGInit(std::uint32_t handle, const DragParams* params, DragInfo* info, DragError* error);
std::int32_t DRAGSetStatisticsImageInfo(std::uint32_t handle, const DragImageRef* statistics);
std::int32_t DRAGBegin(std::uint32_t handle, DragError* error);
// Works through up to amount rows; progress receives 0..100 for the run.
std::int32_t DRAGProcess(std::uint32_t handle, std::int32_t amount, std::int32_t* progress, DragError* error);
// Non-zero once the run has produced everything.
std::int32_t DRAGComplete(std::uint32_t handle);
std::int32_t DRAGEnd(std::uint32_t handle, DragError* error);
std::int32_t DRAGAbort(std::uint32_t handle, DragError* error);

} // extern "C"

// The calls as the run-time loader finds them.
using DragLoadFunction = decltype(&DRAGLoad);
using DragUnloadFunction = decltype(&DRAGUnload);
using DragNewFunction = decltype(&DRAGNew);
using DragDeleteFunction = decltype(&DRAGDelete);
using DragInitFunction = decltype(&DRAGInit);
using DragSetStatisticsImageInfoFunction = decltype(&DRAGSetStatisticsImageInfo);
using DragBeginFunction = decltype(&DRAGBegin);
using DragProcessFunction = decltype(&DRAGProcess);
using DragCompleteFunction = decltype(&DRAGComplete);
using DragEndFunction = decltype(&DRAGEnd);
using DragAbortFunction = decltype(&DRAGAbort);
