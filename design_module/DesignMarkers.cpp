#include "DesignMarkers.h"

#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDud.h"

#include <algorithm>
#include <array>
#include <memory>

namespace {

constexpr const wchar_t* kKindPath = L"metadata/property[@name = 'kind']";
constexpr std::array<const wchar_t*, 2> kMarkerKinds = {L"UI_Focus", L"UI_Selector"};
constexpr const wchar_t* kHelperKind = L"UI_Helper";

bool IsStripped(const TdocItem& item, designmarkers::Strip what) {
    TString kind;
    if (item.GetStringProperty(kKindPath, kind, 0) != 1)
        return false;
    if (what == designmarkers::Strip::kMarkersAndHelpers && kind.Compare(kHelperKind) == 0)
        return true;
    return std::any_of(kMarkerKinds.begin(), kMarkerKinds.end(),
                       [&](const wchar_t* name) { return kind.Compare(name) == 0; });
}

} // namespace

void designmarkers::StripItems(TdocDocument& document, Strip what) {
    for (LONG index = 0; index < document.GetPageCount(); ++index) {
        std::unique_ptr<TdocPage> page(document.GetPage(index));
        if (!page)
            continue;
        for (LONG item = 0;;) {
            std::unique_ptr<TdocItem> found(page->GetItem(item));
            if (!found)
                break;
            // A removed item's place is taken by the next one.
            if (!IsStripped(*found, what) || gdedRemoveItem(found->GetHandle()) != 1)
                ++item;
        }
    }
}
