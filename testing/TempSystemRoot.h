// A fresh machine for one test: KV_SYSTEM_ROOT points at a new temporary folder while the owner lives, and
// goes back to what it was afterwards, as do the other variables below. The machine has no print server
// (CUPS_SERVER names a socket that does not exist; a test that wants the machine's own sets it again), no
// desktop session (DISPLAY and WAYLAND_DISPLAY unset, so no mail client's window opens), and its desktop
// configuration folders (XDG_CONFIG_HOME, XDG_CONFIG_DIRS, with the autostart folders) lie inside it.
#pragma once

#include "testing/TempFolder.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

class TempSystemRoot {
public:
    TempSystemRoot();
    ~TempSystemRoot();
    TempSystemRoot(const TempSystemRoot&) = delete;
    TempSystemRoot& operator=(const TempSystemRoot&) = delete;

    const std::string& Path() const { return m_folder.Path(); }
    std::string File(const std::string& name) const { return m_folder.File(name); }
    // The desktop's autostart folders of this machine: the user's and all users'.
    std::string UserAutostart() const { return File("config/autostart"); }
    std::string CommonAutostart() const { return File("xdg/autostart"); }

private:
    // The value, or unset for none.
    void Set(const char* name, const std::optional<std::string>& value);

    TempFolder m_folder;
    std::vector<std::pair<const char*, std::optional<std::string>>> m_previous;
};

} // namespace kvtest
