#include "CCropFilter.h"

#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace {

// v moved by by: integer coordinates are held in 32 bits.
double Moved(double v, std::int64_t by) {
    return v + static_cast<double>(by);
}
LONG Moved(LONG v, std::int64_t by) {
    return Int32Math::SaturatedAdd(v, by);
}

bool Copyable(LONG bitsPerPixel) {
    return bitsPerPixel == 1 || bitsPerPixel == 2 || bitsPerPixel == 4 ||
           (bitsPerPixel >= 8 && bitsPerPixel % 8 == 0);
}

// The two cursor kinds made the same way, with the data pointer at the start of a row.
template <class Cursor>
Cursor RowStart(BYTE* data, LONG colorSpace, LONG rowBytes);
template <>
CPravonFilterBase::CPixelPtr RowStart(BYTE* data, LONG colorSpace, LONG rowBytes) {
    return CPravonFilterBase::CPixelPtr(data, colorSpace, rowBytes);
}
template <>
CPravonFilterBase::CPixelBitPtr RowStart(BYTE* data, LONG colorSpace, LONG rowBytes) {
    return CPravonFilterBase::CPixelBitPtr(data, 0, colorSpace, rowBytes);
}

// Copies and clears runs of pixels between locked tiles, with cursors of one kind.
template <class Cursor>
class CRunCopier {
public:
    CRunCopier(BYTE* tileData, const PravonRect& tileRect, LONG rowBytes, LONG colorSpace)
        : m_tile(RowStart<Cursor>(tileData, colorSpace, rowBytes)), m_tileRect(tileRect),
          m_colorSpace(colorSpace) {}

    // The tile's pixels of output row y from x, count of them.
    Cursor At(LONG x, LONG y) const { return m_tile.Offset(x - m_tileRect.left, y - m_tileRect.top); }

    // Writes zeros over count pixels from (x, y) of the tile, leaving the bits of neighbours alone.
    void Clear(LONG x, LONG y, LONG count, const std::vector<BYTE>& zeros) const {
        if (count > 0)
            At(x, y).CopyPixelsFrom(zeros.data(), count);
    }

    // Copies the part of a locked source cell into the tile, moved by (-dx, -dy).
    void Copy(BYTE* cellData, const PravonRect& cellRect, LONG cellRowBytes, const PravonRect& part, LONG dx,
              LONG dy) const {
        Cursor from = RowStart<Cursor>(cellData, m_colorSpace, cellRowBytes)
                          .Offset(part.left - cellRect.left, part.top - cellRect.top);
        Cursor to = At(part.left - dx, part.top - dy);
        for (LONG y = part.top; y < part.bottom; ++y) {
            from.CopyPixelsTo(to, part.right - part.left);
            from.IncY();
            to.IncY();
        }
    }

private:
    Cursor m_tile;
    PravonRect m_tileRect;
    LONG m_colorSpace;
};

// Fills invalid (output coordinates) of the locked tile: the pixels of source part covered, the rest zeros.
template <class Cursor>
IPravonError* FillTile(IPravonDataSource* source, BYTE* tileData, const PravonRect& tileRect, LONG rowBytes,
                       LONG colorSpace, const PravonRect& invalid, const CPravonRect& covered, LONG dx,
                       LONG dy) {
    const CRunCopier<Cursor> copier(tileData, tileRect, rowBytes, colorSpace);
    // A crop that reaches past the source, and a tile made earlier for another crop, leave pixels that
    // no source pixel covers now; they read as black, as in a fresh tile.
    if (!(CPravonRect(covered) == CPravonRect(invalid))) {
        std::vector<BYTE> zeros;
        try {
            zeros.assign(static_cast<std::size_t>(rowBytes) + 1, 0);
        } catch (const std::bad_alloc&) {
            return PravonFail(CCropFilter::kCode, PravonKind::kOutOfMemory, "no memory to clear the tile");
        }
        for (LONG y = invalid.top; y < invalid.bottom; ++y) {
            if (covered.Empty() || y < covered.top || y >= covered.bottom) {
                copier.Clear(invalid.left, y, invalid.right - invalid.left, zeros);
            } else {
                copier.Clear(invalid.left, y, covered.left - invalid.left, zeros);
                copier.Clear(covered.right, y, invalid.right - covered.right, zeros);
            }
        }
    }
    if (covered.Empty())
        return nullptr;

    const CPravonRect needed(covered.left + dx, covered.top + dy, covered.right + dx, covered.bottom + dy);
    return ForEachSourcePart(source, needed, [&](const CSourcePart& piece) -> IPravonError* {
        copier.Copy(piece.data, piece.tileRect, piece.rowBytes, piece.part, dx, dy);
        return nullptr;
    });
}

} // namespace

CCropFilter::CCropFilter(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    SetPassThrough(true);
}

CCropFilter::~CCropFilter() = default;

