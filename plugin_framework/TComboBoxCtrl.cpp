#include "TComboBoxCtrl.h"

#include "platform/win/WinControls.h"

#include <vector>

bool TComboBoxCtrl::AddString(const TString& text, LONG index) {
    HWND window = Bound();
    if (!window || index < -1 || index > GetCount())
        return false;
    const LPARAM words = reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(text));
    const LRESULT answer = index == -1
                               ? ::SendMessageW(window, CB_ADDSTRING, 0, words)
                               : ::SendMessageW(window, CB_INSERTSTRING, static_cast<WPARAM>(index), words);
    return answer != CB_ERR && answer != CB_ERRSPACE;
}

bool TComboBoxCtrl::GetItemText(LONG index, TString& text) const {
    HWND window = Bound();
    if (!window || index < 0 || index >= GetCount())
        return false;
    const LRESULT length = ::SendMessageW(window, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 1)
        return false;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    const LRESULT copied = ::SendMessageW(window, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                          reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == CB_ERR || copied == 0)
        return false;
    text = TString(buffer.data(), static_cast<int>(std::min<LRESULT>(copied, length)));
    return true;
}

LONG TComboBoxCtrl::FindStringExact(const TString& text) const {
    HWND window = Bound();
    if (!window)
        return -1;
    const LRESULT index = ::SendMessageW(window, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(text)));
    return index < 0 ? -1 : static_cast<LONG>(index);
}

bool TComboBoxCtrl::DeleteString(LONG index) {
    HWND window = Bound();
    if (!window || index < 0 || index >= GetCount())
        return false;
    return ::SendMessageW(window, CB_DELETESTRING, static_cast<WPARAM>(index), 0) != CB_ERR;
}

LONG TComboBoxCtrl::GetCurSel() const {
    HWND window = Bound();
    return window ? static_cast<LONG>(::SendMessageW(window, CB_GETCURSEL, 0, 0)) : -1;
}

bool TComboBoxCtrl::SetCurSel(LONG index) {
    HWND window = Bound();
    if (!window || index < -1 || index >= GetCount())
        return false;
    return ::SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == index;
}

LONG TComboBoxCtrl::GetCount() const {
    HWND window = Bound();
    if (!window)
        return 0;
    const LRESULT count = ::SendMessageW(window, CB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<LONG>(count);
}

bool TComboBoxCtrl::ResetContent() {
    HWND window = Bound();
    return window && ::SendMessageW(window, CB_RESETCONTENT, 0, 0) != CB_ERR;
}
