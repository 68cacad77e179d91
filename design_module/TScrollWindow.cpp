#include "TScrollWindow.h"

#include "platform/win/WinScrollBars.h"

#include <algorithm>
#include <climits>

namespace {

constexpr WPARAM kKeyPageUp = 33;
constexpr WPARAM kKeyPageDown = 34;
constexpr WPARAM kKeyEnd = 35;
constexpr WPARAM kKeyHome = 36;
constexpr int kWheelDelta = 120;

SCROLLINFO Record(UINT mask) {
    SCROLLINFO info{};
    info.cbSize = sizeof(SCROLLINFO);
    info.fMask = mask;
    return info;
}

int ToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace

void TScrollWindow::SetBars(UINT mask, const TRect& client) {
    SCROLLINFO info = Record(mask);
    info.nMin = 0;
    info.nPos = 0;
    info.nMax = m_contentSize.cx;
    info.nPage = static_cast<UINT>(std::max<LONG>(0, client.Width()));
    ::SetScrollInfo(GetHandle(), SB_HORZ, &info, TRUE);
    info.nMax = m_contentSize.cy;
    info.nPage = static_cast<UINT>(std::max<LONG>(0, client.Height()));
    ::SetScrollInfo(GetHandle(), SB_VERT, &info, TRUE);
}

void TScrollWindow::SetContentSize(const TContentSize& size) {
    m_contentSize = size;
    TRect client;
    if (!GetClientRect(client))
        return;
    SetBars(SIF_RANGE | SIF_PAGE | SIF_POS, client);
    GetClientRect(client);
    SetBars(SIF_RANGE | SIF_PAGE | SIF_POS, client);
}

bool TScrollWindow::NeedsHorizontalScroll() const {
    TRect client;
    return GetClientRect(client) && m_contentSize.cx > client.Width();
}

bool TScrollWindow::NeedsVerticalScroll() const {
    TRect client;
    return GetClientRect(client) && m_contentSize.cy > client.Height();
}

TScrollWindow::TScrollPoint TScrollWindow::GetScrollPosition() const {
    SCROLLINFO horizontal = Record(SIF_POS);
    SCROLLINFO vertical = Record(SIF_POS);
    if (!::GetScrollInfo(GetHandle(), SB_HORZ, &horizontal) ||
        !::GetScrollInfo(GetHandle(), SB_VERT, &vertical))
        return TScrollPoint(0, 0);
    return TScrollPoint(horizontal.nPos, vertical.nPos);
}

void TScrollWindow::SetScrollPosition(const TScrollPoint& point) {
    SCROLLINFO info = Record(SIF_POS);
    info.nPos = point.x;
    ::SetScrollInfo(GetHandle(), SB_HORZ, &info, TRUE);
    info.nPos = point.y;
    ::SetScrollInfo(GetHandle(), SB_VERT, &info, TRUE);
    Invalidate(nullptr, true);
}

LONG TScrollWindow::Redraw() {
    Invalidate(nullptr, true);
    return 0;
}

LONG TScrollWindow::OnCreate() {
    TRect client;
    if (GetClientRect(client))
        SetBars(SIF_RANGE | SIF_PAGE | SIF_POS, client);
    return Redraw();
}

LONG TScrollWindow::OnSize(const TSize& size) {
    SetBars(SIF_RANGE | SIF_PAGE, TRect(0, 0, size.cx, size.cy));
    return Redraw();
}

LONG TScrollWindow::MoveTo(int bar, long long position) {
    SCROLLINFO info = Record(SIF_POS);
    info.nPos = ToInt(position);
    ::SetScrollInfo(GetHandle(), bar, &info, TRUE);
    return Redraw();
}

LONG TScrollWindow::MoveBy(int bar, long long delta) {
    SCROLLINFO info = Record(SIF_POS);
    ::GetScrollInfo(GetHandle(), bar, &info);
    return MoveTo(bar, static_cast<long long>(info.nPos) + delta);
}

LONG TScrollWindow::MoveByPage(int bar, int direction) {
    SCROLLINFO info = Record(SIF_PAGE | SIF_POS);
    ::GetScrollInfo(GetHandle(), bar, &info);
    return MoveTo(bar, static_cast<long long>(info.nPos) + direction * static_cast<long long>(info.nPage));
}

LONG TScrollWindow::ToEnd(int bar) {
    SCROLLINFO info = Record(SIF_RANGE | SIF_PAGE);
    ::GetScrollInfo(GetHandle(), bar, &info);
    const long long end = bar == SB_HORZ ? info.nMax : m_contentSize.cy;
    return MoveTo(bar, end - (static_cast<long long>(info.nPage) - 1));
}

LONG TScrollWindow::ToTrack(int bar) {
    SCROLLINFO info = Record(SIF_TRACKPOS);
    ::GetScrollInfo(GetHandle(), bar, &info);
    return MoveTo(bar, info.nTrackPos);
}

LONG TScrollWindow::OnHScrollLeft() {
    return MoveTo(SB_HORZ, 0);
}
LONG TScrollWindow::OnHScrollRight() {
    return ToEnd(SB_HORZ);
}
LONG TScrollWindow::OnHScrollLineLeft(LONG count) {
    return MoveBy(SB_HORZ, -static_cast<long long>(count));
}
LONG TScrollWindow::OnHScrollLineRight(LONG count) {
    return MoveBy(SB_HORZ, count);
}
LONG TScrollWindow::OnHScrollPageLeft() {
    return MoveByPage(SB_HORZ, -1);
}
LONG TScrollWindow::OnHScrollPageRight() {
    return MoveByPage(SB_HORZ, 1);
}
LONG TScrollWindow::OnHScrollThumbTrack() {
    return ToTrack(SB_HORZ);
}
LONG TScrollWindow::OnVScrollTop() {
    return MoveTo(SB_VERT, 0);
}
LONG TScrollWindow::OnVScrollBottom() {
    return ToEnd(SB_VERT);
}
LONG TScrollWindow::OnVScrollLineUp(LONG count) {
    return MoveBy(SB_VERT, -static_cast<long long>(count));
}
LONG TScrollWindow::OnVScrollLineDown(LONG count) {
    return MoveBy(SB_VERT, count);
}
LONG TScrollWindow::OnVScrollPageUp() {
    return MoveByPage(SB_VERT, -1);
}
LONG TScrollWindow::OnVScrollPageDown() {
    return MoveByPage(SB_VERT, 1);
}
LONG TScrollWindow::OnVScrollThumbTrack() {
    return ToTrack(SB_VERT);
}

LONG TScrollWindow::OnKeyUp(WPARAM wParam, LPARAM) {
    if (!NeedsHorizontalScroll() && !NeedsVerticalScroll())
        return 0;
    switch (wParam) {
    case kKeyPageUp:
        return OnVScrollPageUp();
    case kKeyPageDown:
        return OnVScrollPageDown();
    case kKeyEnd:
        OnHScrollRight();
        return OnVScrollBottom();
    case kKeyHome:
        OnHScrollLeft();
        return OnVScrollTop();
    default:
        return 0;
    }
}

LONG TScrollWindow::OnMouseWheel(const TPoint& point, WPARAM flags) {
    const bool horizontalNeeded = NeedsHorizontalScroll();
    if (!horizontalNeeded && !NeedsVerticalScroll())
        return 0;
    const int delta = static_cast<SHORT>(HIWORD(flags));
    const LONG lines = delta / kWheelDelta;
    // The strip is the horizontal bar itself, below the client area: both sides in screen coordinates.
    TRect window;
    const bool inStrip = horizontalNeeded && GetWindowRect(window) &&
                         point.y >= window.bottom - GetSystemMetrics(SM_CYHSCROLL) &&
                         point.y < window.bottom && point.x >= window.left && point.x < window.right;
    if (inStrip)
        return delta > 0 ? OnHScrollLineRight(lines) : OnHScrollLineLeft(-lines);
    return delta > 0 ? OnVScrollLineUp(lines) : OnVScrollLineDown(-lines);
}
