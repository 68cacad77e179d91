#include "ZvReply.h"

#include <cctype>
#include <limits>
#include <utility>

namespace ZvReply {
namespace {

using Fields = std::vector<std::pair<std::string_view, std::string_view>>;

// Splits the body into its lines; false when a line is not "key=value". Empty lines are allowed, and a
// line may end in "\r\n".
bool Split(std::string_view body, Fields& fields) {
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string_view::npos)
            end = body.size();
        std::string_view line = body.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        const std::size_t equals = line.find('=');
        if (equals == 0 || equals == std::string_view::npos)
            return false;
        const std::string_view key = line.substr(0, equals);
        for (char c : key)
            if (c < 'a' || c > 'z')
                return false;
        fields.emplace_back(key, line.substr(equals + 1));
    }
    return true;
}

// The one value of the key; false when the key is missing or given twice.
bool Single(const Fields& fields, std::string_view key, std::string_view& raw) {
    int found = 0;
    for (const auto& [name, value] : fields) {
        if (name == key) {
            raw = value;
            ++found;
        }
    }
    return found == 1;
}

bool IsWord(std::string_view text, std::size_t maxLength) {
    if (text.empty() || text.size() > maxLength)
        return false;
    for (char c : text)
        if (c <= ' ' || c > '~')
            return false;
    return true;
}

bool ReadNumber(std::string_view text, std::int64_t& number) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 18)
        return false;
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (negative)
        number = -number;
    return true;
}

std::int32_t ReadWord(std::string_view body, std::string_view key, std::size_t maxLength, std::string& word) {
    Fields fields;
    std::string_view raw;
    std::string text;
    if (!Split(body, fields) || !Single(fields, key, raw) || !Decode(raw, text) || !IsWord(text, maxLength))
        return kPiMalformedReply;
    word = std::move(text);
    return kPiOk;
}

} // namespace

bool Decode(std::string_view raw, std::string& text) {
    text.clear();
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\0')
            return false;
        if (raw[i] != '%') {
            text += raw[i];
            continue;
        }
        if (i + 2 >= raw.size())
            return false;
        const auto a = static_cast<unsigned char>(raw[i + 1]);
        const auto b = static_cast<unsigned char>(raw[i + 2]);
        if (!std::isxdigit(a) || !std::isxdigit(b))
            return false;
        const auto value = [](unsigned char c) {
            return std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
        };
        const char decoded = static_cast<char>(value(a) * 16 + value(b));
        if (decoded == '\0')
            return false;
        text += decoded;
        i += 2;
    }
    return true;
}

std::int32_t ReadToken(std::string_view body, std::string& token) {
    return ReadWord(body, "token", sizeof(PiConnection::session) - 1, token);
}

std::int32_t ReadPhoto(std::string_view body, std::string& photo) {
    return ReadWord(body, "photo", sizeof(PiUpload::photo) - 1, photo);
}

std::int32_t ReadKey(std::string_view body, std::string& key) {
    Fields fields;
    std::string_view raw;
    std::string text;
    if (!Split(body, fields) || !Single(fields, "key", raw) || !Decode(raw, text) || text.empty())
        return kPiMalformedReply;
    key = std::move(text);
    return kPiOk;
}

std::int32_t ReadSpace(std::string_view body, std::int64_t& space) {
    Fields fields;
    std::string_view raw;
    std::int64_t number = 0;
    if (!Split(body, fields) || !Single(fields, "space", raw) || !ReadNumber(raw, number))
        return kPiMalformedReply;
    constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
    space = number < kLow ? kLow : number > kHigh ? kHigh : number;
    return kPiOk;
}

std::int32_t ReadAlbums(std::string_view body, std::vector<Album>& albums) {
    Fields fields;
    std::string_view raw;
    std::int64_t count = 0;
    if (!Split(body, fields) || !Single(fields, "count", raw) || !ReadNumber(raw, count) || count < 0 ||
        count > kPiAlbumLimit)
        return kPiMalformedReply;
    std::vector<Album> listed;
    for (const auto& [key, value] : fields) {
        if (key != "album")
            continue;
        if (listed.size() == static_cast<std::size_t>(count))
            return kPiMalformedReply;
        const std::size_t first = value.find('\t');
        const std::size_t second = first == std::string_view::npos ? first : value.find('\t', first + 1);
        if (second == std::string_view::npos || value.find('\t', second + 1) != std::string_view::npos)
            return kPiMalformedReply;
        Album album;
        if (!Decode(value.substr(0, first), album.key) ||
            !Decode(value.substr(first + 1, second - first - 1), album.name) ||
            !Decode(value.substr(second + 1), album.description) || album.key.empty())
            return kPiMalformedReply;
        listed.push_back(std::move(album));
    }
    if (listed.size() != static_cast<std::size_t>(count))
        return kPiMalformedReply;
    albums = std::move(listed);
    return kPiOk;
}

} // namespace ZvReply
