#include "TControllerGenericPane.h"

#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TdocObject.h"

#include "platform/win/WinDebug.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr double kFocusMargin = 2;
constexpr std::size_t kQueryRoom = 1024;

constexpr const wchar_t* kFocusKind = L"UI_Focus";
constexpr const wchar_t* kSelectorKind = L"UI_Selector";

constexpr const wchar_t* kFocusFormat =
    L"<item id=\"%d\"><bounding-box x=\"%d\" y=\"%d\" cx=\"%d\" cy=\"%d\" /><property name=\"background\">"
    L"<attr name=\"color\">#00000000</attr></property><content><rectangle color=\"#1860a2\" fill=\"false\" "
    L"width=\"2\" /></content><metadata><property name=\"kind\">UI_Focus</property><property "
    L"name=\"focusedItemID\">%d</property></metadata></item>";
constexpr const wchar_t* kSelectorFormat =
    L"<item id=\"%d\"><bounding-box x=\"%d\" y=\"%d\" cx=\"%d\" cy=\"%d\" /><property name=\"background\">"
    L"<attr name=\"color\">#00000000</attr></property><content><rectangle color=\"#00008040\" fill=\"true\" "
    L"/></content><metadata><property name=\"kind\">UI_Selector</property><property "
    L"name=\"selectedItemID\">%d</property></metadata></item>";
constexpr const wchar_t* kPointQuery =
    L"item[not(metadata) and (number(bounding-box/@x) < number(%d)) and (number(bounding-box/@x) + "
    L"number(bounding-box/@cx) > number(%d)) and (number(bounding-box/@y) < number(%d)) and "
    L"(number(bounding-box/@y) + number(bounding-box/@cy) > number(%d))]/@id";

// An item handle of the walk, released when it goes.
class TPaneItem : public TdocObject {
public:
    explicit TPaneItem(DocHandle handle) : TdocObject(handle) {}
};

std::optional<std::wstring> Read(DocHandle object, const wchar_t* path) {
    std::wstring buffer(kQueryRoom, L'\0');
    LONG count = static_cast<LONG>(buffer.size() - 1);
    if (docGetPropertyValue(object, path, buffer.data(), &count, 0) != 1 ||
        count >= static_cast<LONG>(buffer.size()))
        return std::nullopt;
    buffer.resize(static_cast<std::size_t>(count));
    return buffer;
}

