// The parts the design module makes for itself: its page renderer over the framework's asynchronous
// renderer, its layouts, and the pages rendered from the layout document. The panes and the properties
// panel are not part of this module yet, so none is made: designs open without panes and no panel shows.
#pragma once

#include "DesignParts.h"

class TDesignDefaultParts : public IDesignParts {
public:
    std::unique_ptr<IDesignPane> MakeSinglePagePane(TKvwDesignModule& module) override;
    std::unique_ptr<IDesignPane> MakeContactSheetPane(TKvwDesignModule& module) override;
    std::unique_ptr<IDesignPropertiesPanel> MakePropertiesPanel(TKvwDesignModule& module) override;
    std::unique_ptr<IDesignRenderer> MakeRenderer() override;
    std::unique_ptr<IDesignLayouts> MakeLayouts(TKvwDesignModule& module) override;
    std::unique_ptr<IDesignRenderSource> MakeRenderSource(TKvwDesignModule& module) override;
    bool HasPanes() const override { return false; }
};
