// File names as the system composes them, made usable on this file system: '\' separators become '/',
// and a name that is missing in the exact letter case is found case-insensitively, as on the original
// platform ("KVLch2.icm" and "KvLch2.icm" name the same file there).
#pragma once

#include <string>
#include <string_view>

namespace WinPath {

// The path with '/' separators; when it names nothing as written, every component that is missing is
// looked up in its folder without regard to ASCII letter case. A path that still names nothing comes back
// with only its separators mapped, so the caller's open reports the failure.
std::string ToNative(std::string_view path);

} // namespace WinPath
