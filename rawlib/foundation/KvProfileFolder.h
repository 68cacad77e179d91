// Where the maker's colour profiles and data files (calibration and lens files) live: the machine's
// common-files folder, as the registry names it, followed by "Korvel/Profiles/".
#pragma once

#include "rawlib/foundation/CKvString.h"

// The folder with a trailing '/', ready for a file name to be appended. It is the string value
// "CommonFilesDir" under HKEY_LOCAL_MACHINE "Software\Microsoft\Windows\CurrentVersion", a separator unless
// that text already ends in one, then "Korvel/Profiles/"; without such a string value (no key, no value,
// a value of another type) the text before "Korvel/Profiles/" is a single separator. It never fails.
CKvString GetProfileFolder();
