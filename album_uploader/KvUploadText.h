// Texts on their way into the service's records: lower-cased character by character, and cut to a number
// of bytes without splitting a character.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace KvUploadText {

// The UTF-8 text with every character lower-cased (which may change its length); bytes that are not
// UTF-8 stay as they are.
std::string LowerCase(std::string_view text);

// The longest start of the text of at most maxBytes bytes that ends at a character boundary.
std::string_view Cut(std::string_view text, std::size_t maxBytes);

// Zeroes the field and copies the text into it, cut to maxBytes (less than N, so a terminator follows).
template <std::size_t N>
void CopyInto(char (&field)[N], std::string_view text, std::size_t maxBytes) {
    static_assert(N > 0);
    const std::string_view kept = Cut(text, maxBytes < N ? maxBytes : N - 1);
    std::memset(field, 0, N);
    std::memcpy(field, kept.data(), kept.size());
}

// The text of a field that the service filled: it ends at the first NUL or with the field.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}

} // namespace KvUploadText
