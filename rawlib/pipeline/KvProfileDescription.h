// The text of an ICC profile's description tag ("desc"), as the chain keeps it for its output profile.
#pragma once

#include "rawlib/foundation/CKvString.h"

#include <cstdio>

// Reads the description of the profile file into text; false when the path or the file is unusable or
// any field is missing or lies about what the file holds, and text then stays as it was. Without
// keepVersion, a text that begins with "KORVEL" loses its trailing version number (digits, dots, blanks).
bool ReadProfileDescription(const char* path, CKvString* text, bool keepVersion);
// The same over a file opened for binary reading; the file stays open.
bool ReadProfileDescription(std::FILE* file, CKvString* text, bool keepVersion);
