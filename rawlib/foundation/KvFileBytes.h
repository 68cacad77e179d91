// Reads a data file of the profile folder whole, as the raw library's file readers do: open, take the length
// by seeking to the end, read from the start. A file longer than its reader can accept is refused before
// anything is allocated, so a hostile length never decides how much memory is taken.
#pragma once

#include "platform/win/wintypes.h"

#include <cstdint>
#include <string>
#include <vector>

enum class KvFileRead {
    kRead,
    kUnreadable, // missing, not a regular file, or failing to seek or read
    kTooLong,    // longer than the caller's limit; nothing was read
    kNoMemory,
};

// The bytes of the file at `path` ('\' or '/' separators; a name missing in its exact letter case is found
// case-insensitively). `bytes` is replaced only on kRead. When the file cannot be read, `error` (if given)
// receives the C runtime error number.
KvFileRead KvReadFileBytes(const std::string& path, std::uint64_t longest, std::vector<BYTE>& bytes,
                           int* error = nullptr);
