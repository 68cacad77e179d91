#include "LensFileSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace kvtest {

LensMachine::LensMachine() : m_folder(m_machine.Path() + "/Common Files/Korvel/Profiles/") {
    std::filesystem::create_directories(m_folder);
}

bool LensMachine::Write(const std::vector<std::string>& arguments, const std::string& name) const {
    std::vector<std::string> words{KV_MAKE_LENS};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.push_back(m_folder + name);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "cannot run " << KV_MAKE_LENS;
        return false;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "make-lens failed";
        return false;
    }
    return true;
}

void LensMachine::Remove() const {
    std::error_code error;
    std::filesystem::remove_all(LensFile(), error);
}

} // namespace kvtest
