// The wrapper of a combo box: its list of texts and the selection. An index outside the list is refused
// before any message is sent.
#pragma once

#include "TControl.h"

class TComboBoxCtrl : public TControl {
public:
    // Index -1 appends, any index from 0 to the count inserts there.
    bool AddString(const TString& text, LONG index = -1);
    bool GetItemText(LONG index, TString& text) const;
    // The index of the item whose text is the text (without regard to case), or -1.
    LONG FindStringExact(const TString& text) const;
    bool DeleteString(LONG index);
    // -1 without a window or a selection.
    LONG GetCurSel() const;
    // -1 selects nothing.
    bool SetCurSel(LONG index);
    // 0 without a window.
    LONG GetCount() const;
    bool ResetContent();
};
