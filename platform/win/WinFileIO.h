// Whole-file reads with a size limit and writes that never leave a partial file, for the stand-in
// libraries that read and write stored files. Paths are as the system composes them ('\' or '/'
// separators, names found case-insensitively when missing); wide paths are converted as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace WinFileIO {

std::string NativePath(const wchar_t* path);

// The bytes of a regular file of at most limit bytes; false (out untouched) when it is missing, not a
// regular file, larger than the limit or cannot be read whole.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& out);

// Writes the bytes to a new file beside the target and moves it into place, so the target either keeps
// what it held or gets every byte. Without replace, an existing target is left alone and the answer is
// false. Nothing is left behind on failure.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size, bool replace);

} // namespace WinFileIO
