#include "KvProfileFolder.h"

#include "platform/win/WinRegistry.h"

#include <string>

namespace {

// The string value "CommonFilesDir", or empty when there is none.
std::string CommonFilesFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE,
                     &key) != ERROR_SUCCESS)
        return {};
    std::string text;
    DWORD type = REG_NONE, size = 0;
    LONG result = RegQueryValueEx(key, "CommonFilesDir", nullptr, &type, nullptr, &size);
    // The value may grow between the two queries; ask again with the size then reported.
    for (int attempt = 0; result == ERROR_SUCCESS && type == REG_SZ && attempt < 4; ++attempt) {
        text.assign(size, '\0');
        result = RegQueryValueEx(key, "CommonFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                 &size);
        if (result == ERROR_SUCCESS) {
            text.resize(size);
            break;
        }
        if (result == ERROR_MORE_DATA)
            result = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return {};
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

} // namespace

CKvString GetProfileFolder() {
    std::string folder = CommonFilesFolder();
    if (folder.empty() || (folder.back() != '\\' && folder.back() != '/'))
        folder += '/';
    folder += "Korvel/Profiles/";
    return CKvString(folder.c_str());
}
