#include "MimeMessage.h"

#include <algorithm>
#include <cctype>

namespace kvtest {
namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::string();
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// Splits the header block (lines without their CRLF) into fields; false on a line that is neither a field
// nor a continuation.
bool ReadHeaders(const std::vector<std::string>& lines, MimeHeaders& headers) {
    for (const std::string& line : lines) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (headers.fields.empty())
                return false;
            headers.fields.back().second += line;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        headers.fields.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// A reference decoder written for the tests: every group of four characters gives up to three bytes.
bool DecodeBase64(const std::string& body, std::vector<std::uint8_t>& out) {
    std::string text;
    for (char c : body)
        if (c != '\r' && c != '\n')
            text += c;
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[at + i];
            if (c == '=' && last && i >= 2) {
                ++padding;
                values[i] = 0;
            } else if (padding || (values[i] = Base64Value(c)) < 0) {
                return false;
            }
        }
        const std::uint32_t group = values[0] << 18 | values[1] << 12 | values[2] << 6 | values[3];
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2)
            out.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1)
            out.push_back(static_cast<std::uint8_t>(group));
    }
    return true;
}

// The text split at CRLF (a bare CR or LF also ends a line, and is noted).
std::vector<std::string> Lines(const std::string& text, bool& onlyCrlf) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines.push_back(line);
            line.clear();
            ++i;
        } else if (c == '\r' || c == '\n') {
            onlyCrlf = false;
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

} // namespace

std::optional<std::string> MimeHeaders::Get(const std::string& name) const {
    for (const auto& [field, value] : fields)
        if (Lower(field) == Lower(name))
            return value;
    return std::nullopt;
}

std::string MimeHeaders::MainValue(const std::string& field) const {
    const std::string value = Get(field).value_or("");
    return Trim(value.substr(0, value.find(';')));
}

std::optional<std::string> MimeHeaders::Parameter(const std::string& field, const std::string& name) const {
    const std::optional<std::string> value = Get(field);
    if (!value)
        return std::nullopt;
    std::size_t at = value->find(';');
    while (at != std::string::npos) {
        ++at;
        const std::size_t equals = value->find('=', at);
        if (equals == std::string::npos)
            return std::nullopt;
        const std::string key = Lower(Trim(value->substr(at, equals - at)));
        std::size_t end = equals + 1;
        while (end < value->size() && (*value)[end] == ' ')
            ++end;
        std::string text;
        if (end < value->size() && (*value)[end] == '"') {
            for (++end; end < value->size() && (*value)[end] != '"'; ++end) {
                if ((*value)[end] == '\\' && end + 1 < value->size())
                    ++end;
                text += (*value)[end];
            }
            ++end;
        } else {
            const std::size_t stop = value->find(';', end);
            text = Trim(value->substr(end, stop == std::string::npos ? std::string::npos : stop - end));
            end = stop == std::string::npos ? value->size() : stop;
        }
        if (key == Lower(name))
            return text;
        if (key == Lower(name) + "*") {
            const std::size_t quote = text.find("''");
            if (quote == std::string::npos)
                return std::nullopt;
            std::string decoded;
            for (std::size_t i = quote + 2; i < text.size(); ++i) {
                if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                    HexValue(text[i + 2]) >= 0) {
                    decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
                    i += 2;
                } else {
                    decoded += text[i];
                }
            }
            return decoded;
        }
        at = value->find(';', end);
    }
    return std::nullopt;
}

MimeMessage ParseMime(const std::string& text) {
    MimeMessage message;
    const std::vector<std::string> lines = Lines(text, message.onlyCrlf);
    std::size_t at = 0;
    std::vector<std::string> headerLines;
    for (; at < lines.size() && !lines[at].empty(); ++at)
        headerLines.push_back(lines[at]);
    if (at == lines.size() || !ReadHeaders(headerLines, message.headers)) {
        message.error = "no header block";
        return message;
    }
    ++at;
    message.boundary = message.headers.Parameter("Content-Type", "boundary").value_or("");
    if (message.boundary.empty()) {
        message.error = "no boundary";
        return message;
    }
    const std::string delimiter = "--" + message.boundary;
    MimePart* part = nullptr;
    bool inHeaders = false;
    std::vector<std::string> partHeaders;
    std::vector<std::string> bodyLines;
    const auto finish = [&]() {
        if (!part)
            return;
        for (std::size_t i = 0; i < bodyLines.size(); ++i) {
            part->rawBody += bodyLines[i] + (i + 1 < bodyLines.size() ? "\r\n" : "");
            part->longestLine = std::max(part->longestLine, bodyLines[i].size());
        }
        if (Lower(part->headers.Get("Content-Transfer-Encoding").value_or("")) == "base64")
            part->base64Valid = DecodeBase64(part->rawBody, part->content);
        else
            part->content.assign(part->rawBody.begin(), part->rawBody.end());
        bodyLines.clear();
    };
    for (; at < lines.size(); ++at) {
        const std::string& line = lines[at];
        if (line == delimiter + "--") {
            finish();
            message.closed = true;
            break;
        }
        if (line == delimiter) {
            finish();
            message.parts.emplace_back();
            part = &message.parts.back();
            inHeaders = true;
            partHeaders.clear();
            continue;
        }
        if (!part) {
            message.preamble += line + "\r\n";
        } else if (inHeaders) {
            if (line.empty()) {
                inHeaders = false;
                if (!ReadHeaders(partHeaders, part->headers)) {
                    message.error = "bad part header";
                    return message;
                }
            } else {
                partHeaders.push_back(line);
            }
        } else {
            bodyLines.push_back(line);
        }
    }
    if (!message.closed)
        message.error = "no closing delimiter";
    return message;
}

} // namespace kvtest
