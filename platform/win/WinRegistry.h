// The registry functions the system calls, over a small text file under the machine folder
// ("<KV_SYSTEM_ROOT>/registry.txt"). Keys and value names are matched without regard to ASCII letter
// case; values are strings (REG_SZ) or 32-bit numbers (REG_DWORD). Every call reads the file afresh and
// every change rewrites it, so the store always is what the file says. A machine without the file is a
// fresh machine: its store is made with "CommonFilesDir" under
// HKEY_LOCAL_MACHINE "Software\Microsoft\Windows\CurrentVersion" pointing at "<root>/Common Files"
// (made with the store, an installed tree's data files copied into it: WinSystemRoot.h). The two Startup
// folders under "...\CurrentVersion\Explorer\Shell Folders" are the desktop's autostart folders
// (WinShellFolders.h), answered as the environment names them at every call, as the shell keeps them
// current: "Startup" of HKEY_USERS ".DEFAULT" the user's, "Common Startup" of HKEY_LOCAL_MACHINE all users'
// ("<root>/Default User/Startup" and "<root>/All Users/Startup" when no folder can be named). The machine's
// default mail client is registered too: HKEY_LOCAL_MACHINE "SOFTWARE\Clients\Mail" names it (default
// value), its own key below holds its "From" address, and the [Mail] profile section (WinProfile.h) says
// "MAPI" = "1".
//
// Handles are 32-bit slot numbers with a generation, so a closed handle fails (ERROR_INVALID_HANDLE)
// instead of reaching a key opened later.
#pragma once

#include "platform/win/WinError.h"
#include "platform/win/wintypes.h"

#include <cstdint>

struct KvRegistryKey; // never defined: a handle is a number
using HKEY = KvRegistryKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens the existing key `subKey` ('\'-separated; null or empty opens `key` itself again) with the given
// access. ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, PHKEY result);
// Opens `subKey`, making it and the keys above it when missing; `disposition` (may be null) says which.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM access, void* security, PHKEY result, DWORD* disposition);
// A value's type and bytes (a string with its terminating NUL). With no data buffer only the type and
// size are reported; a buffer too small gives ERROR_MORE_DATA and the size needed. Needs KEY_QUERY_VALUE.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
// Stores a REG_SZ (the bytes up to the first NUL within `dataSize`) or a REG_DWORD (exactly 4 bytes);
// other types give ERROR_INVALID_PARAMETER. Needs KEY_SET_VALUE. A store file that cannot be parsed is
// never rewritten: the change is refused with ERROR_INVALID_DATA, so nothing in the file is lost.
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
// Removes a value; ERROR_FILE_NOT_FOUND when the key has no such value. Needs KEY_SET_VALUE.
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Removes the key `subKey` with its values; a key that still has keys below it is refused
// (ERROR_ACCESS_DENIED), as on the original platform.
LONG RegDeleteKeyA(HKEY key, const char* subKey);
LONG RegCloseKey(HKEY key);

// The machine's default mail client as a fresh machine registers it, and the address its drafts are from.
constexpr const char* kRegMailClientsKey = "SOFTWARE\\Clients\\Mail";
constexpr const char* kRegDefaultMailClient = "Korvel Mail Drafts";
constexpr const char* kRegDefaultMailFrom = "Korvel User <user@localhost>";
// Where the [Mail] profile section is kept.
constexpr const char* kRegMailProfileKey = "Software\\Microsoft\\Windows Messaging Subsystem";

// The system's text is narrow (UTF-8), so the unsuffixed names are the narrow forms.
inline LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM access, PHKEY result) {
    return RegOpenKeyExA(key, subKey, options, access, result);
}
inline LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                           REGSAM access, void* security, PHKEY result, DWORD* disposition) {
    return RegCreateKeyExA(key, subKey, reserved, keyClass, options, access, security, result, disposition);
}
inline LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                            DWORD* dataSize) {
    return RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
}
inline LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                          DWORD dataSize) {
    return RegSetValueExA(key, valueName, reserved, type, data, dataSize);
}
