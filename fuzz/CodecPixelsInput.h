// The input of the codec-pixels fuzz target, shared with the writer of its corpus: what a host's picture
// and a renderer's Read ask of the codec's pixel paths, then what an item codec reports to the canvas
// library's loader. Little-endian fields, then the picture's bytes (reused from the start where short).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace codecfuzz {

struct Header {
    std::uint32_t format;                        // destination format of Read
    std::uint32_t mode;                          // the codec's mode word
    std::int32_t alignment;                      // row alignment of Read
    std::uint16_t wantedWidth, wantedHeight;     // the buffer, taken modulo kMaxSide
    std::uint8_t channels;                       // of the picture: 1 + channels % 8
    std::uint16_t width, rows;                   // of the picture, modulo kMaxSide
    std::uint16_t reportedWidth, reportedHeight; // what an item codec reports to the loader, modulo kMaxSide
    std::int32_t byteDelta; // how many bytes more than that size the codec delivers, clamped to +-64
};
constexpr std::size_t kHeaderBytes = 29;
constexpr std::uint16_t kMaxSide = 300;

template <class T>
T Field(const std::uint8_t* data, std::size_t& at) {
    T value;
    std::memcpy(&value, data + at, sizeof(T));
    at += sizeof(T);
    return value;
}

inline bool Parse(const std::uint8_t* data, std::size_t size, Header& header) {
    if (size < kHeaderBytes)
        return false;
    std::size_t at = 0;
    header.format = Field<std::uint32_t>(data, at);
    header.mode = Field<std::uint32_t>(data, at);
    header.alignment = Field<std::int32_t>(data, at);
    header.wantedWidth = Field<std::uint16_t>(data, at);
    header.wantedHeight = Field<std::uint16_t>(data, at);
    header.channels = Field<std::uint8_t>(data, at);
    header.width = Field<std::uint16_t>(data, at);
    header.rows = Field<std::uint16_t>(data, at);
    header.reportedWidth = Field<std::uint16_t>(data, at);
    header.reportedHeight = Field<std::uint16_t>(data, at);
    header.byteDelta = Field<std::int32_t>(data, at);
    return true;
}

template <class T>
void Put(std::vector<std::uint8_t>& out, T value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

inline std::vector<std::uint8_t> Write(const Header& h, const std::vector<std::uint8_t>& picture) {
    std::vector<std::uint8_t> out;
    Put(out, h.format);
    Put(out, h.mode);
    Put(out, h.alignment);
    Put(out, h.wantedWidth);
    Put(out, h.wantedHeight);
    Put(out, h.channels);
    Put(out, h.width);
    Put(out, h.rows);
    Put(out, h.reportedWidth);
    Put(out, h.reportedHeight);
    Put(out, h.byteDelta);
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
}

} // namespace codecfuzz
