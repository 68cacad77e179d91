#include "TDBufPageIterator.h"

#include "ContextStrings.h"
#include "PackedColor.h"
#include "TContextParser.h"
#include "TImgLoadMng.h"
#include "TLockOrder.h"
#include "TRndrData.h"

#include "platform/win/WinGdiObjects.h"

#include <cmath>
#include <utility>
#include <vector>

using graphtypes::TRect_T;
using graphtypes::TSize_T;

// A render of the iterator: it keeps the iterator whose hooks it runs, the preview it draws into and,
// from its start hook, the front copies the renderer may read while it renders, so that none of them goes
// before the request does.
class TDBufPageRequest : public TDBufRndrData {
public:
    TDBufPageRequest(TDBufPageIterator* iterator, TRefPtr<TDBufPreview> preview)
        : m_holder(iterator), m_preview(std::move(preview)) {
        m_iterator = iterator;
        m_preview->AddRequest();
    }
    ~TDBufPageRequest() override { m_preview->RemoveRequest(); }

    TDBufPageIterator& Iterator() const { return *m_holder; }
    TDBufPreview* Preview() const { return m_preview.Get(); }
    // Under the iterator's document lock, until the finish hook.
    void Hold(std::shared_ptr<TdocDocument> copy) {
        if (copy)
            m_copies.push_back(std::move(copy));
    }

private:
    TRefPtr<TDBufPageIterator> m_holder;
    TRefPtr<TDBufPreview> m_preview;
    std::vector<std::shared_ptr<TdocDocument>> m_copies;
};

namespace {

// The notification window: placed at 0, 0 with two pixels a side, never shown.
constexpr LONG kNotifyWindowSide = 2;
// The result of a render that drew its page.
constexpr LONG kRendered = 1;

bool Usable(double size) {
    return std::isfinite(size) && size > 0;
}

// The target's size with the page's proportions: the target's height kept when the page is not wider in
// proportion than the target, else its width. False when a side of either is 0 or less or not finite.
bool FitPage(const TSize_T<double>& page, const TSize_T<double>& target, TSize_T<double>& fitted) {
    if (!Usable(page.cx) || !Usable(page.cy) || !Usable(target.cx) || !Usable(target.cy))
        return false;
    const double pageRatio = page.cx / page.cy;
    const double targetRatio = target.cx / target.cy;
    fitted = pageRatio <= targetRatio ? TSize_T<double>(target.cy * pageRatio, target.cy)
                                      : TSize_T<double>(target.cx, target.cx / pageRatio);
    return Usable(fitted.cx) && Usable(fitted.cy);
}

// A page coordinate in preview pixels, truncated (and held in range).
LONG Scaled(double value, double scale) {
    return graphtypes::RoundToLong(std::trunc(value * scale));
}

TRect_T<double> ToDouble(const TRect_T<LONG>& rect) {
    return TRect_T<double>(rect);
}

// The bounds of the page's item with the id; false when the page holds none that can be read.
bool FindItemBounds(const TdocPage& page, LONG itemId, TRect_T<double>& bounds) {
    for (LONG index = 0;; ++index) {
        std::unique_ptr<TdocItem> item(page.GetItem(index));
        if (!item)
            return false;
        if (item->GetLongProperty() == itemId)
            return item->GetBoundingBox(bounds);
    }
}

// The number (from 1) of the document's page with the id that holds the box, with the page's size and the
// box's bounds; the page given first is looked at first. 0 when no page holds it.
LONG FindBox(const TdocDocument& document, LONG pageCount, LONG first, LONG pageId, LONG itemId,
             TSize_T<double>& pageSize, TRect_T<double>& bounds) {
    const auto holds = [&](LONG number) {
        std::unique_ptr<TdocPage> page(document.GetPage(number - 1));
        return page && page->GetLongProperty() == pageId && page->GetSize(pageSize) &&
               FindItemBounds(*page, itemId, bounds);
    };
    if (first >= 1 && first <= pageCount && holds(first))
        return first;
    for (LONG number = 1; number <= pageCount; ++number) {
        if (number != first && holds(number))
            return number;
    }
    return 0;
}

} // namespace

