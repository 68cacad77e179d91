#include "KvUploadText.h"

#include "platform/win/utf16.h"

#include <cwctype>
#include <locale.h>

namespace KvUploadText {
namespace {

// Case mapping of every character, whatever locale the calling program has set. Freed when the library
// unloads.
class Utf8Locale {
public:
    Utf8Locale() : m_locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {}
    ~Utf8Locale() {
        if (m_locale)
            freelocale(m_locale);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;
    locale_t Get() const { return m_locale; }

private:
    locale_t m_locale;
};

locale_t CaseLocale() {
    static const Utf8Locale locale;
    return locale.Get();
}

// The length of the well-formed UTF-8 character at text[at] with its code point, or 0 when there is none.
std::size_t Decode(std::string_view text, std::size_t at, char32_t& c) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80             ? 1
                         : (lead & 0xE0) == 0xC0 ? 2
                         : (lead & 0xF0) == 0xE0 ? 3
                         : (lead & 0xF8) == 0xF0 ? 4
                                                 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    static const char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kShortest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string LowerCase(std::string_view text) {
    std::string lowered;
    lowered.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = Decode(text, at, c);
        if (length == 0) {
            lowered += text[at++];
            continue;
        }
        const locale_t locale = CaseLocale();
        const auto lower = locale ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale))
                           : (c >= 'A' && c <= 'Z') ? c + ('a' - 'A')
                                                    : c;
        lowered += Utf::WideToUtf8(std::wstring(1, static_cast<wchar_t>(lower)));
        at += length;
    }
    return lowered;
}

std::string_view Cut(std::string_view text, std::size_t maxBytes) {
    return text.substr(0, Utf::Utf8PrefixLength(text, maxBytes));
}

} // namespace KvUploadText
