// A data source of the document library: a text that documents are made of, held by its handle, which
// the wrapper releases when it is deleted.
#pragma once

#include "plugin_framework/TString.h"
#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDud.h"

class TdocDataSource {
public:
    // New sources that the caller owns, or null when the library does not answer 1: from the file at the
    // path, or from the length characters of the text.
    static TdocDataSource* Create(const TString& path);
    static TdocDataSource* Create2(const wchar_t* text, LONG length);

    TdocDataSource(const TdocDataSource&) = delete;
    TdocDataSource& operator=(const TdocDataSource&) = delete;
    virtual ~TdocDataSource();

    DocHandle GetHandle() const { return m_handle; }

    // A new document that the caller owns, the template source filled with the pictures of the data
    // source, or null when the library does not answer 1. Both sources stay the caller's and may be
    // deleted as soon as this returns. (A document from an LTF file and a data file is
    // TdocDocument::CreateFromLTF.)
    static TdocDocument* CreateDocumentFromLTF2(const TdocDataSource& templateSource,
                                                const TdocDataSource& dataSource);

private:
    explicit TdocDataSource(DocHandle handle) : m_handle(handle) {}

    DocHandle m_handle;
};