TDBufPageIterator::TDBufPageIterator() : m_frameColour(PackedColor::SetFlagByte(GetSysColor(COLOR_3DFACE))) {}

TDBufPageIterator::~TDBufPageIterator() {
    if (m_started)
        Shutdown();
}

void TDBufPageIterator::SetRendererFolder(const TFilePath& folder) {
    m_rendererFolder = folder;
    if (m_renderer)
        m_renderer->SetRendererFolder(folder);
}

void TDBufPageIterator::SetLdfFileName(const TFilePath& location) {
    m_ldfFileName = location;
}

bool TDBufPageIterator::Init(HWND owner, PageChangedProc pageChanged, void* user, CRenderer* binding) {
    if (m_started)
        return false;
    auto renderer = TRefPtr<TDBufAsyncRenderer>::Adopt(new TDBufAsyncRenderer);
    renderer->SetRendererFolder(m_rendererFolder);
    if (!renderer->Start(binding)) {
        renderer->Stop();
        return false;
    }
    auto window = TRefPtr<TWindow>::Adopt(new TWindow);
    if (!window->Create(L"PageItNotify", 0, TWindow::TRect(0, 0, kNotifyWindowSide, kNotifyWindowSide),
                        nullptr)) {
        renderer->Stop();
        return false;
    }
    m_owner = owner;
    m_pageChanged = pageChanged;
    m_pageChangedUser = user;
    m_renderer = std::move(renderer);
    m_window = std::move(window);
    m_started = true;
    m_subscription = TImgLoadMng::Instance()->Subscribe(&TDBufPageIterator::OnImageLoaded, this);
    m_window->AddMessageHandler(kRenderFinishedMessage,
                                TMessageHandler{this, &TDBufPageIterator::OnRenderFinished});
    m_window->AddMessageHandler(kRenderProgressMessage,
                                TMessageHandler{this, &TDBufPageIterator::OnRenderProgress});
    m_notify.Attach(m_window.Get());
    m_renderer->SetNotifyTarget(&m_notify);
    return true;
}

bool TDBufPageIterator::SetMediaContext(const TString& context) {
    return m_renderer && m_renderer->SetMediaContext(context);
}

bool TDBufPageIterator::SetDocument(TdocDocument* document, const TSize& size) {
    if (!document || !m_renderer)
        return false;
    m_renderer->SetReady();
    // The copy is made before the lock: nothing but this thread knows the new document yet.
    auto replacement = std::make_unique<TDBufDocument>(document);
    std::shared_ptr<TdocDocument> copy = replacement->ShareCopy();
    TString context;
    BuildDocContext(size, m_ldfFileName.GetPath(), context);
    std::unique_ptr<TDBufDocument> previous;
    {
        // The renderer gets the copy under the lock, so that a start hook sees the renderer's copy and the
        // document's as one pair.
        TOrderedLock guard(m_documentLock, TLockRank::kDocument);
        if (!copy || !m_renderer->SetDocument(copy.get(), context))
            return false;
        previous = std::exchange(m_document, std::move(replacement));
        m_rendererCopy = copy;
        if (m_rendering)
            m_rendering->Hold(copy);
    }
    // Only the previous holder and its copy go; its source is the owner's document.
    previous.reset();
    m_documentSize = size;
    m_pageCount = document->GetPageCount();
    if (m_pageCount > 0 && m_currentPage > m_pageCount)
        m_currentPage = m_pageCount;
    if (m_currentPage < 1)
        m_currentPage = 1;
    DeletePreviews();
    return true;
}

bool TDBufPageIterator::SetCurrentPage(LONG page, bool redraw) {
    if (page < 1 || page > m_pageCount)
        return false;
    const bool changed = page != m_currentPage;
    m_currentPage = page;
    if (changed && redraw && m_pageChanged)
        m_pageChanged(m_pageChangedUser);
    return true;
}

