// The parts the design module makes for itself: its page renderer over the framework's asynchronous
// renderer. The panes, the properties panel and the layouts are not part of this module yet, so none is
// made: the module then opens no design and shows no panel.
#pragma once

#include "DesignParts.h"

class TDesignDefaultParts : public IDesignParts {
public:
    std::unique_ptr<IDesignPane> MakeSinglePagePane(TKvwDesignModule& module) override;
    std::unique_ptr<IDesignPane> MakeContactSheetPane(TKvwDesignModule& module) override;
    std::unique_ptr<IDesignPropertiesPanel> MakePropertiesPanel(TKvwDesignModule& module) override;
    std::unique_ptr<IDesignRenderer> MakeRenderer() override;
    std::unique_ptr<IDesignLayouts> MakeLayouts(TKvwDesignModule& module) override;
};
