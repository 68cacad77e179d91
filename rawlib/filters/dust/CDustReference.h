// A dust reference: the 8-bit image of an evenly lit blank scene shot through the dusty sensor, with the
// shooting parameters the analysis compares with the image's, decoded from a "DstR" blob.
#pragma once

#include "CDustBlockList.h"
#include "KvDustReferenceFormat.h"

#include "platform/pravon/IPravonImage.h"

class CDustReference {
public:
    static constexpr LONG kEmpty = 0;
    static constexpr LONG kLoaded = 11;
    // The shooting word a reference holds before anything is loaded.
    static constexpr ULONG kDefaultShootingWord = 200;

    explicit CDustReference(IPravonManager* manager);
    CDustReference(const CDustReference&) = delete;
    CDustReference& operator=(const CDustReference&) = delete;

    // Parses a "DstR" blob and decodes its image. On success the image, the header values and the stream
    // replace the previous ones and the reference is loaded; on failure the previous contents stay.
    IPravonError* Load(ULONG size, const BYTE* data);

    LONG GetState() const { return m_state; }
    bool IsLoaded() const { return m_state == kLoaded && m_image; }
    // The reference image (8-bit single channel, resolution 300, no flip or rotation); null until loaded.
    IPravonImage* GetImage() const { return m_image.get(); }
    ULONG GetCameraType() const { return m_header.cameraType; }
    ULONG GetShootingWord() const { return m_header.shootingWord; }
    ULONG GetWidth() const { return m_header.width; }
    ULONG GetHeight() const { return m_header.height; }
    ULONG GetLensCode() const { return m_header.lensCode; }
    ULONG GetApertureCode() const { return m_header.apertureCode; }
    ULONG GetCompressedLength() const { return m_header.compressedLength; }
    const DustReferenceHeader& GetHeader() const { return m_header; }
    // The image's compressed stream as the blob held it.
    const CDustBlockList& GetBlocks() const { return m_blocks; }

private:
    IPravonManager* m_manager;
    PravonImagePtr m_image;
    DustReferenceHeader m_header;
    CDustBlockList m_blocks;
    LONG m_state = kEmpty;
};
