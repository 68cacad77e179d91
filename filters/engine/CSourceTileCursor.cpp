#include "CSourceTileCursor.h"

#include "filters/engine/Int32Math.h"

#include <algorithm>
#include <new>

namespace {

// Errors of the cursor and of the source it reads carry no component of their own.
constexpr LONG kComponent = 0;

enum class AxisMapping {
    Inside,  // the coordinate lies in the image
    Mapped,  // outside, mapped back inside by the edge mode
    NoPixel, // outside under mode 0, or an axis of size 0 under mode 0
    Empty,   // an axis of size 0 under a mode that needs a pixel to map to
};

AxisMapping MapAxis(LONG v, LONG size, LONG mode, LONG* mapped) {
    if (size <= 0)
        return mode == CSourceTileCursor::kEdgeNone ? AxisMapping::NoPixel : AxisMapping::Empty;
    if (v >= 0 && v < size) {
        *mapped = v;
        return AxisMapping::Inside;
    }
    if (mode == CSourceTileCursor::kEdgeNone)
        return AxisMapping::NoPixel;
    const std::int64_t x = v;
    const std::int64_t last = std::int64_t{size} - 1;
    std::int64_t r = 0;
    if (mode == CSourceTileCursor::kEdgeClamp) {
        r = x < 0 ? 0 : last;
    } else if (mode > 1) {
        const std::int64_t d = mode;
        if (x < 0)
            r = (x % d + d) % d;
        else
            r = x - d * ((x - last + d - 1) / d);
    } else if (size > 1) {
        // One period of the mirrored axis is 0 .. size - 1 .. 1; folding into it is the same as reflecting
        // at both ends until inside, and ends for any coordinate.
        const std::int64_t period = 2 * last;
        const std::int64_t m = (x % period + period) % period;
        r = m > last ? period - m : m;
    }
    // The mapping of a phase longer than the axis can land outside; the nearest edge pixel then stands in.
    *mapped = static_cast<LONG>(std::clamp<std::int64_t>(r, 0, last));
    return AxisMapping::Mapped;
}

bool Contains(LONG left, LONG top, LONG right, LONG bottom, LONG x, LONG y) {
    return x >= left && x < right && y >= top && y < bottom;
}

} // namespace

void CSourceTileCursor::Init(IPravonDataSource* source, LONG capacity) {
    UnlockAll();
    m_source = source;
    m_capacity = std::max<LONG>(capacity, 1);
    m_bitsPerPixel = m_bytesPerPixel = m_stride = 0;
    m_colorSpace = m_rowBytes = m_tileSize = m_width = m_height = 0;
    m_geometryKnown = false;
    m_edgeX = m_edgeY = kEdgeClamp;
    m_lockAtCount = 0;
}

LONG CSourceTileCursor::MapInside(LONG v, LONG size, LONG mode) {
    LONG mapped = 0;
    const AxisMapping axis = MapAxis(v, size, mode == kEdgeNone ? kEdgeClamp : mode, &mapped);
    return axis == AxisMapping::Inside || axis == AxisMapping::Mapped ? mapped : 0;
}

IPravonError* CSourceTileCursor::SetEdgeModes(LONG modeX, LONG modeY) {
    if (modeX < kEdgeMirror || modeY < kEdgeMirror)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "unknown edge mode");
    m_edgeX = modeX;
    m_edgeY = modeY;
    return nullptr;
}

IPravonError* CSourceTileCursor::ReadGeometry() {
    LONG colorSpace = 0;
    LONG rowBytes = 0;
    LONG tileSize = 0;
    LONG width = 0;
    LONG height = 0;
    IPravonError* e = m_source->GetColorSpace(&colorSpace);
    if (!e)
        e = m_source->GetRowBytes(&rowBytes);
    if (!e)
        e = m_source->GetTileSize(&tileSize);
    if (!e)
        e = m_source->GetWidth(&width);
    if (!e)
        e = m_source->GetHeight(&height);
    if (e)
        return PravonContext(e, kComponent, "the cursor cannot read its source's geometry");
    const LONG bits = IPravonDataSource::GetBitsPerPixel(colorSpace);
    if (bits <= 0 || bits % 8 != 0)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the cursor reads pixels of whole bytes only");
    if (tileSize < 1 || width < 0 || height < 0 ||
        std::int64_t{rowBytes} < std::int64_t{tileSize} * (bits / 8))
        return PravonFail(kComponent, PravonKind::kInvalidState,
                          "the source reports an impossible tile layout");
    m_colorSpace = colorSpace;
    m_rowBytes = rowBytes;
    m_tileSize = tileSize;
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bits;
    m_bytesPerPixel = bits / 8;
    m_stride = rowBytes;
    m_geometryKnown = true;
    return nullptr;
}

