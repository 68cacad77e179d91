// The loader of camera raw files (DNG and the other formats LibRaw decodes). The file is decoded by the
// camera raw decoder program in a process of its own (CKvRawDecoderProcess): LibRaw only unpacks the
// sensor data and reads its metadata there; nothing of its development is used. The loader yields what
// our own raw sample container gives: a 16-bit mosaic (colour space 0x10020401) of 12-bit samples with the
// black level removed, or 16-bit linear RGB for a file that holds no mosaic, with the tags a development
// reads, the file's orientation and an input profile made from the file's own colour data.
#pragma once

#include "CKvRawDecoderProcess.h"
#include "IPravonLoad.h"
#include "platform/win/FourCC.h"

#include <atomic>
#include <memory>
#include <vector>

class CPravonCameraRawLoad final : public IPravonLoad {
public:
    static constexpr LONG kComponent = FourCC("KvCR");
    // Files above this size are refused before anything is read.
    static constexpr ULONGLONG kMaxFileBytes = ULONGLONG{1} << 30;
    static constexpr LONG kMosaic = 0x10020401;
    static constexpr LONG kLinearRgb = 0x10060201;
    static constexpr WORD kMaxSample = KvRawDecoder::kMaxSample;
    // The camera-model code of every camera file: a camera outside the library's own tables, whose colour
    // comes from the file.
    static constexpr WORD kOtherCameraModel = 0;
    // Tags given besides the source size.
    static constexpr ULONG kCfaPatternTag = 0xA302;
    static constexpr ULONG kCameraInfoTag = 0x8000C;
    static constexpr ULONG kSensitivityTag = 0x80002;
    static constexpr ULONG kExposureTimeTag = 0x829A; // f64 seconds
    static constexpr ULONG kFNumberTag = 0x829D;      // f64
    static constexpr ULONG kModelTag = 0x110;
    // The camera's white-balance setting, given as automatic (two words, both 0): the file's as-shot gains
    // are what the camera chose.
    static constexpr ULONG kWhiteBalanceTag = 0x80005;
    // The file's orientation as its EXIF code says it: a turn counter-clockwise (f64, degrees), then a
    // left-to-right mirror (i32, 1 = mirrored).
    static constexpr ULONG kSourceAngleTag = 0x10005;
    static constexpr ULONG kSourceFlipTag = 0x10004;
    // The ICC input profile of the file's own colour, for the samples as the development encodes them:
    // a mosaic's white-balanced values through the sRGB transfer curve, linear samples as they are.
    static constexpr ULONG kCameraColorProfileTag = 0x10010;

    CPravonCameraRawLoad() = default;

    // Decodes the whole file: a file the decoder refuses, cannot read or crashes on is refused with kind
    // 1004 and a message that names the cause, and the tag control stays as it was.
    IPravonError* Open(IPravonFileStream* stream, IPravonTagControl* tags) override;
    IPravonError* Begin(IPravonImage* image) override;
    IPravonError* Step() override;
    bool IsComplete() const override { return m_image && m_nextRow >= m_height; }

    ULONG AddRef() override;
    ULONG Release() override;

    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    LONG GetColorSpace() const { return m_colorSpace; }
    // width x height x channels samples, row after row; none before a file is open.
    std::size_t GetSampleCount() const { return m_file ? m_file->GetSampleCount() : 0; }
    // Reads `count` samples from sample `first` on; false when they are not all there.
    bool ReadSamples(std::size_t first, std::size_t count, WORD* to) const {
        return m_file && m_file->ReadSamples(first, count, to);
    }

private:
    ~CPravonCameraRawLoad() override;
    IPravonError* GiveTags(IPravonTagControl* tags, const KvRawDecoder::Answer& answer);

    std::atomic<ULONG> m_references{1};
    std::unique_ptr<CKvRawDecodedFile> m_file;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_channels = 0;
    LONG m_colorSpace = 0;
    IPravonTagControl* m_tags = nullptr; // referenced
    IPravonImage* m_image = nullptr;     // referenced
    LONG m_tileSize = 0;
    LONG m_nextRow = 0;
    // One band of rows on its way from the answer into the image, kept for the next band.
    std::vector<WORD> m_band;
};
