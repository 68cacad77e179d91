#include "TContextParser.h"

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

int TContextParser::FindValue(const wchar_t* key) const {
    if (!key || !*key)
        return -1;
    const int found = m_context.Find(key);
    if (found < 0)
        return -1;
    const long long start = static_cast<long long>(found) + static_cast<long long>(std::wcslen(key)) + 1;
    return start > m_context.GetLength() ? m_context.GetLength() : static_cast<int>(start);
}

bool TContextParser::GetString(const wchar_t* key, TString& value) const {
    const int start = FindValue(key);
    if (start < 0)
        return false;
    const TString rest = m_context.Mid(start);
    const int end = rest.FindOneOf(L",;");
    value = end < 0 ? rest : rest.Left(end);
    return true;
}

bool TContextParser::GetLong(const wchar_t* key, LONG& value) const {
    const int start = FindValue(key);
    if (start < 0)
        return false;
    errno = 0;
    const long long parsed = std::wcstoll(static_cast<const wchar_t*>(m_context) + start, nullptr, 10);
    if (errno == ERANGE || parsed > INT32_MAX || parsed < INT32_MIN)
        return false;
    value = static_cast<LONG>(parsed);
    return true;
}

bool TContextParser::GetDouble(const wchar_t* key, double& value) const {
    const int start = FindValue(key);
    if (start < 0)
        return false;
    errno = 0;
    const wchar_t* text = static_cast<const wchar_t*>(m_context) + start;
    const locale_t locale = NumberLocale();
    const double parsed = locale ? wcstod_l(text, nullptr, locale) : std::wcstod(text, nullptr);
    if (errno == ERANGE)
        return false;
    value = parsed;
    return true;
}
