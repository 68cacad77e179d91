// The wrapper of a static text: it colours itself with the wrapper's text and background colours.
#pragma once

#include "TControl.h"

class TStaticCtrl : public TControl {
public:
    // WM_CTLCOLORSTATIC only, and only with a colour set: a background colour goes to the context, a text
    // colour too (over a transparent background); the answer is the wrapper's brush with a background
    // colour, else the system's button-face brush. With neither colour set the answer is 0.
    LRESULT OnCtlColor(TMessageInfo* info) override;
};
