#include "TempSystemRoot.h"

#include <cstdlib>

namespace kvtest {

TempSystemRoot::TempSystemRoot() {
    Set("KV_SYSTEM_ROOT", m_folder.Path());
    Set("CUPS_SERVER", m_folder.File("no-print-server.sock"));
    Set("XDG_CONFIG_HOME", m_folder.File("config"));
    Set("XDG_CONFIG_DIRS", m_folder.File("xdg"));
    Set("DISPLAY", std::nullopt);
    Set("WAYLAND_DISPLAY", std::nullopt);
}

TempSystemRoot::~TempSystemRoot() {
    for (auto it = m_previous.rbegin(); it != m_previous.rend(); ++it) {
        if (it->second)
            setenv(it->first, it->second->c_str(), 1);
        else
            unsetenv(it->first);
    }
}

void TempSystemRoot::Set(const char* name, const std::optional<std::string>& value) {
    const char* previous = std::getenv(name);
    m_previous.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

} // namespace kvtest
