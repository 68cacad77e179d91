#include "CMosaicRowReader.h"

#include <immintrin.h>

#include <algorithm>
#include <new>

namespace {

// Errors of the reader carry the component of the filter that adds its context.
constexpr LONG kComponent = 0;
constexpr LONG kSampleBytes = 2;
// Outside positions read the nearest inside ones two apart: a 2 x 2 mosaic keeps its colours.
constexpr LONG kMosaicPeriod = 2;
constexpr LONG kPrefetchRows = 4;
constexpr std::ptrdiff_t kCacheLine = 64;

} // namespace

IPravonError* CMosaicRowReader::Begin(IPravonDataSource* source, LONG x0, LONG count, const Sites& sites) {
    End();
    m_spans.clear();
    m_heldTop = 0;
    m_heldBottom = -1;
    LONG width = 0;
    LONG colorSpace = 0;
    IPravonError* e = source->GetWidth(&width);
    if (!e)
        e = source->GetHeight(&m_height);
    if (!e)
        e = source->GetTileSize(&m_tileSize);
    if (!e)
        e = source->GetColorSpace(&colorSpace);
    if (e)
        return PravonContext(e, kComponent, "cannot read the mosaic's geometry");
    if (IPravonDataSource::GetBitsPerPixel(colorSpace) != 8 * kSampleBytes)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the mosaic is not of 16-bit samples");
    if (width < 1 || m_height < 1 || m_tileSize < 1 || count < 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the mosaic has no pixel to read");
    m_sites = sites;
    m_x0 = x0;
    m_count = count;

    // Consecutive positions that read consecutive columns of one source tile make one run.
    LONG lowest = width;
    LONG highest = 0;
    try {
        for (LONG p = 0; p < count; ++p) {
            const LONG column = CSourceTileCursor::MapInside(x0 + p, width, kMosaicPeriod);
            lowest = std::min(lowest, column);
            highest = std::max(highest, column);
            if (!m_spans.empty()) {
                Span& last = m_spans.back();
                if (column == last.column + last.count && column / m_tileSize == last.tile) {
                    ++last.count;
                    continue;
                }
            }
            m_spans.push_back(Span{p, column, 1, column / m_tileSize});
        }
        m_firstTileColumn = count > 0 ? lowest / m_tileSize : 0;
        for (Span& span : m_spans)
            span.tile -= m_firstTileColumn;
        m_tiles.assign(count > 0 ? static_cast<std::size_t>(highest / m_tileSize - m_firstTileColumn + 1) : 0,
                       nullptr);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the mosaic's row layout");
    }
    // Every held tile is of the current tile row; moving to the next one lets the oldest go.
    m_cursor.Init(source, std::max<LONG>(1, static_cast<LONG>(m_tiles.size())));
    return nullptr;
}

IPravonError* CMosaicRowReader::HoldTileRow(LONG y) {
    LONG top = y;
    LONG bottom = y;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        const LONG left = (m_firstTileColumn + static_cast<LONG>(i)) * m_tileSize;
        if (IPravonError* e = m_cursor.LockAt(left, y)) {
            m_heldBottom = -1;
            return e;
        }
        m_rowBytes = m_cursor.GetRowStride();
        m_tiles[i] = m_cursor.GetPtr() -
                     static_cast<std::ptrdiff_t>(m_cursor.GetPixelsLeft()) * kSampleBytes -
                     static_cast<std::ptrdiff_t>(m_cursor.GetRowsAbove()) * m_rowBytes;
        if (i == 0) {
            top = y - m_cursor.GetRowsAbove();
            bottom = y + m_cursor.GetRowsBelow();
        }
    }
    m_heldTop = top;
    m_heldBottom = bottom;
    return nullptr;
}

IPravonError* CMosaicRowReader::Read(LONG y, LONG* out) {
    if (m_count == 0)
        return nullptr;
    const LONG row = CSourceTileCursor::MapInside(y, m_height, kMosaicPeriod);
    if (row < m_heldTop || row > m_heldBottom)
        if (IPravonError* e = HoldTileRow(row))
            return e;
    const std::ptrdiff_t rowOffset = static_cast<std::ptrdiff_t>(row - m_heldTop) * m_rowBytes;
    const LONG* otherLut = ((y + m_sites.redRowPhase) & 1) ? m_sites.redLut : m_sites.blueLut;
    LONG* const even = out;
    LONG* const odd = out + DeBayerRows::SplitOdd(m_count);
    for (const Span& span : m_spans) {
        const LONG p = span.position;
        const bool greenFirst = ((m_x0 + p + y + m_sites.greenPhase) & 1) != 0;
        const LONG tileLeft = (m_firstTileColumn + span.tile) * m_tileSize;
        const auto* samples =
            reinterpret_cast<const WORD*>(m_tiles[static_cast<std::size_t>(span.tile)] + rowOffset +
                                          static_cast<std::ptrdiff_t>(span.column - tileLeft) * kSampleBytes);
        LONG* evenAt = even + (p + 1) / 2;
        LONG* oddAt = odd + p / 2;
        m_load(samples, span.count, greenFirst ? m_sites.greenLut : otherLut,
               greenFirst ? otherLut : m_sites.greenLut, (p & 1) ? oddAt : evenAt, (p & 1) ? evenAt : oddAt);
    }
    // The runs of a row lie a tile row apart from those of the next: what the processor does not see
    // coming is asked for a few rows ahead.
    if (row + kPrefetchRows <= m_heldBottom) {
        const std::ptrdiff_t ahead = rowOffset + static_cast<std::ptrdiff_t>(kPrefetchRows) * m_rowBytes;
        for (const Span& span : m_spans) {
            const LONG tileLeft = (m_firstTileColumn + span.tile) * m_tileSize;
            const BYTE* from = m_tiles[static_cast<std::size_t>(span.tile)] + ahead +
                               static_cast<std::ptrdiff_t>(span.column - tileLeft) * kSampleBytes;
            for (std::ptrdiff_t b = 0; b < std::ptrdiff_t{span.count} * kSampleBytes; b += kCacheLine)
                _mm_prefetch(reinterpret_cast<const char*>(from + b), _MM_HINT_T0);
        }
    }
    return nullptr;
}
