#include "rawlib/filters/revelation/CDRAGImage.h"

#include "platform/pravon/PravonGraph.h"
#include "platform/win/FourCC.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr LONG kComponent = FourCC("DRAG");

// Bytes of one sample of a carried layout; 8-bit samples cross the callbacks widened to 16 bits.
inline std::uint16_t SampleAt(const BYTE* pixel, int channel, bool wide) {
    if (!wide)
        return static_cast<std::uint16_t>(pixel[channel] * 257);
    std::uint16_t value;
    std::memcpy(&value, pixel + 2 * channel, sizeof(value));
    return value;
}

} // namespace

bool CDRAGImage::IsCarried(LONG colorSpace) {
    return colorSpace == PravonColorSpace::kGrey8 || colorSpace == PravonColorSpace::kGrey16 ||
           colorSpace == PravonColorSpace::kRGB8 || colorSpace == PravonColorSpace::kRGB16;
}

IPravonError* CDRAGImage::Describe(IPravonDataSource* image, IPravonDataSource* second) {
    Release();
    m_image = image;
    m_second = second;
    m_notify = false;
    LONG tileSize = 0;
    if (IPravonError* e = image->GetSize(&m_width, &m_height))
        return PravonContext(e, kComponent, "the size of an image for the Revelation library");
    if (IPravonError* e = image->GetColorSpace(&m_colorSpace))
        return PravonContext(e, kComponent, "the colour space of an image for the Revelation library");
    if (IPravonError* e = image->GetTileSize(&tileSize))
        return PravonContext(e, kComponent, "the tile size of an image for the Revelation library");
    if (!IsCarried(m_colorSpace))
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the Revelation library takes 8- or 16-bit grey or RGB images");
    if (second) {
        if (IPravonError* e = second->GetColorSpace(&m_secondColorSpace))
            return PravonContext(e, kComponent, "the colour space of the second source");
        if (m_secondColorSpace != PravonColorSpace::kGrey8 && m_secondColorSpace != PravonColorSpace::kGrey16)
            return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                              "the second source must be grey");
    }
    m_depth = PravonColorSpace::BitsPerSample(m_colorSpace);
    m_colour = PravonColorSpace::Channels(m_colorSpace) == 3;
    // Rows are read across the whole width: the tiles of one tile row, and one more for the next.
    const LONG across = tileSize > 0 ? (m_width + tileSize - 1) / tileSize + 1 : 2;
    m_cursor.Init(image, across);
    if (second)
        m_secondCursor.Init(second, across);
    return nullptr;
}

IPravonError* CDRAGImage::DescribeForWriting(IPravonImage* image, bool notify) {
    if (IPravonError* e = Describe(image))
        return e;
    m_cursor.Init(image, kWriteTiles);
    m_notify = notify;
    return nullptr;
}

void CDRAGImage::Release() {
    m_cursor.UnlockAll();
    m_secondCursor.UnlockAll();
}

DragImageRef CDRAGImage::Ref(ULONG planes, const PravonRect& area) {
    return {this,
            static_cast<std::uint32_t>(m_width),
            static_cast<std::uint32_t>(m_height),
            planes,
            static_cast<std::uint32_t>(area.right),
            static_cast<std::uint32_t>(area.left),
            static_cast<std::uint32_t>(area.top),
            static_cast<std::uint32_t>(area.bottom)};
}

bool CDRAGImage::WithinReach(const DragRect& rect) const {
    const std::int64_t reach = DRAG_STRIP_MARGIN;
    return rect.left <= rect.right && rect.top <= rect.bottom && rect.left >= -reach && rect.top >= -reach &&
           rect.right <= m_width + reach && rect.bottom <= m_height + reach;
}

void* CDRAGImage::RowSource(const DragRect* rect, std::uint16_t* planar, void* description) {
    auto* image = static_cast<CDRAGImage*>(description);
    if (!image || !rect || !planar)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a row request without its rows");
    return image->Read(*rect, planar);
}

void* CDRAGImage::RowSink(const DragRect* rect, const std::uint16_t* planar, void* description) {
    auto* image = static_cast<CDRAGImage*>(description);
    if (!image || !rect || !planar)
        return PravonFail(kComponent, PravonKind::kBadArgument, "rows to write without their rows");
    return image->Write(*rect, planar);
}

