// The sizes the mail plug-in saves pictures at: an ordinary picture is scaled into the chosen attachment
// box and never enlarged; a design page is resized by the host's numbers for it.
#pragma once

#include "plugin_framework/GraphTypes.h"

#include "platform/win/wintypes.h"

namespace FileSaveFit {

// The design module reports a page whose width is scaled to this value, its height in proportion.
constexpr LONG kDesignPageWidth = 65535;

// min(max width / width, max height / height, 1) in 32-bit arithmetic; 1 when any side is not above 0.
float ScaleFactor(const graphtypes::TSize_T<LONG>& picture, const graphtypes::TSize_T<LONG>& maximum);

// The size a design page is resized to before it is saved: with the scaled width, the maximum width and
// the height in proportion; otherwise the maximum height and the width in proportion (each rounded half
// away from zero). False, for no resize, when a side it divides by or the one it keeps is not above 0, or
// the result is not a size.
bool DesignPageSize(const graphtypes::TSize_T<LONG>& picture, const graphtypes::TSize_T<LONG>& maximum,
                    graphtypes::TSize_T<LONG>& target);

} // namespace FileSaveFit
