#include "TGenericPane.h"

#include "DesignMarkers.h"

#include "plugin_framework/CodecTable.h"
#include "plugin_framework/PackedColor.h"
#include "plugin_framework/TDBufDocument.h"
#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinGdiDraw.h"
#include "platform/win/WinKernel.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The pages the pane shows are read as previews at this profile, at quality 0.
constexpr DWORD kPaneCodecProfile = 4096;

} // namespace

TGenericPane::TGenericPane(TPaneOwner* owner) : m_owner(owner) {}

TGenericPane::~TGenericPane() {
    DestroyPane();
}

bool TGenericPane::Init(HWND, UINT controlId) {
    m_controlId = controlId;
    m_layoutTimer = TRefPtr<TTimer>::Adopt(new TTimer);
    m_layoutTimer->SetCallback(&TGenericPane::OnLayoutTick, this);
    m_layoutTimer->SetInterval(kLayoutInterval);
    m_lastResize = 0;
    m_iterator = TRefPtr<TDBufPageIterator>::Adopt(new TDBufPageIterator);
    m_background = kBackgroundColour;
    if (m_controller)
        m_controller->SetPane(this);
    return true;
}

bool TGenericPane::BindIterator(HWND window) {
    TFilePath folder;
    if (!m_iterator || !m_resource.GetModuleFolder(folder))
        return false;
    m_iterator->SetRendererFolder(folder);
    if (!m_iterator->Init(window, &TGenericPane::OnPageChanged, this, nullptr))
        return false;
    TString codec;
    BuildCodecParameters(codec, true, kPaneCodecProfile, 0);
    m_iterator->SetMediaContext(codec);
    m_iterator->SetProgressCallback(m_progress, m_progressUser);
    m_iteratorWindow = window;
    return true;
}

void TGenericPane::SetLoadingProgress(TDBufPageIterator::ProgressProc progress, void* user) {
    m_progress = progress;
    m_progressUser = user;
    if (m_iterator)
        m_iterator->SetProgressCallback(progress, user);
}

void TGenericPane::ForgetDocument() {
    m_document = nullptr;
    if (!m_iterator || !m_iteratorWindow)
        return;
    m_iterator->Restart(true);
    m_iterator->Shutdown();
    BindIterator(m_iteratorWindow);
}

void TGenericPane::DestroyPane() {
    if (m_layoutTimer) {
        m_layoutTimer->Stop();
        m_layoutTimer = TRefPtr<TTimer>();
    }
    if (m_iterator) {
        m_iterator->Restart(true);
        m_iterator->Shutdown();
        m_iterator = TRefPtr<TDBufPageIterator>();
    }
    if (m_controller) {
        m_controller->SetPane(nullptr);
        m_controller = TRefPtr<TControllerGenericPane>();
    }
    m_document = nullptr;
}

bool TGenericPane::SetDocument(TdocDocument* document, bool redraw) {
    // Nothing is rendered for an empty page.
    if (!m_iterator || !document || m_pageSize.cx <= 0 || m_pageSize.cy <= 0)
        return false;
    CancelRendering();
    if (!m_iterator->SetDocument(document, TDBufPageIterator::TSize(m_pageSize.cx, m_pageSize.cy)))
        return false;
    m_document = document;
    if (redraw && m_mode != kHidden)
        InvalidatePane();
    return true;
}

void TGenericPane::CancelRendering() {
    if (m_iterator)
        m_iterator->CancelRendering(false);
}

void TGenericPane::SetMode(LONG mode) {
    m_mode = mode;
    ShowPaneWindow(mode != kHidden);
    if (m_controller)
        m_controller->SetActive(mode != kHidden);
}

LONG TGenericPane::OnKeyDown(WPARAM) {
    return 0;
}

LONG TGenericPane::OnLButtonDown(const TLPoint& point, WPARAM flags) {
    return m_controller ? m_controller->OnLButtonDown(point, flags) : 0;
}

