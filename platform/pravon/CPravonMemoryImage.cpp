#include "CPravonMemoryImage.h"

#include "CPravonMemoryManager.h"
#include "CPravonTileGrid.h"
#include "platform/win/FourCC.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {
constexpr LONG kComponent = FourCC("PRVN");

double NormaliseAngle(double a) {
    return std::fmod(360.0 - std::fmod(360.0 - a, 360.0), 360.0);
}
} // namespace

class CPravonMemoryImage::CTile final : public IPravonTile {
public:
    CTile(CPravonMemoryImage* image, LONG column, LONG row)
        : m_image(image), m_pool(image->m_pool.get()), m_column(column), m_row(row),
          m_generation(image->m_generation), m_rowBytes(image->m_rowBytes),
          m_bytes(static_cast<std::size_t>(image->m_rowBytes) * static_cast<std::size_t>(image->m_tileSize)) {
        const std::int64_t ts = image->m_tileSize;
        m_rect = CPravonRect(static_cast<LONG>(column * ts), static_cast<LONG>(row * ts),
                             static_cast<LONG>(std::min<std::int64_t>((column + 1) * ts, image->m_width)),
                             static_cast<LONG>(std::min<std::int64_t>((row + 1) * ts, image->m_height)));
        m_invalid = m_rect;
    }

    ~CTile() override { m_pool->Give(std::move(m_data), m_bytes); }

    IPravonTileID GetID() const override { return IPravonTileID{m_image, m_column, m_row, m_generation}; }
    PravonRect GetRect() const override { return m_rect; }
    LONG GetRowBytes() const override { return m_rowBytes; }
    IPravonImage* GetImage() const override { return m_image; }

    bool IsWhollyInvalid() const override { return m_invalid == m_rect; }
    bool IsInvalid(PravonRect* rect) const override {
        if (rect)
            *rect = m_invalid;
        return !m_invalid.Empty();
    }

    IPravonError* Lock(void** data, BITMAPINFOHEADER** header) override {
        bool taken = false;
        if (!m_data) {
            if (m_bytes == 0)
                return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                                  "the image has no colour space");
            // A wholly invalid tile of a generator that writes its whole invalid area is written before
            // anyone reads it; every other tile starts from zeros, never from another tile's pixels.
            const bool unwritten = m_image->m_generatorWrites && IsWhollyInvalid();
            // Rows below the image's bottom edge are never written.
            m_data = m_pool->Take(
                m_bytes, unwritten ? CPravonTilePool::Start::kUnwritten : CPravonTilePool::Start::kZeroed,
                static_cast<std::size_t>(m_rowBytes) * (m_rect.bottom - m_rect.top));
            if (!m_data)
                return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a tile");
            taken = true;
        }
        m_lastLock = ++m_image->m_lockClock;
        ++m_locks;
        // Noted once it is locked, so that the tiles that give way for it are others.
        if (taken && !m_retired)
            m_image->Held(this);
        if (data)
            *data = m_data.get();
        if (header)
            *header = &m_header;
        return nullptr;
    }

    IPravonError* Unlock() override {
        if (m_locks <= 0)
            return PravonFail(kComponent, PravonKind::kBadArgument, "unlocking a tile that is not locked");
        if (--m_locks == 0 && m_retired)
            m_image->DropRetired(this); // deletes this tile
        return nullptr;
    }

    LONG GetLockCount() const override { return m_locks; }

    void Invalidate() override { m_invalid = m_rect; }
    void Invalidate(const PravonRect& rect) override { m_invalid = m_invalid.Union(m_rect.Intersect(rect)); }
    void Validate() override { m_invalid = CPravonRect(); }
    void SetValid() override { m_invalid = CPravonRect(); }

    LONG Column() const { return m_column; }
    LONG Row() const { return m_row; }
    ULONG Generation() const { return m_generation; }
    void Retire() { m_retired = true; }
    bool HasMemory() const { return m_data != nullptr; }
    std::uint64_t LastLock() const { return m_lastLock; }
    // The memory goes back to the pool and the pixels are to be made again.
    void Forget() {
        m_pool->Give(std::move(m_data), m_bytes);
        m_invalid = m_rect;
    }

