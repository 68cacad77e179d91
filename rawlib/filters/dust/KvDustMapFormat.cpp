#include "KvDustMapFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace KvDust {

IPravonError* ReadMapHeader(const BYTE* data, std::size_t size, DustMapHeader* header) {
    DustMapHeader read;
    if (IPravonError* e =
            ReadHeader(data, size, kMapMagic, "dust map",
                       {&read.version, &read.headerSize, &read.width, &read.height, &read.orientation,
                        &read.toneEntries, &read.toneLength, &read.correctionLength, &read.secondLength}))
        return e;
    if (read.headerSize < kHeaderSize)
        return PravonFail(kComponent, kBadBlob, "the dust map's header is too short");
    // Each term is checked on its own before the 64-bit sum, so no stated length can wrap the check.
    const std::uint64_t terms[] = {read.GetDataOffset(), read.toneLength, read.correctionLength,
                                   read.secondLength};
    std::uint64_t total = 0;
    for (std::uint64_t term : terms) {
        if (term > size)
            return PravonFail(kComponent, kBadBlob, "the dust map is shorter than its header says");
        total += term;
    }
    if (total > size)
        return PravonFail(kComponent, kBadBlob, "the dust map is shorter than its header says");
    if (read.toneEntries != kToneEntries8 && read.toneEntries != kToneEntries16)
        return PravonFail(kComponent, kBadToneTable,
                          "the dust map's tone table has " + std::to_string(read.toneEntries) +
                              " entries, not 65792 or 131072");
    if (IPravonError* e = CheckImageSize(read.width, read.height, 1, "dust map"))
        return e;
    if (read.correctionLength == 0 && read.secondLength != 0)
        return PravonFail(kComponent, kBadBlob, "the dust map has a second map but no correction map");
    *header = read;
    return nullptr;
}

IPravonError* WriteMap(const DustMapHeader& header, const std::vector<BYTE>& tone,
                       const CDustBlockList& correction, const CDustBlockList& second, std::size_t capacity,
                       BYTE* buffer) {
    const std::uint64_t size =
        kMapHeaderBytes + std::uint64_t{tone.size()} + correction.GetLength() + second.GetLength();
    if (tone.size() > UINT32_MAX || correction.GetLength() > UINT32_MAX || second.GetLength() > UINT32_MAX)
        return PravonFail(kComponent, PravonKind::kOutOfRange,
                          "a stream of the dust map is too long to store");
    if (capacity < size)
        return PravonFail(kComponent, kBufferTooSmall, "the buffer is too small for the dust map");
    if (!buffer)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no buffer for the dust map");
    const ULONG words[] = {kMapMagic,
                           1,
                           kHeaderSize,
                           header.width,
                           header.height,
                           header.orientation,
                           header.toneEntries,
                           static_cast<ULONG>(tone.size()),
                           static_cast<ULONG>(correction.GetLength()),
                           static_cast<ULONG>(second.GetLength())};
    BYTE* at = buffer;
    for (ULONG word : words) {
        PutWord(at, word);
        at += 4;
    }
    if (!tone.empty())
        std::memcpy(at, tone.data(), tone.size());
    at += tone.size();
    correction.CopyTo(at);
    at += correction.GetLength();
    second.CopyTo(at);
    return nullptr;
}

ULONG OrientationWord(bool flip, double angle) {
    const double whole = std::trunc(angle);
    // Angles come from image transforms; anything beyond a 32-bit word of degrees is no angle.
    const double limit = static_cast<double>(std::numeric_limits<LONG>::max() / 2);
    const LONG degrees = std::isfinite(whole) ? static_cast<LONG>(std::clamp(whole, -limit, limit)) : 0;
    return static_cast<ULONG>(degrees) * 2u + (flip ? 1u : 0u);
}

void SplitOrientation(ULONG word, bool* flip, double* angle) {
    *flip = (word & 1u) != 0;
    const LONG value = static_cast<LONG>(word);
    *angle = static_cast<double>((static_cast<std::int64_t>(value) - (*flip ? 1 : 0)) / 2);
}

IPravonError* CompressToneTable(const std::vector<WORD>& table, std::vector<BYTE>* compressed) {
    try {
        std::vector<BYTE> raw(table.size() * 2);
        for (std::size_t i = 0; i < table.size(); ++i) {
            raw[2 * i] = static_cast<BYTE>(table[i]);
            raw[2 * i + 1] = static_cast<BYTE>(table[i] >> 8);
        }
        std::vector<BYTE> out(raw.size() + 300);
        uLongf length = static_cast<uLongf>(out.size());
        const int result = compress(out.data(), &length, raw.data(), static_cast<uLong>(raw.size()));
        if (result != Z_OK)
            return ZlibFailure(result, "the tone table cannot be compressed");
        out.resize(length);
        out.shrink_to_fit();
        *compressed = std::move(out);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to compress the tone table");
    }
    return nullptr;
}

IPravonError* UncompressToneTable(const BYTE* data, std::size_t length, ULONG entries,
                                  std::vector<WORD>* table) {
    if (length > UINT32_MAX)
        return PravonFail(kComponent, kBadBlob, "the tone table's stream is too long");
    try {
        const std::size_t bytes = std::size_t{entries} * 2;
        // One byte of room beyond the table shows a stream that holds more than it should.
        std::vector<BYTE> raw(bytes + 1);
        uLongf produced = static_cast<uLongf>(raw.size());
        uLong consumed = static_cast<uLong>(length);
        const int result = uncompress2(raw.data(), &produced, data, &consumed);
        if (result == Z_BUF_ERROR)
            return PravonFail(kComponent, kBadBlob, "the tone table's stream holds more than the table");
        if (result != Z_OK)
            return ZlibFailure(result, "the tone table cannot be inflated");
        if (produced != bytes)
            return PravonFail(kComponent, kBadBlob,
                              "the tone table's stream holds fewer entries than stated");
        if (consumed != length)
            return PravonFail(kComponent, kBadBlob, "bytes follow the end of the tone table's stream");
        std::vector<WORD> out(entries);
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<WORD>(raw[2 * i] | raw[2 * i + 1] << 8);
        *table = std::move(out);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the tone table");
    }
    return nullptr;
}

} // namespace KvDust
