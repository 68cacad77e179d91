#include "WinResourceManifest.h"

#include <algorithm>

#include <cctype>
#include <set>
#include <utility>

namespace WinResourceManifest {

bool ParseNumber(std::string_view text, std::uint32_t& value) {
    if (text.empty())
        return false;
    // As C reads numbers: "0x" starts a hexadecimal one, any other leading 0 an octal one.
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
    }
    std::uint64_t number = 0;
    for (char c : text) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0 || digit >= base)
            return false;
        number = number * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (number > 0xFFFFFFFFu)
            return false;
    }
    value = static_cast<std::uint32_t>(number);
    return true;
}

// The next word of the line from pos on; pos ends after the single blank that follows it.
std::string_view NextWord(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')
        ++pos;
    const std::string_view word = line.substr(start, pos - start);
    if (pos < line.size())
        ++pos;
    return word;
}

bool Unescape(std::string_view text, std::string& out, std::string& what) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            what = "a text ends in a lone backslash";
            return false;
        }
        switch (text[i]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            what = std::string("unknown escape \\") + text[i];
            return false;
        }
    }
    return true;
}

namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool ParseLine(std::string_view line, Manifest& manifest, std::set<std::uint32_t>& stringIds,
               std::set<std::pair<std::string, std::uint32_t>>& dataKeys, std::string& what) {
    std::size_t pos = 0;
    const std::string_view keyword = NextWord(line, pos);
    if (keyword.empty() || keyword[0] == '#')
        return true;
    if (keyword == "string") {
        StringLine entry{};
        if (!ParseNumber(NextWord(line, pos), entry.id)) {
            what = "a string needs a numeric id";
            return false;
        }
        if (!stringIds.insert(entry.id).second) {
            what = "string " + std::to_string(entry.id) + " is defined twice";
            return false;
        }
        if (!Unescape(line.substr(std::min(pos, line.size())), entry.text, what))
            return false;
        manifest.strings.push_back(std::move(entry));
        return true;
    }
    if (keyword == "data") {
        DataLine entry{};
        const std::string_view type = NextWord(line, pos);
        if (type.empty()) {
            what = "data needs a type";
            return false;
        }
        if (!ParseNumber(type, entry.typeId)) {
            entry.typeId = 0;
            entry.typeName = std::string(type);
        } else if (entry.typeId == 0) {
            what = "type 0 is not a type";
            return false;
        }
        if (!ParseNumber(NextWord(line, pos), entry.id)) {
            what = "data needs a numeric id";
            return false;
        }
        entry.file = std::string(line.substr(std::min(pos, line.size())));
        if (entry.file.empty()) {
            what = "data needs a file";
            return false;
        }
        if (!dataKeys.insert({Upper(entry.typeName) + "#" + std::to_string(entry.typeId), entry.id}).second) {
            what = "resource " + std::string(type) + " " + std::to_string(entry.id) + " is defined twice";
            return false;
        }
        manifest.data.push_back(std::move(entry));
        return true;
    }
    what = "unknown line \"" + std::string(keyword) + "\"";
    return false;
}

} // namespace

bool Parse(std::string_view text, Manifest& manifest, std::string& error) {
    std::set<std::uint32_t> stringIds;
    std::set<std::pair<std::string, std::uint32_t>> dataKeys;
    return ForEachLine(
               text,
               [&](std::string_view line, std::string& what) {
                   return ParseLine(line, manifest, stringIds, dataKeys, what);
               },
               error) != 0;
}

bool RestOfLine(std::string_view line, std::size_t pos, std::string& text, std::string& what) {
    const std::string_view rest = line.substr(std::min(pos, line.size()));
    if (rest.size() > kMaxTemplateTextBytes) {
        what = "a text is longer than 4096 bytes";
        return false;
    }
    return Unescape(rest, text, what);
}

bool ForEachJoinedPart(std::string_view word, const std::function<bool(std::string_view)>& read) {
    if (word.empty())
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = word.find('|', start);
        if (!read(word.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start)))
            return false;
        if (bar == std::string_view::npos)
            return true;
        start = bar + 1;
    }
}

bool NothingMore(std::string_view line, std::size_t pos, std::string& what) {
    if (!NextWord(line, pos).empty()) {
        what = "unexpected words at the end of the line";
        return false;
    }
    return true;
}

int ForEachLine(std::string_view text, const std::function<bool(std::string_view, std::string&)>& read,
                std::string& error) {
    std::size_t start = 0;
    int number = 1;
    for (; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string what;
        if (!read(line, what)) {
            error = std::to_string(number) + ": " + what;
            return 0;
        }
    }
    return number;
}

std::string DataPath(const std::string& manifestFolder, const std::string& file) {
    if (!file.empty() && file[0] == '/')
        return file;
    return (manifestFolder.empty() ? std::string(".") : manifestFolder) + "/" + file;
}

} // namespace WinResourceManifest
