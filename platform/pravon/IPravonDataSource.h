// The nodes of the imaging framework's graph: data sources deliver tiles, data destinations hear their
// sources' notifications, and a filter is both. The framework keeps each node's connections; see
// PravonGraph.h for connecting nodes and sending notifications.
#pragma once

#include "IPravonError.h"
#include "IPravonTile.h"
#include "PravonTypes.h"

#include <cstddef>
#include <vector>

class IPravonDataDestination;

class IPravonDataSource {
public:
    IPravonDataSource() = default;
    IPravonDataSource(const IPravonDataSource&) = delete;
    IPravonDataSource& operator=(const IPravonDataSource&) = delete;
    // Tells the destinations that the source is gone (kDestroyed), then disconnects it from all of them.
    virtual ~IPravonDataSource();

    // Framework checks before a destination is connected or disconnected: null, the node itself,
    // a connection that exists already (or not yet), and cycles are refused with PravonKind::kBadArgument.
    virtual IPravonError* PravonAddDataDestinationCheck(IPravonDataDestination* destination);
    virtual IPravonError* PravonRemoveDataDestinationCheck(IPravonDataDestination* destination);
    // Called after the framework changed the destination list.
    virtual IPravonError* PravonAddedDataDestination(IPravonDataDestination* destination) { return nullptr; }
    virtual IPravonError* PravonRemovedDataDestination(IPravonDataDestination* destination) {
        return nullptr;
    }

    virtual IPravonError* GetWidth(LONG* width) = 0;
    virtual IPravonError* GetHeight(LONG* height) = 0;
    virtual IPravonError* GetColorSpace(LONG* colorSpace) = 0;
    virtual IPravonError* GetResolution(double* resolution) = 0;
    virtual IPravonError* GetFlip(bool* flip) = 0;
    virtual IPravonError* GetRotation(double* rotation) = 0;
    virtual IPravonError* GetTileSize(LONG* tileSize) = 0;
    virtual IPravonError* GetPalette(PravonPalette* palette) = 0;

    virtual IPravonError* TileExists(const IPravonTileID& id, bool* exists) = 0;
    virtual IPravonError* TileExists(LONG column, LONG row, bool* exists) = 0;
    // The tile stays owned by its image; the pointer holds until the image's next size or colour-space
    // change, and while the tile is locked.
    virtual IPravonError* GetTile(const IPravonTileID& id, IPravonTile** tile) = 0;
    virtual IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) = 0;

    // Grid form: the cell of a grid from this source's MapRect; also gives the tile's rectangle, the
    // cell's part of the grid's rectangle and the row bytes. Each out pointer may be null.
    virtual IPravonError* LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data,
                                   PravonRect* tileRect, PravonRect* clippedRect, LONG* rowBytes) = 0;
    virtual IPravonError* LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) = 0;
    virtual IPravonError* LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) = 0;
    virtual IPravonError* UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) = 0;
    virtual IPravonError* UnlockTile(const IPravonTileID& id) = 0;
    virtual IPravonError* UnlockTile(LONG column, LONG row) = 0;

    // Bytes that GetData needs for a rectangle with rows packed to whole bytes.
    IPravonError* GetDataSize(const PravonRect& rect, std::size_t* bytes);
    // Copies the rectangle (cut to the image) into buffer, rowBytes apart, through the tile calls.
    IPravonError* GetData(const PravonRect& rect, void* buffer, std::size_t rowBytes);
    IPravonError* GetPixel(LONG x, LONG y, PravonPixel* pixel);

    virtual IPravonError* MapRect(const PravonRect& rect, IPravonTileGrid** grid) = 0;

    IPravonError* GetSize(LONG* width, LONG* height);
    // Row bytes of every tile: the tile side in pixels, in whole 32-bit words.
    IPravonError* GetRowBytes(LONG* rowBytes);
    IPravonError* GetTransform(bool* flip, double* angle);
    static LONG GetBitsPerPixel(LONG colorSpace) { return PravonColorSpace::BitsPerPixel(colorSpace); }
    static LONG RowBytesFor(LONG tileSize, LONG colorSpace);

private:
    friend class PravonGraph;
    std::vector<IPravonDataDestination*> m_pravonDestinations;
};

class IPravonDataDestination {
public:
    // Change records, the data of notification types 1 to 5.
    struct ChangeSize {
        LONG oldWidth = 0;
        LONG oldHeight = 0;
        LONG newWidth = 0;
        LONG newHeight = 0;
    };
    struct ChangeColorSpace {
        LONG oldColorSpace = 0;
        LONG newColorSpace = 0;
    };
    struct ChangeResolution {
        double oldResolution = 0;
        double newResolution = 0;
    };
    struct ChangeTransform {
        bool oldFlip = false;
        double oldRotation = 0;
        bool newFlip = false;
        double newRotation = 0;
        bool flag = false;
        LONG oldWidth = 0;
        LONG oldHeight = 0;
        LONG newWidth = 0;
        LONG newHeight = 0;
    };
    struct ChangePalette {
        PravonPalette oldPalette;
        PravonPalette newPalette;
    };

    IPravonDataDestination() = default;
    IPravonDataDestination(const IPravonDataDestination&) = delete;
    IPravonDataDestination& operator=(const IPravonDataDestination&) = delete;
    // Disconnects the destination from every source still connected.
    virtual ~IPravonDataDestination();

    virtual IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) = 0;
    virtual IPravonError* PravonAddDataSourceCheck(IPravonDataSource* source);
    virtual IPravonError* PravonRemoveDataSourceCheck(IPravonDataSource* source);
    virtual IPravonError* PravonAddedDataSource(IPravonDataSource* source) { return nullptr; }
    virtual IPravonError* PravonRemovedDataSource(IPravonDataSource* source) { return nullptr; }

private:
    friend class PravonGraph;
    std::vector<IPravonDataSource*> m_pravonSources;
};

// A node that is both: a data source whose output is made from its sources.
class IPravonFilter : public IPravonDataSource, public IPravonDataDestination {};
