// The wrapper of a push button.
#pragma once

#include "TControl.h"

class TBtnCtrl : public TControl {
public:
    // A "button" control in the parent.
    bool Create(HWND parent, DWORD style, const TRect& rect) override;
    // The platform's button face, with the flag byte 0xFF.
    static DWORD GetDefaultButtonColor();
};
