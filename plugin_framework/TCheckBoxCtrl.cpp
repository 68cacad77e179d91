#include "TCheckBoxCtrl.h"

#include "platform/win/WinControls.h"

bool TCheckBoxCtrl::GetCheck(LONG& state) const {
    HWND window = Bound();
    if (!window)
        return false;
    const LRESULT answer = ::SendMessageW(window, BM_GETCHECK, 0, 0);
    if (answer != BST_UNCHECKED && answer != BST_CHECKED && answer != BST_INDETERMINATE)
        return false;
    state = static_cast<LONG>(answer);
    return true;
}

bool TCheckBoxCtrl::SetCheck(LONG state) {
    HWND window = Bound();
    if (!window)
        return false;
    const bool known = state == BST_UNCHECKED || state == BST_CHECKED || state == BST_INDETERMINATE;
    ::SendMessageW(window, BM_SETCHECK, known ? static_cast<WPARAM>(state) : BST_UNCHECKED, 0);
    return true;
}
