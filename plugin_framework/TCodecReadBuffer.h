// What a codec's Read hands its sink: a buffer of the wanted size in the destination format, rows padded to
// the row alignment, and each row of the picture converted into it as the format and the mode word say.
// Rows and columns of the picture beyond the buffer are cut off; what no row reaches stays zero.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <vector>

class TCodecReadBuffer {
public:
    // No Read hands out more than this.
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;

    // The bytes of one destination pixel: bits 8 to 15 of the format, in whole bytes.
    static std::size_t PixelBytes(DWORD format) { return ((format >> 8) & 0xFF) / 8; }

    // A zero-filled buffer of width x height pixels; an alignment below 1 is 1. False for a side below 1,
    // more than kMaxBytes, or no memory.
    bool Allocate(DWORD format, LONG alignment, LONG width, LONG height);
    // Source row y (width pixels of channels bytes each, 8-bit samples) into the buffer; a row below the
    // buffer, a format this codec does not write, or a channel count a four-byte format has no rule for
    // leave the buffer as it is.
    void PutRow(LONG y, const BYTE* source, LONG width, LONG channels, DWORD mode);

    std::size_t GetStride() const { return m_stride; }
    const std::vector<BYTE>& GetBytes() const { return m_bytes; }

private:
    DWORD m_format = 0;
    LONG m_width = 0;
    LONG m_height = 0;
    std::size_t m_pixelBytes = 0;
    std::size_t m_stride = 0;
    std::vector<BYTE> m_bytes;
};