private:
    CPravonMemoryImage* m_image;
    CPravonTilePool* m_pool;
    LONG m_column;
    LONG m_row;
    ULONG m_generation;
    LONG m_rowBytes;
    std::size_t m_bytes;
    CPravonRect m_rect;
    CPravonRect m_invalid;
    CPravonTilePool::Buffer m_data;
    LONG m_locks = 0;
    std::uint64_t m_lastLock = 0;
    bool m_retired = false;
    BITMAPINFOHEADER m_header{};
};

IPravonError* CPravonMemoryImage::Create(LONG tileSize, LONG usage, IPravonImage** image,
                                         std::shared_ptr<CPravonMemoryImageRegistry> registry,
                                         std::shared_ptr<CPravonTilePool> pool) {
    if (!image)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no image pointer");
    *image = nullptr;
    if (tileSize < 1 || tileSize > kMaxTileSize)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "tile size out of range");
    if (!pool) {
        try {
            pool = std::make_shared<CPravonTilePool>();
        } catch (const std::bad_alloc&) {
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for an image");
        }
    }
    auto* made = new (std::nothrow) CPravonMemoryImage(tileSize, usage, std::move(registry), std::move(pool));
    if (!made)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for an image");
    *image = made;
    return nullptr;
}

CPravonMemoryImage::CPravonMemoryImage(LONG tileSize, LONG usage,
                                       std::shared_ptr<CPravonMemoryImageRegistry> registry,
                                       std::shared_ptr<CPravonTilePool> pool)
    : m_registry(std::move(registry)), m_pool(std::move(pool)), m_tileSize(tileSize), m_usage(usage) {
    if (m_registry)
        m_registry->Add(this);
}

CPravonMemoryImage::~CPravonMemoryImage() {
    if (m_registry)
        m_registry->Remove(this);
}

ULONG CPravonMemoryImage::AddRef() {
    return ++m_references;
}

ULONG CPravonMemoryImage::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

bool CPravonMemoryImage::IsStorableColorSpace(LONG colorSpace) {
    const LONG bits = PravonColorSpace::BitsPerSample(colorSpace);
    const LONG channels = PravonColorSpace::Channels(colorSpace);
    if (bits == 1 || bits == 2 || bits == 4)
        return channels == 1;
    return (bits == 8 || bits == 16 || bits == 32) && channels >= 1 && channels <= 8;
}

IPravonError* CPravonMemoryImage::GetWidth(LONG* width) {
    *width = m_width;
    return nullptr;
}
IPravonError* CPravonMemoryImage::GetHeight(LONG* height) {
    *height = m_height;
    return nullptr;
}
IPravonError* CPravonMemoryImage::GetColorSpace(LONG* colorSpace) {
    *colorSpace = m_colorSpace;
    return nullptr;
}
IPravonError* CPravonMemoryImage::GetResolution(double* resolution) {
    *resolution = m_resolution;
    return nullptr;
}
IPravonError* CPravonMemoryImage::GetFlip(bool* flip) {
    *flip = m_flip;
    return nullptr;
}
IPravonError* CPravonMemoryImage::GetRotation(double* rotation) {
    *rotation = m_rotation;
    return nullptr;
}
IPravonError* CPravonMemoryImage::GetTileSize(LONG* tileSize) {
    *tileSize = m_tileSize;
    return nullptr;
}
IPravonError* CPravonMemoryImage::GetPalette(PravonPalette* palette) {
    *palette = m_palette;
    return nullptr;
}

IPravonError* CPravonMemoryImage::CheckCell(LONG column, LONG row) const {
    if (column < 0 || row < 0 || column >= m_columns || row >= m_rows)
        return PravonFail(kComponent, PravonKind::kBadArgument, "tile cell outside the image");
    return nullptr;
}