bool TDBufPageIterator::NextPage(bool redraw) {
    if (m_currentPage < m_pageCount)
        SetCurrentPage(m_currentPage + 1, redraw);
    return true;
}

bool TDBufPageIterator::PrevPage(bool redraw) {
    if (m_currentPage > 1)
        SetCurrentPage(m_currentPage - 1, redraw);
    return true;
}

bool TDBufPageIterator::ReadPageSize(LONG page, TSize& size) const {
    TdocDocument* back = m_document ? m_document->GetSource() : nullptr;
    if (!back || page < 1 || page > m_pageCount)
        return false;
    std::unique_ptr<TdocPage> found(back->GetPage(page - 1));
    return found && found->GetSize(size);
}

bool TDBufPageIterator::GetCurrentImageSize(TSize_T<LONG>& size) const {
    TSize pageSize, fitted;
    if (!ReadPageSize(m_currentPage, pageSize) || !FitPage(pageSize, m_documentSize, fitted))
        return false;
    size = TSize_T<LONG>(fitted);
    return true;
}

void TDBufPageIterator::Redraw(HDC dc, LONG, const TRect& clip, const TRect& view, bool centreHorizontally,
                               bool centreVertically) {
    if (!m_started)
        return;
    TOrderedLock guard(m_previewsLock, TLockRank::kPreviews);
    auto found = m_previews.find(m_currentPage);
    TRefPtr<TDBufPreview> preview = found != m_previews.end() ? found->second : TRefPtr<TDBufPreview>();
    // A preview that is not dirty is painted, also while its page renders (its front image is what was
    // rendered last): a Redraw during a render queues nothing.
    if (preview && !preview->IsDirty()) {
        if (PaintFront(dc, *preview, clip, view, centreHorizontally, centreVertically))
            m_displayedPage = m_currentPage;
        return;
    }
    // The back document is read without its lock: only this thread changes it.
    TSize pageSize, fitted;
    if (!ReadPageSize(m_currentPage, pageSize) || !FitPage(pageSize, m_documentSize, fitted))
        return;
    const bool made = !preview;
    if (made) {
        preview = TDBufPreview::Create(TSize_T<LONG>(fitted));
        if (!preview)
            return;
    }
    preview->SetDirty(false);
    m_renderer->SetReady();
    TString context;
    BuildPageContext(preview->GetBack().GetHandle(), context, &fitted, nullptr, &TImgLoadMng::CheckImageState,
                     m_subscription, true);
    if (made)
        m_previews[m_currentPage] = preview;
    // A refused request leaves the page to be rendered by the next Redraw.
    if (!QueueRender(m_currentPage, preview, context, true))
        preview->SetDirty(true);
}

bool TDBufPageIterator::PaintFront(HDC dc, TDBufPreview& preview, const TRect& clip, const TRect& view,
                                   bool centreHorizontally, bool centreVertically) {
    TOrderedLock guard(preview.GetLock(), TLockRank::kPreview);
    TiProImage& front = preview.GetFront();
    TSize_T<LONG> size;
    front.GetSize(size);
    if (size.cx <= 0 || size.cy <= 0)
        return false;
    std::unique_ptr<TiProCanvas> canvas(TiProCanvas::CreateFromHDC(dc));
    if (!canvas)
        return false;
    const LONG viewWidth = view.Width(), viewHeight = view.Height();
    LONG left = clip.left + view.left, top = clip.top + view.top;
    if (centreHorizontally && size.cx < viewWidth)
        left += (viewWidth - size.cx) / 2;
    if (centreVertically && size.cy < viewHeight)
        top += (viewHeight - size.cy) / 2;
    // The bars reach under the image's edges, which the image then covers.
    const auto bar = [&](LONG l, LONG t, LONG r, LONG b) {
        TRect strip;
        if (strip.Intersect(TRect(l, t, r, b), clip))
            canvas->FillRectangle(ToDouble(strip), m_frameColour, IPRO_FILL_COPY);
    };
    if (size.cx <= viewWidth) {
        bar(view.left, view.top, left + 2, view.bottom);
        bar(left + size.cx - 2, view.top, view.right, view.bottom);
    }
    if (size.cy <= viewHeight) {
        bar(view.left, view.top, view.right, top + 1);
        bar(view.left, top + size.cy - 2, view.right, view.bottom);
    }
    TRect visible;
    if (visible.Intersect(TRect(left, top, left + size.cx, top + size.cy), view))
        canvas->DrawImage2(front, ToDouble(visible),
                           TRect_T<double>(visible.left - left, visible.top - top, visible.right - left,
                                           visible.bottom - top));
    canvas->Release();
    return true;
}

