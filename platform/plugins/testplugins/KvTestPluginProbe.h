// The test side of the test plug-ins: where each library lies, and a probe that loads one (sharing the
// host's load when the host has it open) to set its controls, script its dialog and read its selector
// log and facts. Targets that use it call kv_use_test_plugins in their build file.
#pragma once

#include "platform/win/WinModule.h"

#include <cstdint>
#include <string>

namespace KvTestPlugins {

inline std::string PathOf(const std::string& library) {
    return std::string(KV_TEST_PLUGIN_DIR) + "/" + library + ".so";
}

class Probe {
public:
    explicit Probe(const std::string& library) : m_module(LoadLibraryA(PathOf(library).c_str())) {
        if (m_module) {
            m_log = Find<const char* (*)()>("KvTestPluginLog");
            m_setControl = Find<void (*)(const char*, std::int32_t)>("KvTestPluginSetControl");
            m_getFact = Find<std::int32_t (*)(const char*)>("KvTestPluginGetFact");
            m_queueAnswer = Find<void (*)(std::int32_t)>("KvTestPluginQueueAnswer");
            m_reset = Find<void (*)()>("KvTestPluginReset");
        }
        Reset();
    }
    ~Probe() {
        if (m_module)
            FreeLibrary(m_module);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    bool IsLoaded() const { return m_reset != nullptr; }
    // The selectors the plug-in was called with since the last reset, as "13 2 12 ...".
    std::string Log() const { return m_log ? m_log() : "(no plug-in)"; }
    void SetControl(const char* name, std::int32_t value) const {
        if (m_setControl)
            m_setControl(name, value);
    }
    std::int32_t Fact(const char* name) const { return m_getFact ? m_getFact(name) : -1; }
    void QueueAnswer(std::int32_t answer) const {
        if (m_queueAnswer)
            m_queueAnswer(answer);
    }
    // Clears log, controls, facts and answers.
    void Reset() const {
        if (m_reset)
            m_reset();
    }

private:
    template <class F>
    F Find(const char* name) const {
        return reinterpret_cast<F>(GetProcAddress(m_module, name));
    }

    HMODULE m_module;
    const char* (*m_log)() = nullptr;
    void (*m_setControl)(const char*, std::int32_t) = nullptr;
    std::int32_t (*m_getFact)(const char*) = nullptr;
    void (*m_queueAnswer)(std::int32_t) = nullptr;
    void (*m_reset)() = nullptr;
};

} // namespace KvTestPlugins
