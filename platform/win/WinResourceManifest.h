// The reader of resource manifests, the text form of a library's resources (its lines are described in
// WinResources.h). The resource compiler and the loader of resource files share it, so a manifest means
// the same wherever it is read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace WinResourceManifest {

struct StringLine {
    std::uint32_t id;
    std::string text; // escapes resolved
};

struct DataLine {
    std::uint32_t typeId; // 0 for a named type
    std::string typeName; // empty for a numeric type
    std::uint32_t id;
    std::string file;                 // as written: relative paths are relative to the manifest's folder
    std::vector<unsigned char> bytes; // filled by the caller
};

struct Manifest {
    std::vector<StringLine> strings;
    std::vector<DataLine> data;
};

// Reads the manifest's text. False with "<line>: <what>" in error for the first line that cannot be read
// (unknown keywords, bad ids or escapes, ids defined twice); the manifest then holds the lines before it.
bool Parse(std::string_view text, Manifest& manifest, std::string& error);

// The path of a data line's file for a manifest in `manifestFolder`.
std::string DataPath(const std::string& manifestFolder, const std::string& file);

} // namespace WinResourceManifest