void TGenericPane::OnResize() {
    m_client = GetPaneClientRect();
    m_lastResize = GetTickCount();
}

TGenericPane::TLRect TGenericPane::PageRectInWindow() const {
    const TLRect client = GetPaneClientRect();
    TLRect rect(0, 0, client.Width(), client.Height());
    const TLPoint scroll = GetScrollPosition();
    if (client.Width() < m_pageSize.cx) {
        rect.left = HorizontalMargin() - scroll.x;
        rect.right = rect.left + m_pageSize.cx;
    }
    if (client.Height() < m_pageSize.cy) {
        rect.top = VerticalMargin() - scroll.y;
        rect.bottom = rect.top + m_pageSize.cy;
    }
    return rect;
}

TGenericPane::TLRect TGenericPane::VisibleArea() const {
    return GetPaneClientRect();
}

LONG TGenericPane::GetCurrentPageIndex() const {
    return m_iterator ? m_iterator->GetCurrentPage() - 1 : -1;
}

TControllerGenericPane::TArea TGenericPane::GetPageRect() const {
    // Where the iterator puts the page's image: fitted into the page size, centred in the page rectangle
    // as the drawing flags say.
    TLRect rect = PageRectInWindow();
    TLSize image;
    if (m_iterator && m_iterator->GetCurrentImageSize(image)) {
        if (FirstDrawingFlag() && image.cx < rect.Width())
            rect.left += (rect.Width() - image.cx) / 2;
        if (SecondDrawingFlag() && image.cy < rect.Height())
            rect.top += (rect.Height() - image.cy) / 2;
        rect.right = rect.left + image.cx;
        rect.bottom = rect.top + image.cy;
    }
    return TControllerGenericPane::TArea(rect.left, rect.top, rect.right, rect.bottom);
}

LONG TGenericPane::RedrawPageArea(const TControllerGenericPane::TArea&) {
    // The page's preview renders again; the window shows it when it comes.
    if (!m_iterator || !m_iterator->InvalidateCurrentPage())
        return 0;
    InvalidatePane();
    return 1;
}

bool TGenericPane::LayoutDue() {
    if (GetTickCount() - m_lastResize <= kLayoutSettle)
        return false;
    m_layoutTimer->Stop();
    return true;
}

void TGenericPane::DrawCurrentPage() {
    if (!m_document || !m_iterator || !IsPaneWindowVisible())
        return;
    HDC dc = GetPaneDC();
    if (!dc)
        return;
    const TLRect client = GetPaneClientRect();
    const TLRect page = PageRectInWindow();
    if (client.Width() > kMinDrawWidth && page.Width() > kMinDrawWidth) {
        m_iterator->Redraw(dc, 0, client, page, FirstDrawingFlag(), SecondDrawingFlag());
        if (m_owner)
            m_owner->UpdatePageLabel();
    }
    HBRUSH frame = CreateSolidBrush(PackedColor::ClearFlagByte(kFrameColour));
    const RECT edge{client.left, client.top, client.right, client.bottom};
    FrameRect(dc, &edge, frame);
    DeleteObject(frame);
    ReleasePaneDC(dc);
}

std::unique_ptr<TdocDocument> TGenericPane::CleanCopy() {
    if (!m_iterator || !m_document)
        return nullptr;
    std::unique_ptr<TdocDocument> copy;
    m_iterator->LockDocument();
    copy = TDBufDocument::Copy(*m_document);
    m_iterator->UnlockDocument();
    // The copy is no one else's: it is cleaned without the lock.
    if (copy)
        designmarkers::StripItems(*copy, designmarkers::Strip::kMarkersAndHelpers);
    return copy;
}

void TGenericPane::OnLayoutTick(void* pane) {
    static_cast<TGenericPane*>(pane)->OnTimer();
}

void TGenericPane::OnPageChanged(void* pane) {
    static_cast<TGenericPane*>(pane)->DrawCurrentPage();
}
