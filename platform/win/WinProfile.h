// The profile values (the platform's win.ini) that the system reads. As on the original platform, the
// [Mail] section is kept in the registry: its values are those of HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows Messaging Subsystem" (kRegMailProfileKey), where a fresh machine has
// "MAPI" = "1", since its mail hand-over (MAPI32) comes with it. No other section is kept.
#pragma once

#include "wintypes.h"

// The value as a whole number: the decimal digits at the start of a text value (0 when there are none or
// the number is negative), or a 32-bit number value; defaultValue when the section, key or value is
// missing.
UINT GetProfileIntW(const wchar_t* section, const wchar_t* key, INT defaultValue);