void CSourceTileCursor::Place(const Entry& entry, LONG x, LONG y, LONG mappedX, LONG mappedY, bool outsideX,
                              bool outsideY) {
    m_x = x;
    m_y = y;
    m_outsideX = outsideX;
    m_outsideY = outsideY;
    m_positioned = true;
    m_runLeft = m_runRight = m_runAbove = m_runBelow = 0;
    if (!outsideX) {
        m_runLeft = mappedX - entry.left;
        m_runRight = entry.right - 1 - mappedX;
    }
    if (!outsideY) {
        m_runAbove = mappedY - entry.top;
        m_runBelow = entry.bottom - 1 - mappedY;
    }
    m_pixel = entry.data + static_cast<std::ptrdiff_t>(mappedX - entry.left) * m_bytesPerPixel +
              static_cast<std::ptrdiff_t>(mappedY - entry.top) * m_stride;
}

void CSourceTileCursor::PlaceNowhere(LONG x, LONG y, bool outsideX, bool outsideY) {
    m_x = x;
    m_y = y;
    m_outsideX = outsideX;
    m_outsideY = outsideY;
    m_positioned = true;
    m_runLeft = m_runRight = m_runAbove = m_runBelow = 0;
    m_pixel = nullptr;
}

IPravonError* CSourceTileCursor::LockAt(LONG x, LONG y) {
    ++m_lockAtCount;
    if (!m_source)
        return PravonFail(kComponent, PravonKind::kNoSource, "the cursor has no source");
    if (!m_entries) {
        m_entries.reset(new (std::nothrow) Entry[static_cast<std::size_t>(m_capacity)]);
        if (!m_entries)
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the cursor's tiles");
    }
    if (!m_geometryKnown)
        if (IPravonError* e = ReadGeometry())
            return e;

    LONG mx = 0;
    LONG my = 0;
    const AxisMapping ax = MapAxis(x, m_width, m_edgeX, &mx);
    const AxisMapping ay = MapAxis(y, m_height, m_edgeY, &my);
    if (ax == AxisMapping::Empty || ay == AxisMapping::Empty)
        return PravonFail(kComponent, PravonKind::kOutOfRange,
                          "the source has no pixel on that axis to map to");
    const bool outsideX = ax != AxisMapping::Inside;
    const bool outsideY = ay != AxisMapping::Inside;
    if (ax == AxisMapping::NoPixel || ay == AxisMapping::NoPixel) {
        PlaceNowhere(x, y, outsideX, outsideY);
        return nullptr;
    }

    for (LONG i = 0; i < m_count; ++i) {
        const Entry& held = m_entries[i];
        if (Contains(held.left, held.top, held.right, held.bottom, mx, my)) {
            std::rotate(m_entries.get(), m_entries.get() + i, m_entries.get() + i + 1);
            Place(m_entries[0], x, y, mx, my, outsideX, outsideY);
            return nullptr;
        }
    }

    // The new tile is locked before anything held is given up, so a failing source leaves the cursor as
    // it was.
    const LONG column = mx / m_tileSize;
    const LONG row = my / m_tileSize;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = m_source->GetTile(column, row, &tile))
        return PravonContext(e, kComponent, "the cursor cannot get a source tile");
    void* data = nullptr;
    if (IPravonError* e = m_source->LockTile(column, row, &data, nullptr))
        return PravonContext(e, kComponent, "the cursor cannot lock a source tile");
    Entry fresh;
    fresh.tile = tile;
    fresh.id = tile->GetID();
    fresh.data = static_cast<BYTE*>(data);
    const PravonRect rect = tile->GetRect();
    fresh.left = rect.left;
    fresh.top = rect.top;
    fresh.right = rect.right;
    fresh.bottom = rect.bottom;
    if (!fresh.data || !Contains(rect.left, rect.top, rect.right, rect.bottom, mx, my) ||
        tile->GetRowBytes() != m_stride) {
        IPravonError* e = PravonFail(kComponent, PravonKind::kInvalidState,
                                     "the source tile does not cover its place in the tile layout");
        return IPravonError::Chain(e, m_source->UnlockTile(fresh.id));
    }

    IPravonError* released = nullptr;
    if (m_count == m_capacity) {
        const Entry& last = m_entries[m_count - 1];
        if (last.tile)
            if (IPravonError* e = m_source->UnlockTile(last.id))
                released = PravonContext(e, kComponent, "the cursor cannot release a source tile");
        --m_count;
    }
    std::move_backward(m_entries.get(), m_entries.get() + m_count, m_entries.get() + m_count + 1);
    m_entries[0] = fresh;
    ++m_count;
    Place(m_entries[0], x, y, mx, my, outsideX, outsideY);
    return released;
}

