// The controller of a page pane: a left click finds the page's item under the pointer and marks focus and
// selection with marker items inserted into the page, which the renderer draws like any other item. The
// page is changed only under the iterator's document lock, since the render thread reads the same
// document; the area that changed (in page coordinates) is what the pane redraws.
#pragma once

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TBaseObject.h"

#include "platform/dadadud/DadaDud.h"

#include <cstdint>

class TDBufPageIterator;
class TdocDocument;

class TControllerGenericPane : public TBaseObject {
public:
    using TPoint = graphtypes::TPoint_T<LONG>;
    using TArea = graphtypes::TRect_T<double>;

    // What the controller needs of the pane that owns it.
    class TPane {
    public:
        virtual ~TPane() = default;
        // The front document shown, or null.
        virtual TdocDocument* GetFrontDocument() const = 0;
        virtual TDBufPageIterator* GetPageIterator() const = 0;
        // The zero-based page shown: the iterator's current page - 1.
        virtual LONG GetCurrentPageIndex() const = 0;
        // The rectangle, in window coordinates, in which the iterator draws the current page.
        virtual TArea GetPageRect() const = 0;
        virtual bool IsPaneVisible() const = 0;
        // Redraws the area of the page; the pane's answer.
        virtual LONG RedrawPageArea(const TArea& area) = 0;
    };

    static constexpr WPARAM kShift = 4;
    static constexpr WPARAM kControl = 8;
    static constexpr std::uint32_t kFocusBit = 0x400000;
    static constexpr std::uint32_t kSelectorBit = 0x200000;

    void SetPane(TPane* pane) { m_pane = pane; }
    // The redraw's answer, or 0 when nothing changed.
    virtual LONG OnLButtonDown(const TPoint& point, WPARAM flags);
    virtual void SetActive(bool active) { m_inactive = !active; }
    void FocusItem(std::uint32_t id);

    bool IsActive() const { return !m_inactive; }
    std::uint32_t GetAnchor() const { return m_anchor; }
    // The real item under the last click; false when it hit none.
    bool GetLastHit(std::uint32_t& id) const {
        id = m_lastHit;
        return m_hit;
    }
    const TArea& GetChangedArea() const { return m_changed; }

protected:
    // Each with the document lock held, on the current page (null: nothing).
    DocHandle CurrentPage() const;
    bool RemoveFocus(DocHandle page);
    bool RemoveAllOverlays(DocHandle page);
    void AddFocus(DocHandle page, std::uint32_t id);
    // Takes the lock, works on the current page, sets the changed flag and redraws when something changed.
    template <class Body>
    LONG Edit(Body body);

    TPane* m_pane = nullptr;

private:
    struct TRealItem;

    void Grow(const TArea& box);
    void AddMarker(DocHandle page, DocHandle item, std::uint32_t id, const TArea& box, bool focus);
    bool RemoveMarker(DocHandle page, const wchar_t* kind, const wchar_t* property, const wchar_t* value);
    void SelectRange(DocHandle page, std::uint32_t id);
    void ToggleOverlay(DocHandle page, std::uint32_t id);
    bool ItemUnder(DocHandle page, const TPoint& point, std::uint32_t& id) const;

    TArea m_changed{0, 0, 0, 0};
    std::uint32_t m_anchor = 0;
    bool m_inactive = true;
    std::uint32_t m_lastHit = 0;
    bool m_hit = false;
};

// The single-page pane's controller: deactivating takes the focus frame and the overlays away.
class TControllerSinglePane : public TControllerGenericPane {
public:
    void SetActive(bool active) override;
};

// The contact-sheet pane's controller: activating puts the focus frame on the anchor item.
class TControllerMultiPane : public TControllerGenericPane {
public:
    void SetActive(bool active) override;
};
