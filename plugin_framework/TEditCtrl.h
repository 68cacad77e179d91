// The wrapper of an edit box: text, font and handlers, as every control has them.
#pragma once

#include "TControl.h"

class TEditCtrl : public TControl {};
