#include "WinSystemRoot.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace WinSystem {
namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

} // namespace

std::string GetSystemRoot() {
    std::string root;
    const char* configured = std::getenv("KV_SYSTEM_ROOT");
    if (configured && *configured) {
        root = configured;
    } else {
        const std::string home = HomeFolder();
        if (home.empty())
            return {};
        root = home + "/.local/share/Korvel/system";
    }
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (ec || !std::filesystem::is_directory(root, ec))
        return {};
    return root;
}

} // namespace WinSystem
