// The loader of filter plug-ins: opens a plug-in library through the platform's run-time linking, finds
// its entry point and hands out its resources. The library stays loaded while the object holds it.
#pragma once

#include "platform/plugins/KvFilterPlugin.h"
#include "platform/win/wintypes.h"

#include <cstdint>
#include <span>

class CKvPluginLibrary {
public:
    CKvPluginLibrary() = default;
    ~CKvPluginLibrary() { Close(); }
    CKvPluginLibrary(const CKvPluginLibrary&) = delete;
    CKvPluginLibrary& operator=(const CKvPluginLibrary&) = delete;

    // Closes what was open, then loads the library; false (and nothing open) when it cannot be loaded.
    bool Open(const char* path);
    void Close();
    bool IsOpen() const { return m_module != nullptr; }
    HMODULE GetModule() const { return m_module; }

    // Null when the library exports no "ENTRYPOINT".
    KvPluginEntry GetEntry() const;
    // The bytes of the resource of that type and id; empty when the library carries none. They stay
    // valid while the library is open.
    std::span<const std::uint8_t> GetResource(const char* type, WORD id) const;

private:
    HMODULE m_module = nullptr;
};
