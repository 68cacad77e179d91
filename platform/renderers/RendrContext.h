// A renderer library's reading of a context string: the pairs "key=value;" split once, each key taken at
// the start of a pair (the first pair of a key wins), numbers read whole and in the C locale whatever the
// process's locale is, addresses as unsigned 64-bit decimals.
#pragma once

#include "platform/win/wintypes.h"

#include <map>
#include <string>

class RendrContext {
public:
    explicit RendrContext(const wchar_t* context);

    bool Has(const std::wstring& key) const;
    // Empty when absent.
    std::wstring Text(const std::wstring& key) const;
    // False when absent, empty, not a whole decimal number or outside the 32-bit range.
    bool Long(const std::wstring& key, LONG& value) const;
    // False when absent or not a whole finite decimal number.
    bool Double(const std::wstring& key, double& value) const;
    // Null when absent or not a whole unsigned decimal number.
    const void* Address(const std::wstring& key) const;

    // A whole finite decimal number in the C locale.
    static bool ParseDouble(const std::wstring& text, double& value);

private:
    std::map<std::wstring, std::wstring> m_pairs;
};
