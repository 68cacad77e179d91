// The process and file side of the launcher's machine.
#include "CStartwickPlatform.h"

#include "platform/win/WinPath.h"
#include "platform/win/WinProcess.h"

#include <sys/stat.h>
#include <unistd.h>

bool CStartwickPlatform::StartAndWait(const std::string& path) {
    STARTUPINFOA startup{sizeof(STARTUPINFOA), 0};
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    return true;
}

bool CStartwickPlatform::DeleteFile(const std::string& path) {
    const std::string native = WinPath::ToNative(path);
    struct stat info {};
    // A file only: a folder of that name is not the shortcut.
    if (lstat(native.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return false;
    return unlink(native.c_str()) == 0;
}
