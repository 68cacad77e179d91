// Interleaved 16-bit RGB samples, which may lie at any address, each replaced by its entry in its channel's
// table (65536 entries each), as a run of lookup tables before a conversion leaves them. A pixel's three
// samples are read before any is written, so in and out may be the same memory.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ZovTables {

inline void LookUpRgb16(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                        const USHORT* const tables[3]) {
    const USHORT* const red = tables[0];
    const USHORT* const green = tables[1];
    const USHORT* const blue = tables[2];
    for (std::size_t i = 0; i < pixels; ++i) {
        USHORT p[3];
        std::memcpy(p, in + 6 * i, sizeof p);
        p[0] = red[p[0]];
        p[1] = green[p[1]];
        p[2] = blue[p[2]];
        std::memcpy(out + 6 * i, p, sizeof p);
    }
}

} // namespace ZovTables
