#include "KvDustFormat.h"

#include <string>

namespace KvDust {

ULONG ReadWord(const BYTE* data, std::size_t size, std::uint64_t offset, ULONG absent) {
    if (!data || offset > size || size - offset < 4)
        return absent;
    const BYTE* p = data + offset;
    return static_cast<ULONG>(p[0]) | static_cast<ULONG>(p[1]) << 8 | static_cast<ULONG>(p[2]) << 16 |
           static_cast<ULONG>(p[3]) << 24;
}

void PutWord(BYTE* at, ULONG value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<BYTE>(value >> (8 * i));
}

void AppendWord(std::vector<BYTE>& out, ULONG value) {
    BYTE bytes[4];
    PutWord(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

IPravonError* ReadHeader(const BYTE* data, std::size_t size, ULONG magic, const char* what,
                         std::initializer_list<ULONG*> words) {
    if (size >= 4 && ReadWord(data, size, 0) != magic)
        return PravonFail(kComponent, kBadBlob, std::string("not a ") + what);
    std::uint64_t offset = 4;
    for (ULONG* word : words) {
        *word = ReadWord(data, size, offset);
        offset += 4;
    }
    return nullptr;
}

IPravonError* CheckImageSize(ULONG width, ULONG height, ULONG minSide, const char* what,
                             PravonSourceLocation at) {
    const std::string prefix = std::string(what) + ": ";
    if (width < minSide || height < minSide)
        return PravonFail(kComponent, kBadBlob,
                          prefix + "the image is smaller than " + std::to_string(minSide) + " pixels a side",
                          at);
    if (width > kMaxSide || height > kMaxSide)
        return PravonFail(
            kComponent, kBadBlob,
            prefix + "a side of the image is longer than " + std::to_string(kMaxSide) + " pixels", at);
    if (std::uint64_t{width} * height > kMaxPixels)
        return PravonFail(kComponent, kBadBlob, prefix + "the image has too many pixels", at);
    return nullptr;
}

IPravonError* CheckStreamHolds(std::uint64_t samples, std::uint64_t length, const char* what,
                               PravonSourceLocation at) {
    if (length > UINT32_MAX || samples > length * kMaxInflateRatio)
        return PravonFail(kComponent, kBadBlob,
                          std::string(what) + ": the compressed stream cannot hold the image", at);
    return nullptr;
}

IPravonError* ZlibFailure(int code, const char* text, PravonSourceLocation at) {
    return PravonContext(PravonLibraryFail(kComponent, kZlib, code, at), kComponent, text, at);
}

} // namespace KvDust
