// Preferences kept in an XML file through the XML library: a key path is an XPath from the document's root
// element for reads (counts included) and an element path for writes. The file is read when it is
// opened and written only by Save; a file that exists but does not parse is never opened, so it is never
// overwritten.
#pragma once

#include "TGenPreferences.h"

#include "platform/davuzozi/davuzOzi.h"

class TXMLFilePreferences : public TGenPreferences {
public:
    // The first buffer a read hands the library; a longer value is read again into one of its size.
    static constexpr LONG kFirstBufferLength = 255;

    TXMLFilePreferences() = default;
    ~TXMLFilePreferences() override;

    // Closes any open document first. False for a null path, for a file that cannot be opened for
    // reading unless create is set (then a missing file is an empty document), and when the library gives
    // no document.
    bool Open(const wchar_t* path, bool create);
    bool Save();
    void Close();
    bool IsOpen() const { return m_document != kUtlNoHandle; }
    const TString& GetPath() const { return m_path; }

    // False (the value untouched) when the key selects nothing, or no document is open.
    bool GetString(const wchar_t* key, TString& value) override;
    bool SetString(const wchar_t* key, const wchar_t* value) override;
    // An XML file keeps no bytes: both answer false.
    bool GetBinary(const wchar_t* key, BYTE*& buffer, DWORD& size) override;
    bool SetBinary(const wchar_t* key, const BYTE* data, DWORD size) override;

private:
    TString m_path;
    UtlHandle m_document = kUtlNoHandle;
};
