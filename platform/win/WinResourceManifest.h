// The reader of resource manifests, the text form of a library's resources (its lines are described in
// WinResources.h). The resource compiler and the loader of resource files share it, so a manifest means
// the same wherever it is read.
#pragma once

#include <cstdint>
#include <functional>
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

// The pieces of a line, shared with the other resource texts (dialog templates). A number is read as C
// reads it ("0x" hexadecimal, a leading 0 octal) and must fit 32 bits. NextWord takes the word from pos on
// (skipping blanks) and moves pos past the single blank after it. Unescape resolves \n, \t and \\ and
// puts the reason in what when it cannot.
bool ParseNumber(std::string_view text, std::uint32_t& value);
std::string_view NextWord(std::string_view line, std::size_t& pos);
bool Unescape(std::string_view text, std::string& out, std::string& what);
// The texts of templates run from pos to the end of the line, escapes resolved, at most this long.
constexpr std::size_t kMaxTemplateTextBytes = 4096;
bool RestOfLine(std::string_view line, std::size_t pos, std::string& text, std::string& what);
// Hands read each part of a word of parts joined by '|' ("A|B|0x10"); false for an empty word or when
// read refuses a part.
bool ForEachJoinedPart(std::string_view word, const std::function<bool(std::string_view part)>& read);
// False, with the reason, when a word follows pos.
bool NothingMore(std::string_view line, std::size_t pos, std::string& what);
// Hands read each line of the text (without its line end, '\r' included) in turn. 0, with
// "<line>: <what>" in error, for the first line read refuses; else the number of the line after the last.
int ForEachLine(std::string_view text,
                const std::function<bool(std::string_view line, std::string& what)>& read,
                std::string& error);

} // namespace WinResourceManifest
