// The parts of the design module that the module object drives but does not build itself: its two panes,
// the properties panel, the page renderer and the layouts of open designs. The module gets them from one
// factory, so that each can be replaced (and observed) on its own.
#pragma once

#include "plugin_framework/TAutoHandle.h"
#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TWindow.h"

#include "platform/kvtrtl/KvwHostTypes.h"

#include <map>
#include <memory>

class TKvwDesignModule;
class TRndrData;
class TdocDocument;

// A pane in the host window: the single-page pane (with its zoom and the page it shows) or the contact
// sheet, which follows the page the single-page pane shows.
class IDesignPane {
public:
    virtual ~IDesignPane() = default;
    // Makes the pane's window as a child of the parent in the rectangle.
    virtual bool Create(HWND parent, const TWindow::TRect& rect) = 0;
    // 0 hidden, 1 alone in the host window, 2 beside the other pane.
    virtual void SetMode(LONG mode) = 0;
    virtual void SetPosSize(const TWindow::TPoint& point, const TWindow::TSize& size) = 0;
    virtual void SetSize(const TWindow::TSize& size) = 0;
    virtual void StopRendering() = 0;
    virtual HWND GetHandle() const = 0;
    // The zoom command (0x4030 to 0x4034) of the single-page pane.
    virtual DWORD GetZoomCommand() const = 0;
    virtual void SetZoomCommand(DWORD command) = 0;
    // The page shown, from 1.
    virtual LONG GetShownPage() const = 0;
    virtual void ShowPage(LONG page) = 0;
    // Shows the layout document (which stays the caller's until the pane is given another or null); false
    // when the pane shows no document.
    virtual bool ShowDocument(TdocDocument*) { return false; }
    // A copy of the document shown without what only the user interface shows in it, owned by the
    // caller; null when there is none.
    virtual std::unique_ptr<TdocDocument> CleanCopy() { return nullptr; }
    // The contact sheet's pictures: the page items of the open design, in page order; none shows no sheet.
    virtual void ShowPages(const KvwItemIdList&) {}
    // Told the progress (percent) of each render of the pane's page; 100 ends one.
    using ProgressProc = void (*)(void* user, DWORD percent);
    virtual void SetLoadingProgress(ProgressProc, void*) {}
};

// The properties panel: a modeless dialog in a host window holding the template choice.
class IDesignPropertiesPanel {
public:
    virtual ~IDesignPropertiesPanel() = default;
    virtual bool Create(HWND parent) = 0;
    // Fills the template choice from the module's template list.
    virtual bool Initialise(TKvwDesignModule& module) = 0;
    virtual bool GetWindowRect(TWindow::TRect& rect) const = 0;
    // Resizes without moving the panel or changing its order among its siblings.
    virtual bool Resize(LONG width, LONG height) = 0;
    // Shows the template of the list's index as the one chosen.
    virtual void SelectTemplate(int) {}
};

// The renderer of the design's pages, with a worker of its own.
class IDesignRenderer {
public:
    virtual ~IDesignRenderer() = default;
    // The folder of the renderer libraries, then the start with the default library; the finished pages
    // go to the target, and the pages' images are read with the codec parameters.
    virtual bool Start(const TFilePath& rendererFolder, TAutoHandle* notifyTarget,
                       const TString& codecParameters) = 0;
    // Drops the queued work (the running render goes on).
    virtual void CancelQueued() = 0;
    // Ends the worker; nothing renders afterwards.
    virtual void Stop() = 0;
    // Started and not stopped.
    virtual bool IsRunning() const { return false; }
    // The document the pages are drawn from (the caller keeps it until no render uses it).
    virtual bool SetDocument(const TdocDocument*) { return false; }
    virtual bool SetMediaContext(const TString&) { return false; }
    // Accepts requests again after an abort.
    virtual void SetReady() {}
    // False when the request is refused; the caller keeps its reference.
    virtual bool QueueRequest(TRndrData*) { return false; }
    // Ends the running render and waits for it; requests are refused until SetReady.
    virtual void Abort() {}
};

// Where the pages rendered for the host are drawn from: the document the single-page pane shows.
class IDesignRenderSource {
public:
    virtual ~IDesignRenderSource() = default;
    // A copy of the pane's document for the renderer, owned by the caller; null when there is none.
    virtual std::unique_ptr<TdocDocument> CopyDocument() = 0;
    // The pane's document changed since the last copy.
    virtual bool IsDocumentChanged() const = 0;
};

// The open design's layout: opening, closing and writing it back to the host's record database, and the
// pages it lists.
class IDesignLayouts {
public:
    virtual ~IDesignLayouts() = default;
    // Opens the design of the current selection: 0 when it is open, else the failure word (the design then
    // stays closed).
    virtual KvwResult Open() = 0;
    // Frees the layout's documents; the renderer is stopped (or its queue empty) by then.
    virtual void Close() = 0;
    virtual bool WriteBack() = 0;
    virtual void AnnouncePages() = 0;
    virtual LONG GetPageCount() const = 0;
    // The layout file worked with: kept as the last layout path, forgotten when the current item changes.
    virtual void ForgetLayoutFile() = 0;
    // An open that answered 0 may still have left the design closed (nothing to open).
    virtual bool HasLayoutDocument() const { return true; }
    // A copy of the layout document for the renderer, owned by the caller; null when there is none.
    virtual std::unique_ptr<TdocDocument> CopyLayoutDocument() const { return nullptr; }
    // The open design is laid out again from the template (one already in use changes nothing).
    virtual void ChangeTemplate(const TString&) {}
    // The layout document shown in the panes (the layouts keep it), or null.
    virtual TdocDocument* GetLayoutDocument() const { return nullptr; }
    // The template the layout was made from (empty when not known).
    virtual TString GetTemplatePath() const { return TString(); }
    // Counts the layout documents set: a new number means a new document to copy.
    virtual unsigned GetLayoutGeneration() const { return 0; }
    // The page items (page records) of the layout by page number: the items the host shows for its pages.
    virtual std::map<LONG, KvwItemId> GetPageItems() const { return {}; }
};

class IDesignParts {
public:
    virtual ~IDesignParts() = default;
    virtual std::unique_ptr<IDesignPane> MakeSinglePagePane(TKvwDesignModule& module) = 0;
    virtual std::unique_ptr<IDesignPane> MakeContactSheetPane(TKvwDesignModule& module) = 0;
    virtual std::unique_ptr<IDesignPropertiesPanel> MakePropertiesPanel(TKvwDesignModule& module) = 0;
    virtual std::unique_ptr<IDesignRenderer> MakeRenderer() = 0;
    virtual std::unique_ptr<IDesignLayouts> MakeLayouts(TKvwDesignModule& module) = 0;
    // Null while the module has no pane to take its pages from.
    virtual std::unique_ptr<IDesignRenderSource> MakeRenderSource(TKvwDesignModule&) { return nullptr; }
    // False for parts that make no panes: a design then opens without them.
    virtual bool HasPanes() const { return true; }
};
