// Resources compiled into libraries and into the program: string tables and binary resources found by
// module, id and type.
//
// How a library carries them: it defines one table, `KvwResources` (a KvwResourceTable, below), with C
// linkage and default visibility; the loader finds it by that name in the module's own symbols (a table
// that belongs to another object, such as a library the module links against, is not the module's). The
// program's table must be exported to the dynamic symbol table. Tables are not written by hand: the build
// generates them from a manifest (kv_add_resources in cmake/KvHelpers.cmake), whose lines read
//     string <id> <text to the end of the line>      (UTF-8; \n, \t and \\ are escapes)
//     data <type> <id> <file>                        (type: a name such as PNG, or a number such as 2)
// with '#' starting a comment line and file paths relative to the manifest. Type 2 (RT_BITMAP) holds PNG
// images (WinBitmaps.h), type 5 (RT_DIALOG) dialog templates (WinDialogTemplate.h).
//
// Strings are kept as UTF-8 and converted when loaded. Binary resources are the file's bytes; text in them
// is whatever the file holds (a wide text resource holds UTF-16LE).
#pragma once

#include "wintypes.h"

#include <cstdint>

extern "C" {

struct KvwStringEntry {
    std::uint32_t id;
    const char* text;
};

struct KvwResourceEntry {
    // A numeric type (RT_BITMAP, ...) has its number here and no name; a named type has 0 and its name.
    std::uint32_t typeId;
    const char* typeName;
    std::uint32_t id;
    std::uint32_t size;
    const unsigned char* data;
};

struct KvwResourceTable {
    std::uint32_t version; // kKvwResourceTableVersion
    std::uint32_t stringCount;
    const KvwStringEntry* strings;
    std::uint32_t resourceCount;
    const KvwResourceEntry* resources;
};

} // extern "C"

constexpr std::uint32_t kKvwResourceTableVersion = 1;
constexpr const char* kKvwResourceTableSymbol = "KvwResources";

struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;

inline const wchar_t* MAKEINTRESOURCEW(WORD id) {
    return reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(id));
}
inline const wchar_t* const RT_BITMAP = MAKEINTRESOURCEW(2);
inline const wchar_t* const RT_MENU = MAKEINTRESOURCEW(4);
inline const wchar_t* const RT_DIALOG = MAKEINTRESOURCEW(5);
inline const wchar_t* const RT_STRING = MAKEINTRESOURCEW(6);
inline const wchar_t* const RT_RCDATA = MAKEINTRESOURCEW(10);

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// The resource of the module (null: the program) with the id (a MAKEINTRESOURCE value; resources have no
// names here) and the type (a MAKEINTRESOURCE number or a name, compared without regard to ASCII case).
HRSRC FindResourceW(HMODULE module, const wchar_t* name, const wchar_t* type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL data);

// Copies string resource id of the module (null: the program) into buffer, at most bufferMax - 1
// characters (narrow: bytes, never half a character) and a terminator; the result is the number of
// characters copied, 0 when there is none. A bufferMax of 0 is refused: the texts are not kept in the wide
// form that a pointer into the resource would need.
int LoadStringW(HINSTANCE module, UINT id, wchar_t* buffer, int bufferMax);
int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferMax);
