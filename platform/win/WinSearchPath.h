// Finding a file on the platform's search path, as the system looks for the libraries it loads by name.
#pragma once

#include "wintypes.h"

// Looks for the file in the folders of path (separated by ';'), or, for a null path, in the program's
// folder, the current folder, the system folder (WinSeams::SystemFolder) and the folders of $PATH, in that
// order. The extension (with its dot) is added to a name that has none; a final ".dll" names the ".so" of
// the same name, and a name whose exact letter case is missing is found without regard to case. A name
// with a folder is only looked for there. The result is the length of the full path found, written with
// its terminator into buffer, and filePart (may be null) points at its last component there; a buffer
// of fewer than the path's length + 1 characters gets nothing and the result is that length + 1. 0 (with
// ERROR_FILE_NOT_FOUND) when no folder has the file.
DWORD SearchPathW(const wchar_t* path, const wchar_t* fileName, const wchar_t* extension, DWORD bufferLength,
                  wchar_t* buffer, wchar_t** filePart);
