#include "TLayoutRenderSource.h"

#include "TKvwDesignModule.h"

std::unique_ptr<TdocDocument> TLayoutRenderSource::CopyDocument() {
    IDesignLayouts* layouts = m_module.GetLayouts();
    if (!layouts)
        return nullptr;
    const unsigned generation = layouts->GetLayoutGeneration();
    // The pane's copy leaves out what only the pane shows (focus, selection, helpers).
    IDesignPane* pane = m_module.GetSinglePagePane();
    std::unique_ptr<TdocDocument> copy = pane ? pane->CleanCopy() : nullptr;
    if (!copy)
        copy = layouts->CopyLayoutDocument();
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
