#include "platform/dragkvl1/DragHooks.h"

#include <array>
#include <mutex>
#include <utility>

namespace dragkvl1 {

namespace {

// The log keeps the latest calls only, so a long-running process does not grow it without end.
constexpr std::size_t kLogLimit = 4096;

struct Force {
    DragForce force;
    int seen = 0;   // calls that counted towards it
    int failed = 0; // calls it made fail
};

struct CancelPoint {
    std::uint32_t pass = 0;
    int call = 0;
    std::function<void()> action;
};

struct Hooks {
    std::mutex lock;
    std::vector<Force> forces;
    std::array<std::size_t, static_cast<std::size_t>(DragCall::kCount)> counts{};
    std::vector<DragLogEntry> log;
    std::size_t rowSources = 0;
    std::size_t rowSinks = 0;
    std::size_t allocations = 0;
    std::size_t live = 0;
    std::array<DragParams, 2> params{};
    CancelPoint cancel;
};

Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}

std::size_t Index(DragCall call) {
    return static_cast<std::size_t>(call);
}

} // namespace

std::optional<Forced> Enter(DragCall call, std::int32_t pass) {
    Hooks& hooks = TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    ++hooks.counts[Index(call)];
    for (Force& f : hooks.forces) {
        if (f.force.call != call || (f.force.pass != kDragAnyPass && f.force.pass != pass))
            continue;
        if (f.seen++ < f.force.skip)
            continue;
        if (f.force.times != 0 && f.failed >= f.force.times)
            continue;
        ++f.failed;
        Forced forced{f.force.result, f.force.text, std::exchange(f.force.object, nullptr)};
        return forced;
    }
    return std::nullopt;
}

std::int32_t Leave(DragCall call, std::uint32_t handle, std::int32_t pass, std::int32_t result, bool forced) {
    Hooks& hooks = TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    if (hooks.log.size() >= kLogLimit)
        hooks.log.erase(hooks.log.begin(), hooks.log.begin() + kLogLimit / 2);
    hooks.log.push_back({call, handle, pass, result, forced});
    return result;
}

void CountRowSource() {
    std::lock_guard<std::mutex> guard(TheHooks().lock);
    ++TheHooks().rowSources;
}

void CountRowSink() {
    std::lock_guard<std::mutex> guard(TheHooks().lock);
    ++TheHooks().rowSinks;
}

void CountAllocation() {
    std::lock_guard<std::mutex> guard(TheHooks().lock);
    ++TheHooks().allocations;
    ++TheHooks().live;
}

void CountRelease() {
    std::lock_guard<std::mutex> guard(TheHooks().lock);
    --TheHooks().live;
}

void KeepParams(const DragParams& params) {
    std::lock_guard<std::mutex> guard(TheHooks().lock);
    if (params.pass < TheHooks().params.size())
        TheHooks().params[params.pass] = params;
}

void AtProcess(std::uint32_t pass, int call) {
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> guard(TheHooks().lock);
        const CancelPoint& point = TheHooks().cancel;
        if (point.action && point.pass == pass && point.call == call)
            action = point.action;
    }
    if (action)
        action();
}

} // namespace dragkvl1

void DragTestForce(const DragForce& force) {
    dragkvl1::Hooks& hooks = dragkvl1::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    hooks.forces.push_back({force});
}

void DragTestReset() {
    dragkvl1::Hooks& hooks = dragkvl1::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    hooks.forces.clear();
    hooks.counts.fill(0);
    hooks.log.clear();
    hooks.rowSources = 0;
    hooks.rowSinks = 0;
    hooks.allocations = 0;
    hooks.params = {};
    hooks.cancel = {};
}

std::size_t DragTestCallCount(DragCall call) {
    dragkvl1::Hooks& hooks = dragkvl1::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    return hooks.counts.at(dragkvl1::Index(call));
}

std::vector<DragLogEntry> DragTestCallLog() {
    dragkvl1::Hooks& hooks = dragkvl1::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    return hooks.log;
}

const char* DragTestCallName(DragCall call) {
    static constexpr const char* kNames[] = {
        "DRAGLoad",  "DRAGUnload",  "DRAGNew",      "DRAGDelete", "DRAGInit", "DRAGSetStatisticsImageInfo",
        "DRAGBegin", "DRAGProcess", "DRAGComplete", "DRAGEnd",    "DRAGAbort"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(DragCall::kCount));
    const std::size_t i = dragkvl1::Index(call);
    return i < std::size(kNames) ? kNames[i] : "?";
}

std::size_t DragTestRowSourceCount() {
    std::lock_guard<std::mutex> guard(dragkvl1::TheHooks().lock);
    return dragkvl1::TheHooks().rowSources;
}

std::size_t DragTestRowSinkCount() {
    std::lock_guard<std::mutex> guard(dragkvl1::TheHooks().lock);
    return dragkvl1::TheHooks().rowSinks;
}

std::size_t DragTestAllocationCount() {
    std::lock_guard<std::mutex> guard(dragkvl1::TheHooks().lock);
    return dragkvl1::TheHooks().allocations;
}

std::size_t DragTestLiveAllocations() {
    std::lock_guard<std::mutex> guard(dragkvl1::TheHooks().lock);
    return dragkvl1::TheHooks().live;
}

DragParams DragTestLastParams(std::uint32_t pass) {
    std::lock_guard<std::mutex> guard(dragkvl1::TheHooks().lock);
    return pass < dragkvl1::TheHooks().params.size() ? dragkvl1::TheHooks().params[pass] : DragParams{};
}

void DragTestSetCancelPoint(std::uint32_t pass, int call, std::function<void()> action) {
    std::lock_guard<std::mutex> guard(dragkvl1::TheHooks().lock);
    dragkvl1::TheHooks().cancel = {pass, call, std::move(action)};
}
