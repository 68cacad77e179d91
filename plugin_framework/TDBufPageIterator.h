// A layout document shown page by page in a window while its pages render in the background, so that the
// user-interface thread never waits for the renderer: the owner edits the back document while the
// renderer reads a front copy, and the renderer draws into each page's back image while the window paints
// its front image. Notices of the renderer arrive through a hidden window ("PageItNotify"); the part of a
// page whose item picture arrives later from the image-load manager is rendered again on its own.
//
// Every queued request holds the preview it draws into and, from its start, the front copy it renders, so
// dropping previews or documents never pulls either from under a render: they go with their last holder.
//
// Locks: the document lock guards the double-buffered document, the document-changed flag and what the
// render under way holds; the preview lock guards the preview map and the page being rendered. No thread
// holds both at once (see TLockOrder); a preview's own lock is taken alone or inside the preview lock.
#pragma once

#include "CRenderer.h"
#include "GraphTypes.h"
#include "TAsyncRenderer.h"
#include "TAutoHandle.h"
#include "TBaseObject.h"
#include "TDBufDocument.h"
#include "TDBufPreview.h"
#include "TFilePath.h"
#include "TSyncObject.h"
#include "TWindow.h"

#include <atomic>
#include <map>
#include <memory>

class TDBufPageRequest;

class TDBufPageIterator : public TBaseObject {
public:
    using PageChangedProc = void (*)(void* user);
    using ProgressProc = void (*)(void* user, DWORD progress);
    using TRect = graphtypes::TRect_T<LONG>;
    using TSize = graphtypes::TSize_T<double>;

    // The generation after a cancel: every request that finishes then is stale.
    static constexpr DWORD kNoGeneration = 0xFFFFFFFF;
    // The progress of a render that is done.
    static constexpr DWORD kProgressComplete = 100;

    TDBufPageIterator();
    // Shuts down when the owner did not.
    ~TDBufPageIterator() override;

    void SetRendererFolder(const TFilePath& folder);
    void SetLdfFileName(const TFilePath& location);
    // Starts the renderer (the binding, or "stateRenderer.rgb" of the renderer folder), makes the hidden
    // window and subscribes to the image-load manager. False, with nothing kept, when the renderer does not
    // start or the window cannot be made, and when the iterator is started already.
    bool Init(HWND owner, PageChangedProc pageChanged, void* user, CRenderer* binding);
    bool SetMediaContext(const TString& context);
    // A new double-buffered document over the owner's document (which stays the owner's) is given to the
    // renderer before the previous one goes; false for a null document and when the renderer refuses the
    // new one, which leaves the previous document, pages and previews as they were. The size is the
    // target that pages are fitted into.
    bool SetDocument(TdocDocument* document, const TSize& size);

    LONG GetCurrentPage() const { return m_currentPage; }
    LONG GetPageCount() const { return m_pageCount; }
    // False for a page below 1 or above the page count. A change with redraw calls the page-changed
    // callback.
    bool SetCurrentPage(LONG page, bool redraw);
    // One page on (back) unless at the last (first) page; always true.
    bool NextPage(bool redraw);
    bool PrevPage(bool redraw);

    // On the user-interface thread, from the owner's paint: paints the current page's front image into the
    // view with frame bars around it, or queues the page's render when it has none or it is dirty. A page
    // without a usable size paints and queues nothing.
    void Redraw(HDC dc, LONG unused, const TRect& clip, const TRect& view, bool centreHorizontally,
                bool centreVertically);

    // Every request that finishes from now is stale; the loads asked for the renders so far are cancelled
    // and the renderer is cancelled with abort (waiting for the running render as told). Previews whose
    // requests were waiting are marked dirty, so that their pages render again. True.
    bool CancelRendering(bool wait);
    void DeletePreviews();
    // Cancels first, then deletes the previews; the next Redraw renders the current page afresh. True.
    bool Restart(bool wait);
    void SetDocumentChanged(bool changed);
    bool IsDocumentChanged();
    // Stops the worker, drops what is still queued for the hidden window, the previews, the document and
    // the window, and resets every field. True.
    bool Shutdown();
    // Lets go of the front copy and deletes the owner's document handed to SetDocument.
    void ReleaseDocument();
    // Marks the current page's preview dirty; false when the page has none.
    bool InvalidateCurrentPage();
    void LockDocument();
    void UnlockDocument();
    // Told each progress value of a render (percent); a render that ends before 100 is told 100 when it
    // ends, so that its progress always completes.
    void SetProgressCallback(ProgressProc progress, void* user);

