// The heuristic the size tests start from, as the size state builds it: a 4000 x 3000 picture shown whole
// at 300 pixels per inch, with the scale limits 1 and 600 per inch (an output of 2000 x 1500 pixels).
#pragma once

#include "rawlib/settings/CHDevSetup.h"
#include "rawlib/settings/DblRect.h"

namespace kvtest {

template <class T>
T Heuristic() {
    CHDevSetup setup(4000, 3000, UnitValue::PerInch(300), UnitValue::PerInch(1), UnitValue::PerInch(600));
    T h(setup);
    h.SetBounds(DblRect(0, 0, 4000, 3000));
    h.SetCrop(DblRect(0, 0, 4000, 3000), 0);
    return h;
}

} // namespace kvtest
