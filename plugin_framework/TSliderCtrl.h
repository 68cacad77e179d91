// The wrapper of a trackbar; the control itself holds the range and the position.
#pragma once

#include "TControl.h"

class TSliderCtrl : public TControl {
public:
    // -1 without a window.
    LONG GetRangeMin() const;
    LONG GetRangeMax() const;
    LONG GetPos() const;
    // Each redraws the control.
    bool SetRangeMin(LONG minimum);
    bool SetRangeMax(LONG maximum);
    bool SetPos(LONG position);

private:
    LONG Ask(UINT message) const;
    bool Tell(UINT message, LONG value);
};
