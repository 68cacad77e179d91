#include "InvalidArea.h"

#include "platform/pravon/IPravonTile.h"

#include <algorithm>

namespace kvtest {

IPravonError* InvalidArea(IPravonDataSource* source, TestPlane* mask) {
    LONG width = 0;
    LONG height = 0;
    LONG tileSize = 0;
    if (IPravonError* e = source->GetSize(&width, &height))
        return e;
    if (IPravonError* e = source->GetTileSize(&tileSize))
        return e;
    *mask = TestPlane(width, height, PravonColorSpace::kGrey8);
    if (tileSize <= 0)
        return nullptr;
    for (LONG row = 0; row * tileSize < height; ++row) {
        for (LONG column = 0; column * tileSize < width; ++column) {
            bool exists = false;
            if (IPravonError* e = source->TileExists(column, row, &exists))
                return e;
            if (!exists)
                continue;
            IPravonTile* tile = nullptr;
            if (IPravonError* e = source->GetTile(column, row, &tile))
                return e;
            PravonRect invalid;
            if (!tile->IsInvalid(&invalid))
                continue;
            for (LONG y = invalid.top; y < invalid.bottom; ++y)
                for (LONG x = invalid.left; x < invalid.right; ++x)
                    mask->SetSample(x, y, 0, 1);
        }
    }
    return nullptr;
}

TestPlane RectMask(LONG width, LONG height, const PravonRect& rect) {
    TestPlane mask(width, height, PravonColorSpace::kGrey8);
    for (LONG y = std::max<LONG>(rect.top, 0); y < std::min(rect.bottom, height); ++y)
        for (LONG x = std::max<LONG>(rect.left, 0); x < std::min(rect.right, width); ++x)
            mask.SetSample(x, y, 0, 1);
    return mask;
}

} // namespace kvtest
