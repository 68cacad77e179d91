#include "CDustImageEncoder.h"

#include "KvDustFormat.h"

#include <algorithm>
#include <new>

IPravonError* CDustImageEncoder::Begin(IPravonDataSource* image, CDustBlockList* out) {
    using namespace KvDust;
    Abort();
    if (!image || !out)
        return PravonFail(kComponent, PravonKind::kBadArgument, "nothing to compress");
    LONG colorSpace = 0;
    if (IPravonError* e = image->GetColorSpace(&colorSpace))
        return e;
    if (colorSpace != PravonColorSpace::kGrey8)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "only 8-bit single-channel images are compressed");
    LONG width = 0;
    LONG height = 0;
    LONG tileSize = 0;
    if (IPravonError* e = image->GetSize(&width, &height))
        return e;
    if (IPravonError* e = image->GetTileSize(&tileSize))
        return e;
    if (width <= 0 || height <= 0)
        return PravonFail(kComponent, kBadBlob, "the image to compress is empty");
    const LONG stripRows = std::clamp(tileSize, LONG{1}, height);
    try {
        m_rows.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(stripRows));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a strip of rows to compress");
    }
    out->Clear();
    if (IPravonError* e = m_deflater.Begin(out)) {
        Abort();
        return e;
    }
    m_image = image;
    m_width = width;
    m_height = height;
    m_stripRows = stripRows;
    m_stripCount = (height + stripRows - 1) / stripRows;
    m_stripsDone = 0;
    m_begun = true;
    return nullptr;
}

IPravonError* CDustImageEncoder::Step() {
    if (!m_begun || IsDone())
        return PravonFail(KvDust::kComponent, PravonKind::kInvalidState, "no strip left to compress");
    const LONG top = m_stripsDone * m_stripRows;
    const LONG rows = std::min(m_stripRows, m_height - top);
    const bool last = m_stripsDone + 1 == m_stripCount;
    IPravonError* error = m_image->GetData(CPravonRect(0, top, m_width, top + rows), m_rows.data(),
                                           static_cast<std::size_t>(m_width));
    if (!error)
        error = m_deflater.Feed(m_rows.data(), static_cast<std::size_t>(m_width) * rows, last);
    if (error) {
        Abort();
        return error;
    }
    if (++m_stripsDone == m_stripCount)
        std::vector<BYTE>().swap(m_rows);
    return nullptr;
}

void CDustImageEncoder::Abort() {
    m_deflater.End();
    std::vector<BYTE>().swap(m_rows);
    m_image = nullptr;
    m_begun = false;
    m_stripCount = 0;
    m_stripsDone = 0;
}

IPravonError* CDustImageEncoder::Encode(IPravonDataSource* image, CDustBlockList* out) {
    CDustImageEncoder encoder;
    if (IPravonError* e = encoder.Begin(image, out))
        return e;
    while (!encoder.IsDone())
        if (IPravonError* e = encoder.Step())
            return e;
    return nullptr;
}
