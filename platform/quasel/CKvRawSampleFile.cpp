#include "CKvRawSampleFile.h"

#include "platform/pravon/PravonTypes.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <set>
#include <string>

namespace {

constexpr LONG kComponent = CKvRawSampleFile::kComponent;

WORD Le16(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

ULONG Le32(const BYTE* p) {
    return static_cast<ULONG>(p[0]) | (static_cast<ULONG>(p[1]) << 8) | (static_cast<ULONG>(p[2]) << 16) |
           (static_cast<ULONG>(p[3]) << 24);
}

ULONGLONG Le64(const BYTE* p) {
    return Le32(p) | (static_cast<ULONGLONG>(Le32(p + 4)) << 32);
}

void Put16(std::vector<BYTE>& out, WORD v) {
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
}

void Put32(std::vector<BYTE>& out, ULONG v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

void Put64(std::vector<BYTE>& out, ULONGLONG v) {
    Put32(out, static_cast<ULONG>(v));
    Put32(out, static_cast<ULONG>(v >> 32));
}

bool Reserved(ULONG tag) {
    return tag >= CKvRawSampleFile::kWidthTag && tag <= CKvRawSampleFile::kColorSpaceTag;
}

std::string Hex(ULONG v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
    return text;
}

// Reads exactly count bytes at offset; a file that ends first is a file that lied about its content.
IPravonError* ReadAt(IPravonFileStream* stream, ULONGLONG offset, void* buffer, ULONG count,
                     const char* what) {
    if (IPravonError* e = stream->Seek(offset))
        return PravonContext(e, kComponent, what);
    ULONG done = 0;
    if (IPravonError* e = stream->Read(buffer, count, &done))
        return PravonContext(e, kComponent, what);
    if (done != count)
        return PravonFail(kComponent, PravonKind::kMissingInput, std::string("the file ends inside ") + what);
    return nullptr;
}

} // namespace

CKvRawSampleFile::~CKvRawSampleFile() {
    Reset();
}

void CKvRawSampleFile::Reset() {
    if (m_stream)
        m_stream->Release();
    m_stream = nullptr;
    m_width = m_height = m_colorSpace = 0;
    m_hasCameraModel = false;
    m_cameraModel = 0;
    m_planeOffset = 0;
    m_tags.clear();
}

IPravonError* CKvRawSampleFile::Write(IPravonFileStream* stream, const Content& content) {
    try {
        return WriteChecked(stream, content);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to write");
    }
}

IPravonError* CKvRawSampleFile::WriteChecked(IPravonFileStream* stream, const Content& content) {
    if (!stream)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no stream to write to");
    if (content.width < 1 || content.width > kMaxSide || content.height < 1 || content.height > kMaxSide)
        return PravonFail(kComponent, PravonKind::kBadArgument, "the mosaic's size is out of range");
    const std::size_t pixels =
        static_cast<std::size_t>(content.width) * static_cast<std::size_t>(content.height);
    if (content.samples.size() != pixels)
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the sample count does not match the mosaic's size");
    if (content.tags.size() > kMaxTags)
        return PravonFail(kComponent, PravonKind::kBadArgument, "too many tags");
    std::set<ULONG> seen;
    ULONGLONG valueBytes = 0;
    for (const auto& tag : content.tags) {
        if (Reserved(tag.tag))
            return PravonFail(kComponent, PravonKind::kBadArgument,
                              "the source-size tags come from the header");
        if (!seen.insert(tag.tag).second)
            return PravonFail(kComponent, PravonKind::kBadArgument, "a tag number appears twice");
        if (tag.value.size() > 0xFFFFFFFFu)
            return PravonFail(kComponent, PravonKind::kBadArgument, "a tag value is too large");
        valueBytes += tag.value.size();
    }
    const ULONGLONG tableOffset = kHeaderSize;
    const ULONGLONG valuesOffset = tableOffset + ULONGLONG{kTagEntrySize} * content.tags.size();
    const ULONGLONG planeOffset = valuesOffset + valueBytes;
    if (planeOffset > 0xFFFFFFFFu)
        return PravonFail(kComponent, PravonKind::kBadArgument, "the tag values are too large");

    std::vector<BYTE> head;
    try {
        head.reserve(static_cast<std::size_t>(planeOffset));
        Put32(head, kMagic);
        Put16(head, kVersion);
        Put16(head, static_cast<WORD>(kHeaderSize));
        Put32(head, static_cast<ULONG>(content.width));
        Put32(head, static_cast<ULONG>(content.height));
        Put32(head, static_cast<ULONG>(PravonColorSpace::kRawMosaic16));
        Put16(head, content.hasCameraModel ? content.cameraModel : 0);
        Put16(head, content.hasCameraModel ? kFlagCameraModel : 0);
        Put32(head, static_cast<ULONG>(content.tags.size()));
        Put32(head, static_cast<ULONG>(tableOffset));
        Put64(head, planeOffset);
        ULONGLONG at = valuesOffset;
        for (const auto& tag : content.tags) {
            Put32(head, tag.tag);
            Put32(head, static_cast<ULONG>(tag.type));
            Put32(head, static_cast<ULONG>(tag.value.size()));
            Put32(head, static_cast<ULONG>(at));
            at += tag.value.size();
        }
        for (const auto& tag : content.tags)
            head.insert(head.end(), tag.value.begin(), tag.value.end());
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the header");
    }
    if (IPravonError* e = stream->Write(head.data(), static_cast<ULONG>(head.size())))
        return PravonContext(e, kComponent, "cannot write the header");

    // The plane goes out in bands of rows, each converted to little-endian bytes.
    const std::size_t rowSamples = static_cast<std::size_t>(content.width);
    const LONG bandRows = std::max<LONG>(1, static_cast<LONG>((1u << 20) / (rowSamples * 2)));
    std::vector<BYTE> band;
    try {
        band.resize(static_cast<std::size_t>(bandRows) * rowSamples * 2);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a band");
    }
    for (LONG y = 0; y < content.height; y += bandRows) {
        const LONG rows = std::min(bandRows, content.height - y);
        const WORD* from = content.samples.data() + static_cast<std::size_t>(y) * rowSamples;
        const std::size_t count = static_cast<std::size_t>(rows) * rowSamples;
        for (std::size_t i = 0; i < count; ++i) {
            band[2 * i] = static_cast<BYTE>(from[i]);
            band[2 * i + 1] = static_cast<BYTE>(from[i] >> 8);
        }
        if (IPravonError* e = stream->Write(band.data(), static_cast<ULONG>(count * 2)))
            return PravonContext(e, kComponent, "cannot write the mosaic");
    }
    return nullptr;
}

IPravonError* CKvRawSampleFile::Open(IPravonFileStream* stream) {
    Reset();
    try {
        return OpenChecked(stream);
    } catch (const std::bad_alloc&) {
        Reset();
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to read");
    }
}

IPravonError* CKvRawSampleFile::OpenChecked(IPravonFileStream* stream) {
    if (!stream)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no stream to read from");
    ULONGLONG fileSize = 0;
    if (IPravonError* e = stream->GetSize(&fileSize))
        return PravonContext(e, kComponent, "cannot tell the file's size");
    if (fileSize < kHeaderSize)
        return PravonFail(kComponent, PravonKind::kMissingInput,
                          "the file is shorter than a raw sample header");
    BYTE header[kHeaderSize];
    if (IPravonError* e = ReadAt(stream, 0, header, kHeaderSize, "the header"))
        return e;
    if (Le32(header) != kMagic)
        return PravonFail(kComponent, PravonKind::kMissingInput, "not a raw sample file");
    if (Le16(header + 4) != kVersion)
        return PravonFail(kComponent, PravonKind::kMissingInput,
                          "raw sample version " + std::to_string(Le16(header + 4)) + " is not known");
    const ULONG headerSize = Le16(header + 6);
    if (headerSize < kHeaderSize || headerSize > fileSize)
        return PravonFail(kComponent, PravonKind::kMissingInput, "the header size is impossible");
    const ULONG width = Le32(header + 8);
    const ULONG height = Le32(header + 12);
    if (width < 1 || width > static_cast<ULONG>(kMaxSide) || height < 1 ||
        height > static_cast<ULONG>(kMaxSide))
        return PravonFail(kComponent, PravonKind::kMissingInput, "the mosaic's size is out of range");
    const LONG colorSpace = static_cast<LONG>(Le32(header + 16));
    if (colorSpace != PravonColorSpace::kRawMosaic16)
        return PravonFail(
            kComponent, PravonKind::kUnsupportedColorSpace,
            ("colour space " + Hex(static_cast<ULONG>(colorSpace)) + " is not a mosaic").c_str());
    const WORD model = Le16(header + 20);
    const WORD flags = Le16(header + 22);
    if (flags & ~kFlagCameraModel)
        return PravonFail(kComponent, PravonKind::kMissingInput, "unknown header flags");
    const ULONG tagCount = Le32(header + 24);
    const ULONGLONG tableOffset = Le32(header + 28);
    const ULONGLONG planeOffset = Le64(header + 32);
    if (tagCount > kMaxTags)
        return PravonFail(kComponent, PravonKind::kMissingInput, "the tag count is out of range");
    if (tableOffset < headerSize || tableOffset + ULONGLONG{kTagEntrySize} * tagCount > fileSize)
        return PravonFail(kComponent, PravonKind::kMissingInput, "the tag table lies outside the file");
    const ULONGLONG planeBytes = ULONGLONG{width} * height * 2;
    if (planeOffset < headerSize || planeOffset > fileSize || planeBytes > fileSize - planeOffset)
        return PravonFail(kComponent, PravonKind::kMissingInput, "the mosaic lies outside the file");

    std::vector<BYTE> table;
    std::vector<KvRawSampleTag> tags;
    try {
        table.resize(static_cast<std::size_t>(kTagEntrySize) * tagCount);
        tags.resize(tagCount);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the tags");
    }
    if (tagCount > 0)
        if (IPravonError* e =
                ReadAt(stream, tableOffset, table.data(), static_cast<ULONG>(table.size()), "the tag table"))
            return e;
    std::set<ULONG> seen;
    ULONGLONG valueBytes = 0;
    for (ULONG i = 0; i < tagCount; ++i) {
        const BYTE* entry = table.data() + static_cast<std::size_t>(i) * kTagEntrySize;
        KvRawSampleTag& tag = tags[i];
        tag.tag = Le32(entry);
        tag.type = static_cast<LONG>(Le32(entry + 4));
        const ULONGLONG size = Le32(entry + 8);
        const ULONGLONG offset = Le32(entry + 12);
        if (Reserved(tag.tag))
            return PravonFail(kComponent, PravonKind::kMissingInput,
                              "tag " + Hex(tag.tag) + " is given by the header, not stored");
        if (!seen.insert(tag.tag).second)
            return PravonFail(kComponent, PravonKind::kMissingInput,
                              "tag " + Hex(tag.tag) + " appears twice");
        if (offset > fileSize || size > fileSize - offset)
            return PravonFail(kComponent, PravonKind::kMissingInput,
                              "the value of tag " + Hex(tag.tag) + " lies outside the file");
        // Values may not share bytes to make more of the file than it holds.
        valueBytes += size;
        if (valueBytes > fileSize)
            return PravonFail(kComponent, PravonKind::kMissingInput,
                              "the tag values add up to more than the file");
        try {
            tag.value.resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a tag value");
        }
        if (size > 0)
            if (IPravonError* e =
                    ReadAt(stream, offset, tag.value.data(), static_cast<ULONG>(size), "a tag value"))
                return e;
    }

    stream->AddRef();
    m_stream = stream;
    m_width = static_cast<LONG>(width);
    m_height = static_cast<LONG>(height);
    m_colorSpace = colorSpace;
    m_hasCameraModel = (flags & kFlagCameraModel) != 0;
    m_cameraModel = m_hasCameraModel ? model : 0;
    m_planeOffset = planeOffset;
    m_tags = std::move(tags);
    return nullptr;
}

IPravonError* CKvRawSampleFile::ReadRows(LONG first, LONG count, WORD* out, std::size_t rowPitch) {
    if (!m_stream)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the file is not open");
    if (first < 0 || count < 0 || first > m_height - count)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "rows outside the mosaic");
    if (count == 0)
        return nullptr;
    if (!out || rowPitch < static_cast<std::size_t>(m_width))
        return PravonFail(kComponent, PravonKind::kBadArgument, "no room for the rows");
    const std::size_t rowBytes = static_cast<std::size_t>(m_width) * 2;
    try {
        m_rowBytes.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a row");
    }
    if (IPravonError* e = m_stream->Seek(m_planeOffset + ULONGLONG{rowBytes} * static_cast<ULONGLONG>(first)))
        return PravonContext(e, kComponent, "cannot reach the mosaic");
    for (LONG r = 0; r < count; ++r) {
        ULONG done = 0;
        if (IPravonError* e = m_stream->Read(m_rowBytes.data(), static_cast<ULONG>(rowBytes), &done))
            return PravonContext(e, kComponent, "cannot read the mosaic");
        if (done != rowBytes)
            return PravonFail(kComponent, PravonKind::kMissingInput, "the file ends inside the mosaic");
        WORD* to = out + static_cast<std::size_t>(r) * rowPitch;
        for (LONG x = 0; x < m_width; ++x)
            to[x] = Le16(m_rowBytes.data() + 2 * static_cast<std::size_t>(x));
    }
    return nullptr;
}
