#include "TDesignDefaultParts.h"

#include "TDesignRenderer.h"

std::unique_ptr<IDesignPane> TDesignDefaultParts::MakeSinglePagePane(TKvwDesignModule&) {
    return nullptr;
}

std::unique_ptr<IDesignPane> TDesignDefaultParts::MakeContactSheetPane(TKvwDesignModule&) {
    return nullptr;
}

std::unique_ptr<IDesignPropertiesPanel> TDesignDefaultParts::MakePropertiesPanel(TKvwDesignModule&) {
    return nullptr;
}

std::unique_ptr<IDesignRenderer> TDesignDefaultParts::MakeRenderer() {
    return std::make_unique<TDesignRenderer>();
}

std::unique_ptr<IDesignLayouts> TDesignDefaultParts::MakeLayouts(TKvwDesignModule&) {
    return nullptr;
}
