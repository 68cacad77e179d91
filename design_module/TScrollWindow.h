// A window whose content may be larger than its client area: the standard bars, the mouse wheel and the
// navigation keys scroll it. The owner sets the content size; every scroll ends by redrawing the window.
#pragma once

#include "plugin_framework/TWindow.h"

class TScrollWindow : public TWindow {
public:
    using TContentSize = graphtypes::TSize_T<LONG>;
    using TScrollPoint = graphtypes::TPoint_T<LONG>;

    // Sets both bars to the size (position 0) when the window exists, twice: the first setting may show
    // or hide a bar and so change the client area that the second one takes as its page.
    void SetContentSize(const TContentSize& size);
    const TContentSize& GetContentSize() const { return m_contentSize; }
    bool NeedsHorizontalScroll() const;
    bool NeedsVerticalScroll() const;
    TScrollPoint GetScrollPosition() const;
    void SetScrollPosition(const TScrollPoint& point);

    LONG OnCreate() override;
    LONG OnSize(const TSize& size) override;
    LONG OnHScrollLeft() override;
    LONG OnHScrollRight() override;
    LONG OnHScrollLineLeft(LONG count) override;
    LONG OnHScrollLineRight(LONG count) override;
    LONG OnHScrollPageLeft() override;
    LONG OnHScrollPageRight() override;
    LONG OnHScrollThumbTrack() override;
    LONG OnVScrollTop() override;
    LONG OnVScrollBottom() override;
    LONG OnVScrollLineUp(LONG count) override;
    LONG OnVScrollLineDown(LONG count) override;
    LONG OnVScrollPageUp() override;
    LONG OnVScrollPageDown() override;
    LONG OnVScrollThumbTrack() override;
    // The navigation keys: Page Up, Page Down, End and Home.
    LONG OnKeyUp(WPARAM wParam, LPARAM lParam) override;
    // The point is in screen coordinates, as the platform delivers it.
    LONG OnMouseWheel(const TPoint& point, WPARAM flags) override;

private:
    void SetBars(UINT mask, const TRect& client);
    // The bar's position moved to the value (the platform clamps it), then the window redrawn.
    LONG MoveTo(int bar, long long position);
    LONG MoveBy(int bar, long long delta);
    LONG MoveByPage(int bar, int direction);
    LONG ToEnd(int bar);
    LONG ToTrack(int bar);
    LONG Redraw();

    TContentSize m_contentSize{0, 0};
};
