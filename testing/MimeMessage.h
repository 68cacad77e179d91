// A small reader of e-mail messages (RFC 5322 with MIME multipart bodies) for tests that check the drafts
// the mail hand-over writes: header fields, the parts of a multipart body with their decoded content, and
// the facts a conformance check needs (line ends, line lengths, the boundary).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

struct MimeHeaders {
    // Fields in order, names as written, values unfolded (the CRLF before a continuation line dropped).
    std::vector<std::pair<std::string, std::string>> fields;

    // The first field of the name (compared without regard to case).
    std::optional<std::string> Get(const std::string& name) const;
    // The value of a parameter of the field (name="text", name=token, or name*=UTF-8''percent-encoded,
    // decoded), without regard to case of the parameter's name.
    std::optional<std::string> Parameter(const std::string& field, const std::string& name) const;
    // The field's value up to its first ';', trimmed.
    std::string MainValue(const std::string& field) const;
};

struct MimePart {
    MimeHeaders headers;
    std::string rawBody;               // as written, up to the CRLF before the next delimiter
    std::vector<std::uint8_t> content; // base64 decoded when the part says so, else the raw body
    bool base64Valid = true;           // only base64 characters, whole groups, padding only at the end
    std::size_t longestLine = 0;       // of the raw body, without the CRLF
};

struct MimeMessage {
    MimeHeaders headers;
    std::string boundary;
    std::string preamble;
    std::vector<MimePart> parts;
    bool onlyCrlf = true; // no bare CR or LF anywhere
    bool closed = false;  // the closing delimiter was found
    std::string error;    // why the text could not be read; empty when it could
};

MimeMessage ParseMime(const std::string& text);

} // namespace kvtest
