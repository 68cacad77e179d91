// Formats a text of the language library that takes numbers ("Page %d of %d") without trusting it: it may
// hold at most as many integer conversions as there are values (with flags, a width, "h" or "l") and "%%";
// any other text yields the fixed text, formatted the same way.
#pragma once

#include "plugin_framework/TString.h"

#include "platform/win/wintypes.h"

#include <initializer_list>

namespace designtext {

// Widths above this are not a translation's.
constexpr int kMaxWidth = 255;

// True when the format is one that Format accepts for that many values.
bool IsAcceptedFormat(const wchar_t* format, std::size_t valueCount);
// The format with its conversions filled in order; the fixed text (a format of the module's own) when
// the format is null or not accepted.
TString Format(const wchar_t* format, const wchar_t* fixedText, std::initializer_list<LONG> values);

} // namespace designtext
