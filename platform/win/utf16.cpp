#include "utf16.h"

namespace Utf {
namespace {

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

char32_t Sanitise(char32_t c) {
    return (c > 0x10FFFF || IsSurrogate(c)) ? kReplacement : c;
}

// Decodes one UTF-8 sequence at text[i], advancing i; overlong forms, surrogates and truncated
// sequences give the replacement character and consume one byte, so decoding always progresses.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, c = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, c = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, c = b0 & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + extra >= text.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (b & 0x3F);
    }
    i += extra + 1;
    if (c < minimum || c > 0x10FFFF || IsSurrogate(c))
        return kReplacement;
    return c;
}

void EncodeUtf8(char32_t c, std::string& out) {
    c = Sanitise(c);
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

char32_t DecodeUtf16(std::u16string_view text, std::size_t& i) {
    const char32_t u = text[i++];
    if (u >= 0xD800 && u <= 0xDBFF) {
        if (i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
            const char32_t low = text[i++];
            return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        }
        return kReplacement;
    }
    if (u >= 0xDC00 && u <= 0xDFFF)
        return kReplacement;
    return u;
}

void EncodeUtf16(char32_t c, std::u16string& out) {
    c = Sanitise(c);
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

} // namespace

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(static_cast<wchar_t>(DecodeUtf8(text, i)));
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        EncodeUtf8(static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c)), out);
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        EncodeUtf16(DecodeUtf8(text, i), out);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        EncodeUtf8(DecodeUtf16(text, i), out);
    return out;
}

std::u16string WideToUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        EncodeUtf16(static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c)), out);
    return out;
}

std::wstring Utf16ToWide(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(static_cast<wchar_t>(DecodeUtf16(text, i)));
    return out;
}

std::u16string Utf16FromLEBytes(const void* bytes, std::size_t byteCount) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    std::u16string out;
    out.reserve(byteCount / 2);
    for (std::size_t i = 0; i + 1 < byteCount; i += 2)
        out.push_back(static_cast<char16_t>(p[i] | (p[i + 1] << 8)));
    return out;
}

void AppendUtf16LE(std::vector<std::uint8_t>& out, std::u16string_view text) {
    out.reserve(out.size() + 2 * text.size());
    for (char16_t u : text) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t length = maxBytes;
    // The first byte left out must not continue a character that the kept part begins.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

std::size_t Utf16Length(std::wstring_view text) {
    std::size_t n = 0;
    for (wchar_t c : text)
        n += (static_cast<std::make_unsigned_t<wchar_t>>(c) >= 0x10000 &&
              static_cast<std::make_unsigned_t<wchar_t>>(c) <= 0x10FFFF)
                 ? 2
                 : 1;
    return n;
}

} // namespace Utf
