// The "DstR" dust reference blob: a header of little-endian words (magic, version, header size, then the
// shooting parameters and the compressed length) and one zlib stream of the reference image.
#pragma once

#include "CDustBlockList.h"
#include "KvDustFormat.h"

#include <cstddef>
#include <vector>

struct DustReferenceHeader {
    ULONG version = 1;
    ULONG headerSize = KvDust::kHeaderSize;
    ULONG cameraType = 0;
    ULONG width = 0;
    ULONG height = 0;
    ULONG shootingWord = 0; // kept with the reference; the analysis does not use it
    ULONG lensCode = 0;
    ULONG apertureCode = 0;
    ULONG compressedLength = 0;

    // Where the stream starts: 12 + the header size.
    std::uint64_t GetStreamOffset() const { return 12 + std::uint64_t{headerSize}; }
};

namespace KvDust {

constexpr ULONG kMinReferenceSide = 100;
constexpr ULONG kMinReferenceStream = 12;

// Reads the header by the tolerant field rule and checks it against the bytes present, each term in 64 bits:
// the magic (when 4 bytes are there), a header size of at least 28, sides of 100 to 65535 pixels, a
// compressed length of at least 12 that lies within the blob and can hold the image. Kind 1003 otherwise.
IPravonError* ReadReferenceHeader(const BYTE* data, std::size_t size, DustReferenceHeader* header);

// Writes a blob with header size 28 and the header's fields around the stream, whose length it records.
IPravonError* WriteReference(const DustReferenceHeader& header, const CDustBlockList& stream,
                             std::vector<BYTE>* blob);

} // namespace KvDust
