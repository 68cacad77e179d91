#include "TCodecReadBuffer.h"

#include "platform/zizoraz/zIzoRaz.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// The four destination bytes of each pixel, as indexes into the source pixel (0 to 3); -1 is 0xFF.
struct Order {
    int byte[4];
};
constexpr Order kGrey{{0, 0, 0, -1}};
constexpr Order kAsStored{{0, 1, 2, -1}};
constexpr Order kReversed{{2, 1, 0, -1}};
constexpr Order kLastThreeReversed{{3, 2, 1, -1}};
constexpr Order kLastThree{{1, 2, 3, -1}};

// The rule of a four-byte format, or null where it writes nothing.
const Order* FourByteOrder(DWORD format, LONG channels, bool stored) {
    if (channels == 1)
        return &kGrey;
    if (format == IPRO_FORMAT_BGRA32) {
        if (channels == 3)
            return stored ? &kAsStored : &kReversed;
        if (channels == 4)
            return stored ? &kAsStored : &kLastThreeReversed;
    } else if (format == IPRO_FORMAT_RGBA32) {
        if (channels == 3)
            return &kAsStored;
        if (channels == 4)
            return stored ? &kLastThreeReversed : &kLastThree;
    }
    return nullptr;
}

} // namespace

bool TCodecReadBuffer::Allocate(DWORD format, LONG alignment, LONG width, LONG height) {
    if (width < 1 || height < 1)
        return false;
    const std::uint64_t align = static_cast<std::uint64_t>(std::max<LONG>(alignment, 1));
    const std::uint64_t rowBytes =
        static_cast<std::uint64_t>(PixelBytes(format)) * static_cast<std::uint64_t>(width);
    const std::uint64_t stride = (rowBytes + align - 1) / align * align;
    if (stride > kMaxBytes || stride * static_cast<std::uint64_t>(height) > kMaxBytes)
        return false;
    try {
        m_bytes.assign(static_cast<std::size_t>(stride * static_cast<std::uint64_t>(height)), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_format = format;
    m_width = width;
    m_height = height;
    m_pixelBytes = PixelBytes(format);
    m_stride = static_cast<std::size_t>(stride);
    return true;
}

void TCodecReadBuffer::PutRow(LONG y, const BYTE* source, LONG width, LONG channels, DWORD mode) {
    if (y < 0 || y >= m_height || !source || width < 1 || channels < 1)
        return;
    BYTE* out = m_bytes.data() + static_cast<std::size_t>(y) * m_stride;
    const bool stored = mode == IPRO_MODE_STORED_ORDER;
    const LONG columns = std::min(width, m_width);
    const std::size_t pixel = static_cast<std::size_t>(channels);
    // A row copied unchanged stays within the source's row and the destination's.
    const auto copyRow = [&] {
        std::memcpy(out, source,
                    std::min(static_cast<std::size_t>(width) * pixel,
                             static_cast<std::size_t>(m_width) * m_pixelBytes));
    };
    // A source byte beyond the pixel's own (a two-channel pixel asked for three) reads as 0.
    const auto sample = [&](LONG x, int index) -> BYTE {
        return static_cast<std::size_t>(index) < pixel ? source[static_cast<std::size_t>(x) * pixel + index]
                                                       : 0;
    };
    switch (m_format) {
    case IPRO_FORMAT_GREY8:
    case IPRO_FORMAT_RGB24:
        copyRow();
        return;
    case IPRO_FORMAT_BGR24: {
        if (channels != 1 && stored) {
            copyRow();
            return;
        }
        const Order& order = channels == 1 ? kGrey : kReversed;
        for (LONG x = 0; x < columns; ++x)
            for (int b = 0; b < 3; ++b)
                out[static_cast<std::size_t>(x) * 3 + b] = sample(x, order.byte[b]);
        return;
    }
    case IPRO_FORMAT_BGRA32:
    case IPRO_FORMAT_RGBA32: {
        const Order* order = FourByteOrder(m_format, channels, stored);
        if (!order)
            return;
        for (LONG x = 0; x < columns; ++x)
            for (int b = 0; b < 4; ++b)
                out[static_cast<std::size_t>(x) * 4 + b] =
                    order->byte[b] < 0 ? 0xFF : sample(x, order->byte[b]);
        return;
    }
    default:
        return;
    }
}
