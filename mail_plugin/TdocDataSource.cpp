#include "TdocDataSource.h"

TdocDataSource* TdocDataSource::Create(const TString& path) {
    DocHandle handle = kDocNoHandle;
    if (docCreateDataSource(path, &handle) != 1 || handle == kDocNoHandle)
        return nullptr;
    return new TdocDataSource(handle);
}

TdocDataSource* TdocDataSource::Create2(const wchar_t* text, LONG length) {
    DocHandle handle = kDocNoHandle;
    if (docCreateDataSource2(text, length, &handle) != 1 || handle == kDocNoHandle)
        return nullptr;
    return new TdocDataSource(handle);
}

TdocDataSource::~TdocDataSource() {
    if (m_handle != kDocNoHandle)
        docReleaseHandle(m_handle);
}

TdocDocument* TdocDataSource::CreateDocumentFromLTF2(const TdocDataSource& templateSource,
                                                     const TdocDataSource& dataSource) {
    return TdocDocument::CreateFromLTF2(templateSource.m_handle, dataSource.m_handle);
}
