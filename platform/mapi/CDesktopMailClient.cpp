#include "CDesktopMailClient.h"

#include "platform/win/WinDebug.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace {

// Descriptors from this one up are the host's own and are not handed to the mail client.
constexpr int kFirstPrivateDescriptor = 3;

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

void Trace(const std::string& text) {
    OutputDebugStringA(("MAPI: " + text + "\n").c_str());
}

} // namespace

bool CDesktopMailClient::HasDesktopSession() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

std::string CDesktopMailClient::FindOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    const std::string folders = path;
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        // An empty entry is the current folder, which is never searched here.
        const std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder[0] != '/')
            continue;
        const std::string candidate = folder + "/" + program;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool CDesktopMailClient::Compose(const std::vector<std::string>& paths) {
    if (!HasDesktopSession())
        return false;
    const std::string program = FindOnPath(kProgram);
    if (program.empty())
        return false;
    std::vector<std::string> words = {program};
    for (const std::string& path : paths) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
        words.push_back("--attach");
        words.push_back(ec ? path : absolute.lexically_normal().string());
    }
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, kFirstPrivateDescriptor);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        Trace(program + " could not be started");
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            Trace(program + " was lost");
            return false;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    Trace(program + " failed (" +
          (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status)) : std::string("killed")) + ")");
    return false;
}
