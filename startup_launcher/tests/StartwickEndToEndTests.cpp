#include "platform/win/WinRegistry.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadString(HKEY root, const char* key, const char* value) {
    HKEY opened = nullptr;
    if (RegOpenKeyEx(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return {};
    char text[1024] = {};
    DWORD size = sizeof text - 1;
    RegQueryValueEx(opened, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(opened);
    return text;
}

// Runs the program with the arguments and waits for it; its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A machine with the suite installed under a folder with spaces and Startwick's shortcut in both Startup
// folders. A shortcut here is a text: the program's path on its first line, its arguments on the second.
class StartwickMachine : public ::testing::Test {
protected:
    void SetUp() override {
        m_userStartup = ReadString(
            HKEY_USERS, ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
            "Startup");
        m_commonStartup = ReadString(HKEY_LOCAL_MACHINE,
                                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                     "Common Startup");
        ASSERT_FALSE(m_userStartup.empty());
        ASSERT_FALSE(m_commonStartup.empty());
        const std::string install = m_machine.File("Program Files/Korvel Imagyst");
        std::filesystem::create_directories(install);
        std::filesystem::copy_file(KV_TEST_CHILD, install + "/KvtImport.exe");
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvel\\Imagyst", 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(install.c_str()),
                                static_cast<DWORD>(install.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        for (const std::string& folder : {m_userStartup, m_commonStartup})
            std::ofstream(folder + "/Startwick.lnk") << KV_STARTWICK << "\n/Startup\n";
        m_log = m_machine.File("importer.log");
        setenv("KV_TEST_CHILD_LOG", m_log.c_str(), 1);
        setenv("KV_TEST_CHILD_LINGER_MS", "300", 1);
    }
    void TearDown() override {
        unsetenv("KV_TEST_CHILD_LOG");
        unsetenv("KV_TEST_CHILD_LINGER_MS");
    }

    // A log-on: every shortcut still in a Startup folder runs, one after the other.
    void LogOn() {
        for (const std::string& folder : {m_userStartup, m_commonStartup}) {
            std::ifstream shortcut(folder + "/Startwick.lnk");
            std::string program, arguments;
            if (!std::getline(shortcut, program) || !std::getline(shortcut, arguments))
                continue;
            EXPECT_EQ(RunProgram({program, arguments}), 0);
        }
    }

    kvtest::TempSystemRoot m_machine;
    std::string m_userStartup, m_commonStartup, m_log;
};

TEST_F(StartwickMachine, TwoLogOnsRunTheImporterOnceAndRemoveBothShortcuts) {
    // A descriptor the launcher has from its parent; the importer must not get it.
    const int open = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(open, 0);
    ASSERT_GE(dup2(open, 5), 0);
    LogOn();
    ::close(5);
    ::close(open);
    const std::string afterFirst = ReadText(m_log);
    LogOn();
    const std::string log = ReadText(m_log);
    EXPECT_EQ(log, afterFirst) << "the second log-on ran nothing";
    const std::string program = m_machine.File("Program Files/Korvel Imagyst/KvtImport.exe");
    const std::string start = "start argc=1 argv0=" + program + " fds=";
    ASSERT_EQ(log.rfind(start, 0), 0u) << log;
    const std::string fds = log.substr(start.size(), log.find('\n') - start.size());
    EXPECT_EQ(fds.find_first_not_of("012,"), std::string::npos) << "no descriptor of the launcher: " << fds;
    EXPECT_EQ(log.substr(log.find('\n')), "\nend\n")
        << "one run, with no arguments, that ended before the launcher did";
    EXPECT_FALSE(std::filesystem::exists(m_userStartup + "/Startwick.lnk"));
    EXPECT_FALSE(std::filesystem::exists(m_commonStartup + "/Startwick.lnk"));
}

TEST_F(StartwickMachine, WithoutTheSwitchNothingIsTouched) {
    const std::string store = m_machine.File("registry.txt");
    const std::string before = ReadText(store);
    EXPECT_EQ(RunProgram({KV_STARTWICK, "/startup"}), 0);
    EXPECT_EQ(RunProgram({KV_STARTWICK}), 0);
    EXPECT_EQ(ReadText(store), before);
    EXPECT_FALSE(std::filesystem::exists(m_log));
    EXPECT_TRUE(std::filesystem::exists(m_userStartup + "/Startwick.lnk"));
    EXPECT_TRUE(std::filesystem::exists(m_commonStartup + "/Startwick.lnk"));
}

TEST_F(StartwickMachine, AMissingImporterStillLosesTheShortcuts) {
    std::filesystem::remove(m_machine.File("Program Files/Korvel Imagyst/KvtImport.exe"));
    EXPECT_EQ(RunProgram({KV_STARTWICK, "/Startup"}), 0);
    EXPECT_FALSE(std::filesystem::exists(m_userStartup + "/Startwick.lnk"));
    EXPECT_FALSE(std::filesystem::exists(m_commonStartup + "/Startwick.lnk"));
}

} // namespace
