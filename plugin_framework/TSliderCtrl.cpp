#include "TSliderCtrl.h"

#include "platform/win/WinControls.h"

LONG TSliderCtrl::Ask(UINT message) const {
    HWND window = Bound();
    return window ? static_cast<LONG>(::SendMessageW(window, message, 0, 0)) : -1;
}

bool TSliderCtrl::Tell(UINT message, LONG value) {
    HWND window = Bound();
    if (!window)
        return false;
    ::SendMessageW(window, message, TRUE, value);
    return true;
}

LONG TSliderCtrl::GetRangeMin() const {
    return Ask(TBM_GETRANGEMIN);
}

LONG TSliderCtrl::GetRangeMax() const {
    return Ask(TBM_GETRANGEMAX);
}

LONG TSliderCtrl::GetPos() const {
    return Ask(TBM_GETPOS);
}

bool TSliderCtrl::SetRangeMin(LONG minimum) {
    return Tell(TBM_SETRANGEMIN, minimum);
}

bool TSliderCtrl::SetRangeMax(LONG maximum) {
    return Tell(TBM_SETRANGEMAX, maximum);
}

bool TSliderCtrl::SetPos(LONG position) {
    return Tell(TBM_SETPOS, position);
}
