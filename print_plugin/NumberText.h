// Numbers in stored texts, read and written the same way whatever the user's locale: whole numbers as
// "%d" of 32 bits, reals as "%lf" (six decimals, a '.' before them).
#pragma once

#include "plugin_framework/TString.h"

namespace NumberText {

// The number at the start of the text (after blanks), as "%lf" reads it; false (the value untouched) when
// there is none.
bool ParseReal(const wchar_t* text, double& value);
// The same for a whole number of 32 bits; false also when it does not fit.
bool ParseWhole(const wchar_t* text, LONG& value);
TString RealText(double value);

} // namespace NumberText
