// What only the user interface puts into a layout's pages, told apart by the kind in each item's metadata:
// the focus frame and the selection overlays that clicks insert, and the template's helpers. Copies made
// for output or for the stored layout leave them out by this one rule.
#pragma once

class TdocDocument;

namespace designmarkers {

enum class Strip {
    // The focus frame and the selection overlays.
    kMarkers,
    // Those and the template's helpers, which a stored layout keeps.
    kMarkersAndHelpers,
};

// Removes those items from every page of the document (a copy: never the one a pane shows).
void StripItems(TdocDocument& document, Strip what);

} // namespace designmarkers
