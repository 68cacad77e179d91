#include "TXMLFilePreferences.h"

#include "TFilePath.h"

TXMLFilePreferences::~TXMLFilePreferences() {
    Close();
}

bool TXMLFilePreferences::Open(const wchar_t* path, bool create) {
    Close();
    if (!path)
        return false;
    TFilePath location;
    location.Set(path);
    if (!create && !location.Exists())
        return false;
    m_path = path;
    UtlHandle document = kUtlNoHandle;
    if (utlCreateXmlDoc(path, &document) != 1)
        return false;
    m_document = document;
    return true;
}

bool TXMLFilePreferences::Save() {
    return IsOpen() && utlSaveXmlDoc(m_document, nullptr) == 1;
}

void TXMLFilePreferences::Close() {
    if (IsOpen())
        utlReleaseHandle(m_document);
    m_document = kUtlNoHandle;
}

bool TXMLFilePreferences::GetString(const wchar_t* key, TString& value) {
    if (!IsOpen() || !key)
        return false;
    TString text;
    LONG size = kFirstBufferLength;
    wchar_t* buffer = text.GetBuffer(kFirstBufferLength);
    buffer[0] = L'\0';
    LONG answer = utlGetXmlNodeValue(m_document, key, buffer, &size);
    text.ReleaseBuffer();
    if (answer != 1 && size > kFirstBufferLength) {
        // The library asks for more room (its terminator counted): one more read into that much.
        LONG again = size;
        buffer = text.GetBuffer(size + 1);
        buffer[0] = L'\0';
        answer = utlGetXmlNodeValue(m_document, key, buffer, &again);
        text.ReleaseBuffer();
    }
    if (answer != 1)
        return false;
    value = text;
    return true;
}

bool TXMLFilePreferences::SetString(const wchar_t* key, const wchar_t* value) {
    return IsOpen() && key && value && utlSetXmlNodeValue(m_document, key, value) == 1;
}

bool TXMLFilePreferences::GetBinary(const wchar_t*, BYTE*& buffer, DWORD& size) {
    buffer = nullptr;
    size = 0;
    return false;
}

bool TXMLFilePreferences::SetBinary(const wchar_t*, const BYTE*, DWORD) {
    return false;
}
