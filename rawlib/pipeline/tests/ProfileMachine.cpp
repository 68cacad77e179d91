#include "ProfileMachine.h"

#include "testing/RunProgram.h"

#include <gtest/gtest.h>

namespace kvtest {

ProfileMachine::ProfileMachine() : m_folder(m_machine.Path() + "/Common Files/Korvel/Profiles/") {
    m_installed = RunProgram({KV_MAKE_PROFILES, "--install"}) == 0;
    EXPECT_TRUE(m_installed) << "make-profiles failed";
}

} // namespace kvtest