IPravonError* CPravonMemoryImage::TileExists(LONG column, LONG row, bool* exists) {
    if (IPravonError* e = CheckCell(column, row))
        return e;
    *exists = m_tiles[static_cast<std::size_t>(row) * m_columns + column] != nullptr;
    return nullptr;
}

IPravonError* CPravonMemoryImage::TileExists(const IPravonTileID& id, bool* exists) {
    if (id.image != this)
        return PravonFail(kComponent, PravonKind::kBadArgument, "tile id of another image");
    if (id.generation != m_generation) {
        *exists = FindRetired(id.column, id.row, &id.generation) != nullptr;
        return nullptr;
    }
    return TileExists(id.column, id.row, exists);
}

IPravonError* CPravonMemoryImage::GetTile(LONG column, LONG row, IPravonTile** tile) {
    if (IPravonError* e = CheckCell(column, row))
        return e;
    auto& slot = m_tiles[static_cast<std::size_t>(row) * m_columns + column];
    if (!slot) {
        slot.reset(new (std::nothrow) CTile(this, column, row));
        if (!slot)
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a tile");
    }
    *tile = slot.get();
    return nullptr;
}

IPravonError* CPravonMemoryImage::GetTile(const IPravonTileID& id, IPravonTile** tile) {
    if (id.image != this)
        return PravonFail(kComponent, PravonKind::kBadArgument, "tile id of another image");
    if (id.generation != m_generation) {
        CTile* old = FindRetired(id.column, id.row, &id.generation);
        if (!old)
            return PravonFail(kComponent, PravonKind::kInvalidState, "the tile belongs to an earlier layout");
        *tile = old;
        return nullptr;
    }
    return GetTile(id.column, id.row, tile);
}

IPravonError* CPravonMemoryImage::CheckGrid(IPravonTileGrid* grid, LONG column, LONG row, LONG* tileColumn,
                                            LONG* tileRow) {
    if (!grid || grid->GetSource() != this)
        return PravonFail(kComponent, PravonKind::kBadArgument, "grid of another source");
    if (column < 0 || row < 0 || column >= grid->GetColumnCount() || row >= grid->GetRowCount())
        return PravonFail(kComponent, PravonKind::kBadArgument, "cell outside the grid");
    *tileColumn = grid->GetFirstColumn() + column;
    *tileRow = grid->GetFirstRow() + row;
    return nullptr;
}

IPravonError* CPravonMemoryImage::LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data,
                                           PravonRect* tileRect, PravonRect* clippedRect, LONG* rowBytes) {
    LONG c = 0;
    LONG r = 0;
    if (IPravonError* e = CheckGrid(grid, column, row, &c, &r))
        return e;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = GetTile(c, r, &tile))
        return e;
    if (IPravonError* e = tile->Lock(data, nullptr))
        return e;
    if (tileRect)
        *tileRect = tile->GetRect();
    if (clippedRect)
        PravonErrorPtr(grid->GetClippedRect(column, row, clippedRect));
    if (rowBytes)
        *rowBytes = tile->GetRowBytes();
    return nullptr;
}

IPravonError* CPravonMemoryImage::LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) {
    if (id.image != this)
        return PravonFail(kComponent, PravonKind::kBadArgument, "tile id of another image");
    if (id.generation != m_generation)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the tile belongs to an earlier layout");
    return LockTile(id.column, id.row, data, header);
}

IPravonError* CPravonMemoryImage::LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) {
    IPravonTile* tile = nullptr;
    if (IPravonError* e = GetTile(column, row, &tile))
        return e;
    return tile->Lock(data, header);
}

IPravonError* CPravonMemoryImage::UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) {
    LONG c = 0;
    LONG r = 0;
    if (IPravonError* e = CheckGrid(grid, column, row, &c, &r))
        return e;
    return UnlockTile(c, r);
}

