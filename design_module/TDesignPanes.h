// The module's two panes as it drives them: each holds its pane window and passes the pane's page requests
// and label updates on to the module.
#pragma once

#include "DesignParts.h"
#include "TPageWindows.h"

class TDesignPaneBase : public IDesignPane, public TPaneOwner {
public:
    explicit TDesignPaneBase(TKvwDesignModule& module) : m_module(module) {}

    void RequestPreviousPage() override;
    void RequestNextPage() override;
    void GoToPage(LONG page) override;
    void UpdatePageLabel() override;

protected:
    TKvwDesignModule& m_module;
};

// What both panes pass straight to their window.
template <class Window>
class TDesignPaneOf : public TDesignPaneBase {
public:
    explicit TDesignPaneOf(TKvwDesignModule& module)
        : TDesignPaneBase(module), m_window(TRefPtr<Window>::Adopt(new Window(this))) {}
    ~TDesignPaneOf() override { m_window->Destroy(); }

    void SetMode(LONG mode) override { m_window->SetMode(mode); }
    void SetPosSize(const TWindow::TPoint& point, const TWindow::TSize& size) override {
        m_window->TWindow::SetPosSize(point, size);
    }
    void SetSize(const TWindow::TSize& size) override { m_window->TWindow::SetSize(size, true); }
    void StopRendering() override { m_window->CancelRendering(); }
    HWND GetHandle() const override { return m_window->GetHandle(); }
    Window& GetWindow() { return *m_window; }

protected:
    TRefPtr<Window> m_window;
};

class TDesignSinglePane : public TDesignPaneOf<TSinglePagePane> {
public:
    static constexpr UINT kControlId = 1001;

    using TDesignPaneOf::TDesignPaneOf;

    // The pane's size when made is its page's size at 100 %.
    bool Create(HWND parent, const TWindow::TRect& rect) override;
    DWORD GetZoomCommand() const override { return m_window->GetZoom(); }
    void SetZoomCommand(DWORD command) override { m_window->SetZoom(command); }
    LONG GetShownPage() const override;
    void ShowPage(LONG page) override { m_window->GoToPage(page); }
    bool ShowDocument(TdocDocument* document) override { return m_window->ShowDocument(document); }
    std::unique_ptr<TdocDocument> CleanCopy() override { return m_window->CleanCopy(); }
    void SetLoadingProgress(ProgressProc progress, void* user) override {
        m_window->SetLoadingProgress(progress, user);
    }
};

class TDesignContactSheetPane : public TDesignPaneOf<TMultiPagePane> {
public:
    static constexpr UINT kControlId = 1002;

    using TDesignPaneOf::TDesignPaneOf;

    bool Create(HWND parent, const TWindow::TRect& rect) override {
        return m_window->Create(parent, rect, kControlId);
    }
    DWORD GetZoomCommand() const override { return 0; }
    void SetZoomCommand(DWORD) override {}
    LONG GetShownPage() const override { return 1; }
    // The sheet follows the page shown by focusing its picture.
    void ShowPage(LONG page) override;
    void ShowPages(const KvwItemIdList& pages) override;
    // A picture clicked in the sheet (from 1) shows its page in the single-page pane.
    void GoToPage(LONG picture) override;

private:
    // The page items the sheet shows, in order.
    KvwItemIdList m_pages;
};
