#include "KvDustReferenceFormat.h"

#include <new>

namespace KvDust {

IPravonError* ReadReferenceHeader(const BYTE* data, std::size_t size, DustReferenceHeader* header) {
    DustReferenceHeader read;
    if (IPravonError* e =
            ReadHeader(data, size, kReferenceMagic, "dust reference",
                       {&read.version, &read.headerSize, &read.cameraType, &read.width, &read.height,
                        &read.shootingWord, &read.lensCode, &read.apertureCode, &read.compressedLength}))
        return e;
    if (read.headerSize < kHeaderSize)
        return PravonFail(kComponent, kBadBlob, "the dust reference's header is too short");
    if (IPravonError* e = CheckImageSize(read.width, read.height, kMinReferenceSide, "dust reference"))
        return e;
    if (read.compressedLength < kMinReferenceStream)
        return PravonFail(kComponent, kBadBlob, "the dust reference's image stream is too short");
    if (read.GetStreamOffset() > size || read.compressedLength > size - read.GetStreamOffset())
        return PravonFail(kComponent, kBadBlob, "the dust reference is shorter than its header says");
    if (IPravonError* e = CheckStreamHolds(std::uint64_t{read.width} * read.height, read.compressedLength,
                                           "dust reference"))
        return e;
    *header = read;
    return nullptr;
}

IPravonError* WriteReference(const DustReferenceHeader& header, const CDustBlockList& stream,
                             std::vector<BYTE>* blob) {
    if (stream.GetLength() > UINT32_MAX - 40)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the reference image's stream is too long");
    try {
        std::vector<BYTE> out;
        out.reserve(40 + stream.GetLength());
        for (ULONG word : {kReferenceMagic, header.version, kHeaderSize, header.cameraType, header.width,
                           header.height, header.shootingWord, header.lensCode, header.apertureCode,
                           static_cast<ULONG>(stream.GetLength())})
            AppendWord(out, word);
        out.resize(40 + stream.GetLength());
        stream.CopyTo(out.data() + 40);
        *blob = std::move(out);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the dust reference blob");
    }
    return nullptr;
}

} // namespace KvDust
