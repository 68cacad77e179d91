#include "TRegManager.h"

#include <cstring>

namespace {

constexpr DWORD kNoValue = 0xFFFFFFFF;

// A key, closed when it goes.
class Key {
public:
    Key() = default;
    ~Key() {
        if (handle)
            RegCloseKey(handle);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    HKEY handle = nullptr;
};

TStringA Narrow(const wchar_t* text) {
    return TStringA(text ? text : L"");
}

LONG OpenForSetting(HKEY root, bool create, const wchar_t* subKey, Key& key) {
    const TStringA path = Narrow(subKey);
    LONG result = RegOpenKeyExA(root, path, 0, KEY_SET_VALUE, &key.handle);
    if (result != ERROR_SUCCESS && create)
        result = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                                 &key.handle, nullptr);
    return result;
}

} // namespace

bool TRegManager::GetString(HKEY root, const wchar_t* subKey, TString& text, const wchar_t* valueName) const {
    Key key;
    if (RegOpenKeyExA(root, Narrow(subKey), 0, KEY_QUERY_VALUE, &key.handle) != ERROR_SUCCESS)
        return false;
    char buffer[kTextBufferBytes];
    DWORD type = REG_NONE;
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key.handle, Narrow(valueName), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ || size > sizeof(buffer))
        return false;
    // The text ends at its terminator within what was returned; a value that fills the whole buffer
    // without one does not fit.
    const void* end = std::memchr(buffer, 0, size);
    if (!end)
        return false;
    text = TString(buffer);
    return true;
}

DWORD TRegManager::GetDword(HKEY root, const wchar_t* subKey, const wchar_t* valueName) const {
    Key key;
    if (RegOpenKeyExA(root, Narrow(subKey), 0, KEY_QUERY_VALUE, &key.handle) != ERROR_SUCCESS)
        return kNoValue;
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key.handle, Narrow(valueName), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return kNoValue;
    return value;
}

LONG TRegManager::SetDword(HKEY root, bool create, const wchar_t* subKey, const wchar_t* valueName,
                           DWORD value) const {
    Key key;
    if (const LONG result = OpenForSetting(root, create, subKey, key))
        return result;
    return RegSetValueExA(key.handle, Narrow(valueName), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

LONG TRegManager::SetString(HKEY root, bool create, const wchar_t* subKey, const wchar_t* valueName,
                            const wchar_t* text) const {
    Key key;
    if (const LONG result = OpenForSetting(root, create, subKey, key))
        return result;
    const TStringA narrow = Narrow(text);
    return RegSetValueExA(key.handle, Narrow(valueName), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(static_cast<const char*>(narrow)),
                          static_cast<DWORD>(narrow.GetLength()));
}
