// Where the pages rendered for the host are drawn from: the clean copy of the single-page pane's document
// or, while no pane shows it, the open design's layout document; copied afresh whenever another document
// was set.
#pragma once

#include "DesignParts.h"

class TLayoutRenderSource : public IDesignRenderSource {
public:
    explicit TLayoutRenderSource(TKvwDesignModule& module) : m_module(module) {}
    std::unique_ptr<TdocDocument> CopyDocument() override;
    bool IsDocumentChanged() const override;

private:
    TKvwDesignModule& m_module;
    // The generation of the layout copied last; none before the first copy.
    bool m_copied = false;
    unsigned m_generation = 0;
};
