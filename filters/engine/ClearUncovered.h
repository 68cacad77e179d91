// For a filter that writes every pixel of an output tile's invalid part, so that its fresh tiles skip the
// zero-fill: the pixels it has no source for (a source that shrank without announcing it, an output that
// reaches beyond what the source now gives) are written black, as a zero-filled tile shows them, instead of
// keeping whatever an earlier image left in the tile's memory.
#pragma once

#include "platform/pravon/IPravonDataSource.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ClearUncoveredDetail {

// Clears bits [first, first + count) of a row, bit 0 being the most significant bit of its first byte;
// the other bits keep their values.
inline void ClearBits(BYTE* row, std::int64_t first, std::int64_t count) {
    if (count <= 0)
        return;
    BYTE* p = row + first / 8;
    const int bit = static_cast<int>(first % 8);
    if (bit != 0) {
        const std::int64_t take = std::min<std::int64_t>(8 - bit, count);
        const auto mask = static_cast<BYTE>((0xFFu >> bit) & ~(0xFFu >> (bit + take)));
        *p = static_cast<BYTE>(*p & ~mask);
        ++p;
        count -= take;
    }
    std::memset(p, 0, static_cast<std::size_t>(count / 8));
    p += count / 8;
    if (const int rest = static_cast<int>(count % 8))
        *p = static_cast<BYTE>(*p & (0xFFu >> rest));
}

} // namespace ClearUncoveredDetail

// Zeroes the pixels of out.invalid outside covered (output coordinates); out is the output tile a filter
// is handed (invalid, rect, Row(y)). Pixels outside out.invalid are left alone, also within a byte.
template <class Out>
void ClearOutside(const Out& out, const PravonRect& covered, LONG bitsPerPixel) {
    const CPravonRect& invalid = out.invalid;
    const CPravonRect inside = invalid.Intersect(CPravonRect(covered));
    const auto clear = [&](LONG y, LONG from, LONG to) {
        if (from < to)
            ClearUncoveredDetail::ClearBits(out.Row(y), std::int64_t{from - out.rect.left} * bitsPerPixel,
                                            std::int64_t{to - from} * bitsPerPixel);
    };
    for (LONG y = invalid.top; y < invalid.bottom; ++y) {
        if (inside.Empty() || y < inside.top || y >= inside.bottom) {
            clear(y, invalid.left, invalid.right);
            continue;
        }
        clear(y, invalid.left, inside.left);
        clear(y, inside.right, invalid.right);
    }
}

// The same for a filter whose output pixel (x, y) comes from source pixel (x, y): what lies beyond the
// source's present size is cleared.
template <class Out>
IPravonError* ClearOutsideSource(IPravonDataSource* source, const Out& out, LONG bitsPerPixel) {
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = source->GetSize(&width, &height))
        return e;
    ClearOutside(out, PravonRect{0, 0, width, height}, bitsPerPixel);
    return nullptr;
}
