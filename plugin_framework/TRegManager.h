// Direct access to the platform registry: text and 32-bit values under a key of a root key. Keys, value
// names and texts are UTF-8 in the registry.
#pragma once

#include "TString.h"

#include "platform/win/WinRegistry.h"

class TRegManager {
public:
    // Texts are read through a buffer of this many bytes, the terminator included.
    static constexpr DWORD kTextBufferBytes = 800;

    // A text value (REG_SZ) that fits the buffer with its terminator; false (the text untouched) for any
    // other value or when the key or value cannot be read.
    bool GetString(HKEY root, const wchar_t* subKey, TString& text, const wchar_t* valueName) const;
    // A 32-bit value (REG_DWORD), or 0xFFFFFFFF when the key or value cannot be read or is of another kind.
    DWORD GetDword(HKEY root, const wchar_t* subKey, const wchar_t* valueName) const;
    // The platform's error code (0 is success). The key is opened for setting values; when that fails and
    // create is set, it is made (with the keys above it).
    LONG SetDword(HKEY root, bool create, const wchar_t* subKey, const wchar_t* valueName, DWORD value) const;
    LONG SetString(HKEY root, bool create, const wchar_t* subKey, const wchar_t* valueName,
                   const wchar_t* text) const;
};
