// The framework's reading of a context string (key=value pairs, each ended by ';'). A key is found as the
// first occurrence of its text anywhere in the string, also inside a longer key ("width" finds the value of
// "page_width"), and its value starts one character after it; renderer libraries read the same strings
// strictly on their side. Numbers are read in the C locale.
#pragma once

#include "TString.h"

class TContextParser {
public:
    explicit TContextParser(const TString& context) : m_context(context) {}

    // The value up to the first ',' or ';' after it, or to the end; false when the key is absent.
    bool GetString(const wchar_t* key, TString& value) const;
    // A decimal number from the value's start (0 when no digits are there); false when the key is absent or
    // the number lies outside the 32-bit range.
    bool GetLong(const wchar_t* key, LONG& value) const;
    // A decimal number from the value's start (0 when none is there); false when the key is absent or the
    // number lies outside the range of a double.
    bool GetDouble(const wchar_t* key, double& value) const;

private:
    // The index of the value's first character (at most the length), or -1 when the key is absent.
    int FindValue(const wchar_t* key) const;

    TString m_context;
};