IPravonError* CSourceTileCursor::Step(std::int64_t x, std::int64_t y) {
    if (x != Int32Math::Saturate(x) || y != Int32Math::Saturate(y))
        return PravonFail(kComponent, PravonKind::kOutOfRange,
                          "the cursor cannot move beyond 32-bit coordinates");
    return LockAt(static_cast<LONG>(x), static_cast<LONG>(y));
}

IPravonError* CSourceTileCursor::MoveTo(LONG x, LONG y) {
    if (m_pixel && !m_outsideX && !m_outsideY) {
        const std::int64_t dx = std::int64_t{x} - m_x;
        const std::int64_t dy = std::int64_t{y} - m_y;
        if (dx >= -m_runLeft && dx <= m_runRight && dy >= -m_runAbove && dy <= m_runBelow) {
            MoveFastX(static_cast<LONG>(dx));
            MoveFastY(static_cast<LONG>(dy));
            return nullptr;
        }
    }
    return LockAt(x, y);
}

IPravonError* CSourceTileCursor::Next() {
    if (m_runRight > 0) {
        MoveFastX(1);
        return nullptr;
    }
    return Step(std::int64_t{m_x} + 1, m_y);
}

IPravonError* CSourceTileCursor::Advance(LONG n) {
    if (m_pixel && !m_outsideX && n >= 0 && n <= m_runRight) {
        MoveFastX(n);
        return nullptr;
    }
    return Step(std::int64_t{m_x} + n, m_y);
}

IPravonError* CSourceTileCursor::MoveBy(LONG n) {
    if (m_pixel && !m_outsideX && n >= -m_runLeft && n <= m_runRight) {
        MoveFastX(n);
        return nullptr;
    }
    return Step(std::int64_t{m_x} + n, m_y);
}

IPravonError* CSourceTileCursor::PrevX() {
    if (m_runLeft > 0) {
        MoveFastX(-1);
        return nullptr;
    }
    return Step(std::int64_t{m_x} - 1, m_y);
}

IPravonError* CSourceTileCursor::NextY() {
    if (m_runBelow > 0) {
        MoveFastY(1);
        return nullptr;
    }
    return Step(m_x, std::int64_t{m_y} + 1);
}

IPravonError* CSourceTileCursor::PrevY() {
    if (m_runAbove > 0) {
        MoveFastY(-1);
        return nullptr;
    }
    return Step(m_x, std::int64_t{m_y} - 1);
}

void CSourceTileCursor::UnlockAll() {
    for (LONG i = m_count - 1; i >= 0; --i)
        if (m_entries[i].tile)
            PravonErrorPtr(m_source->UnlockTile(m_entries[i].id));
    m_entries.reset();
    m_count = 0;
    m_pixel = nullptr;
    m_runLeft = m_runRight = m_runAbove = m_runBelow = 0;
    m_positioned = false;
    m_outsideX = m_outsideY = false;
    m_x = m_y = -1;
    // A later lock reads the source again: it may have changed while nothing was held.
    m_geometryKnown = false;
}
