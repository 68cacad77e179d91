// The wrapper of a check box or radio button: its check state, 0 unchecked, 1 checked, 2 indeterminate.
#pragma once

#include "TControl.h"

class TCheckBoxCtrl : public TControl {
public:
    // False, with state unchanged, without a window or for an answer other than the three states.
    bool GetCheck(LONG& state) const;
    // Any state other than the three sends unchecked.
    bool SetCheck(LONG state);
};
