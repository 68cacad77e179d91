// The window sides of the two page panes: a scrolled child window ("SinglePagePane" or "MultiPagePane")
// that paints the pane's page, passes sizes, keys and clicks to the pane and gives it its device context.
#pragma once

#include "TGenMultiPagePane.h"
#include "TGenSinglePagePane.h"
#include "TScrollWindow.h"

// What both window sides share; Pane is TGenSinglePagePane or TGenMultiPagePane.
template <class Pane>
class TPageWindow : public TScrollWindow, public Pane {
public:
    using TLRect = TGenericPane::TLRect;
    using TLPoint = TGenericPane::TLPoint;
    using TLSize = TGenericPane::TLSize;

    using Pane::GetContentSize;

    explicit TPageWindow(TPaneOwner* owner) : Pane(owner) {}
    ~TPageWindow() override;

    // The pane, then its window in the rectangle of the parent, then the iterator bound to the window.
    bool Create(HWND parent, const TWindow::TRect& rect, UINT controlId);
    // The pane first (its iterator draws into the window), then the window.
    bool Destroy() override;

    void ShowPaneWindow(bool show) override { Show(show); }
    bool IsPaneWindowVisible() const override { return IsVisible(); }
    void InvalidatePane() override { Invalidate(nullptr, false); }
    TLPoint GetScrollPosition() const override { return TScrollWindow::GetScrollPosition(); }
    void SetScrollPosition(const TLPoint& point) override { TScrollWindow::SetScrollPosition(point); }
    void SetContentSize(const TLSize& size) override;
    TLRect GetPaneClientRect() const override;
    HDC GetPaneDC() const override { return GetDC(); }
    void ReleasePaneDC(HDC dc) const override { ReleaseDC(dc); }

    LONG OnCreate() override;
    LONG OnSize(const TWindow::TSize& size) override;
    LONG OnKeyDown(WPARAM wParam, LPARAM lParam) override;
    LONG OnKeyDown(WPARAM key) override { return Pane::OnKeyDown(key); }
    LONG OnLButtonDown(const TLPoint& point, WPARAM flags) override;

protected:
    virtual void Paint();

private:
    static LONG OnPaint(TMessageInfo* info, void* context);
    static const wchar_t* ClassName();

    TWindow::TRect m_createRect{0, 0, 0, 0};
};

// The single-page window fills what its page leaves of the client with the background.
class TSinglePagePane : public TPageWindow<TGenSinglePagePane> {
public:
    using TPageWindow::TPageWindow;

protected:
    void Paint() override;
};

using TMultiPagePane = TPageWindow<TGenMultiPagePane>;
