// Libraries loaded at run time and the module handles of everything loaded in the process. A module handle
// stands for one loaded object (a shared library or the program itself); null stands for the program.
//
// Names are mapped to this file system before loading: '\' becomes '/', a final ".dll" (in any letter case)
// becomes ".so", and a path whose exact letter case is missing is found case-insensitively. A name without
// a folder is searched for as dlopen searches. Libraries are opened with their symbols local, so that each
// keeps its own, and are counted: the last FreeLibrary of a library closes it and drops the window classes
// that were registered for it.
#pragma once

#include "wintypes.h"

#include <string>
#include <vector>

// LoadLibraryEx flags. Both load the library like LoadLibrary (resource-only libraries have no code that
// could run, and a path is already where the search starts). A path loaded as a data file may also be a
// resource file: a manifest in its text form (WinResourceFile.h), whose resources the module then has.
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
// This layer's own flag: the library stays mapped after its last FreeLibrary, so code of it that is still
// running on another thread (a worker that outlived its stop) never runs unmapped. Its window classes go
// all the same, and its static objects live until the process ends.
constexpr DWORD LOAD_LIBRARY_KEEP_MAPPED = 0x80000000;

// GetModuleHandleEx flags.
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x00000002;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x00000004;

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;

using FARPROC = void (*)();

HMODULE LoadLibraryW(const wchar_t* fileName);
HMODULE LoadLibraryA(const char* fileName);
HMODULE LoadLibraryExW(const wchar_t* fileName, HANDLE file, DWORD flags);
HMODULE LoadLibraryExA(const char* fileName, HANDLE file, DWORD flags);
// False for a module that was not loaded by LoadLibrary (or is no longer).
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, const char* name);

// The module's file path (null: the program's). The result is the number of characters copied without the
// terminator; a buffer that is too small gets as much as fits with a terminator, and the result is then
// bufferMax with ERROR_INSUFFICIENT_BUFFER, so a caller never takes a cut path for a whole one.
DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD bufferMax);
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD bufferMax);

// The module whose file has the name (its last path component, compared without regard to ASCII case after
// the name mapping above), or the program for a null name. A name ending in ".exe" names the program
// itself, whatever its file is called: this process runs one program, the host.
HMODULE GetModuleHandleW(const wchar_t* moduleName);
HMODULE GetModuleHandleA(const char* moduleName);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, name is an address inside the module wanted: this is how code
// finds the module it is part of. The reference count is never changed.
BOOL GetModuleHandleExW(DWORD flags, const wchar_t* moduleName, HMODULE* module);

namespace WinModule {

// The name as it is opened on this file system (see above); exposed for tests.
std::string MappedLibraryName(const std::string& name);
// How often the module was loaded by LoadLibrary while it was not loaded (0: never). A library that stays
// mapped runs no constructor when it is loaded again; its code tells a new load from this count.
DWORD LoadGeneration(HMODULE module);
// The library handle that dlsym takes for a module (null: the program); null for an unknown module. The
// handle stays valid while the module is loaded.
void* NativeHandle(HMODULE module);
// Folders searched first, in order, for a library named without a folder (its name found there without
// regard to case), before the search of dlopen: where the platform's own libraries would lie. None unless
// a test sets them; an empty list goes back to none.
void SetLibrarySearchFolders(std::vector<std::string> folders);
// The references that LoadLibrary calls hold on the module now (0 once it is freed for the last time, also
// while a library kept mapped is still there).
DWORD LoadCount(HMODULE module);

} // namespace WinModule
