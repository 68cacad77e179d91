#include "TArrowsCtrl.h"

#include "platform/win/WinControls.h"

#include <algorithm>

bool TArrowsCtrl::Attach(HWND window, bool owned) {
    if (!TControl::Attach(window, owned))
        return false;
    AddNotifyHandler(UDN_DELTAPOS, TMessageHandler{this, &TArrowsCtrl::OnDeltaPos});
    return true;
}

bool TArrowsCtrl::SetPos(LONG position) {
    if (position < m_minimum || position > m_maximum)
        return false;
    m_position = position;
    return true;
}

LONG TArrowsCtrl::OnDeltaPos(TMessageInfo* info, void* context) {
    auto* arrows = static_cast<TArrowsCtrl*>(context);
    const auto* change = reinterpret_cast<const NMUPDOWN*>(info->lParam);
    if (!arrows || !change)
        return 0;
    const long long position = arrows->m_position;
    if (change->iDelta < 0)
        arrows->m_position =
            static_cast<LONG>(std::min<long long>(position + arrows->m_step, arrows->m_maximum));
    else
        arrows->m_position =
            static_cast<LONG>(std::max<long long>(position - arrows->m_step, arrows->m_minimum));
    return 0;
}
