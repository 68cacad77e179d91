// Delivers a whole rectangle of a source, one locked piece per source tile: the rectangle is mapped to the
// source's tiles, each tile is locked, handed to the caller and unlocked again, and the grid is released.
// However the walk ends, by success, by an error or by an exception, no tile stays locked.
#pragma once

#include "filters/engine/TFunctionRef.h"
#include "platform/pravon/IPravonDataSource.h"

#include <cstddef>

// One piece of the rectangle: the part of it that lies in one source tile, with that tile's pixels, locked
// for the length of the call that receives it.
struct CSourcePart {
    BYTE* data = nullptr; // the tile's top-left pixel, to be read only
    CPravonRect tileRect; // the tile, in source coordinates
    CPravonRect part;     // the part of the rectangle inside the tile
    LONG rowBytes = 0;

    // The first byte of row y (source coordinates) of the tile.
    BYTE* Row(LONG y) const { return data + static_cast<std::ptrdiff_t>(y - tileRect.top) * rowBytes; }
};

// How a walk goes. By default tiles come row by row from the top, left to right, and every tile comes.
struct CSourceWalk {
    // From the last row up and from the last tile of a row to the first.
    bool backward = false;
    // Asked with each tile's rectangle before the tile is fetched; a tile it declines is neither locked
    // nor handed over, so a sparse read does not make tiles that give it nothing.
    TFunctionRef<bool(const PravonRect& tileRect)> wanted;
};

// Calls visit for every piece of rect (cut to the source) and stops at the first error, of the source or
// of visit, which is returned with the tile's unlock error after it. An empty rectangle visits nothing.
IPravonError* ForEachSourcePart(IPravonDataSource* source, const PravonRect& rect,
                                TFunctionRef<IPravonError*(const CSourcePart& piece)> visit,
                                const CSourceWalk& walk = {});
