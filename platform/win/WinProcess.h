// Programs started as processes, with a handle to wait on until the program has ended. A process is
// started from its exact path: it gets that path as its only argument, no shell reads anything, and none
// of the caller's descriptors above standard error reach it.
#pragma once

#include "WinKernel.h"

struct STARTUPINFOA {
    DWORD cb; // sizeof(STARTUPINFOA); nothing else of the record is read
    DWORD dwFlags;
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

// Starts the program at applicationName ('\' or '/' separators; a name missing in its exact letter case is
// found case-insensitively) with argv = {applicationName as opened}, the caller's environment and, unless
// currentDirectory names another, the caller's current folder. A command line is never parsed: a non-null
// commandLine, inherited handles, creation flags or an environment block are refused with
// ERROR_NOT_SUPPORTED. hProcess and hThread are signalled when the program has ended; both must be closed.
// A program that cannot be started gives FALSE with ERROR_PATH_NOT_FOUND (no such file or folder),
// ERROR_ACCESS_DENIED or ERROR_BAD_EXE_FORMAT.
BOOL CreateProcessA(const char* applicationName, char* commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, const char* currentDirectory, STARTUPINFOA* startupInfo,
                    PROCESS_INFORMATION* processInformation);

// The program's exit status (128 + the signal number when a signal ended it), STILL_ACTIVE until it ends.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);

constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
