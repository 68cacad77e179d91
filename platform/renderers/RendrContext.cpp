#include "RendrContext.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

// The value as ASCII, or empty when it holds anything else (no number does).
std::string Ascii(const std::wstring& value) {
    std::string text;
    text.reserve(value.size());
    for (wchar_t c : value) {
        if (c <= 0 || c > 0x7F)
            return std::string();
        text += static_cast<char>(c);
    }
    return text;
}

template <class T>
bool ParseWhole(const std::wstring& value, T& out) {
    const std::string text = Ascii(value);
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

RendrContext::RendrContext(const wchar_t* context) {
    if (!context)
        return;
    const std::wstring text = context;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L';', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::size_t equals = text.find(L'=', start);
        if (equals != std::wstring::npos && equals < end)
            m_pairs.emplace(text.substr(start, equals - start), text.substr(equals + 1, end - equals - 1));
        start = end + 1;
    }
}

bool RendrContext::Has(const std::wstring& key) const {
    return m_pairs.count(key) != 0;
}

std::wstring RendrContext::Text(const std::wstring& key) const {
    auto it = m_pairs.find(key);
    return it == m_pairs.end() ? std::wstring() : it->second;
}

bool RendrContext::Long(const std::wstring& key, LONG& value) const {
    auto it = m_pairs.find(key);
    return it != m_pairs.end() && ParseWhole(it->second, value);
}

bool RendrContext::Double(const std::wstring& key, double& value) const {
    auto it = m_pairs.find(key);
    return it != m_pairs.end() && ParseDouble(it->second, value);
}

bool RendrContext::ParseDouble(const std::wstring& text, double& value) {
    double parsed = 0;
    if (!ParseWhole(text, parsed) || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

const void* RendrContext::Address(const std::wstring& key) const {
    auto it = m_pairs.find(key);
    std::uint64_t address = 0;
    if (it == m_pairs.end() || !ParseWhole(it->second, address))
        return nullptr;
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
}