IPravonError* CPravonMemoryImage::UnlockTile(const IPravonTileID& id) {
    if (id.image != this)
        return PravonFail(kComponent, PravonKind::kBadArgument, "tile id of another image");
    if (id.generation != m_generation) {
        CTile* old = FindRetired(id.column, id.row, &id.generation);
        if (!old)
            return PravonFail(kComponent, PravonKind::kBadArgument, "unlocking a tile that is not locked");
        return old->Unlock();
    }
    return UnlockTile(id.column, id.row);
}

IPravonError* CPravonMemoryImage::UnlockTile(LONG column, LONG row) {
    if (column >= 0 && row >= 0 && column < m_columns && row < m_rows) {
        CTile* tile = m_tiles[static_cast<std::size_t>(row) * m_columns + column].get();
        if (tile && tile->GetLockCount() > 0)
            return tile->Unlock();
    }
    // A lock taken before the last layout change is still owed its unlock.
    if (CTile* old = FindRetired(column, row, nullptr))
        return old->Unlock();
    return PravonFail(kComponent, PravonKind::kBadArgument, "unlocking a tile that is not locked");
}

IPravonError* CPravonMemoryImage::MapRect(const PravonRect& rect, IPravonTileGrid** grid) {
    return CPravonTileGrid::Create(this, rect, grid);
}

CPravonMemoryImage::CTile* CPravonMemoryImage::FindRetired(LONG column, LONG row,
                                                           const ULONG* generation) const {
    for (auto it = m_retired.rbegin(); it != m_retired.rend(); ++it) {
        CTile* t = it->get();
        if (t->Column() == column && t->Row() == row && (!generation || t->Generation() == *generation))
            return t;
    }
    return nullptr;
}

void CPravonMemoryImage::DropRetired(CTile* tile) {
    for (auto it = m_retired.begin(); it != m_retired.end(); ++it)
        if (it->get() == tile) {
            m_retired.erase(it);
            return;
        }
}

void CPravonMemoryImage::Held(CTile* tile) {
    if (m_keptLines <= 0)
        return;
    try {
        m_held.push_back(tile);
    } catch (const std::bad_alloc&) {
        return; // a tile that cannot be noted keeps its memory until the layout changes
    }
    const std::size_t limit =
        static_cast<std::size_t>(m_keptLines) * static_cast<std::size_t>(std::max(m_columns, m_rows));
    while (m_held.size() > limit) {
        auto oldest = m_held.end();
        for (auto it = m_held.begin(); it != m_held.end(); ++it)
            if ((*it)->GetLockCount() == 0 &&
                (oldest == m_held.end() || (*it)->LastLock() < (*oldest)->LastLock()))
                oldest = it;
        if (oldest == m_held.end())
            return; // every one is locked: they keep their memory
        (*oldest)->Forget();
        *oldest = m_held.back();
        m_held.pop_back();
    }
}

IPravonError* CPravonMemoryImage::SetKeptTileLines(LONG lines) {
    if (lines < 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "a negative number of tile lines");
    if (lines == m_keptLines)
        return nullptr;
    m_keptLines = lines;
    m_held.clear();
    if (lines > 0) {
        try {
            for (const auto& t : m_tiles)
                if (t && t->HasMemory())
                    m_held.push_back(t.get());
        } catch (const std::bad_alloc&) {
            m_held.clear(); // the tiles noted so far are all that go
        }
    }
    return nullptr;
}

std::size_t CPravonMemoryImage::GetHeldTileCount() const {
    std::size_t n = 0;
    for (const auto& t : m_tiles)
        n += t && t->HasMemory() ? 1 : 0;
    return n;
}

