#include "TLayoutRenderSource.h"

#include "TKvwDesignModule.h"

std::unique_ptr<TdocDocument> TLayoutRenderSource::CopyDocument() {
    IDesignLayouts* layouts = m_module.GetLayouts();
    if (!layouts)
        return nullptr;
    const unsigned generation = layouts->GetLayoutGeneration();
    std::unique_ptr<TdocDocument> copy = layouts->CopyLayoutDocument();
    if (copy) {
        m_copied = true;
        m_generation = generation;
    }
    return copy;
}

bool TLayoutRenderSource::IsDocumentChanged() const {
    IDesignLayouts* layouts = m_module.GetLayouts();
    return !m_copied || !layouts || layouts->GetLayoutGeneration() != m_generation;
}