// A decimal id of 32 bits, nothing for any other text.
std::optional<std::uint32_t> ReadId(DocHandle object, const wchar_t* path) {
    const std::optional<std::wstring> text = Read(object, path);
    if (!text || text->empty() || text->size() > 10 || !std::all_of(text->begin(), text->end(), iswdigit))
        return std::nullopt;
    const unsigned long long value = std::wcstoull(text->c_str(), nullptr, 10);
    if (value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

// Truncation toward zero, as a C cast does, kept inside the range "%d" prints.
int ToInt(double value) {
    if (!std::isfinite(value))
        return 0;
    return static_cast<int>(
        std::clamp(std::trunc(value), static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

template <class... Args>
std::wstring Format(const wchar_t* format, Args... args) {
    std::vector<wchar_t> text(std::wcslen(format) + 16 * sizeof...(Args) + 1);
    const int length = std::swprintf(text.data(), text.size(), format, args...);
    return length < 0 ? std::wstring() : std::wstring(text.data(), static_cast<std::size_t>(length));
}

// Every item of the page in document order: the real ones (without metadata) and the markers.
template <class Visit>
void ForEachItem(DocHandle page, Visit visit) {
    for (LONG index = 0;; ++index) {
        DocHandle handle = kDocNoHandle;
        if (docGetItem(page, index, &handle) != 1)
            return;
        auto item = std::make_unique<TPaneItem>(handle);
        const bool real = Read(handle, L"count(metadata)") == L"0";
        if (!visit(std::move(item), real))
            return;
    }
}

} // namespace

struct TControllerGenericPane::TRealItem {
    std::uint32_t id;
    std::unique_ptr<TPaneItem> item;
};

void TControllerGenericPane::Grow(const TArea& box) {
    if (m_changed.IsEmpty()) {
        m_changed = box;
        return;
    }
    m_changed = TArea(std::min(m_changed.left, box.left), std::min(m_changed.top, box.top),
                      std::max(m_changed.right, box.right), std::max(m_changed.bottom, box.bottom));
}

DocHandle TControllerGenericPane::CurrentPage() const {
    TdocDocument* document = m_pane ? m_pane->GetFrontDocument() : nullptr;
    TDBufPageIterator* iterator = m_pane ? m_pane->GetPageIterator() : nullptr;
    if (!document || !iterator)
        return kDocNoHandle;
    // The caller's to release.
    DocHandle page = kDocNoHandle;
    if (docGetPageByIndex(document->GetHandle(), m_pane->GetCurrentPageIndex(), &page) != 1)
        return kDocNoHandle;
    return page;
}

// A marker is found by its kind and never by a bare id, so that a real item that shares its id stays.
bool TControllerGenericPane::RemoveMarker(DocHandle page, const wchar_t* kind, const wchar_t* property,
                                          const wchar_t* value) {
    std::unique_ptr<TPaneItem> found;
    ForEachItem(page, [&](std::unique_ptr<TPaneItem> item, bool real) {
        if (real || Read(item->GetHandle(), L"metadata/property[@name = 'kind']") != kind)
            return true;
        if (property &&
            Read(item->GetHandle(), Format(L"metadata/property[@name = '%ls']", property).c_str()) != value)
            return true;
        found = std::move(item);
        return false;
    });
    if (!found)
        return false;
    TArea box;
    const bool boxed = found->GetBoundingBox(box);
    if (gdedRemoveItem(found->GetHandle()) != 1)
        return false;
    if (boxed)
        Grow(box);
    return true;
}

bool TControllerGenericPane::RemoveFocus(DocHandle page) {
    bool removed = false;
    while (RemoveMarker(page, kFocusKind, nullptr, nullptr))
        removed = true;
    return removed;
}

bool TControllerGenericPane::RemoveAllOverlays(DocHandle page) {
    bool removed = false;
    while (RemoveMarker(page, kSelectorKind, nullptr, nullptr))
        removed = true;
    return removed;
}

void TControllerGenericPane::AddMarker(DocHandle page, DocHandle item, std::uint32_t id, const TArea& itemBox,
                                       bool focus) {
    const double margin = focus ? kFocusMargin : 0;
    const TArea box(itemBox.left - margin, itemBox.top - margin, itemBox.right + margin,
                    itemBox.bottom + margin);
    const std::wstring text = Format(
        focus ? kFocusFormat : kSelectorFormat, static_cast<int>(id | (focus ? kFocusBit : kSelectorBit)),
        ToInt(box.left), ToInt(box.top), ToInt(box.Width()), ToInt(box.Height()), static_cast<int>(id));
    DocHandle marker = kDocNoHandle;
    if (text.empty() || gdedCreateItemFromStr(page, text.c_str(), &marker) != 1)
        return;
    TPaneItem held(marker);
    if (gdedInsertAfter(item, marker) == 1)
        Grow(box);
}

void TControllerGenericPane::AddFocus(DocHandle page, std::uint32_t id) {
    ForEachItem(page, [&](std::unique_ptr<TPaneItem> item, bool real) {
        if (!real || ReadId(item->GetHandle(), L"@id") != id)
            return true;
        TArea box;
        if (item->GetBoundingBox(box))
            AddMarker(page, item->GetHandle(), id, box, true);
        return false;
    });
}

// One pass over the page's real items, in ascending id order: an anchor of 0 and an id near the marker
// bits cost no more than the page's own items.
void TControllerGenericPane::SelectRange(DocHandle page, std::uint32_t id) {
    const std::uint32_t low = std::min(m_anchor, id);
    const std::uint32_t high = std::max(m_anchor, id);
    std::vector<TRealItem> range;
    ForEachItem(page, [&](std::unique_ptr<TPaneItem> item, bool real) {
        const std::optional<std::uint32_t> itemId = real ? ReadId(item->GetHandle(), L"@id") : std::nullopt;
        if (itemId && *itemId >= low && *itemId <= high)
            range.push_back(TRealItem{*itemId, std::move(item)});
        return true;
    });
    std::stable_sort(range.begin(), range.end(),
                     [](const TRealItem& a, const TRealItem& b) { return a.id < b.id; });
    for (const TRealItem& entry : range) {
        TArea box;
        if (entry.item->GetBoundingBox(box))
            AddMarker(page, entry.item->GetHandle(), entry.id, box, false);
    }
}

void TControllerGenericPane::ToggleOverlay(DocHandle page, std::uint32_t id) {
    if (RemoveMarker(page, kSelectorKind, L"selectedItemID", std::to_wstring(id).c_str()))
        return;
    ForEachItem(page, [&](std::unique_ptr<TPaneItem> item, bool real) {
        if (!real || ReadId(item->GetHandle(), L"@id") != id)
            return true;
        TArea box;
        if (item->GetBoundingBox(box))
            AddMarker(page, item->GetHandle(), id, box, false);
        return false;
    });
}

bool TControllerGenericPane::ItemUnder(DocHandle page, const TPoint& point, std::uint32_t& id) const {
    const TArea rect = m_pane->GetPageRect();
    const std::optional<std::wstring> width = Read(page, L"@cx");
    if (!width || !(rect.Width() > 0))
        return false;
    const double pageWidth = std::wcstod(width->c_str(), nullptr);
    if (!std::isfinite(pageWidth) || pageWidth <= 0)
        return false;
    const double scale = pageWidth / rect.Width();
    const int x = ToInt((point.x - rect.left) * scale);
    const int y = ToInt((point.y - rect.top) * scale);
    const std::optional<std::uint32_t> found = ReadId(page, Format(kPointQuery, x, x, y, y).c_str());
    if (!found)
        return false;
    id = *found;
    return true;
}

template <class Body>
LONG TControllerGenericPane::Edit(Body body) {
    TDBufPageIterator* iterator = m_pane ? m_pane->GetPageIterator() : nullptr;
    if (!iterator)
        return 0;
    iterator->LockDocument();
    m_changed = TArea(0, 0, 0, 0);
    const DocHandle page = CurrentPage();
    if (page != kDocNoHandle) {
        body(page);
        docReleaseHandle(page);
    }
    const bool changed = !m_changed.IsEmpty();
    if (changed) {
        iterator->SetDocumentChanged(true);
        OutputDebugStringA("TControllerGenericPane::OnLButtonDown detected a selection change\n");
    }
    iterator->UnlockDocument();
    return changed ? m_pane->RedrawPageArea(m_changed) : 0;
}

LONG TControllerGenericPane::OnLButtonDown(const TPoint& point, WPARAM flags) {
    m_hit = false;
    if (!m_pane || !m_pane->IsPaneVisible() || !(m_pane->GetPageRect().Width() > 0))
        return 0;
    return Edit([&](DocHandle page) {
        std::uint32_t id = 0;
        if (ItemUnder(page, point, id)) {
            m_hit = true;
            m_lastHit = id;
            RemoveFocus(page);
            AddFocus(page, id);
            if (flags & kShift) {
                RemoveAllOverlays(page);
                SelectRange(page, id);
            } else if (flags & kControl) {
                ToggleOverlay(page, id);
            } else {
                RemoveAllOverlays(page);
                ToggleOverlay(page, id);
            }
            if (!(flags & kShift))
                m_anchor = id;
        } else if (!(flags & (kShift | kControl))) {
            RemoveAllOverlays(page);
        }
    });
}

void TControllerGenericPane::FocusItem(std::uint32_t id) {
    if (m_inactive) {
        m_anchor = id;
        return;
    }
    Edit([&](DocHandle page) {
        RemoveFocus(page);
        AddFocus(page, id);
    });
}

void TControllerSinglePane::SetActive(bool active) {
    TControllerGenericPane::SetActive(active);
    if (!active && m_pane && m_pane->GetFrontDocument()) {
        Edit([&](DocHandle page) {
            RemoveFocus(page);
            RemoveAllOverlays(page);
        });
    }
}

void TControllerMultiPane::SetActive(bool active) {
    TControllerGenericPane::SetActive(active);
    if (active && m_pane && m_pane->GetFrontDocument())
        FocusItem(GetAnchor());
}
