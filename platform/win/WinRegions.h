// Regions of rectangles: made from one rectangle, combined by difference, and filled with a brush into the
// pixels behind a device context. A region is a GDI object: DeleteObject frees it.
#pragma once

#include "WinGdiObjects.h"

struct HRGN__;
using HRGN = HRGN__*;

// What CombineRgn answers: the kind of region made, or the failure.
constexpr int ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;

// The one combination the system uses: the first region less the second.
constexpr int RGN_DIFF = 4;

// Corners in either order; null when out of handles.
HRGN CreateRectRgn(int left, int top, int right, int bottom);
// The destination (which may be either source) becomes the combination; ERROR for a handle that is not a
// region or a mode other than RGN_DIFF, which leaves the destination as it was.
int CombineRgn(HRGN destination, HRGN first, HRGN second, int mode);
BOOL FillRgn(HDC dc, HRGN region, HBRUSH brush);
