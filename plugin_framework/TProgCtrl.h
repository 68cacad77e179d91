// The wrapper of a progress bar. It keeps its own range, position and step (all 0 at first) and hands
// each change to the control; without a window the values are kept and nothing is sent (false).
#pragma once

#include "TControl.h"

class TProgCtrl : public TControl {
public:
    bool SetPos(LONG position);
    bool SetStep(LONG step);
    // The position plus the step, but never above the maximum.
    bool StepIt();
    // The position plus the change, without a limit (kept within the 32-bit range).
    bool OffsetPos(LONG change);
    bool SetMin(LONG minimum);
    bool SetMax(LONG maximum);

    LONG GetPos() const { return m_position; }
    LONG GetStep() const { return m_step; }
    LONG GetMin() const { return m_minimum; }
    LONG GetMax() const { return m_maximum; }

private:
    bool SendRange();

    LONG m_minimum = 0;
    LONG m_maximum = 0;
    LONG m_position = 0;
    LONG m_step = 0;
};
