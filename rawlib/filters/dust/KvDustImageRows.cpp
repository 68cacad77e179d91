#include "KvDustImageRows.h"

#include "KvDustFormat.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace KvDust {

IPravonError* PutRect(IPravonImage* image, const PravonRect& rect, const BYTE* data, std::size_t stride) {
    LONG colorSpace = 0;
    if (IPravonError* e = image->GetColorSpace(&colorSpace))
        return e;
    const LONG bits = PravonColorSpace::BitsPerPixel(colorSpace);
    if (bits <= 0 || bits % 8 != 0)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace, "rows need whole-byte pixels");
    const std::size_t pixelBytes = static_cast<std::size_t>(bits / 8);
    IPravonTileGrid* grid = nullptr;
    if (IPravonError* e = image->MapRect(rect, &grid))
        return e;
    IPravonError* error = nullptr;
    for (LONG r = 0; !error && r < grid->GetRowCount(); ++r) {
        for (LONG c = 0; !error && c < grid->GetColumnCount(); ++c) {
            void* tileData = nullptr;
            PravonRect tileRect;
            PravonRect part;
            LONG rowBytes = 0;
            if ((error = image->LockTile(grid, c, r, &tileData, &tileRect, &part, &rowBytes)))
                break;
            const std::size_t bytes = static_cast<std::size_t>(part.right - part.left) * pixelBytes;
            for (LONG y = part.top; y < part.bottom; ++y) {
                const BYTE* from = data + static_cast<std::size_t>(y - rect.top) * stride +
                                   static_cast<std::size_t>(part.left - rect.left) * pixelBytes;
                BYTE* to = static_cast<BYTE*>(tileData) +
                           static_cast<std::size_t>(y - tileRect.top) * rowBytes +
                           static_cast<std::size_t>(part.left - tileRect.left) * pixelBytes;
                std::memcpy(to, from, bytes);
            }
            IPravonTile* tile = nullptr;
            if (!(error = grid->GetTile(c, r, &tile)))
                tile->SetValid();
            error = IPravonError::Chain(error, image->UnlockTile(grid, c, r));
        }
    }
    grid->Release();
    return error;
}

IPravonError* GetClampedRect(IPravonDataSource* source, const PravonRect& rect, BYTE* out,
                             std::size_t stride) {
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = source->GetSize(&width, &height))
        return e;
    if (width <= 0 || height <= 0)
        return PravonFail(kComponent, PravonKind::kNoSource, "the image to read is empty");
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return nullptr;
    const auto clampX = [&](LONG x) { return std::clamp(x, LONG{0}, width - 1); };
    const auto clampY = [&](LONG y) { return std::clamp(y, LONG{0}, height - 1); };
    const CPravonRect inside(clampX(rect.left), clampY(rect.top), clampX(rect.right - 1) + 1,
                             clampY(rect.bottom - 1) + 1);
    const std::size_t insideWidth = static_cast<std::size_t>(inside.Width());
    std::vector<BYTE> rows;
    try {
        rows.resize(insideWidth * static_cast<std::size_t>(inside.Height()));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the rows to read");
    }
    if (IPravonError* e = source->GetData(inside, rows.data(), insideWidth))
        return e;
    // Columns left of the source repeat its first pixel, those right of it its last.
    const LONG leftPad = std::min(inside.left - rect.left, rect.right - rect.left);
    const LONG rightStart = std::max(inside.right, rect.left);
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        const BYTE* from = rows.data() + static_cast<std::size_t>(clampY(y) - inside.top) * insideWidth;
        BYTE* to = out + static_cast<std::size_t>(y - rect.top) * stride;
        std::memset(to, from[0], static_cast<std::size_t>(std::max(leftPad, LONG{0})));
        const LONG copyLeft = std::max(rect.left, inside.left);
        const LONG copyRight = std::min(rect.right, inside.right);
        if (copyRight > copyLeft)
            std::memcpy(to + (copyLeft - rect.left), from + (copyLeft - inside.left),
                        static_cast<std::size_t>(copyRight - copyLeft));
        if (rect.right > rightStart)
            std::memset(to + (rightStart - rect.left), from[insideWidth - 1],
                        static_cast<std::size_t>(rect.right - rightStart));
    }
    return nullptr;
}

} // namespace KvDust
