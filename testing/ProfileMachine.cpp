#include "ProfileMachine.h"

#include "testing/RunProgram.h"

#include <gtest/gtest.h>

namespace kvtest {

ProfileMachine::ProfileMachine(const std::string& makeProfiles)
    : m_folder(m_machine.Path() + "/Common Files/Korvel/Profiles/") {
    m_installed = RunProgram({makeProfiles, "--install"}) == 0;
    EXPECT_TRUE(m_installed) << "make-profiles failed";
}

} // namespace kvtest
