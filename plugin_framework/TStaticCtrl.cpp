#include "TStaticCtrl.h"

LRESULT TStaticCtrl::OnCtlColor(TMessageInfo* info) {
    if (!info || info->key != WM_CTLCOLORSTATIC || (!HasBkColor() && !HasTextColor()))
        return 0;
    HDC dc = reinterpret_cast<HDC>(info->wParam);
    if (HasBkColor())
        ::SetBkColor(dc, GetBkColor());
    if (HasTextColor()) {
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, GetTextColor());
    }
    return reinterpret_cast<LRESULT>(HasBkColor() ? GetBkBrush() : ::GetSysColorBrush(COLOR_BTNFACE));
}
