#include "CPravonTileGrid.h"

#include "platform/win/FourCC.h"

#include <new>

namespace {
constexpr LONG kComponent = FourCC("PRVN");
}

IPravonError* CPravonTileGrid::Create(IPravonDataSource* source, const PravonRect& rect,
                                      IPravonTileGrid** out) {
    if (!source || !out)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a grid needs a source and an out pointer");
    *out = nullptr;
    LONG width = 0;
    LONG height = 0;
    LONG tileSize = 0;
    if (IPravonError* e = source->GetSize(&width, &height))
        return e;
    if (IPravonError* e = source->GetTileSize(&tileSize))
        return e;
    auto* grid = new (std::nothrow) CPravonTileGrid();
    if (!grid)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a tile grid");
    grid->m_source = source;
    grid->m_width = width;
    grid->m_height = height;
    grid->m_tileSize = tileSize;
    grid->m_rect = CPravonRect(rect).Intersect(CPravonRect(0, 0, width, height));
    if (!grid->m_rect.Empty() && tileSize > 0) {
        grid->m_firstColumn = grid->m_rect.left / tileSize;
        grid->m_firstRow = grid->m_rect.top / tileSize;
        grid->m_columns = (grid->m_rect.right - 1) / tileSize - grid->m_firstColumn + 1;
        grid->m_rows = (grid->m_rect.bottom - 1) / tileSize - grid->m_firstRow + 1;
    }
    *out = grid;
    return nullptr;
}

IPravonError* CPravonTileGrid::ToTile(LONG column, LONG row, LONG* tileColumn, LONG* tileRow) const {
    if (column < 0 || row < 0 || column >= m_columns || row >= m_rows)
        return PravonFail(kComponent, PravonKind::kBadArgument, "cell outside the grid");
    *tileColumn = m_firstColumn + column;
    *tileRow = m_firstRow + row;
    return nullptr;
}

IPravonError* CPravonTileGrid::TileExists(LONG column, LONG row, bool* exists) {
    LONG c = 0;
    LONG r = 0;
    if (IPravonError* e = ToTile(column, row, &c, &r))
        return e;
    return m_source->TileExists(c, r, exists);
}

IPravonError* CPravonTileGrid::GetTile(LONG column, LONG row, IPravonTile** tile) {
    LONG c = 0;
    LONG r = 0;
    if (IPravonError* e = ToTile(column, row, &c, &r))
        return e;
    return m_source->GetTile(c, r, tile);
}

IPravonError* CPravonTileGrid::GetTileRect(LONG column, LONG row, PravonRect* rect) {
    LONG c = 0;
    LONG r = 0;
    if (IPravonError* e = ToTile(column, row, &c, &r))
        return e;
    const std::int64_t left = static_cast<std::int64_t>(c) * m_tileSize;
    const std::int64_t top = static_cast<std::int64_t>(r) * m_tileSize;
    *rect = CPravonRect(static_cast<LONG>(left), static_cast<LONG>(top),
                        static_cast<LONG>(std::min<std::int64_t>(left + m_tileSize, m_width)),
                        static_cast<LONG>(std::min<std::int64_t>(top + m_tileSize, m_height)));
    return nullptr;
}

IPravonError* CPravonTileGrid::GetClippedRect(LONG column, LONG row, PravonRect* rect) {
    PravonRect whole;
    if (IPravonError* e = GetTileRect(column, row, &whole))
        return e;
    *rect = m_rect.Intersect(whole);
    return nullptr;
}
