#include "ProfileMachine.h"

#include "testing/RunProgram.h"

#include <gtest/gtest.h>

namespace kvtest {

bool InstallProfiles(const std::string& makeProfiles) {
    const bool standard = RunProgram({makeProfiles, "--install"}) == 0;
    EXPECT_TRUE(standard) << "make-profiles failed";
    const bool cameraBase = RunProgram({KV_MAKE_CAMERA_BASE, "--install"}) == 0;
    EXPECT_TRUE(cameraBase) << "make-camera-base failed";
    return standard && cameraBase;
}

ProfileMachine::ProfileMachine(const std::string& makeProfiles)
    : m_folder(m_machine.Path() + "/Common Files/Korvel/Profiles/") {
    m_installed = InstallProfiles(makeProfiles);
}

} // namespace kvtest
