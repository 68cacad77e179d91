#include "WinSystemRoot.h"

#include "WinSeams.h"

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

std::string InstalledCommonFiles() {
#ifdef KV_INSTALLED_COMMON_FILES
    const std::string library = WinSeams::SystemFolder();
    if (library.empty())
        return {};
    std::error_code ec;
    const std::filesystem::path installed = std::filesystem::path(library) / KV_INSTALLED_COMMON_FILES;
    if (!std::filesystem::is_directory(installed, ec))
        return {};
    return installed.lexically_normal().string();
#else
    return {};
#endif
}

bool CopyInstalledCommonFiles(const std::string& folder) {
    const std::string installed = InstalledCommonFiles();
    if (installed.empty())
        return true;
    namespace fs = std::filesystem;
    std::error_code ec;
    bool complete = true;
    for (fs::recursive_directory_iterator it(installed, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path target = fs::path(folder) / fs::relative(it->path(), installed, ec);
        if (ec)
            break;
        if (it->is_directory(ec)) {
            fs::create_directories(target, ec);
        } else if (it->is_regular_file(ec) && !fs::exists(target, ec)) {
            // Another process making the same machine may copy the same file: each renames a whole copy.
            const fs::path partial = target.string() + ".part" + std::to_string(getpid());
            fs::copy_file(it->path(), partial, fs::copy_options::overwrite_existing, ec);
            if (!ec)
                fs::rename(partial, target, ec);
            if (ec) {
                std::error_code ignored;
                fs::remove(partial, ignored);
            }
        }
        complete = complete && !ec;
        ec.clear();
    }
    return complete && !ec;
}

} // namespace WinSystem
