// Regions as lists of disjoint rectangles: a difference cuts each rectangle of the first region into the
// bands left around each rectangle of the second.
#include "WinRegions.h"

#include "WinGdiDraw.h"
#include "WinGdiInternal.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

void Keep(std::vector<RECT>& out, const RECT& r) {
    if (!IsEmpty(r))
        out.push_back(r);
}

// The parts of the rectangle outside the hole: a band above, a band below, and the two sides between.
void Subtract(const RECT& r, const RECT& hole, std::vector<RECT>& out) {
    const RECT cut{std::max(r.left, hole.left), std::max(r.top, hole.top), std::min(r.right, hole.right),
                   std::min(r.bottom, hole.bottom)};
    if (IsEmpty(cut)) {
        out.push_back(r);
        return;
    }
    Keep(out, RECT{r.left, r.top, r.right, cut.top});
    Keep(out, RECT{r.left, cut.bottom, r.right, r.bottom});
    Keep(out, RECT{r.left, cut.top, cut.left, cut.bottom});
    Keep(out, RECT{cut.right, cut.top, r.right, cut.bottom});
}

HRGN RegionHandle(HGDIOBJ object) {
    return static_cast<HRGN>(object);
}

} // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
    std::vector<RECT> rects;
    Keep(rects, RECT{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)});
    return RegionHandle(WinGdi::CreateRegionObject(std::move(rects)));
}

int CombineRgn(HRGN destination, HRGN first, HRGN second, int mode) {
    std::vector<RECT> rest, holes, unused;
    if (mode != RGN_DIFF || !WinGdi::RegionRectsOf(destination, unused) || !WinGdi::RegionRectsOf(first, rest) ||
        !WinGdi::RegionRectsOf(second, holes))
        return ERROR;
    for (const RECT& hole : holes) {
        std::vector<RECT> cut;
        for (const RECT& r : rest)
            Subtract(r, hole, cut);
        rest = std::move(cut);
    }
    const int kind = rest.empty() ? NULLREGION : rest.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
    return WinGdi::SetRegionRects(destination, std::move(rest)) ? kind : ERROR;
}

BOOL FillRgn(HDC dc, HRGN region, HBRUSH brush) {
    std::vector<RECT> rects;
    if (!WinGdi::RegionRectsOf(region, rects))
        return FALSE;
    if (rects.empty())
        return WinGdi::SurfaceOfDC(dc) ? TRUE : FALSE;
    for (const RECT& r : rects)
        if (!FillRect(dc, &r, brush))
            return FALSE;
    return TRUE;
}
