// What the dust blobs ("DstR" reference, "DstL" map, "DstT" tuning vector) have in common: runs of
// little-endian 32-bit words read by a tolerant rule, zlib streams kept in 16 KiB blocks, and the bounds
// that every reader checks before it allocates anything for an image.
#pragma once

#include "platform/pravon/IPravonError.h"
#include "platform/win/FourCC.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace KvDust {

// Error component of the dust engine, and the secondary code that marks zlib's own results.
constexpr LONG kComponent = FourCC("dust");
constexpr LONG kZlib = FourCC("zlib");

// The kinds the blobs' readers and writers give: bad or short headers, sizes and streams; an output buffer
// too small for the blob; a tone table of a size the map cannot use.
constexpr LONG kBadBlob = PravonKind::kNoSource;
constexpr LONG kBufferTooSmall = PravonKind::kMissingInput;
constexpr LONG kBadToneTable = PravonKind::kBadArgument;

// Magic words as they read little-endian: the four characters in file order.
constexpr ULONG MagicWord(const char (&code)[5]) {
    return static_cast<ULONG>(static_cast<BYTE>(code[0])) |
           static_cast<ULONG>(static_cast<BYTE>(code[1])) << 8 |
           static_cast<ULONG>(static_cast<BYTE>(code[2])) << 16 |
           static_cast<ULONG>(static_cast<BYTE>(code[3])) << 24;
}
constexpr ULONG kReferenceMagic = MagicWord("DstR");
constexpr ULONG kMapMagic = MagicWord("DstL");
constexpr ULONG kTuningMagic = MagicWord("DstT");

// Both blobs are written with this header size (bytes from offset 12 to the first data byte); readers take
// any larger value and skip what they do not know.
constexpr ULONG kHeaderSize = 28;
// Decoded images and maps are single-channel 8-bit at this resolution.
constexpr double kResolution = 300.0;

// Bounds on the images the blobs describe: no sensor comes near them, and within them every size and
// buffer computation fits its type.
constexpr std::uint64_t kMaxSide = 65535;
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 31;
// Deflate never compresses better than 1032 to 1, so a stream of n bytes inflates to at most this many
// times n bytes: a header that claims more image than its stream can hold is refused before anything is made.
constexpr std::uint64_t kMaxInflateRatio = 1032;

// The field at `offset` when the input holds all four of its bytes, else `absent`.
ULONG ReadWord(const BYTE* data, std::size_t size, std::uint64_t offset, ULONG absent = 0);
void AppendWord(std::vector<BYTE>& out, ULONG value);
// Checks the magic word when the input holds its 4 bytes (kind 1003 for another), then reads the words
// behind it, from offset 4 on, into the given places by the tolerant rule.
IPravonError* ReadHeader(const BYTE* data, std::size_t size, ULONG magic, const char* what,
                         std::initializer_list<ULONG*> words);
void PutWord(BYTE* at, ULONG value);

// Kind 1003 unless width and height are each minSide..kMaxSide and their product at most kMaxPixels.
IPravonError* CheckImageSize(ULONG width, ULONG height, ULONG minSide, const char* what,
                             PravonSourceLocation at = PravonSourceLocation::current());
// Kind 1003 when a stream of `length` bytes cannot inflate to `samples` bytes.
IPravonError* CheckStreamHolds(std::uint64_t samples, std::uint64_t length, const char* what,
                               PravonSourceLocation at = PravonSourceLocation::current());

// An error of zlib's: its return code is the kind, under the secondary code "zlib".
IPravonError* ZlibFailure(int code, const char* text,
                          PravonSourceLocation at = PravonSourceLocation::current());

} // namespace KvDust
