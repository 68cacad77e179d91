#include "WinSearchPath.h"

#include "WinKernel.h"
#include "WinModule.h"
#include "WinPath.h"
#include "WinSeams.h"
#include "utf16.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& list, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(separator, start), list.size());
        if (end > start)
            parts.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string FolderOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

std::vector<std::string> DefaultFolders() {
    std::vector<std::string> folders;
    char program[4096] = {};
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length > 0 && length < sizeof program)
        folders.push_back(FolderOf(program));
    if (char* current = getcwd(nullptr, 0)) {
        folders.emplace_back(current);
        std::free(current);
    }
    const std::string system = WinSeams::SystemFolder();
    if (!system.empty())
        folders.push_back(system);
    if (const char* variable = std::getenv("PATH"))
        for (std::string& folder : Split(variable, ':'))
            folders.push_back(std::move(folder));
    return folders;
}

bool IsFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool HasExtension(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    const std::size_t dot = name.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string Find(const std::wstring& path, bool defaultPath, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.find('/') != std::string::npos) {
        const std::string mapped = WinModule::MappedLibraryName(name);
        return IsFile(mapped) ? mapped : std::string();
    }
    const std::vector<std::string> folders =
        defaultPath ? DefaultFolders() : Split(Utf::WideToUtf8(path), ';');
    for (const std::string& folder : folders) {
        const std::string candidate = WinModule::MappedLibraryName(folder + "/" + name);
        if (IsFile(candidate))
            return candidate;
    }
    return std::string();
}

} // namespace

DWORD SearchPathW(const wchar_t* path, const wchar_t* fileName, const wchar_t* extension, DWORD bufferLength,
                  wchar_t* buffer, wchar_t** filePart) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string name = Utf::WideToUtf8(fileName);
    if (extension && !HasExtension(name))
        name += Utf::WideToUtf8(extension);
    const std::string found = Find(path ? path : L"", path == nullptr, name);
    if (found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    const std::wstring wide = Utf::Utf8ToWide(found);
    if (!buffer || bufferLength < wide.size() + 1)
        return static_cast<DWORD>(wide.size() + 1);
    std::wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    if (filePart)
        *filePart = buffer + wide.rfind(L'/') + 1;
    return static_cast<DWORD>(wide.size());
}
