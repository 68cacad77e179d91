// A program for tests that start processes. It appends to the file named by KV_TEST_CHILD_LOG one line
// "start argc=<n> argv0=<path> fds=<open descriptors>", then, when asked, waits until the file named by
// KV_TEST_CHILD_GATE exists (at most ten seconds) or lingers KV_TEST_CHILD_LINGER_MS milliseconds, appends
// "end" and exits with KV_TEST_CHILD_EXIT (0 unless set). Without a log file it exits with 2.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

std::string OpenDescriptors() {
    std::string list;
    DIR* folder = opendir("/proc/self/fd");
    if (!folder)
        return "?";
    const int own = dirfd(folder);
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own)
            continue;
        list += (list.empty() ? "" : ",") + std::string(entry->d_name);
    }
    closedir(folder);
    return list;
}

void Append(const char* log, const std::string& line) {
    if (FILE* out = std::fopen(log, "a")) {
        std::fputs((line + "\n").c_str(), out);
        std::fclose(out);
    }
}

} // namespace

int main(int argc, char** argv) {
    const char* log = std::getenv("KV_TEST_CHILD_LOG");
    if (!log || !*log)
        return 2;
    Append(log, "start argc=" + std::to_string(argc) + " argv0=" + (argc > 0 ? argv[0] : "") +
                    " fds=" + OpenDescriptors());
    if (const char* gate = std::getenv("KV_TEST_CHILD_GATE")) {
        struct stat info;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (stat(gate, &info) != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (const char* linger = std::getenv("KV_TEST_CHILD_LINGER_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(linger)));
    Append(log, "end");
    const char* code = std::getenv("KV_TEST_CHILD_EXIT");
    return code ? std::atoi(code) : 0;
}
