// The single-page pane's page state: one page of the layout at a fixed zoom or fitted to the pane, paged
// with the arrow keys; in fit mode a resize re-lays the page out once the size has settled.
#pragma once

#include "TGenericPane.h"

class TGenSinglePagePane : public TGenericPane {
public:
    static constexpr DWORD kZoomUnset = 0xFFFFFFFF;
    static constexpr DWORD kZoomFit = 0x4034;
    static constexpr LONG kContentMargin = 20;
    static constexpr WPARAM kKeyLeft = 37;
    static constexpr WPARAM kKeyRight = 39;

    using TGenericPane::TGenericPane;

    // The reference size is the page's size at zoom 1.
    void SetReferenceSize(const TLSize& size) { m_reference = size; }
    const TLSize& GetReferenceSize() const { return m_reference; }

    bool Init(HWND parent, UINT controlId) override;
    virtual void GoToPage(LONG index);
    virtual void PreviousPage();
    virtual void NextPage();
    // 0x4030 to 0x4033 are 200, 100, 50 and 25 %, 0x4034 fits the page to the pane; others do nothing.
    void SetZoom(DWORD command);
    DWORD GetZoom() const { return m_zoom; }
    bool IsFitMode() const { return m_zoom == kZoomFit; }
    // The document (the caller's, kept until it is replaced or forgotten) at the zoom's page size; null
    // forgets the one shown. A document the iterator does not take is not shown, and none is then.
    bool ShowDocument(TdocDocument* document);

    LONG OnKeyDown(WPARAM key) override;
    void OnResize() override;
    void OnTimer() override;
    TLRect PageRectInWindow() const override;
    TLRect VisibleArea() const override;
    LONG HorizontalMargin() const override { return kContentMargin; }
    LONG VerticalMargin() const override { return kContentMargin; }

    // The factor of a fixed zoom command; 0 for fit and for commands that are no zoom.
    static double ZoomFactor(DWORD command);

private:
    // The page takes the visible area in fit mode.
    void FitToVisibleArea();

    DWORD m_zoom = kZoomUnset;
    TLSize m_reference{0, 0};
};
