// The grid of a source's tiles under a rectangle, for any source with square tiles.
#pragma once

#include "IPravonDataSource.h"

class CPravonTileGrid final : public IPravonTileGrid {
public:
    // Cuts rect to the source's size; an empty result gives a grid of 0 x 0 cells.
    static IPravonError* Create(IPravonDataSource* source, const PravonRect& rect, IPravonTileGrid** grid);

    LONG GetColumnCount() const override { return m_columns; }
    LONG GetRowCount() const override { return m_rows; }
    LONG GetFirstColumn() const override { return m_firstColumn; }
    LONG GetFirstRow() const override { return m_firstRow; }
    IPravonDataSource* GetSource() const override { return m_source; }

    IPravonError* TileExists(LONG column, LONG row, bool* exists) override;
    IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) override;
    IPravonError* GetTileRect(LONG column, LONG row, PravonRect* rect) override;
    IPravonError* GetClippedRect(LONG column, LONG row, PravonRect* rect) override;
    void Release() override { delete this; }

    // Column and row of the source's tile under a cell; an error for a cell outside the grid.
    IPravonError* ToTile(LONG column, LONG row, LONG* tileColumn, LONG* tileRow) const;

private:
    CPravonTileGrid() = default;
    ~CPravonTileGrid() override = default;

    IPravonDataSource* m_source = nullptr;
    CPravonRect m_rect;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_tileSize = 0;
    LONG m_firstColumn = 0;
    LONG m_firstRow = 0;
    LONG m_columns = 0;
    LONG m_rows = 0;
};
