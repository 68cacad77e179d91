#include "platform/win/WinRegistry.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
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

// The words of a desktop entry's Exec key: the string value's escapes undone, then the command line split at
// spaces outside double quotes, where '\' escapes the next character; "%%" is a '%'.
std::vector<std::string> ExecWords(const std::string& entry) {
    std::istringstream lines(entry);
    std::string exec;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Exec=", 0) == 0)
            exec = line.substr(5);
    }
    std::string value;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) {
            const char next = exec[++i];
            value += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            value += exec[i];
        }
    }
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted && c == '\\' && i + 1 < value.size()) {
            word += value[++i];
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == '%' && i + 1 < value.size() && value[i + 1] == '%') {
            word += '%';
            ++i;
        } else if (c == ' ' && !quoted) {
            if (any || !word.empty())
                words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
        }
    }
    if (any || !word.empty())
        words.push_back(word);
    return words;
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

// A machine with the suite installed under a folder with spaces and the build's desktop entry in both of the
// desktop's autostart folders.
class StartwickMachine : public ::testing::Test {
protected:
    void SetUp() override {
        m_userStartup = ReadString(
            HKEY_USERS, ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
            "Startup");
        m_commonStartup = ReadString(HKEY_LOCAL_MACHINE,
                                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                     "Common Startup");
        ASSERT_EQ(m_userStartup, m_machine.UserAutostart());
        ASSERT_EQ(m_commonStartup, m_machine.CommonAutostart());
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
        for (const std::string& folder : {m_userStartup, m_commonStartup}) {
            std::filesystem::create_directories(folder);
            std::filesystem::copy_file(KV_STARTWICK_ENTRY, folder + "/Startwick.desktop");
        }
        m_log = m_machine.File("importer.log");
        setenv("KV_TEST_CHILD_LOG", m_log.c_str(), 1);
        setenv("KV_TEST_CHILD_LINGER_MS", "300", 1);
    }
    void TearDown() override {
        unsetenv("KV_TEST_CHILD_LOG");
        unsetenv("KV_TEST_CHILD_LINGER_MS");
    }

    // A log-on: every entry still in an autostart folder runs, one after the other, as its Exec says.
    void LogOn() {
        for (const std::string& folder : {m_userStartup, m_commonStartup}) {
            const std::string entry = ReadText(folder + "/Startwick.desktop");
            if (entry.empty())
                continue;
            EXPECT_EQ(RunProgram(ExecWords(entry)), 0);
        }
    }

    kvtest::TempSystemRoot m_machine;
    std::string m_userStartup, m_commonStartup, m_log;
};

TEST(StartwickEntry, TheBuildsDesktopEntryRunsTheLauncherWithTheSwitch) {
    const std::string entry = ReadText(KV_STARTWICK_ENTRY);
    ASSERT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    EXPECT_EQ(ExecWords(entry), (std::vector<std::string>{KV_STARTWICK, "/Startup"}));
}

TEST(StartwickEntry, AnInstallPathOfAnyCharactersComesBackWhole) {
    kvtest::TempFolder folder;
    const std::vector<std::string> programs = {"/opt/Korvel Imagyst/bin/Startwick",
                                               "/opt/\"q\" `x`/$HOME/Startwick",
                                               "/opt/back\\slash/100%/Startwick", "/opt/%f %u/Startwick"};
    for (std::size_t i = 0; i < programs.size(); ++i) {
        const std::string entry = folder.File("entry" + std::to_string(i) + ".desktop");
        const std::string script = folder.File("write.cmake");
        std::ofstream(script) << "include(\"" KV_DESKTOP_ENTRY_MODULE "\")\n"
                              << "kv_write_startwick_entry(\"${entry}\" \"${program}\")\n";
        ASSERT_EQ(
            RunProgram({KV_CMAKE_COMMAND, "-Dentry=" + entry, "-Dprogram=" + programs[i], "-P", script}), 0)
            << programs[i];
        EXPECT_EQ(ExecWords(ReadText(entry)), (std::vector<std::string>{programs[i], "/Startup"}))
            << ReadText(entry);
    }
}

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
    EXPECT_FALSE(std::filesystem::exists(m_userStartup + "/Startwick.desktop"));
    EXPECT_FALSE(std::filesystem::exists(m_commonStartup + "/Startwick.desktop"));
}

TEST_F(StartwickMachine, WithoutTheSwitchNothingIsTouched) {
    const std::string store = m_machine.File("registry.txt");
    const std::string before = ReadText(store);
    EXPECT_EQ(RunProgram({KV_STARTWICK, "/startup"}), 0);
    EXPECT_EQ(RunProgram({KV_STARTWICK}), 0);
    EXPECT_EQ(ReadText(store), before);
    EXPECT_FALSE(std::filesystem::exists(m_log));
    EXPECT_TRUE(std::filesystem::exists(m_userStartup + "/Startwick.desktop"));
    EXPECT_TRUE(std::filesystem::exists(m_commonStartup + "/Startwick.desktop"));
}

TEST_F(StartwickMachine, AMissingImporterStillLosesTheShortcuts) {
    std::filesystem::remove(m_machine.File("Program Files/Korvel Imagyst/KvtImport.exe"));
    EXPECT_EQ(RunProgram({KV_STARTWICK, "/Startup"}), 0);
    EXPECT_FALSE(std::filesystem::exists(m_userStartup + "/Startwick.desktop"));
    EXPECT_FALSE(std::filesystem::exists(m_commonStartup + "/Startwick.desktop"));
}

} // namespace