IPravonError* CPravonMemoryImage::Relayout(LONG width, LONG height, LONG colorSpace) {
    const std::int64_t columns =
        width == 0 ? 0 : (static_cast<std::int64_t>(width) + m_tileSize - 1) / m_tileSize;
    const std::int64_t rows =
        height == 0 ? 0 : (static_cast<std::int64_t>(height) + m_tileSize - 1) / m_tileSize;
    if (columns * rows > kMaxTileCells)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "image too large for its tile layout");
    std::size_t locked = 0;
    for (const auto& t : m_tiles)
        locked += (t && t->GetLockCount() > 0) ? 1 : 0;
    std::vector<std::unique_ptr<CTile>> tiles;
    try {
        tiles.resize(static_cast<std::size_t>(columns * rows));
        m_retired.reserve(m_retired.size() + locked);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the tile layout");
    }
    for (auto& t : m_tiles) {
        if (t && t->GetLockCount() > 0) {
            t->Retire();
            m_retired.push_back(std::move(t));
        }
    }
    m_tiles = std::move(tiles);
    // The tiles noted as holding memory have gone, or retired with their holders.
    m_held.clear();
    m_width = width;
    m_height = height;
    m_colorSpace = colorSpace;
    m_columns = static_cast<LONG>(columns);
    m_rows = static_cast<LONG>(rows);
    m_rowBytes = RowBytesFor(m_tileSize, colorSpace);
    ++m_generation;
    return nullptr;
}

IPravonError* CPravonMemoryImage::SetSize(LONG width, LONG height) {
    if (width < 0 || height < 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "negative image size");
    if (width == m_width && height == m_height)
        return nullptr;
    return Relayout(width, height, m_colorSpace);
}

IPravonError* CPravonMemoryImage::SetColorSpace(LONG colorSpace) {
    if (!IsStorableColorSpace(colorSpace))
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace, "colour space cannot be stored");
    if (colorSpace == m_colorSpace)
        return nullptr;
    return Relayout(m_width, m_height, colorSpace);
}

IPravonError* CPravonMemoryImage::SetResolution(double resolution) {
    if (!std::isfinite(resolution) || resolution < 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "resolution out of range");
    m_resolution = resolution;
    return nullptr;
}

IPravonError* CPravonMemoryImage::SetTransform(bool flip, double angle, bool relative) {
    if (!std::isfinite(angle))
        return PravonFail(kComponent, PravonKind::kOutOfRange, "angle is not finite");
    if (!relative) {
        m_flip = flip;
        m_rotation = NormaliseAngle(angle);
    } else if (flip) {
        // A further mirror reverses the direction of the rotation already applied.
        m_flip = !m_flip;
        m_rotation = NormaliseAngle(angle - m_rotation);
    } else {
        m_rotation = NormaliseAngle(angle + m_rotation);
    }
    return nullptr;
}

IPravonError* CPravonMemoryImage::SetPalette(const PravonPalette& palette) {
    if (palette.count < 0 || palette.count > 256)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "palette size out of range");
    m_palette = palette;
    return nullptr;
}

IPravonError* CPravonMemoryImage::SetUsage(LONG usage) {
    m_usage = usage;
    return nullptr;
}

IPravonError* CPravonMemoryImage::GetUsage(LONG* usage) {
    *usage = m_usage;
    return nullptr;
}

IPravonError* CPravonMemoryImage::SetGeneratorWritesInvalidArea(bool writes) {
    // Tiles that already have memory keep it; the setting applies to memory handed out from now on.
    m_generatorWrites = writes;
    return nullptr;
}

LONG CPravonMemoryImage::GetLockCount() const {
    LONG n = 0;
    for (const auto& t : m_tiles)
        if (t)
            n += t->GetLockCount();
    for (const auto& t : m_retired)
        n += t->GetLockCount();
    return n;
}

std::size_t CPravonMemoryImage::GetTileCount() const {
    std::size_t n = 0;
    for (const auto& t : m_tiles)
        n += t ? 1 : 0;
    return n;
}

std::size_t CPravonMemoryImage::GetRetiredCount() const {
    return m_retired.size();
}
