// The one place where text changes encoding. Narrow text is UTF-8, wide text in memory is wchar_t
// (UTF-32 on this target), and UTF-16 appears only where text reaches bytes: files, resources, records.
// Malformed input never fails: each bad unit becomes U+FFFD, so a hostile file cannot stop a reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Utf {

constexpr char32_t kReplacement = 0xFFFD;

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

std::u16string WideToUtf16(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);

// UTF-16 little-endian bytes, as stored. An odd trailing byte is dropped.
std::u16string Utf16FromLEBytes(const void* bytes, std::size_t byteCount);
void AppendUtf16LE(std::vector<std::uint8_t>& out, std::u16string_view text);

// The length of the longest start of the UTF-8 text that has at most maxBytes bytes and does not end
// inside a character, so that a text cut there is still whole characters.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes);

// Number of UTF-16 units the wide text needs (characters above U+FFFF take two).
std::size_t Utf16Length(std::wstring_view text);

} // namespace Utf
