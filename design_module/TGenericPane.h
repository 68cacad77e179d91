// The page state of a pane that shows a layout document: the page iterator that renders it on its own
// thread, the controller that clicks go to, the page and content sizes and the delayed re-layout after
// resizing. The window side fills the pure operations (the window, its device context, its scrolling).
// Everything here runs on the window thread.
#pragma once

#include "TControllerGenericPane.h"
#include "TTimer.h"

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TBaseObject.h"
#include "plugin_framework/TDBufPageIterator.h"
#include "plugin_framework/TResource.h"

#include "platform/win/WinUser.h"

#include <memory>

// What a pane asks of the module that owns it.
class TPaneOwner {
public:
    virtual ~TPaneOwner() = default;
    virtual void RequestPreviousPage() = 0;
    virtual void RequestNextPage() = 0;
    // The page from 1.
    virtual void GoToPage(LONG page) = 0;
    virtual void UpdatePageLabel() = 0;
};

class TGenericPane : public TControllerGenericPane::TPane {
public:
    using TLSize = graphtypes::TSize_T<LONG>;
    using TLRect = graphtypes::TRect_T<LONG>;
    using TLPoint = graphtypes::TPoint_T<LONG>;

    static constexpr DWORD kBackgroundColour = 0xFFE5E5E5;
    static constexpr DWORD kFrameColour = 0xFF404040;
    static constexpr UINT kLayoutInterval = 500;
    // A re-layout waits until the size has stayed the same this long.
    static constexpr DWORD kLayoutSettle = 800;
    // Neither the page nor the client is drawn into at this width or below.
    static constexpr LONG kMinDrawWidth = 10;

    enum Mode : LONG { kHidden = 0, kShown = 1, kOneRow = 2 };

    explicit TGenericPane(TPaneOwner* owner);
    ~TGenericPane() override;
    TGenericPane(const TGenericPane&) = delete;
    TGenericPane& operator=(const TGenericPane&) = delete;

    // The subclasses make the controller first; this sets the timer, the iterator and the background, and
    // keeps the control id that the pane's window gets.
    virtual bool Init(HWND parent, UINT controlId);
    virtual void DestroyPane();
    virtual void ShowPaneWindow(bool show) = 0;
    virtual bool IsPaneWindowVisible() const = 0;
    virtual void SetPageSize(const TLSize& size) { m_pageSize = size; }
    // Hands the document (which stays the caller's) to the iterator at the page size; false when the
    // iterator refuses it or the page size is empty, which keeps what was shown.
    virtual bool SetDocument(TdocDocument* document, bool redraw);
    virtual void CancelRendering();
    // The iterator lets go of the document (which stays its owner's) and starts afresh on the window.
    void ForgetDocument();
    virtual void InvalidatePane() = 0;
    virtual void SetMode(LONG mode);
    virtual TLPoint GetScrollPosition() const = 0;
    virtual void SetScrollPosition(const TLPoint& point) = 0;
    virtual void OnModuleHook(LONG) {}
    virtual bool FirstDrawingFlag() const { return true; }
    virtual bool SecondDrawingFlag() const { return true; }
    virtual LONG OnKeyDown(WPARAM key);
    virtual LONG OnLButtonDown(const TLPoint& point, WPARAM flags);
    virtual void SetContentSize(const TLSize& size) { m_contentSize = size; }
    virtual void OnResize();
    // Where the iterator draws the page, in window coordinates.
    virtual TLRect PageRectInWindow() const;
    virtual TLRect GetPaneClientRect() const = 0;
    virtual TLRect VisibleArea() const;
    virtual HDC GetPaneDC() const = 0;
    virtual void ReleasePaneDC(HDC dc) const = 0;
    virtual LONG HorizontalMargin() const { return 0; }
    virtual LONG VerticalMargin() const { return 0; }
    virtual void OnTimer() = 0;

    // The iterator's redraw: the current page into the window, then the frame around the client.
    void DrawCurrentPage();
    // A copy of the shown document without the marker and helper items, owned by the caller; null when
    // nothing is shown or the copy fails.
    std::unique_ptr<TdocDocument> CleanCopy();
    // Told the progress of each render of the pane's pages (kept when the iterator starts afresh).
    void SetLoadingProgress(TDBufPageIterator::ProgressProc progress, void* user);

    // TControllerGenericPane::TPane.
    TdocDocument* GetFrontDocument() const override { return m_document; }
    TDBufPageIterator* GetPageIterator() const override { return m_iterator.Get(); }
    LONG GetCurrentPageIndex() const override;
    TControllerGenericPane::TArea GetPageRect() const override;
    bool IsPaneVisible() const override { return IsPaneWindowVisible(); }
    LONG RedrawPageArea(const TControllerGenericPane::TArea& area) override;

    LONG GetMode() const { return m_mode; }
    const TLSize& GetPageSize() const { return m_pageSize; }
    const TLSize& GetContentSize() const { return m_contentSize; }
    DWORD GetBackgroundColour() const { return m_background; }
    UINT GetControlId() const { return m_controlId; }
    TControllerGenericPane* GetController() const { return m_controller.Get(); }
    // How many re-layouts the timer made.
    unsigned GetLayoutCount() const { return m_layouts; }

protected:
    // The iterator bound to the window: renderers from the resource accessor's folder, pages read with
    // the preview codec parameters.
    bool BindIterator(HWND window);
    // With the timer's settle time passed since the last resize: stops the timer and answers true.
    bool LayoutDue();
    void CountLayout() { ++m_layouts; }

    TPaneOwner* m_owner;
    TLSize m_pageSize{0, 0};
    TLSize m_contentSize{0, 0};
    TResource m_resource;
    TLRect m_client{0, 0, 0, 0};
    TRefPtr<TDBufPageIterator> m_iterator;
    TRefPtr<TControllerGenericPane> m_controller;
    DWORD m_background = kBackgroundColour;
    LONG m_mode = kHidden;
    TRefPtr<TTimer> m_layoutTimer;
    DWORD m_lastResize = 0;
    TdocDocument* m_document = nullptr;
    HWND m_iteratorWindow = nullptr;
    UINT m_controlId = 0;
    TDBufPageIterator::ProgressProc m_progress = nullptr;
    void* m_progressUser = nullptr;

private:
    static void OnLayoutTick(void* pane);
    static void OnPageChanged(void* pane);

    unsigned m_layouts = 0;
};
