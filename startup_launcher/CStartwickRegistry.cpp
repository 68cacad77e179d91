// The registry side of the launcher's machine (kept apart from the process side, whose kernel header
// spells the shared error codes with another type).
#include "CStartwickPlatform.h"

#include "platform/win/WinRegistry.h"

#include <cstring>
#include <vector>

bool CStartwickPlatform::ReadString(Root root, const std::string& key, const std::string& value,
                                    std::string& text) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root == Root::Users ? HKEY_USERS : HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ,
                      &opened) != ERROR_SUCCESS)
        return false;
    bool found = false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(opened, value.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        std::vector<char> bytes(size);
        if (RegQueryValueExA(opened, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ) {
            text.assign(bytes.data(), strnlen(bytes.data(), size));
            found = true;
        }
    }
    RegCloseKey(opened);
    return found;
}
