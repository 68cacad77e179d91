// Debugger output. Texts go to one process-wide sink: standard error when KV_TRACE=1 is set, nowhere
// otherwise; tests install a sink of their own to read what was traced.
#pragma once

#include <functional>
#include <string_view>

void OutputDebugStringA(const char* text);
void OutputDebugStringW(const wchar_t* text);

namespace WinDebug {

// Receives each text as UTF-8, exactly as given (no line end is added). Calls are serialised.
using OutputSink = std::function<void(std::string_view text)>;

// Installs a sink (an empty one restores the default) and returns the previous one. Once this returns,
// the previous sink is no longer being called.
OutputSink SetOutputSink(OutputSink sink);

} // namespace WinDebug
