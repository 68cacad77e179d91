#include "TGenPreferences.h"

#include <cerrno>
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

bool TGenPreferences::GetLong(const TString& key, LONG* value) {
    TString text;
    if (!GetString(key, text))
        return false;
    const wchar_t* start = text;
    wchar_t* end = nullptr;
    errno = 0;
    const long long parsed = std::wcstoll(start, &end, 10);
    if (value && end != start && errno != ERANGE && parsed >= INT_MIN && parsed <= INT_MAX)
        *value = static_cast<LONG>(parsed);
    return true;
}

bool TGenPreferences::SetLong(const TString& key, LONG value) {
    TString text;
    text.Format(L"%d", value);
    return SetString(key, text);
}

bool TGenPreferences::GetDouble(const TString& key, double* value) {
    TString text;
    if (!GetString(key, text))
        return false;
    const wchar_t* start = text;
    wchar_t* end = nullptr;
    const locale_t locale = NumberLocale();
    const double parsed = locale ? wcstod_l(start, &end, locale) : std::wcstod(start, &end);
    if (value && end != start)
        *value = parsed;
    return true;
}

bool TGenPreferences::SetDouble(const TString& key, double value) {
    TString text;
    text.Format(L"%lf", value);
    return SetString(key, text);
}
