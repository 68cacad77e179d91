#include "KvSourceRow.h"

#include "platform/pravon/IPravonError.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

IPravonError* ReadSourceRow(CSourceTileCursor& cursor, LONG x0, LONG count, LONG y, BYTE* out) {
    if (IPravonError* e = cursor.MoveTo(x0, y))
        return e;
    const std::size_t pixel = static_cast<std::size_t>(cursor.GetBytesPerPixel());
    LONG done = 0;
    while (done < count) {
        if (!cursor.GetPtr())
            return PravonFail(0, PravonKind::kInvalidState, "the row reaches where the source has no pixel");
        // Outside the image every column is mapped on its own; inside, a run goes to the tile's edge.
        const LONG run = cursor.IsOutsideX() ? 1 : std::min(count - done, cursor.GetPixelsRight() + 1);
        std::memcpy(out + static_cast<std::size_t>(done) * pixel, cursor.GetPtr(),
                    static_cast<std::size_t>(run) * pixel);
        done += run;
        if (done < count)
            if (IPravonError* e = cursor.Advance(run))
                return e;
    }
    return nullptr;
}

LONG RowCursorCapacity(IPravonDataSource* source, LONG width, LONG smallest) {
    LONG tileSize = 0;
    if (PravonErrorPtr(source->GetTileSize(&tileSize)) || tileSize < 1)
        return smallest;
    // A row that starts inside a tile touches one tile more than its width fills.
    const std::int64_t touched = (static_cast<std::int64_t>(width) + tileSize - 1) / tileSize + 1;
    return static_cast<LONG>(std::clamp<std::int64_t>(touched, smallest, 4096));
}
