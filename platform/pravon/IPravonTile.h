// Tiles of an image: square blocks of pixels that are created, invalidated, filled and locked one by one,
// their ids, and grids of the tiles under a rectangle.
#pragma once

#include "IPravonError.h"
#include "PravonTypes.h"

#include <memory>

class IPravonImage;
class IPravonDataSource;

// Names one tile of one image. The generation tells tiles of an earlier layout (before a size or
// colour-space change) from the current ones, so a stale id never reaches a tile it did not name.
struct IPravonTileID {
    const void* image = nullptr;
    LONG column = 0;
    LONG row = 0;
    ULONG generation = 0;

    bool operator==(const IPravonTileID&) const = default;
};

class IPravonTile {
public:
    virtual ~IPravonTile() = default;

    virtual IPravonTileID GetID() const = 0;
    // The tile's rectangle in image coordinates, cut to the image at the right and bottom edges.
    virtual PravonRect GetRect() const = 0;
    // Bytes from one row of the tile's memory to the next; the same for every tile of an image.
    virtual LONG GetRowBytes() const = 0;
    virtual IPravonImage* GetImage() const = 0;

    virtual bool IsWhollyInvalid() const = 0;
    // Whether any part is invalid; rect (may be null) receives the bounding box of the invalid parts.
    virtual bool IsInvalid(PravonRect* rect) const = 0;

    // Counted and nestable. data receives the pixels of the tile's top-left corner; header (may be null)
    // the tile's own bitmap header, which the caller may fill. Locking changes no validity.
    virtual IPravonError* Lock(void** data, BITMAPINFOHEADER** header) = 0;
    virtual IPravonError* Unlock() = 0;
    virtual LONG GetLockCount() const = 0;

    virtual void Invalidate() = 0;
    virtual void Invalidate(const PravonRect& rect) = 0;
    // After the invalid part was filled.
    virtual void Validate() = 0;
    virtual void SetValid() = 0;
};

// The tiles under a rectangle, as columns and rows of cells. Owned by the caller, who calls Release.
class IPravonTileGrid {
public:
    virtual LONG GetColumnCount() const = 0;
    virtual LONG GetRowCount() const = 0;
    // Column and row of cell (0, 0) in the image's tile layout.
    virtual LONG GetFirstColumn() const = 0;
    virtual LONG GetFirstRow() const = 0;
    virtual IPravonDataSource* GetSource() const = 0;

    virtual IPravonError* TileExists(LONG column, LONG row, bool* exists) = 0;
    virtual IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) = 0;
    // The cell's whole tile rectangle (cut to the image) and the part of the asked rectangle inside it.
    virtual IPravonError* GetTileRect(LONG column, LONG row, PravonRect* rect) = 0;
    virtual IPravonError* GetClippedRect(LONG column, LONG row, PravonRect* rect) = 0;
    virtual void Release() = 0;

protected:
    virtual ~IPravonTileGrid() = default;
};

struct PravonTileGridReleaser {
    void operator()(IPravonTileGrid* grid) const {
        if (grid)
            grid->Release();
    }
};

// Owner of a grid inside our own code.
using PravonTileGridPtr = std::unique_ptr<IPravonTileGrid, PravonTileGridReleaser>;
