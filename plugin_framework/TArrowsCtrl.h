// The wrapper of up-down arrows. The wrapper keeps the range, position and step (1 at first) itself:
// each arrow click that the control reports (UDN_DELTAPOS) moves the wrapper's position by the step within
// the range, a negative change up; the parent's own handler of the notice runs next and reads it.
#pragma once

#include "TControl.h"

class TArrowsCtrl : public TControl {
public:
    bool Attach(HWND window, bool owned) override;

    LONG GetMin() const { return m_minimum; }
    LONG GetMax() const { return m_maximum; }
    LONG GetPos() const { return m_position; }
    LONG GetStep() const { return m_step; }
    void SetMin(LONG minimum) { m_minimum = minimum; }
    void SetMax(LONG maximum) { m_maximum = maximum; }
    void SetStep(LONG step) { m_step = step; }
    // False, and nothing kept, for a position outside the range.
    bool SetPos(LONG position);

private:
    static LONG OnDeltaPos(TMessageInfo* info, void* context);

    LONG m_step = 1;
    LONG m_minimum = 0;
    LONG m_maximum = 0;
    LONG m_position = 0;
};
