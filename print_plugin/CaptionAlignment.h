// The configuration's words for the alignment of captions.
#pragma once

#include "plugin_framework/TString.h"

namespace CaptionAlign {
constexpr LONG kLeft = 0;
constexpr LONG kCenter = 1;
constexpr LONG kRight = 2;
constexpr LONG kUnknown = -1;
} // namespace CaptionAlign

// kLeft for "left", kCenter for "center", kRight for "right" (exactly those texts); kUnknown for any other.
LONG CaptionAlignment(const TString& word);
