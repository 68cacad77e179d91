#include "WinShellFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace WinShell {
namespace {

constexpr const char* kAutostart = "/autostart";
constexpr const char* kDefaultConfigDirs = "/etc/xdg";

std::string Trimmed(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home == '/')
        return home;
    const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

} // namespace

std::string UserAutostartFolder() {
    // Relative folders in the variables are not to be used, by the desktop's own rule.
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured && *configured == '/')
        return Trimmed(configured) + kAutostart;
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : Trimmed(home) + "/.config" + kAutostart;
}

std::string CommonAutostartFolder() {
    const char* configured = std::getenv("XDG_CONFIG_DIRS");
    const std::string folders = configured ? configured : "";
    for (std::size_t start = 0; start < folders.size();) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && folder[0] == '/')
            return Trimmed(folder) + kAutostart;
        start = end + 1;
    }
    return std::string(kDefaultConfigDirs) + kAutostart;
}

} // namespace WinShell
