#include "WinDebug.h"

#include "utf16.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

struct DebugState {
    // Recursive, so a sink that traces does not deadlock its own thread.
    std::recursive_mutex lock;
    WinDebug::OutputSink sink;
};

DebugState& State() {
    static DebugState* state = new DebugState;
    return *state;
}

bool TraceToStandardError() {
    static const bool enabled = [] {
        const char* value = std::getenv("KV_TRACE");
        return value && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void Emit(std::string_view text) {
    DebugState& state = State();
    std::lock_guard<std::recursive_mutex> guard(state.lock);
    if (state.sink) {
        state.sink(text);
    } else if (TraceToStandardError()) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
}

} // namespace

void OutputDebugStringA(const char* text) {
    if (text)
        Emit(text);
}

void OutputDebugStringW(const wchar_t* text) {
    if (text)
        Emit(Utf::WideToUtf8(text));
}

WinDebug::OutputSink WinDebug::SetOutputSink(OutputSink sink) {
    DebugState& state = State();
    std::lock_guard<std::recursive_mutex> guard(state.lock);
    OutputSink previous = std::move(state.sink);
    state.sink = std::move(sink);
    return previous;
}
