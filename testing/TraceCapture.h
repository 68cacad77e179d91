// Collects what is written to the debugger output while it lives, then restores the previous sink.
#pragma once

#include "platform/win/WinDebug.h"

#include <mutex>
#include <string>
#include <vector>

namespace kvtest {

class TraceCapture {
public:
    TraceCapture() {
        m_previous = WinDebug::SetOutputSink([this](std::string_view text) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_texts.emplace_back(text);
        });
    }
    ~TraceCapture() { WinDebug::SetOutputSink(std::move(m_previous)); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_texts;
    }
    // How many of the texts contain what.
    int Count(const std::string& what) {
        std::lock_guard<std::mutex> guard(m_lock);
        int n = 0;
        for (const std::string& text : m_texts)
            n += text.find(what) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_texts;
    WinDebug::OutputSink m_previous;
};

} // namespace kvtest
