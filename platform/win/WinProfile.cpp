#include "WinProfile.h"

#include "WinRegistry.h"
#include "utf16.h"

#include <cwctype>
#include <string>
#include <vector>

namespace {

bool IsMailSection(const wchar_t* section) {
    const std::wstring wanted = L"mail";
    std::wstring name = section ? section : L"";
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(std::towlower(c));
    return name == wanted;
}

// The digits at the start of the text, after blanks, as the platform reads a profile number.
UINT LeadingNumber(const std::string& text) {
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos || text[at] == '-')
        return 0;
    if (text[at] == '+')
        ++at;
    UINT number = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        number = number * 10 + static_cast<UINT>(text[at] - '0');
    return number;
}

} // namespace

UINT GetProfileIntW(const wchar_t* section, const wchar_t* key, INT defaultValue) {
    if (!key || !IsMailSection(section))
        return static_cast<UINT>(defaultValue);
    HKEY profile = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailProfileKey, 0, KEY_QUERY_VALUE, &profile) != ERROR_SUCCESS)
        return static_cast<UINT>(defaultValue);
    const std::string name = Utf::WideToUtf8(key);
    UINT result = static_cast<UINT>(defaultValue);
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(profile, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 1, 0);
        if (RegQueryValueExA(profile, name.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
            if (type == REG_DWORD && size == 4)
                result = static_cast<UINT>(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
            else if (type == REG_SZ)
                result = LeadingNumber(reinterpret_cast<const char*>(data.data()));
        }
    }
    RegCloseKey(profile);
    return result;
}
