// The framework's image: tiles in memory, made on first use, with counted locks and an invalid area per
// tile. Tile memory comes from a pool (the manager's, else the image's own) and goes back to it; it starts
// zero-filled, unless the image's generator writes every pixel of a tile's invalid area, in which case a
// tile first locked wholly invalid gets its memory as the pool has it. Memory of a locked tile is never
// freed under its holder: a size or colour-space change retires it, and it goes at its last unlock.
#pragma once

#include "CPravonTilePool.h"
#include "IPravonImage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CPravonMemoryImageRegistry;

class CPravonMemoryImage final : public IPravonImage {
public:
    static constexpr LONG kMaxTileSize = 16384;
    static constexpr std::int64_t kMaxTileCells = std::int64_t{1} << 24;

    // The new image holds one reference. tileSize must be in 1..kMaxTileSize. Without a pool the image
    // keeps one of its own, which serves the tiles of its next layouts.
    static IPravonError* Create(LONG tileSize, LONG usage, IPravonImage** image,
                                std::shared_ptr<CPravonMemoryImageRegistry> registry = nullptr,
                                std::shared_ptr<CPravonTilePool> pool = nullptr);

    IPravonError* GetWidth(LONG* width) override;
    IPravonError* GetHeight(LONG* height) override;
    IPravonError* GetColorSpace(LONG* colorSpace) override;
    IPravonError* GetResolution(double* resolution) override;
    IPravonError* GetFlip(bool* flip) override;
    IPravonError* GetRotation(double* rotation) override;
    IPravonError* GetTileSize(LONG* tileSize) override;
    IPravonError* GetPalette(PravonPalette* palette) override;

    IPravonError* TileExists(const IPravonTileID& id, bool* exists) override;
    IPravonError* TileExists(LONG column, LONG row, bool* exists) override;
    IPravonError* GetTile(const IPravonTileID& id, IPravonTile** tile) override;
    IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) override;
    IPravonError* LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data, PravonRect* tileRect,
                           PravonRect* clippedRect, LONG* rowBytes) override;
    IPravonError* LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) override;
    IPravonError* UnlockTile(const IPravonTileID& id) override;
    IPravonError* UnlockTile(LONG column, LONG row) override;
    IPravonError* MapRect(const PravonRect& rect, IPravonTileGrid** grid) override;

    IPravonError* SetSize(LONG width, LONG height) override;
    IPravonError* SetColorSpace(LONG colorSpace) override;
    IPravonError* SetResolution(double resolution) override;
    IPravonError* SetTransform(bool flip, double angle, bool relative) override;
    IPravonError* SetPalette(const PravonPalette& palette) override;
    IPravonError* SetUsage(LONG usage) override;
    IPravonError* GetUsage(LONG* usage) override;
    IPravonError* SetGeneratorWritesInvalidArea(bool writes) override;
    bool GetGeneratorWritesInvalidArea() const override { return m_generatorWrites; }
    // Negative lines give PravonKind::kOutOfRange. A lowered limit lets tiles go as the next ones are made.
    IPravonError* SetKeptTileLines(LONG lines) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // For tests and diagnostics.
    LONG GetColumnCount() const { return m_columns; }
    LONG GetRowCount() const { return m_rows; }
    LONG GetLockCount() const;           // locks held on all tiles, retired ones included
    std::size_t GetHeldTileCount() const; // tiles of the current layout that hold memory
    std::size_t GetTileCount() const;    // tiles of the current layout that exist
    std::size_t GetRetiredCount() const; // tiles of earlier layouts still locked

    // Whether the colour space can be stored: 1, 2 or 4 bits with one channel, or 8, 16 or 32 bits
    // with 1 to 8 channels.
    static bool IsStorableColorSpace(LONG colorSpace);

private:
    class CTile;
    friend class CTile;

    CPravonMemoryImage(LONG tileSize, LONG usage, std::shared_ptr<CPravonMemoryImageRegistry> registry,
                       std::shared_ptr<CPravonTilePool> pool);
    ~CPravonMemoryImage() override;

    IPravonError* Relayout(LONG width, LONG height, LONG colorSpace);
    IPravonError* CheckCell(LONG column, LONG row) const;
    IPravonError* CheckGrid(IPravonTileGrid* grid, LONG column, LONG row, LONG* tileColumn, LONG* tileRow);
    CTile* FindRetired(LONG column, LONG row, const ULONG* generation) const;
    void DropRetired(CTile* tile);
    // A tile of the current layout has just been given memory: it is noted, and while more tiles than the
    // limit hold memory, the least recently locked unlocked one gives its memory back.
    void Held(CTile* tile);

    std::atomic<ULONG> m_references{1};
    std::shared_ptr<CPravonMemoryImageRegistry> m_registry;
    std::shared_ptr<CPravonTilePool> m_pool; // outlives the tiles, which give their memory back to it
    LONG m_tileSize;
    LONG m_usage;
    bool m_generatorWrites = false;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_colorSpace = 0;
    double m_resolution = 72.0;
    bool m_flip = false;
    double m_rotation = 0;
    PravonPalette m_palette;
    LONG m_columns = 0;
    LONG m_rows = 0;
    LONG m_rowBytes = 0;
    ULONG m_generation = 1;
    std::vector<std::unique_ptr<CTile>> m_tiles;   // columns x rows, row by row
    std::vector<std::unique_ptr<CTile>> m_retired; // locked tiles of earlier layouts
    LONG m_keptLines = 0;                          // 0: every tile keeps its memory
    std::vector<CTile*> m_held;                    // tiles of the current layout with memory, when limited
    std::uint64_t m_lockClock = 0;                 // counts locks, to find the least recently locked tile
};
