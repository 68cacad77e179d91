#include "RedEyeInternal.h"

#include <array>
#include <mutex>
#include <utility>

namespace redeye {

namespace {

// The log keeps the latest calls only, so a long-running process does not grow it without end.
constexpr std::size_t kLogLimit = 4096;

struct Force {
    DWORD result = RE_OK;
    std::size_t from = 0; // the call count from which the result applies
};

struct Hooks {
    std::mutex lock;
    std::array<Force, static_cast<std::size_t>(ReCall::kCount)> forces{};
    std::array<std::size_t, static_cast<std::size_t>(ReCall::kCount)> counts{};
    std::vector<ReTestLogEntry> log;
};

Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}

std::size_t Index(ReCall call) {
    return static_cast<std::size_t>(call);
}

void Log(Hooks& hooks, ReTestLogEntry entry) {
    if (hooks.log.size() >= kLogLimit)
        hooks.log.erase(hooks.log.begin(), hooks.log.begin() + kLogLimit / 2);
    hooks.log.push_back(std::move(entry));
}

} // namespace

std::optional<DWORD> Enter(ReCall call, const std::string& detail) {
    Hooks& hooks = TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    const std::size_t made = hooks.counts[Index(call)]++;
    const Force& force = hooks.forces[Index(call)];
    if (force.result == RE_OK || made < force.from)
        return std::nullopt;
    Log(hooks, {call, force.result, detail + " (forced)"});
    return force.result;
}

DWORD Leave(ReCall call, DWORD result, const std::string& detail) {
    Hooks& hooks = TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    Log(hooks, {call, result, detail});
    return result;
}

} // namespace redeye

void ReTestForceResult(ReCall call, DWORD result, int skip) {
    redeye::Hooks& hooks = redeye::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    const std::size_t i = redeye::Index(call);
    hooks.forces.at(i) = {result, hooks.counts.at(i) + static_cast<std::size_t>(skip > 0 ? skip : 0)};
}

void ReTestReset() {
    redeye::Hooks& hooks = redeye::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    hooks.forces.fill({});
    hooks.counts.fill(0);
    hooks.log.clear();
}

std::size_t ReTestCallCount(ReCall call) {
    redeye::Hooks& hooks = redeye::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    return hooks.counts.at(redeye::Index(call));
}

std::vector<ReTestLogEntry> ReTestCallLog() {
    redeye::Hooks& hooks = redeye::TheHooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    return hooks.log;
}

const char* ReTestCallName(ReCall call) {
    switch (call) {
    case ReCall::kDetectAuto:
        return "ReDetectAuto";
    case ReCall::kDetectNearest:
        return "ReDetectNearest";
    case ReCall::kCorrectRegions:
        return "ReCorrectRegions";
    case ReCall::kSaveRegion:
        return "ReSaveRegion";
    case ReCall::kLoadRegion:
        return "ReLoadRegion";
    case ReCall::kListInsert:
        return "ReListInsert";
    case ReCall::kCount:
        break;
    }
    return "?";
}