    // The image-load manager tells that the picture of a box (page id, item id within the page) arrived:
    // on the current page the area of the box's bounds is rendered again into its preview; the preview of
    // another page that holds the box is marked dirty, so that it is rendered again when it is shown.
    void OnItemImageLoaded(LONG pageId, LONG itemInPage);

    // The size of the current page's image: the page fitted into the document's target size, in whole
    // pixels. False without a current page of a usable size.
    bool GetCurrentImageSize(graphtypes::TSize_T<LONG>& size) const;

    LONG GetDisplayedPage() const { return m_displayedPage; }
    // The packed colour of the bars around a page.
    DWORD GetFrameColour() const { return m_frameColour; }
    HWND GetNotifyWindow() const { return m_window ? m_window->GetHandle() : nullptr; }
    // -1 when not subscribed.
    LONG GetSubscription() const { return m_subscription; }

private:
    friend class TDBufPageRequest;

    // A page's size through its "@cx" and "@cy"; false when the back document has no such page.
    bool ReadPageSize(LONG page, TSize& size) const;
    // Queues a request for the preview with the context. A render of the whole page becomes the
    // generation; a partial one only after a cancel. With the preview lock held.
    bool QueueRender(LONG page, const TRefPtr<TDBufPreview>& preview, const TString& context, bool wholePage);
    // With the preview lock held; false when nothing was painted.
    bool PaintFront(HDC dc, TDBufPreview& preview, const TRect& clip, const TRect& view,
                    bool centreHorizontally, bool centreVertically);
    bool IsStale(const TDBufPageRequest& request) const;
    // The map's preview of the page is this one. With the preview lock held.
    bool IsMapped(LONG page, const TDBufPreview* preview) const;
    void Unsubscribe();
    // Releases the requests and frees the progress values still queued for the hidden window.
    void DrainNotices();
    void Reset();

    static void OnSyncRndrStart(TDBufRndrData* request);
    static void OnSyncRndrFinish(TDBufRndrData* request);
    static LONG OnRenderFinished(TMessageInfo* info, void* context);
    static LONG OnRenderProgress(TMessageInfo* info, void* context);
    static void OnImageLoaded(void* context, LONG pageId, LONG itemInPage);

    LONG m_subscription = -1;
    TSize m_documentSize;
    TRefPtr<TDBufAsyncRenderer> m_renderer;
    TAutoHandle m_notify;
    TRefPtr<TWindow> m_window;
    std::map<LONG, TRefPtr<TDBufPreview>> m_previews;
    TCritSection m_previewsLock; // m_mapPreviewsCS: the map and the page being rendered
    LONG m_currentPage = -1;
    LONG m_displayedPage = -1;
    LONG m_renderingPage = -1;
    LONG m_pageCount = 0;
    std::atomic<DWORD> m_generation{kNoGeneration};
    TFilePath m_rendererFolder;
    TFilePath m_ldfFileName;
    HWND m_owner = nullptr;
    DWORD m_frameColour;
    PageChangedProc m_pageChanged = nullptr;
    void* m_pageChangedUser = nullptr;
    ProgressProc m_progress = nullptr;
    void* m_progressUser = nullptr;
    // A render told some progress and not yet 100.
    bool m_progressOpen = false;
    // Written on the user-interface thread under the document lock; read there freely.
    std::unique_ptr<TDBufDocument> m_document;
    TCritSection m_documentLock;
    bool m_documentChanged = false;
    // The copy the renderer was given last, which a request may still hold after the document let go.
    std::weak_ptr<TdocDocument> m_rendererCopy;
    // The request between its start and finish hooks, which also holds every copy given to the renderer
    // meanwhile (the renderer may read any of them).
    TDBufPageRequest* m_rendering = nullptr;
    bool m_started = false;
};
