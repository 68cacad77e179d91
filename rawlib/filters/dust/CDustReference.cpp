#include "CDustReference.h"

#include "CDustImageDecoder.h"

CDustReference::CDustReference(IPravonManager* manager) : m_manager(manager) {
    m_header.shootingWord = kDefaultShootingWord;
}

IPravonError* CDustReference::Load(ULONG size, const BYTE* data) {
    if (!m_manager)
        return PravonFail(KvDust::kComponent, PravonKind::kBadArgument,
                          "the dust reference has no image manager");
    if (!data && size > 0)
        return PravonFail(KvDust::kComponent, PravonKind::kBadArgument, "no dust reference bytes");
    DustReferenceHeader header;
    if (IPravonError* e = KvDust::ReadReferenceHeader(data, size, &header))
        return e;
    PravonImagePtr image;
    CDustBlockList blocks;
    if (IPravonError* e = CDustImageDecoder::Decode(
            m_manager, data + header.GetStreamOffset(), header.compressedLength,
            static_cast<LONG>(header.width), static_cast<LONG>(header.height), false, 0.0, &image, &blocks))
        return PravonContext(e, KvDust::kComponent, "the dust reference's image cannot be decoded");
    m_image = std::move(image);
    m_header = header;
    m_blocks = std::move(blocks);
    m_state = kLoaded;
    return nullptr;
}
