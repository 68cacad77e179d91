#include "platform/win/WinProcess.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The descriptors the test program found open, other than 0, 1 and 2.
std::string DescriptorsAboveStandardError(const std::string& log) {
    const std::size_t at = log.find(" fds=");
    if (at == std::string::npos)
        return "<no start line>";
    std::string above;
    std::size_t pos = at + 5;
    while (pos < log.size() && log[pos] != '\n') {
        const std::size_t end = std::min(log.find_first_of(",\n", pos), log.size());
        const std::string fd = log.substr(pos, end - pos);
        if (fd != "0" && fd != "1" && fd != "2")
            above += fd + " ";
        pos = end < log.size() && log[end] == ',' ? end + 1 : end;
    }
    return above;
}

// The test program copied into a folder whose name has spaces, under the name the importer has.
class ChildProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_folder.File("Program Files/Korvel Imagyst"));
        m_program = m_folder.File("Program Files/Korvel Imagyst/KvtImport.exe");
        std::filesystem::copy_file(KV_TEST_CHILD, m_program);
        m_log = m_folder.File("child.log");
        setenv("KV_TEST_CHILD_LOG", m_log.c_str(), 1);
    }
    void TearDown() override {
        for (const char* name : {"KV_TEST_CHILD_LOG", "KV_TEST_CHILD_GATE", "KV_TEST_CHILD_EXIT"})
            unsetenv(name);
    }

    bool Start(const std::string& path, PROCESS_INFORMATION& info) {
        STARTUPINFOA startup{sizeof(STARTUPINFOA), 0};
        return CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info) == TRUE;
    }
    void WaitAndClose(PROCESS_INFORMATION& info) {
        EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(CloseHandle(info.hThread), TRUE);
        EXPECT_EQ(CloseHandle(info.hProcess), TRUE);
    }

    kvtest::TempFolder m_folder;
    std::string m_program;
    std::string m_log;
};

TEST_F(ChildProgram, TheExactPathRunsWithItselfAsItsOnlyArgument) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(Start(m_program, info));
    WaitAndClose(info);
    const std::string log = ReadText(m_log);
    EXPECT_EQ(log.substr(0, log.find(" fds=")), "start argc=1 argv0=" + m_program);
    EXPECT_EQ(log.substr(log.find('\n')), "\nend\n");
}

TEST_F(ChildProgram, DescriptorsAboveStandardErrorStayWithTheCaller) {
    const int open = ::open(m_log.c_str(), O_RDONLY | O_CREAT, 0600); // without close-on-exec
    ASSERT_GE(open, 0);
    ASSERT_GE(dup2(open, 5), 0);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(Start(m_program, info));
    WaitAndClose(info);
    ::close(5);
    ::close(open);
    EXPECT_EQ(DescriptorsAboveStandardError(ReadText(m_log)), "");
}

TEST_F(ChildProgram, TheHandleIsSignalledWhenTheProgramHasEnded) {
    const std::string gate = m_folder.File("gate");
    setenv("KV_TEST_CHILD_GATE", gate.c_str(), 1);
    setenv("KV_TEST_CHILD_EXIT", "7", 1);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(Start(m_program, info));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(info.hThread, 0), WAIT_TIMEOUT);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    std::ofstream(gate).put('x');
    EXPECT_EQ(WaitForSingleObject(info.hThread, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 7u);
    WaitAndClose(info);
    EXPECT_FALSE(GetExitCodeProcess(info.hProcess, &code)) << "a closed handle fails";
}

TEST_F(ChildProgram, AWindowsStylePathFindsTheProgram) {
    std::string windows = m_folder.Path() + "\\program files\\KORVEL IMAGYST\\kvtimport.EXE";
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(Start(windows, info));
    WaitAndClose(info);
    EXPECT_NE(ReadText(m_log).find("argv0=" + m_program + " "), std::string::npos);
}

TEST_F(ChildProgram, WhatCannotBeStartedFailsWithItsReason) {
    const std::string text = m_folder.Write("notes.txt", std::string("not a program\n"));
    struct Case {
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        {m_folder.File("missing.exe"), ERROR_PATH_NOT_FOUND},
        {m_folder.File("no folder/KvtImport.exe"), ERROR_PATH_NOT_FOUND},
        {text, ERROR_ACCESS_DENIED}, // not executable
    };
    for (const Case& c : cases) {
        PROCESS_INFORMATION info{};
        EXPECT_FALSE(Start(c.path, info)) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    std::filesystem::permissions(text, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    PROCESS_INFORMATION info{};
    EXPECT_FALSE(Start(text, info));
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    EXPECT_FALSE(std::filesystem::exists(m_log)) << "nothing ran";
}

TEST_F(ChildProgram, ACommandLineIsNeverParsed) {
    std::string line = m_program + " /Startup";
    STARTUPINFOA startup{sizeof(STARTUPINFOA), 0};
    PROCESS_INFORMATION info{};
    EXPECT_FALSE(CreateProcessA(m_program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(CreateProcessA(m_program.c_str(), nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &info));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(std::filesystem::exists(m_log));
}

} // namespace
