// The service's replies: lines of "key=value" (keys in lower-case letters, values percent-encoded, an album
// line's three fields separated by tabs and encoded one by one). Each reader takes the whole reply body
// and answers kPiOk or kPiMalformedReply; lines with keys it does not know are skipped.
#pragma once

#include "platform/zavoz/ZaVoz.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ZvReply {

struct Album {
    std::string key;
    std::string name;
    std::string description;
};

// The session token: 1 to 19 printable characters without blanks (it travels in a request header).
std::int32_t ReadToken(std::string_view body, std::string& token);
// "count=N" and exactly N album lines, N at most kPiAlbumLimit.
std::int32_t ReadAlbums(std::string_view body, std::vector<Album>& albums);
// A new album's key: not empty.
std::int32_t ReadKey(std::string_view body, std::string& key);
// The room left in units of 1000 bytes: a decimal number, possibly negative; numbers beyond the 32-bit
// range are clamped to it.
std::int32_t ReadSpace(std::string_view body, std::int64_t& space);
// An uploaded photo's id: 1 to 63 printable characters without blanks.
std::int32_t ReadPhoto(std::string_view body, std::string& photo);

// Percent-decodes a value; false for a '%' without two hex digits after it or a NUL, encoded or not
// (the texts end up in NUL-terminated fields).
bool Decode(std::string_view raw, std::string& text);

} // namespace ZvReply
