// Preferences by key path: text values, and whole and real numbers kept as text, over a backend that
// subclasses supply (the host's registry service, an XML file). Used on the user-interface thread only.
#pragma once

#include "TBaseObject.h"
#include "TString.h"

class TGenPreferences : public TBaseObject {
public:
    virtual bool GetString(const wchar_t* key, TString& value) = 0;
    virtual bool SetString(const wchar_t* key, const wchar_t* value) = 0;
    // A new array of the value's bytes that the caller frees with delete[]; false with a null buffer and
    // a size of 0 when there is none.
    virtual bool GetBinary(const wchar_t* key, BYTE*& buffer, DWORD& size) = 0;
    virtual bool SetBinary(const wchar_t* key, const BYTE* data, DWORD size) = 0;

    // False when the text cannot be read. A text that holds no 32-bit number at its start (after blanks:
    // an optional sign and decimal digits, as "%d" reads) leaves the value as it was, and the answer is
    // still true.
    bool GetLong(const TString& key, LONG* value);
    // The value as "%d"; the backend's answer.
    bool SetLong(const TString& key, LONG value);
    // The same with real numbers read and written as "%lf" in the C locale, whatever the user's is.
    bool GetDouble(const TString& key, double* value);
    bool SetDouble(const TString& key, double value);
};
