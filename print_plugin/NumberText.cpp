#include "NumberText.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cwchar>
#include <locale.h>
#include <wchar.h>

namespace {

locale_t NumberLocale() {
    static const locale_t locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

} // namespace

bool NumberText::ParseReal(const wchar_t* text, double& value) {
    if (!text)
        return false;
    wchar_t* end = nullptr;
    const locale_t locale = NumberLocale();
    const double parsed = locale ? wcstod_l(text, &end, locale) : std::wcstod(text, &end);
    if (end == text)
        return false;
    value = parsed;
    return true;
}

bool NumberText::ParseWhole(const wchar_t* text, LONG& value) {
    if (!text)
        return false;
    wchar_t* end = nullptr;
    errno = 0;
    const long long parsed = std::wcstoll(text, &end, 10);
    if (end == text || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    value = static_cast<LONG>(parsed);
    return true;
}

TString NumberText::RealText(double value) {
    char buffer[400];
    // Fixed notation with six decimals is what "%lf" writes, here without the locale's decimal sign.
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof(buffer) - 1, value, std::chars_format::fixed, 6);
    if (result.ec != std::errc())
        return TString(L"0.000000");
    *result.ptr = '\0';
    return TString(buffer);
}
