// New pixels from old: the bilinear resize and the eight turns and mirrors of the rotate and flip codes.
#pragma once

#include "IproPixels.h"

namespace IproResample {

// Bilinear over premultiplied pixels, sampling the source at the destination's pixel centres (the edge
// pixels repeat outside); false for a size the limits refuse or when memory lacks.
bool Resize(const IproPixels& source, LONG width, LONG height, IproPixels& out);
// Turned clockwise by 90 degrees times (code & 3), then mirrored left to right when code & 4 is set;
// false for a code outside 0..7.
bool RotateFlip(const IproPixels& source, LONG code, IproPixels& out);

} // namespace IproResample
