// One session of the library (the object behind a handle): it checks each parameter block, keeps the
// state of its one run and answers each call as the run's state allows. Calls on one session are
// serialised by its own lock.
#pragma once

#include "platform/dragkvl1/DragRuns.h"

#include <memory>
#include <mutex>
#include <string>

namespace dragkvl1 {

class CDragSession {
public:
    explicit CDragSession(std::int32_t kind) : m_kind(kind) {}

    std::int32_t Init(const DragParams* params, DragInfo* info, DragError* error);
    std::int32_t SetStatisticsImageInfo(const DragImageRef* statistics);
    std::int32_t Begin(DragError* error);
    // *call receives the number of this Process call within the run.
    std::int32_t Process(std::int32_t amount, std::int32_t* progress, DragError* error, int* call);
    std::int32_t Complete() const;
    std::int32_t End(DragError* error);
    std::int32_t Abort(DragError* error);

    // The pass of the run that was initialised, or kDragAnyPass when none was.
    std::int32_t Pass() const;
    std::mutex& Lock() { return m_lock; }

    // Fills the error record for a forced or failed call and returns the result.
    std::int32_t Report(std::int32_t result, const std::string& text, void* object, DragError* error);

    // Whether the block describes a pass the library can run.
    static bool IsUsable(const DragParams& params, const DragInfo* info);

private:
    enum class State { kIdle, kInitialised, kRunning };

    std::int32_t m_kind;
    std::mutex m_lock;
    State m_state = State::kIdle;
    DragParams m_params{};
    DragImageRef m_statistics{};
    DragInfo m_info{};
    std::unique_ptr<CDragRun> m_run;
    int m_processCalls = 0;
    std::string m_errorText;
};

} // namespace dragkvl1
