// The raw sample container: one 16-bit camera mosaic with the image tags a development needs, in a file of
// our own. The reader treats every file as hostile: each count, size and offset is checked against the
// bytes the file really holds, in 64-bit arithmetic, before anything is read or allocated.
//
// Layout (every number little-endian; offsets from the start of the file):
//
//   header, 40 bytes
//     0   4  magic "KVRS"
//     4   2  version, 1
//     6   2  header size in bytes, at least 40 (a reader skips what it does not know)
//     8   4  width in pixels, 1 .. 65535
//    12   4  height in pixels, 1 .. 65535
//    16   4  colour space, 0x10020401 (16-bit mosaic, one sample per pixel)
//    20   2  camera-model code
//    22   2  flags: bit 0 set when the camera-model code is present; other bits 0
//    24   4  tag count, at most 4096
//    28   4  offset of the tag table, at or after the header
//    32   8  offset of the mosaic plane, at or after the header
//   tag table: tag count entries of 16 bytes, tag numbers all different
//     0   4  tag number (0x10000 to 0x10002 are not stored: the loader gives them from the header)
//     4   4  data type code, handed on to the tag control
//     8   4  value size in bytes
//    12   4  value offset
//   tag values: the bytes the tag control hands out, anywhere inside the file; their sizes add up to at
//     most the file's size. Multi-byte numbers inside a value are in the order the value's readers expect
//     on this little-endian target (EXIF's CFAPattern 0xA302 keeps its big-endian counts).
//   mosaic plane: height rows of width 16-bit samples, top row first, no padding.
#pragma once

#include "IPravonFileStream.h"
#include "platform/win/FourCC.h"

#include <vector>

struct KvRawSampleTag {
    ULONG tag = 0;
    LONG type = 0;
    std::vector<BYTE> value;
};

class CKvRawSampleFile {
public:
    static constexpr LONG kComponent = FourCC("KvRS");
    static constexpr ULONG kMagic = 0x5352564B; // "KVRS" read as a little-endian word
    static constexpr WORD kVersion = 1;
    static constexpr ULONG kHeaderSize = 40;
    static constexpr ULONG kTagEntrySize = 16;
    static constexpr ULONG kMaxTags = 4096;
    static constexpr LONG kMaxSide = 65535;
    static constexpr WORD kFlagCameraModel = 1;
    static constexpr ULONG kWidthTag = 0x10000;
    static constexpr ULONG kHeightTag = 0x10001;
    static constexpr ULONG kColorSpaceTag = 0x10002;

    // Everything one file holds, for writing.
    struct Content {
        LONG width = 0;
        LONG height = 0;
        std::vector<WORD> samples; // width x height, row by row
        bool hasCameraModel = false;
        WORD cameraModel = 0;
        std::vector<KvRawSampleTag> tags;
    };

    // Writes the content to an open stream: header, tag table, values, plane. Content the reader would
    // refuse (sizes out of range, a sample count that does not match, reserved or repeated tag numbers)
    // is refused with PravonKind::kBadArgument before anything is written.
    static IPravonError* Write(IPravonFileStream* stream, const Content& content);

    CKvRawSampleFile() = default;
    CKvRawSampleFile(const CKvRawSampleFile&) = delete;
    CKvRawSampleFile& operator=(const CKvRawSampleFile&) = delete;
    ~CKvRawSampleFile();

    // Reads and checks the header, the tag table and every tag value, and keeps a reference on the
    // stream for ReadRows. A file that is short, lies about a count or an offset, or is not a version-1
    // mosaic is refused with PravonKind::kMissingInput (PravonKind::kUnsupportedColorSpace for another colour
    // space) and nothing is kept.
    IPravonError* Open(IPravonFileStream* stream);
    bool IsOpen() const { return m_stream != nullptr; }

    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    LONG GetColorSpace() const { return m_colorSpace; }
    bool HasCameraModel() const { return m_hasCameraModel; }
    WORD GetCameraModel() const { return m_cameraModel; }
    const std::vector<KvRawSampleTag>& GetTags() const { return m_tags; }

    // Reads rows first .. first + count - 1 into out, rowPitch samples from one row to the next, in native
    // order. Rows outside the image give PravonKind::kOutOfRange.
    IPravonError* ReadRows(LONG first, LONG count, WORD* out, std::size_t rowPitch);

private:
    // The work of Write and Open; what they add is that running out of memory is an error, not a throw.
    static IPravonError* WriteChecked(IPravonFileStream* stream, const Content& content);
    IPravonError* OpenChecked(IPravonFileStream* stream);
    void Reset();

    IPravonFileStream* m_stream = nullptr; // referenced while open
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_colorSpace = 0;
    bool m_hasCameraModel = false;
    WORD m_cameraModel = 0;
    ULONGLONG m_planeOffset = 0;
    std::vector<KvRawSampleTag> m_tags;
    std::vector<BYTE> m_rowBytes;
};
