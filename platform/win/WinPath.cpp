#include "WinPath.h"

#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace WinPath {
namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
}

// The entry of folder whose name matches name without regard to case; empty when there is none.
fs::path FindIgnoringCase(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (SameIgnoringCase(entry, name))
            return folder / entry;
    }
    return {};
}

} // namespace

std::string ToNative(std::string_view path) {
    std::string mapped(path);
    for (char& c : mapped) {
        if (c == '\\')
            c = '/';
    }
    if (mapped.empty() || Exists(mapped))
        return mapped;

    const fs::path wanted(mapped);
    fs::path found = wanted.root_path();
    for (const fs::path& part : wanted.relative_path()) {
        const std::string name = part.string();
        if (name.empty() || name == "." || name == "..") {
            found /= part;
            continue;
        }
        fs::path next = found / part;
        if (!Exists(next)) {
            next = FindIgnoringCase(found, name);
            if (next.empty())
                return mapped;
        }
        found = std::move(next);
    }
    return found.string();
}

} // namespace WinPath
