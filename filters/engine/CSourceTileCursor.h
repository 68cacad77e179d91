// Reads a filter's source as one plane across its tiles: a few source tiles stay locked, most recently
// used first, the current pixel is a pointer that moves by additions while it stays in the front tile, and
// positions outside the image are mapped back inside by an edge mode per axis.
#pragma once

#include "platform/pravon/IPravonDataSource.h"

#include <cstdint>
#include <memory>

// Edge modes, per axis:
//   1   clamps to the first or last pixel (the initial mode);
//   d>1 maps to the nearest inside coordinate that differs by a multiple of d, so a phase of period d
//       survives (mode 2 keeps a 2 x 2 mosaic's colours); where the axis is shorter than d the result is
//       clamped;
//   -1  mirrors without repeating the edge pixel (-1 reads 1, size reads size - 2), folded with the
//       period 2 * size - 2, so an axis of one pixel reads that pixel everywhere;
//   0   leaves the coordinate alone: a position outside the image has no pixel pointer.
// An axis of size 0 has no pixel: mode 0 gives no pointer, the other modes refuse the position with kind
// 1013. Either way no tile is fetched.
//
// Pixels are whole bytes: sources of fewer than 8 bits per pixel (or a depth that is not a whole number of
// bytes) are refused with PravonKind::kUnsupportedColorSpace on the first lock.
//
// Init, any number of moves, then UnlockAll (the destructor releases whatever is still held). Errors of
// the source leave the cursor as it was before the failing call: position, pointer and held tiles.
class CSourceTileCursor {
public:
    static constexpr LONG kEdgeNone = 0;
    static constexpr LONG kEdgeClamp = 1;
    static constexpr LONG kEdgeMirror = -1;

    CSourceTileCursor() = default;
    CSourceTileCursor(IPravonDataSource* source, LONG capacity) { Init(source, capacity); }
    CSourceTileCursor(const CSourceTileCursor&) = delete;
    CSourceTileCursor& operator=(const CSourceTileCursor&) = delete;
    ~CSourceTileCursor() { UnlockAll(); }

    // Releases what an earlier use still holds, then starts over on source: at most capacity tiles held
    // (at least 1), position (-1, -1), edge modes 1 and 1; nothing is read before the first lock.
    void Init(IPravonDataSource* source, LONG capacity);
    // Modes below -1 are refused with PravonKind::kOutOfRange and change nothing.
    IPravonError* SetEdgeModes(LONG modeX, LONG modeY);
    // The coordinate inside an axis of size pixels that v reads under an edge mode, as LockAt maps it, for
    // readers that map the ends of a row or column once instead of pixel by pixel. kEdgeNone has no pixel
    // to give outside and clamps here; an axis of size 0 gives 0.
    static LONG MapInside(LONG v, LONG size, LONG mode);

    // Positions the cursor at (x, y): maps the position by the edge modes, finds the held tile that
    // contains it or fetches and locks it, releasing the least recently used tile when all are taken.
    IPravonError* LockAt(LONG x, LONG y);
    // Moves by pointer arithmetic when neither coordinate was mapped and (x, y) lies in the front tile.
    IPravonError* MoveTo(LONG x, LONG y);
    // x + 1, x + n, x - 1, y + 1, y - 1: by pointer arithmetic while the new position stays in the front
    // tile on the moving axis, else through LockAt. An axis that was mapped has no run inside the tile,
    // so every step along it maps again; steps along the other axis stay fast.
    IPravonError* Next();
    IPravonError* Advance(LONG n);
    IPravonError* PrevX();
    IPravonError* NextY();
    IPravonError* PrevY();
    // x + n for either sign of n; fast inside the front tile unless x was mapped.
    IPravonError* MoveBy(LONG n);
    // Releases every held tile, last entry first; errors of the releases are discarded.
    void UnlockAll();

    // The current pixel; null before the first lock and where mode 0 found no pixel.
    BYTE* GetPtr() const { return m_pixel; }
    // The position as requested, also when outside the image.
    LONG GetX() const { return m_x; }
    LONG GetY() const { return m_y; }
    // Whether the last lock found that coordinate outside the image.
    bool IsOutsideX() const { return m_outsideX; }
    bool IsOutsideY() const { return m_outsideY; }
    // Pixels of the front tile left and right of the current one, rows above and below; 0 on an axis that
    // is outside the image.
    LONG GetPixelsLeft() const { return m_runLeft; }
    LONG GetPixelsRight() const { return m_runRight; }
    LONG GetRowsAbove() const { return m_runAbove; }
    LONG GetRowsBelow() const { return m_runBelow; }

    IPravonDataSource* GetSource() const { return m_source; }
    LONG GetCapacity() const { return m_capacity; }
    LONG GetHeldCount() const { return m_count; }
    bool IsPositioned() const { return m_positioned; }
    LONG GetEdgeModeX() const { return m_edgeX; }
    LONG GetEdgeModeY() const { return m_edgeY; }
    // Read from the source on the first lock.
    LONG GetColorSpace() const { return m_colorSpace; }
    LONG GetBitsPerPixel() const { return m_bitsPerPixel; }
    LONG GetBytesPerPixel() const { return m_bytesPerPixel; }
    LONG GetRowStride() const { return m_stride; }
    LONG GetTileSize() const { return m_tileSize; }
    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    // How many positions went through LockAt rather than a fast move, for tests and diagnostics.
    std::uint64_t GetLockAtCount() const { return m_lockAtCount; }

private:
    struct Entry {
        IPravonTile* tile = nullptr;
        IPravonTileID id;
        BYTE* data = nullptr;
        LONG left = 0;
        LONG top = 0;
        LONG right = 0;
        LONG bottom = 0;
    };

    IPravonError* ReadGeometry();
    IPravonError* Step(std::int64_t x, std::int64_t y);
    void Place(const Entry& entry, LONG x, LONG y, LONG mappedX, LONG mappedY, bool outsideX, bool outsideY);
    void PlaceNowhere(LONG x, LONG y, bool outsideX, bool outsideY);
    void MoveFastX(LONG n) {
        m_x += n;
        m_runLeft += n;
        m_runRight -= n;
        m_pixel += static_cast<std::ptrdiff_t>(n) * m_bytesPerPixel;
    }
    void MoveFastY(LONG n) {
        m_y += n;
        m_runAbove += n;
        m_runBelow -= n;
        m_pixel += static_cast<std::ptrdiff_t>(n) * m_stride;
    }

    IPravonDataSource* m_source = nullptr;
    std::unique_ptr<Entry[]> m_entries;
    BYTE* m_pixel = nullptr;
    LONG m_bitsPerPixel = 0;
    LONG m_bytesPerPixel = 0;
    LONG m_stride = 0;
    LONG m_runLeft = 0;
    LONG m_runAbove = 0;
    LONG m_runRight = 0;
    LONG m_runBelow = 0;
    LONG m_capacity = 0;
    LONG m_colorSpace = 0;
    LONG m_rowBytes = 0;
    LONG m_tileSize = 0;
    bool m_geometryKnown = false;
    bool m_positioned = false;
    LONG m_count = 0;
    LONG m_x = -1;
    LONG m_y = -1;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_edgeX = kEdgeClamp;
    LONG m_edgeY = kEdgeClamp;
    bool m_outsideX = false;
    bool m_outsideY = false;
    std::uint64_t m_lockAtCount = 0;
};
