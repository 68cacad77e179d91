#include "platform/veruzoraz/VerHooks.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex g_lock;
std::optional<std::int32_t> g_forced;
std::vector<VerCall> g_log;
std::atomic<std::size_t> g_loads{0};
std::atomic<std::size_t> g_unloads{0};

// Counts the library's mappings: built when the library is mapped, destroyed when it is unmapped.
struct MappingCounter {
    MappingCounter() { ++g_loads; }
    ~MappingCounter() { ++g_unloads; }
} g_counter;

} // namespace

namespace veruzoraz {

std::optional<std::int32_t> ForcedResult() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_forced;
}

std::int32_t Log(VerCall call) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_log.push_back(std::move(call));
    return g_log.back().result;
}

} // namespace veruzoraz

extern "C" void VerTestForceResult(std::int32_t result) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_forced = result;
}

extern "C" void VerTestReset() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_forced.reset();
    g_log.clear();
}

extern "C" std::size_t VerTestLoadCount() {
    return g_loads;
}

extern "C" std::size_t VerTestUnloadCount() {
    return g_unloads;
}

std::vector<VerCall> VerTestCallLog() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_log;
}
