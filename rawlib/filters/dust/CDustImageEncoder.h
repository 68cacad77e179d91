// Compresses an 8-bit single-channel image into one zlib stream kept in 16 KiB blocks, one strip of the
// image's tile rows per step, so that long compressions can report progress and stop between strips.
#pragma once

#include "CDustBlockList.h"
#include "CDustDeflater.h"

#include "platform/pravon/IPravonDataSource.h"

#include <vector>

class CDustImageEncoder {
public:
    // Starts over on `image` into `out` (emptied first; the caller keeps both alive while stepping). Kind
    // 1010 for an image that is not 8-bit single channel, 1003 for an empty one.
    IPravonError* Begin(IPravonDataSource* image, CDustBlockList* out);
    // Compresses the next strip; the last one finishes the stream. Any failure ends the encoding.
    IPravonError* Step();
    bool IsDone() const { return m_begun && m_stripsDone == m_stripCount; }
    LONG GetStripCount() const { return m_stripCount; }
    LONG GetStripsDone() const { return m_stripsDone; }
    // Drops the stream and the row buffer; the blocks written so far stay with their owner.
    void Abort();

    // All strips at once.
    static IPravonError* Encode(IPravonDataSource* image, CDustBlockList* out);

private:
    IPravonDataSource* m_image = nullptr;
    CDustDeflater m_deflater;
    std::vector<BYTE> m_rows;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_stripRows = 0;
    LONG m_stripCount = 0;
    LONG m_stripsDone = 0;
    bool m_begun = false;
};
