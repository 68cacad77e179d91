#include "TPageWindows.h"

#include "plugin_framework/PackedColor.h"

#include "platform/win/WinGdiDraw.h"
#include "platform/win/WinRegions.h"

template <class Pane>
TPageWindow<Pane>::~TPageWindow() {
    Destroy();
}

template <>
const wchar_t* TPageWindow<TGenSinglePagePane>::ClassName() {
    return L"SinglePagePane";
}

template <>
const wchar_t* TPageWindow<TGenMultiPagePane>::ClassName() {
    return L"MultiPagePane";
}

template <class Pane>
bool TPageWindow<Pane>::Create(HWND parent, const TWindow::TRect& rect, UINT controlId) {
    m_createRect = rect;
    if (!Pane::Init(parent, controlId) ||
        !TScrollWindow::Create(TString(ClassName()), WS_CHILD, m_createRect, parent) ||
        !this->BindIterator(GetHandle())) {
        Destroy();
        return false;
    }
    // The parent finds the pane's window by its id (GetDlgItem), as it does its controls.
    SetWindowLongPtrW(GetHandle(), GWLP_ID, static_cast<LONG_PTR>(this->GetControlId()));
    return true;
}

template <class Pane>
bool TPageWindow<Pane>::Destroy() {
    Pane::DestroyPane();
    return !IsWindow() || TScrollWindow::Destroy();
}

template <class Pane>
void TPageWindow<Pane>::SetContentSize(const TLSize& size) {
    Pane::SetContentSize(size);
    TScrollWindow::SetContentSize(size);
}

template <class Pane>
typename TPageWindow<Pane>::TLRect TPageWindow<Pane>::GetPaneClientRect() const {
    TWindow::TRect client(0, 0, 0, 0);
    GetClientRect(client);
    return client;
}

template <class Pane>
LONG TPageWindow<Pane>::OnCreate() {
    AddMessageHandler(kPaintMessageKey, TMessageHandler{this, &TPageWindow::OnPaint});
    return TScrollWindow::OnCreate();
}

template <class Pane>
LONG TPageWindow<Pane>::OnSize(const TWindow::TSize& size) {
    const LONG answer = TScrollWindow::OnSize(size);
    this->OnResize();
    return answer;
}

template <class Pane>
LONG TPageWindow<Pane>::OnKeyDown(WPARAM wParam, LPARAM lParam) {
    return Pane::OnKeyDown(wParam) == 1 ? 1 : TScrollWindow::OnKeyDown(wParam, lParam);
}

template <class Pane>
LONG TPageWindow<Pane>::OnLButtonDown(const TLPoint& point, WPARAM flags) {
    TScrollWindow::OnLButtonDown(point, flags);
    return Pane::OnLButtonDown(point, flags);
}

template <class Pane>
LONG TPageWindow<Pane>::OnPaint(TMessageInfo*, void* context) {
    static_cast<TPageWindow*>(context)->Paint();
    return 1;
}

template <class Pane>
void TPageWindow<Pane>::Paint() {
    PAINTSTRUCT paint{};
    if (!BeginPaint(GetHandle(), &paint))
        return;
    this->DrawCurrentPage();
    EndPaint(GetHandle(), &paint);
}

void TSinglePagePane::Paint() {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(GetHandle(), &paint);
    if (!dc)
        return;
    DrawCurrentPage();
    // What the page leaves inside the frame takes the background.
    const TLRect client = GetPaneClientRect();
    const TLRect page = PageRectInWindow();
    HRGN around = CreateRectRgn(client.left + 1, client.top + 1, client.right - 1, client.bottom - 1);
    HRGN inside = CreateRectRgn(page.left + 1, page.top + 1, page.right - 1, page.bottom - 1);
    HBRUSH background = CreateSolidBrush(PackedColor::ClearFlagByte(GetBackgroundColour()));
    if (around && inside && CombineRgn(around, around, inside, RGN_DIFF) != ERROR)
        FillRgn(dc, around, background);
    DeleteObject(background);
    DeleteObject(inside);
    DeleteObject(around);
    EndPaint(GetHandle(), &paint);
    SetFocus();
}

template class TPageWindow<TGenSinglePagePane>;
template class TPageWindow<TGenMultiPagePane>;
