// A counted use of a shared plug-in: holding one keeps the plug-in alive, and the last use to go
// releases it (its buffers, then the object itself).
#pragma once

#include "rawlib/filters/IPlugin.h"

#include <utility>

class CPluginRef {
public:
    CPluginRef() = default;
    // Takes one use of the plug-in (none for null).
    explicit CPluginRef(IPlugin* plugin) : m_plugin(plugin) {
        if (m_plugin)
            m_plugin->BeginUse();
    }
    CPluginRef(const CPluginRef& other) : CPluginRef(other.m_plugin) {}
    CPluginRef(CPluginRef&& other) noexcept : m_plugin(std::exchange(other.m_plugin, nullptr)) {}
    CPluginRef& operator=(CPluginRef other) noexcept {
        std::swap(m_plugin, other.m_plugin);
        return *this;
    }
    ~CPluginRef() { Reset(); }

    void Reset() {
        IPlugin* plugin = std::exchange(m_plugin, nullptr);
        if (plugin && plugin->EndUse() == 0) {
            plugin->ReleaseBuffers();
            delete plugin;
        }
    }

    IPlugin* Get() const { return m_plugin; }
    IPlugin* operator->() const { return m_plugin; }
    explicit operator bool() const { return m_plugin != nullptr; }

private:
    IPlugin* m_plugin = nullptr;
};
