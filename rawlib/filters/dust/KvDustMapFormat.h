// The "DstL" dust map blob: ten little-endian header words (magic, version, header size, image width and
// height, orientation, tone-table entries N and the byte lengths T, M1, M2), then the tone table compressed
// whole, the correction map's zlib stream and the second map's (M2 = 0 when there is none).
#pragma once

#include "CDustBlockList.h"
#include "KvDustFormat.h"

#include <cstddef>
#include <vector>

struct DustMapHeader {
    ULONG version = 1;
    ULONG headerSize = KvDust::kHeaderSize;
    ULONG width = 0;
    ULONG height = 0;
    ULONG orientation = 0; // 2 x whole rotation angle + flip flag
    ULONG toneEntries = 0;
    ULONG toneLength = 0;
    ULONG correctionLength = 0;
    ULONG secondLength = 0;

    std::uint64_t GetDataOffset() const { return 12 + std::uint64_t{headerSize}; }
    // The size of the blob as written: 40 header bytes and the three streams.
    std::uint64_t GetBlobSize() const {
        return 40 + std::uint64_t{toneLength} + correctionLength + secondLength;
    }
};

namespace KvDust {

// Tone tables of 8-bit images (256 forward entries) and of 16-bit images (65536), each followed by the
// 65536 inverse entries.
constexpr ULONG kToneEntries8 = 65792;
constexpr ULONG kToneEntries16 = 131072;
constexpr ULONG kMapHeaderBytes = 40;

// Reads the header by the tolerant field rule and checks it against the bytes present, each term in 64 bits:
// the magic (when 4 bytes are there), a header size of at least 28 and streams that lie within the blob
// (kind 1003); a tone table of exactly 65792 or 131072 entries (kind 1014); sides of 1 to 65535 pixels, and
// no second map without a correction map (kind 1003).
IPravonError* ReadMapHeader(const BYTE* data, std::size_t size, DustMapHeader* header);

// Writes the whole blob into `buffer`: the header with version 1 and header size 28, the tone table's bytes
// and exactly the given lengths of both streams. Kind 1004 when `capacity` is smaller than the blob.
IPravonError* WriteMap(const DustMapHeader& header, const std::vector<BYTE>& tone,
                       const CDustBlockList& correction, const CDustBlockList& second, std::size_t capacity,
                       BYTE* buffer);

// The orientation word and back: the angle counts in whole degrees; the flag is the lowest bit, the rest
// twice the angle, so negative angles come back as they went in.
ULONG OrientationWord(bool flip, double angle);
void SplitOrientation(ULONG word, bool* flip, double* angle);

// One call of compress over the entries as 16-bit little-endian values, with room for 2N + 300 bytes; the
// result is shrunk to the length compress reports.
IPravonError* CompressToneTable(const std::vector<WORD>& table, std::vector<BYTE>* compressed);
// uncompress into exactly 2N bytes: a stream that gives fewer or more is kind 1003.
IPravonError* UncompressToneTable(const BYTE* data, std::size_t length, ULONG entries,
                                  std::vector<WORD>* table);

} // namespace KvDust
