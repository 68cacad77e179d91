#include "TGenSinglePagePane.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr DWORD kZoom200 = 0x4030;
constexpr DWORD kZoom25 = 0x4033;
constexpr double kZoomFactors[] = {2.0, 1.0, 0.5, 0.25};

LONG Scaled(LONG value, double factor) {
    return static_cast<LONG>(std::trunc(value * factor));
}

} // namespace

bool TGenSinglePagePane::Init(HWND parent, UINT controlId) {
    m_controller = TRefPtr<TControllerGenericPane>::Adopt(new TControllerSinglePane);
    return TGenericPane::Init(parent, controlId);
}

double TGenSinglePagePane::ZoomFactor(DWORD command) {
    return command >= kZoom200 && command <= kZoom25 ? kZoomFactors[command - kZoom200] : 0.0;
}

void TGenSinglePagePane::GoToPage(LONG index) {
    if (m_iterator)
        m_iterator->SetCurrentPage(index, true);
}

void TGenSinglePagePane::PreviousPage() {
    if (m_iterator)
        m_iterator->PrevPage(true);
}

void TGenSinglePagePane::NextPage() {
    if (m_iterator)
        m_iterator->NextPage(true);
}

void TGenSinglePagePane::SetZoom(DWORD command) {
    const double factor = ZoomFactor(command);
    if (command == m_zoom || (factor == 0.0 && command != kZoomFit))
        return;
    m_zoom = command;
    if (command == kZoomFit) {
        FitToVisibleArea();
        SetDocument(m_document, true);
        return;
    }
    // The same page point stays at the window's corner: positions scale by the change of factor (the page
    // shown so far measured against the reference gives the factor before).
    const TLPoint scroll = GetScrollPosition();
    const double before = m_reference.cx > 0 && m_pageSize.cx > 0
                              ? static_cast<double>(m_pageSize.cx) / m_reference.cx
                              : 1.0;
    SetPageSize(TLSize(Scaled(m_reference.cx, factor), Scaled(m_reference.cy, factor)));
    SetContentSize(TLSize(m_pageSize.cx + 2 * kContentMargin, m_pageSize.cy + 2 * kContentMargin));
    SetScrollPosition(TLPoint(Scaled(scroll.x, factor / before), Scaled(scroll.y, factor / before)));
    SetDocument(m_document, true);
}

bool TGenSinglePagePane::ShowDocument(TdocDocument* document) {
    if (!document) {
        ForgetDocument();
        return true;
    }
    const double factor = ZoomFactor(m_zoom);
    if (IsFitMode())
        FitToVisibleArea();
    else if (factor > 0.0)
        SetPageSize(TLSize(Scaled(m_reference.cx, factor), Scaled(m_reference.cy, factor)));
    if (SetDocument(document, true))
        return true;
    // The iterator must not keep the document shown before, which its owner may free now.
    ForgetDocument();
    // Kept for the re-layout that a later size brings.
    m_document = document;
    return false;
}

void TGenSinglePagePane::FitToVisibleArea() {
    const TLRect visible = VisibleArea();
    const TLSize size(std::max<LONG>(visible.Width(), 0), std::max<LONG>(visible.Height(), 0));
    SetPageSize(size);
    SetContentSize(size);
}

LONG TGenSinglePagePane::OnKeyDown(WPARAM key) {
    if (!m_owner)
        return 0;
    if (key == kKeyLeft)
        m_owner->RequestPreviousPage();
    else if (key == kKeyRight)
        m_owner->RequestNextPage();
    else
        return 0;
    return 1;
}

void TGenSinglePagePane::OnResize() {
    TGenericPane::OnResize();
    if (!IsFitMode())
        return;
    if (m_iterator)
        m_iterator->Restart(false);
    if (m_layoutTimer && !m_layoutTimer->IsRunning())
        m_layoutTimer->Start();
}

void TGenSinglePagePane::OnTimer() {
    if (!IsPaneWindowVisible() || !IsFitMode() || !LayoutDue())
        return;
    CountLayout();
    FitToVisibleArea();
    SetDocument(m_document, true);
}

TGenericPane::TLRect TGenSinglePagePane::PageRectInWindow() const {
    if (!IsFitMode())
        return TGenericPane::PageRectInWindow();
    const TLRect client = GetPaneClientRect();
    const LONG left = std::max(client.left, (client.right - m_pageSize.cx) / 2);
    const LONG top = std::max(client.top, (client.bottom - m_pageSize.cy) / 2);
    return TLRect(left, top, left + m_pageSize.cx, top + m_pageSize.cy);
}

TGenericPane::TLRect TGenSinglePagePane::VisibleArea() const {
    TLRect area = GetPaneClientRect();
    if (IsFitMode())
        area = TLRect(area.left + kContentMargin, area.top + kContentMargin, area.right - kContentMargin,
                      area.bottom - kContentMargin);
    return area;
}
