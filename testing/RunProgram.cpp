#include "RunProgram.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kvtest {

int RunProgram(const std::vector<std::string>& arguments) {
    return RunProgram(arguments, nullptr);
}

int RunProgram(const std::vector<std::string>& arguments, std::string* output) {
    if (arguments.empty())
        return -1;
    std::vector<std::string> words = arguments;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int ends[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        if (pipe2(ends, O_CLOEXEC) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    }
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output) {
        close(ends[1]);
        char buffer[4096];
        for (ssize_t n;
             spawned == 0 && ((n = read(ends[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR));)
            if (n > 0)
                output->append(buffer, std::size_t(n));
        close(ends[0]);
    }
    if (spawned != 0)
        return -1;
    int status = 0;
    pid_t waited;
    do
        waited = waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    return waited == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace kvtest
