#include "TOwnerDrawCtrl.h"

#include "platform/win/WinControls.h"
#include "platform/win/WinGdiDraw.h"

bool TOwnerDrawCtrl::Create(HWND parent, DWORD style, const TRect& rect) {
    return TBtnCtrl::Create(parent, style | BS_OWNERDRAW, rect);
}

bool TOwnerDrawCtrl::Attach(HWND window, bool owned) {
    if (!TBtnCtrl::Attach(window, owned))
        return false;
    AddMessageHandler(WM_DRAWITEM, TMessageHandler{this, &TOwnerDrawCtrl::OnDrawItem});
    AddMessageHandler(WM_ERASEBKGND, TMessageHandler{this, &TOwnerDrawCtrl::OnEraseBackground});
    return true;
}

void TOwnerDrawCtrl::SetDrawCallback(DrawCallback callback, void* context) {
    m_callback = callback;
    m_context = context;
}

bool TOwnerDrawCtrl::DrawItem() {
    if (!m_callback || !m_item)
        return false;
    if (HasBkColor())
        ::FillRect(m_item->hDC, &m_item->rcItem, GetBkBrush());
    return m_callback(this, m_context);
}

LONG TOwnerDrawCtrl::OnDrawItem(TMessageInfo* info, void* context) {
    auto* control = static_cast<TOwnerDrawCtrl*>(context);
    // The record lives only while the control's draw request is answered.
    control->m_item = reinterpret_cast<const DRAWITEMSTRUCT*>(info->lParam);
    const bool drawn = control->DrawItem();
    control->m_item = nullptr;
    return drawn ? 1 : 0;
}

LONG TOwnerDrawCtrl::OnEraseBackground(TMessageInfo*, void*) {
    return 1;
}
