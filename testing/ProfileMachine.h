// A fresh machine whose profile folder holds the standard profiles, written there by the make-profiles tool
// of the build (its path given, as the suites' KV_MAKE_PROFILES), and the camera profile generator's base
// profiles, written by make-camera-base.
#pragma once

#include "testing/TempSystemRoot.h"

#include <string>

namespace kvtest {

// Installs both into the profile folder of the machine the environment names; false when a tool failed.
bool InstallProfiles(const std::string& makeProfiles);

class ProfileMachine {
public:
    explicit ProfileMachine(const std::string& makeProfiles);
    bool Installed() const { return m_installed; }
    // The machine's profile folder, with a final '/'.
    const std::string& Folder() const { return m_folder; }
    std::string Profile(const std::string& name) const { return m_folder + name; }

private:
    TempSystemRoot m_machine;
    std::string m_folder;
    bool m_installed = false;
};

} // namespace kvtest
