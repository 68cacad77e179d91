#include "PullAll.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>

namespace kvtest {
namespace {

void CopyFromTile(const std::uint8_t* tileData, LONG tileRowBytes, const PravonRect& tileRect,
                  const PravonRect& part, TestPlane* out) {
    const LONG bpp = PravonColorSpace::BitsPerPixel(out->colorSpace);
    for (LONG y = part.top; y < part.bottom; ++y) {
        const std::uint8_t* src = tileData + static_cast<std::size_t>(y - tileRect.top) * tileRowBytes;
        if (bpp % 8 == 0) {
            std::memcpy(out->Row(y) + static_cast<std::size_t>(part.left) * (bpp / 8),
                        src + static_cast<std::size_t>(part.left - tileRect.left) * (bpp / 8),
                        static_cast<std::size_t>(part.right - part.left) * (bpp / 8));
        } else {
            for (LONG x = part.left; x < part.right; ++x) {
                const std::size_t bit = static_cast<std::size_t>(x - tileRect.left) * bpp;
                const ULONG v = (src[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                out->SetSample(x, y, 0, v);
            }
        }
    }
}

IPravonError* PullCells(IPravonDataSource* source, const PravonRect& rect, TestPlane* out, PullOrder order,
                        ULONG seed, bool useGrid) {
    IPravonTileGrid* grid = nullptr;
    if (IPravonError* e = source->MapRect(rect, &grid))
        return e;
    std::vector<std::pair<LONG, LONG>> cells;
    for (LONG r = 0; r < grid->GetRowCount(); ++r)
        for (LONG c = 0; c < grid->GetColumnCount(); ++c)
            cells.emplace_back(c, r);
    if (order == PullOrder::RandomOrder) {
        std::mt19937 random(seed);
        std::shuffle(cells.begin(), cells.end(), random);
    }
    IPravonError* err = nullptr;
    for (auto [c, r] : cells) {
        void* data = nullptr;
        PravonRect tileRect;
        PravonRect clip;
        LONG rowBytes = 0;
        if (useGrid) {
            if ((err = source->LockTile(grid, c, r, &data, &tileRect, &clip, &rowBytes)))
                break;
            CopyFromTile(static_cast<const std::uint8_t*>(data), rowBytes, tileRect, clip, out);
            if ((err = source->UnlockTile(grid, c, r)))
                break;
        } else {
            const LONG column = grid->GetFirstColumn() + c;
            const LONG row = grid->GetFirstRow() + r;
            if ((err = source->LockTile(column, row, &data, nullptr)))
                break;
            // Asked after the lock: generation may have replaced the tile.
            IPravonTile* tile = nullptr;
            if ((err = source->GetTile(column, row, &tile)) == nullptr &&
                (err = grid->GetClippedRect(c, r, &clip)) == nullptr) {
                tileRect = tile->GetRect();
                rowBytes = tile->GetRowBytes();
                CopyFromTile(static_cast<const std::uint8_t*>(data), rowBytes, tileRect, clip, out);
            }
            err = IPravonError::Chain(err, source->UnlockTile(column, row));
            if (err)
                break;
        }
    }
    grid->Release();
    return err;
}

} // namespace

IPravonError* PullAll(IPravonDataSource* source, TestPlane* out, PullOrder order, ULONG seed, bool useGrid) {
    LONG width = 0;
    LONG height = 0;
    LONG colorSpace = 0;
    if (IPravonError* e = source->GetSize(&width, &height))
        return e;
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return e;
    *out = TestPlane(width, height, colorSpace);
    return PullCells(source, CPravonRect(0, 0, width, height), out, order, seed, useGrid);
}

IPravonError* PullRect(IPravonDataSource* source, const PravonRect& rect, TestPlane* out) {
    return PullCells(source, rect, out, PullOrder::TileOrder, 0, false);
}

} // namespace kvtest
