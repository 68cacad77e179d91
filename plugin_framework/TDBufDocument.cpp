#include "TDBufDocument.h"

#include "TFilePath.h"

TDBufDocument::TDBufDocument(TdocDocument* source) : m_source(source) {
    if (m_source)
        m_copy = Copy(*m_source);
}

TDBufDocument::~TDBufDocument() = default;

bool TDBufDocument::Refresh() {
    m_copy.reset();
    if (m_source)
        m_copy = Copy(*m_source);
    return m_copy != nullptr;
}

void TDBufDocument::ReleaseAll() {
    m_copy.reset();
    delete m_source;
    m_source = nullptr;
}

std::unique_ptr<TdocDocument> TDBufDocument::Copy(const TdocDocument& source) {
    TFilePath location;
    if (!MakeUniqueFileName(L"tmpNoSelect", L"xml", location))
        return nullptr;
    std::unique_ptr<TdocDocument> copy;
    if (source.SaveLDF(location.GetPath()) == 1)
        copy.reset(TdocDocument::CreateFromLDF(location.GetPath()));
    location.Delete();
    return copy;
}
