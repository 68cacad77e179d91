#include "WinFiles.h"

#include "WinDebug.h"
#include "WinKernel.h"
#include "WinSeams.h"
#include "utf16.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

void Refuse(const std::string& root, const char* why) {
    OutputDebugStringA(("GetTempPath: " + root + " " + why + "\n").c_str());
}

// The root, made and checked; empty when refused.
std::string TempRoot() {
    std::string base = WinSeams::TempBase();
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string root = base + "/Korvel-" + std::to_string(geteuid());
    if (mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) {
        Refuse(root, std::strerror(errno));
        return std::string();
    }
    // Checked through the opened folder itself, so that nothing can be swapped in between check and use.
    const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Refuse(root, errno == ELOOP ? "is a symbolic link" : std::strerror(errno));
        return std::string();
    }
    struct stat info {};
    bool usable = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    if (usable && info.st_uid != geteuid()) {
        Refuse(root, "belongs to another user");
        usable = false;
    }
    if (usable && (info.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
        Refuse(root, "cannot be made private");
        usable = false;
    }
    close(fd);
    return usable ? root + "/" : std::string();
}

template <class CharT>
DWORD CopyOut(const std::basic_string<CharT>& path, DWORD bufferLength, CharT* buffer) {
    if (path.empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (!buffer || bufferLength <= path.size())
        return static_cast<DWORD>(path.size() + 1);
    std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(CharT));
    return static_cast<DWORD>(path.size());
}

} // namespace

DWORD GetTempPathW(DWORD bufferLength, wchar_t* buffer) {
    const std::string root = TempRoot();
    return CopyOut(root.empty() ? std::wstring() : Utf::Utf8ToWide(root), bufferLength, buffer);
}

DWORD GetTempPathA(DWORD bufferLength, char* buffer) {
    return CopyOut(TempRoot(), bufferLength, buffer);
}