IPravonError* CDRAGImage::Read(const DragRect& rect, std::uint16_t* planar) {
    if (!WithinReach(rect))
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the Revelation library asked for rows far outside");
    if (IPravonError* e = ReadPlanes(m_cursor, m_colorSpace, rect, 0, 3, planar))
        return PravonContext(e, kComponent, "reading rows for the Revelation library");
    if (m_second) {
        if (IPravonError* e = ReadPlanes(m_secondCursor, m_secondColorSpace, rect, 3, 1, planar))
            return PravonContext(e, kComponent,
                                 "reading rows of the second source for the Revelation library");
    }
    return nullptr;
}

IPravonError* CDRAGImage::ReadPlanes(CSourceTileCursor& cursor, LONG colorSpace, const DragRect& rect,
                                     int firstPlane, int planes, std::uint16_t* planar) {
    const std::size_t width = static_cast<std::size_t>(rect.right - rect.left);
    const std::size_t n = width * static_cast<std::size_t>(rect.bottom - rect.top);
    const bool wide = PravonColorSpace::BitsPerSample(colorSpace) == 16;
    const bool colour = PravonColorSpace::Channels(colorSpace) == 3;
    const std::size_t pixelBytes = static_cast<std::size_t>(PravonColorSpace::BitsPerPixel(colorSpace) / 8);
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        std::size_t i = static_cast<std::size_t>(y - rect.top) * width;
        for (LONG x = rect.left; x < rect.right;) {
            if (IPravonError* e = cursor.MoveTo(x, y))
                return e;
            const BYTE* pixel = cursor.GetPtr();
            // Along a run inside the front tile the pixels follow each other; a clamped column has none.
            const LONG run = cursor.IsOutsideX() ? 1 : std::min(rect.right - x, cursor.GetPixelsRight() + 1);
            for (LONG k = 0; k < run; ++k, ++i, pixel += pixelBytes) {
                for (int p = 0; p < planes; ++p)
                    planar[(firstPlane + p) * n + i] = SampleAt(pixel, colour ? p : 0, wide);
            }
            x += run;
        }
    }
    return nullptr;
}

IPravonError* CDRAGImage::Write(const DragRect& rect, const std::uint16_t* planar) {
    if (!WithinReach(rect))
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the Revelation library wrote rows far outside");
    const CPravonRect clipped = CPravonRect(rect.left, rect.top, rect.right, rect.bottom)
                                    .Intersect(CPravonRect(0, 0, m_width, m_height));
    if (clipped.Empty())
        return nullptr;
    const std::size_t width = static_cast<std::size_t>(rect.right - rect.left);
    const std::size_t n = width * static_cast<std::size_t>(rect.bottom - rect.top);
    const bool wide = m_depth == 16;
    const int channels = m_colour ? 3 : 1;
    const std::size_t pixelBytes = static_cast<std::size_t>(channels * (wide ? 2 : 1));
    for (LONG y = clipped.top; y < clipped.bottom; ++y) {
        std::size_t i = static_cast<std::size_t>(y - rect.top) * width +
                        static_cast<std::size_t>(clipped.left - rect.left);
        for (LONG x = clipped.left; x < clipped.right;) {
            if (IPravonError* e = m_cursor.MoveTo(x, y))
                return PravonContext(e, kComponent, "writing rows of the Revelation library");
            BYTE* pixel = m_cursor.GetPtr();
            const LONG run = std::min(clipped.right - x, m_cursor.GetPixelsRight() + 1);
            for (LONG k = 0; k < run; ++k, ++i, pixel += pixelBytes) {
                for (int c = 0; c < channels; ++c) {
                    const std::uint16_t v = planar[c * n + i];
                    if (wide)
                        std::memcpy(pixel + 2 * c, &v, sizeof(v));
                    else
                        pixel[c] = static_cast<BYTE>(v >> 8);
                }
            }
            x += run;
        }
    }
    if (!m_notify)
        return nullptr;
    PravonRect changed = clipped;
    return PravonContext(PravonSendDataNotification(m_image, PravonNotification::kData, &changed), kComponent,
                         "announcing rows of the Revelation library");
}
