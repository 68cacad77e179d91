#include "LensFileSupport.h"

#include "testing/RunProgram.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kvtest {

LensMachine::LensMachine() : m_folder(m_machine.Path() + "/Common Files/Korvel/Profiles/") {
    std::filesystem::create_directories(m_folder);
}

bool LensMachine::Write(const std::vector<std::string>& arguments, const std::string& name) const {
    std::vector<std::string> words{KV_MAKE_LENS};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.push_back(m_folder + name);
    const int result = RunProgram(words);
    EXPECT_EQ(result, 0) << "make-lens failed";
    return result == 0;
}

void LensMachine::Remove() const {
    std::error_code error;
    std::filesystem::remove_all(LensFile(), error);
}

} // namespace kvtest
