// The file-system services of the Windows layer that have no plain POSIX counterpart.
#pragma once

#include "wintypes.h"

// The per-user temporary root, with a final '/': WinSeams::TempBase() followed by "Korvel-<uid>". It is
// made with mode 0700 on first use; an existing one is used only when it is a real folder (not a symbolic
// link) owned by this user, and is then narrowed to 0700 if it was open to others. The result is the length
// of the path without the terminator; when the buffer is too small, the size it needs (terminator
// included) and nothing copied; 0 when the root is refused or cannot be made (traced).
DWORD GetTempPathW(DWORD bufferLength, wchar_t* buffer);
DWORD GetTempPathA(DWORD bufferLength, char* buffer);
