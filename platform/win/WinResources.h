// String resources of loaded modules.
#pragma once

#include "wintypes.h"

// Copies string resource id of the module (null: the program) into buffer, at most bufferMax - 1
// characters and a terminator; the result is the number of characters copied, 0 when there is none.
int LoadStringW(HINSTANCE module, UINT id, wchar_t* buffer, int bufferMax);
int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferMax);
