// New pixels from old: the resize and the eight turns and mirrors of the rotate and flip codes.
#pragma once

#include "IproPixels.h"

namespace IproResample {

// Over premultiplied pixels; false for a size the limits refuse or when memory lacks. A size that is not
// larger on either side is made by Reduce; any other bilinearly, sampling the source at the destination's
// pixel centres (the edge pixels repeat outside).
bool Resize(const IproPixels& source, LONG width, LONG height, IproPixels& out);
// A reduction that does not alias: each side is first shrunk by a whole factor, every new pixel the mean
// of its block (the last block of a row or column takes the pixels left over too): by the whole ratio
// when the side divides by the wanted one, else by the factor that leaves two to four times the wanted
// size; then Lanczos-3, its support widened by the remaining factor, makes the last step. Sides of 1 ..
// the source's.
bool Reduce(const IproPixels& source, LONG width, LONG height, IproPixels& out);
// Turned clockwise by 90 degrees times (code & 3), then mirrored left to right when code & 4 is set;
// false for a code outside 0..7.
bool RotateFlip(const IproPixels& source, LONG code, IproPixels& out);

} // namespace IproResample