IPravonError* CCropFilter::SetCrop(const PravonRect& rect, bool notify) {
    if (rect.right < rect.left || rect.bottom < rect.top)
        return PravonFail(kCode, PravonKind::kOutOfRange, "the crop rectangle is inverted");
    const std::int64_t width = static_cast<std::int64_t>(rect.right) - rect.left;
    const std::int64_t height = static_cast<std::int64_t>(rect.bottom) - rect.top;
    if (width > Int32Math::kMax || height > Int32Math::kMax)
        return PravonFail(kCode, PravonKind::kOutOfRange, "the crop rectangle is too large");

    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    const bool haveSource = count > 0 && sources[0];
    LONG sourceWidth = 0;
    LONG sourceHeight = 0;
    if (haveSource)
        if (IPravonError* e = sources[0]->GetSize(&sourceWidth, &sourceHeight))
            return e;

    const ChangeSize before{m_crop.Width(), m_crop.Height(), 0, 0};
    CPravonRect crop(rect);
    const bool allZero = crop == CPravonRect();
    if (haveSource) {
        const CPravonRect whole(0, 0, sourceWidth, sourceHeight);
        if (allZero)
            crop = whole;
        SetPassThrough(crop == whole);
    } else {
        SetPassThrough(allZero);
    }
    m_crop = crop;
    SetCacheCheck();
    if (!notify || !IsEnabled())
        return nullptr;
    ChangeSize change{before.oldWidth, before.oldHeight, m_crop.Width(), m_crop.Height()};
    return PravonSendDataNotification(this, PravonNotification::kSize, &change);
}

template <class T>
IPravonError* CCropFilter::Shift(T* x, T* y, int sign) const {
    if (Crops()) {
        *x = Moved(*x, sign * std::int64_t{m_crop.left});
        *y = Moved(*y, sign * std::int64_t{m_crop.top});
    }
    return nullptr;
}

template <class R>
IPravonError* CCropFilter::ShiftRect(R* rect, int sign) const {
    Shift(&rect->left, &rect->top, sign);
    return Shift(&rect->right, &rect->bottom, sign);
}

IPravonError* CCropFilter::FilterPoint(double* x, double* y, IPravonDataSource* const*, LONG) {
    return Shift(x, y, -1);
}
IPravonError* CCropFilter::FilterPoint(LONG* x, LONG* y, IPravonDataSource* const*, LONG) {
    return Shift(x, y, -1);
}
IPravonError* CCropFilter::FilterRect(PravonDblRect* rect, IPravonDataSource* const*, LONG) {
    return ShiftRect(rect, -1);
}
IPravonError* CCropFilter::FilterRect(PravonRect* rect, IPravonDataSource* const*, LONG) {
    return ShiftRect(rect, -1);
}
IPravonError* CCropFilter::DefilterPoint(double* x, double* y, IPravonDataSource* const*, LONG) {
    return Shift(x, y, 1);
}
IPravonError* CCropFilter::DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const*, LONG) {
    return Shift(x, y, 1);
}
IPravonError* CCropFilter::DefilterRect(PravonDblRect* rect, IPravonDataSource* const*, LONG) {
    return ShiftRect(rect, 1);
}
IPravonError* CCropFilter::DefilterRect(PravonRect* rect, IPravonDataSource* const*, LONG) {
    return ShiftRect(rect, 1);
}

IPravonError* CCropFilter::GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                           LONG* height) {
    if (!sources || count <= 0)
        GetSources(&sources, &count);
    if (IPravonError* e = CPravonFilterBase::GetFilteredSize(sources, count, width, height))
        return e;
    if (Crops()) {
        *width = std::min(*width, m_crop.Width());
        *height = std::min(*height, m_crop.Height());
    }
    return nullptr;
}

IPravonError* CCropFilter::FilterSize(IPravonDataSource* source, ChangeSize* change) {
    if (!Crops())
        return CPravonFilterBase::FilterSize(source, change);
    if (!change)
        return PravonFail(kCode, PravonKind::kBadArgument, "a size notification without its record");
    const LONG w = m_crop.Width();
    const LONG h = m_crop.Height();
    const LONG newWidth = std::max<LONG>(change->newWidth, 0);
    const LONG newHeight = std::max<LONG>(change->newHeight, 0);
    const LONG left = static_cast<LONG>(
        std::max<std::int64_t>(0, std::min<std::int64_t>(m_crop.left, std::int64_t{newWidth} - w)));
    const LONG top = static_cast<LONG>(
        std::max<std::int64_t>(0, std::min<std::int64_t>(m_crop.top, std::int64_t{newHeight} - h)));
    m_crop = CPravonRect(left, top, left + std::min(w, newWidth), top + std::min(h, newHeight));
    SetCacheCheck();
    ChangeSize fitted{w, h, std::min(w, newWidth), std::min(h, newHeight)};
    return PravonSendDataNotification(this, PravonNotification::kSize, &fitted);
}

IPravonError* CCropFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        LONG sourceWidth = 0;
        LONG sourceHeight = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return e;
        if (IPravonError* e = source->GetSize(&sourceWidth, &sourceHeight))
            return e;
        const LONG bitsPerPixel = GetBitsPerPixel(colorSpace);
        if (!Copyable(bitsPerPixel))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");

        // While the filter does not crop (a pass of a disabled filter), output and source coordinates
        // agree, as its mappings and geometry say.
        const LONG dx = Crops() ? m_crop.left : 0;
        const LONG dy = Crops() ? m_crop.top : 0;
        // The part of the invalid area that source pixels cover, in output coordinates.
        const auto cut = [](LONG v, std::int64_t by, LONG high) {
            return static_cast<LONG>(std::clamp<std::int64_t>(v + by, 0, high) - by);
        };
        const CPravonRect& invalid = out.invalid;
        CPravonRect covered(cut(invalid.left, dx, sourceWidth), cut(invalid.top, dy, sourceHeight),
                            cut(invalid.right, dx, sourceWidth), cut(invalid.bottom, dy, sourceHeight));
        if (covered.Empty())
            covered = CPravonRect();
        const auto fill = bitsPerPixel >= 8 ? FillTile<CPixelPtr> : FillTile<CPixelBitPtr>;
        return fill(source, out.data, out.rect, out.rowBytes, colorSpace, invalid, covered, dx, dy);
    });
}