bool TDBufPageIterator::QueueRender(LONG page, const TRefPtr<TDBufPreview>& preview, const TString& context,
                                    bool wholePage) {
    m_renderingPage = page;
    auto request = TRefPtr<TDBufPageRequest>::Adopt(new TDBufPageRequest(this, preview));
    request->m_pageNumber = page;
    request->m_context = context;
    request->m_finishHook = &TDBufPageIterator::OnSyncRndrFinish;
    request->m_startHook = &TDBufPageIterator::OnSyncRndrStart;
    if (wholePage) {
        m_generation.store(request->GetId());
        preview->SetLastFullRender(request->GetId());
    } else {
        DWORD none = kNoGeneration;
        m_generation.compare_exchange_strong(none, request->GetId());
    }
    return m_renderer->QueueRequest(request.Get());
}

void TDBufPageIterator::OnItemImageLoaded(LONG pageId, LONG itemInPage) {
    if (!m_started)
        return;
    TSize pageSize;
    TRect_T<double> bounds;
    LONG page = 0;
    {
        TOrderedLock guard(m_documentLock, TLockRank::kDocument);
        TdocDocument* back = m_document ? m_document->GetSource() : nullptr;
        if (back)
            page = FindBox(*back, m_pageCount, m_currentPage, pageId, itemInPage, pageSize, bounds);
    }
    if (page == 0)
        return;
    if (page != m_currentPage) {
        // Another page's preview still shows what was there before the picture: it renders again when its
        // page is shown.
        TOrderedLock guard(m_previewsLock, TLockRank::kPreviews);
        auto preview = m_previews.find(page);
        if (preview != m_previews.end())
            preview->second->SetDirty(true);
        return;
    }
    TSize fitted;
    if (!FitPage(pageSize, m_documentSize, fitted))
        return;
    const double scaleX = fitted.cx / pageSize.cx, scaleY = fitted.cy / pageSize.cy;
    const TRect invalid(Scaled(bounds.left, scaleX), Scaled(bounds.top, scaleY), Scaled(bounds.right, scaleX),
                        Scaled(bounds.bottom, scaleY));
    TOrderedLock guard(m_previewsLock, TLockRank::kPreviews);
    auto preview = m_previews.find(m_currentPage);
    if (preview == m_previews.end())
        return;
    TString context;
    BuildPageContext(preview->second->GetBack().GetHandle(), context, &fitted, &invalid,
                     &TImgLoadMng::CheckImageState, m_subscription, false);
    QueueRender(m_currentPage, preview->second, context, false);
}

bool TDBufPageIterator::CancelRendering(bool wait) {
    m_generation.store(kNoGeneration);
    {
        // Requests cleared from the queue are never delivered: their pages are rendered again.
        TOrderedLock guard(m_previewsLock, TLockRank::kPreviews);
        for (auto& [page, preview] : m_previews) {
            if (preview->HasRequests())
                preview->SetDirty(true);
        }
    }
    // A new subscription: the items still loading for the old one are left idle.
    if (m_subscription != -1) {
        Unsubscribe();
        if (std::shared_ptr<TImgLoadMng> manager = TImgLoadMng::Existing())
            m_subscription = manager->Subscribe(&TDBufPageIterator::OnImageLoaded, this);
    }
    if (m_renderer)
        m_renderer->Cancel(true, wait);
    return true;
}

