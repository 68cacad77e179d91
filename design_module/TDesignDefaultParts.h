// The parts the design module makes for itself: its two page panes, its properties panel, its page
// renderer over the framework's asynchronous renderer, its layouts, and the pages rendered from the pane's
// document.
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
};
