#include "KvDustReferenceFormat.h"

#include <new>

namespace KvDust {

IPravonError* ReadReferenceHeader(const BYTE* data, std::size_t size, DustReferenceHeader* header) {
    DustReferenceHeader read;
    if (size >= 4 && ReadWord(data, size, 0) != kReferenceMagic)
        return PravonFail(kComponent, kBadBlob, "not a dust reference");
    read.version = ReadWord(data, size, 4);
    read.headerSize = ReadWord(data, size, 8);
    read.cameraType = ReadWord(data, size, 12);
    read.width = ReadWord(data, size, 16);
    read.height = ReadWord(data, size, 20);
    read.shootingWord = ReadWord(data, size, 24);
    read.lensCode = ReadWord(data, size, 28);
    read.apertureCode = ReadWord(data, size, 32);
    read.compressedLength = ReadWord(data, size, 36);
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