void TDBufPageIterator::DeletePreviews() {
    std::map<LONG, TRefPtr<TDBufPreview>> dropped;
    {
        TOrderedLock guard(m_previewsLock, TLockRank::kPreviews);
        dropped.swap(m_previews);
        m_renderingPage = -1;
    }
    // Only the map's references go here; a preview that a request still holds goes with it.
}

bool TDBufPageIterator::Restart(bool wait) {
    CancelRendering(wait);
    DeletePreviews();
    return true;
}

void TDBufPageIterator::SetDocumentChanged(bool changed) {
    TOrderedLock guard(m_documentLock, TLockRank::kDocument);
    m_documentChanged = changed;
}

bool TDBufPageIterator::IsDocumentChanged() {
    TOrderedLock guard(m_documentLock, TLockRank::kDocument);
    return m_documentChanged;
}

bool TDBufPageIterator::Shutdown() {
    m_generation.store(kNoGeneration);
    Unsubscribe();
    // The worker first: nothing is posted to the window after this.
    if (m_renderer)
        m_renderer->Stop();
    DrainNotices();
    DeletePreviews();
    {
        TOrderedLock guard(m_documentLock, TLockRank::kDocument);
        m_document.reset();
        m_rendererCopy.reset();
        m_rendering = nullptr;
        m_documentChanged = false;
    }
    if (m_window)
        m_window->Destroy();
    Reset();
    return true;
}

void TDBufPageIterator::ReleaseDocument() {
    TOrderedLock guard(m_documentLock, TLockRank::kDocument);
    if (m_document) {
        m_document->ReleaseAll();
        m_document.reset();
    }
}

bool TDBufPageIterator::InvalidateCurrentPage() {
    TOrderedLock guard(m_previewsLock, TLockRank::kPreviews);
    auto found = m_previews.find(m_currentPage);
    if (found == m_previews.end())
        return false;
    found->second->SetDirty(true);
    return true;
}

void TDBufPageIterator::LockDocument() {
    LockOrder::Enter(TLockRank::kDocument);
    m_documentLock.Lock();
}

void TDBufPageIterator::UnlockDocument() {
    m_documentLock.Unlock();
    LockOrder::Leave(TLockRank::kDocument);
}

void TDBufPageIterator::SetProgressCallback(ProgressProc progress, void* user) {
    m_progress = progress;
    m_progressUser = user;
}

bool TDBufPageIterator::IsStale(const TDBufPageRequest& request) const {
    // Unsigned: after a cancel the generation is above every id.
    return request.GetId() < m_generation.load();
}

bool TDBufPageIterator::IsMapped(LONG page, const TDBufPreview* preview) const {
    auto found = m_previews.find(page);
    return found != m_previews.end() && found->second.Get() == preview;
}

void TDBufPageIterator::Unsubscribe() {
    if (m_subscription == -1)
        return;
    if (std::shared_ptr<TImgLoadMng> manager = TImgLoadMng::Existing())
        manager->Unsubscribe(m_subscription);
    m_subscription = -1;
}

void TDBufPageIterator::DrainNotices() {
    DrainRenderNotices(m_window ? m_window->GetHandle() : nullptr);
}

void TDBufPageIterator::Reset() {
    m_subscription = -1;
    m_documentSize = TSize();
    m_renderer = TRefPtr<TDBufAsyncRenderer>();
    m_notify.Attach(nullptr);
    m_window = TRefPtr<TWindow>();
    m_currentPage = -1;
    m_displayedPage = -1;
    m_renderingPage = -1;
    m_pageCount = 0;
    m_generation.store(kNoGeneration);
    m_rendererFolder = TFilePath();
    m_ldfFileName = TFilePath();
    m_owner = nullptr;
    m_frameColour = PackedColor::SetFlagByte(GetSysColor(COLOR_3DFACE));
    m_pageChanged = nullptr;
    m_pageChangedUser = nullptr;
    m_progress = nullptr;
    m_progressUser = nullptr;
    m_progressOpen = false;
    m_started = false;
}

