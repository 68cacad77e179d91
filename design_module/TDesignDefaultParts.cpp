#include "TDesignDefaultParts.h"

#include "TDesignLayouts.h"
#include "TDesignPanes.h"
#include "TDesignRenderer.h"
#include "TSubactPropDlg.h"
#include "TLayoutRenderSource.h"

std::unique_ptr<IDesignPane> TDesignDefaultParts::MakeSinglePagePane(TKvwDesignModule& module) {
    return std::make_unique<TDesignSinglePane>(module);
}

std::unique_ptr<IDesignPane> TDesignDefaultParts::MakeContactSheetPane(TKvwDesignModule& module) {
    return std::make_unique<TDesignContactSheetPane>(module);
}

std::unique_ptr<IDesignPropertiesPanel> TDesignDefaultParts::MakePropertiesPanel(TKvwDesignModule& module) {
    return std::make_unique<TDesignPropertiesPanel>(module);
}

std::unique_ptr<IDesignRenderer> TDesignDefaultParts::MakeRenderer() {
    return std::make_unique<TDesignRenderer>();
}

std::unique_ptr<IDesignLayouts> TDesignDefaultParts::MakeLayouts(TKvwDesignModule& module) {
    return std::make_unique<TDesignLayouts>(module);
}

std::unique_ptr<IDesignRenderSource> TDesignDefaultParts::MakeRenderSource(TKvwDesignModule& module) {
    return std::make_unique<TLayoutRenderSource>(module);
}
