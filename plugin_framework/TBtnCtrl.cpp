#include "TBtnCtrl.h"

#include "PackedColor.h"

bool TBtnCtrl::Create(HWND parent, DWORD style, const TRect& rect) {
    return CreateControl(L"button", parent, style, rect);
}

DWORD TBtnCtrl::GetDefaultButtonColor() {
    return PackedColor::SetFlagByte(::GetSysColor(COLOR_BTNFACE));
}