void TDBufPageIterator::OnSyncRndrStart(TDBufRndrData* data) {
    auto* request = dynamic_cast<TDBufPageRequest*>(data);
    if (!request)
        return;
    TDBufPageIterator& self = request->Iterator();
    auto* renderer = dynamic_cast<TAsyncRenderer*>(request->GetOwner());
    TOrderedLock guard(self.m_documentLock, TLockRank::kDocument);
    self.m_rendering = request;
    if (self.m_document && self.m_documentChanged) {
        // The new copy is made first: when the renderer does not take it, the old one stays in front.
        TdocDocument* source = self.m_document->GetSource();
        std::shared_ptr<TdocDocument> fresh = source ? TDBufDocument::Copy(*source) : nullptr;
        if (fresh && renderer && renderer->RefreshDoc(fresh.get())) {
            self.m_document->SetCopy(fresh);
            self.m_rendererCopy = fresh;
        }
        self.m_documentChanged = false;
    }
    request->Hold(self.m_rendererCopy.lock());
}

void TDBufPageIterator::OnSyncRndrFinish(TDBufRndrData* data) {
    auto* request = dynamic_cast<TDBufPageRequest*>(data);
    if (!request)
        return;
    TDBufPageIterator& self = request->Iterator();
    {
        TOrderedLock guard(self.m_documentLock, TLockRank::kDocument);
        if (self.m_rendering == request)
            self.m_rendering = nullptr;
    }
    if (request->m_result != kRendered || self.IsStale(*request))
        return;
    TOrderedLock guard(self.m_previewsLock, TLockRank::kPreviews);
    // A preview that left the map is painted by nobody any more.
    if (self.IsMapped(request->m_pageNumber, request->Preview()))
        request->Preview()->CopyBackToFront();
}

LONG TDBufPageIterator::OnRenderFinished(TMessageInfo* info, void* context) {
    auto* self = static_cast<TDBufPageIterator*>(context);
    // The message's reference: the request (and what it holds) goes when the handler is done.
    auto owned = TRefPtr<TRndrData>::Adopt(reinterpret_cast<TRndrData*>(info->lParam));
    auto* request = dynamic_cast<TDBufPageRequest*>(owned.Get());
    if (!request)
        return 1;
    // A render's notices come before its end: one that ended short of complete (cancelled, failed)
    // still completes the progress its owner shows.
    if (std::exchange(self->m_progressOpen, false) && self->m_progress)
        self->m_progress(self->m_progressUser, kProgressComplete);
    if (self->IsStale(*request)) {
        // Its page renders again, unless a render of the whole page was queued after it.
        TOrderedLock guard(self->m_previewsLock, TLockRank::kPreviews);
        TDBufPreview* preview = request->Preview();
        if (self->IsMapped(request->m_pageNumber, preview) &&
            request->GetId() >= preview->GetLastFullRender())
            preview->SetDirty(true);
    } else {
        LONG image = 0;
        if (TContextParser(request->m_context).GetLong(L"iProImg", image) && image != 0 &&
            self->m_pageChanged)
            self->m_pageChanged(self->m_pageChangedUser);
    }
    return 1;
}

LONG TDBufPageIterator::OnRenderProgress(TMessageInfo* info, void* context) {
    auto* self = static_cast<TDBufPageIterator*>(context);
    const std::optional<DWORD> value = TakeRenderProgress(info->lParam);
    if (value && self->m_progress) {
        self->m_progressOpen = *value < kProgressComplete;
        self->m_progress(self->m_progressUser, *value);
    }
    return 1;
}

void TDBufPageIterator::OnImageLoaded(void* context, LONG pageId, LONG itemInPage) {
    static_cast<TDBufPageIterator*>(context)->OnItemImageLoaded(pageId, itemInPage);
}
