// The loader of camera raw files (DNG and the other formats LibRaw decodes): LibRaw only unpacks the sensor
// mosaic and reads its metadata; nothing of its development is used. The loader yields what our own raw
// sample container gives: a 16-bit mosaic (colour space 0x10020401) of 12-bit samples with the black level
// removed, and the tags a development reads.
#pragma once

#include "IPravonLoad.h"
#include "platform/win/FourCC.h"

#include <atomic>
#include <vector>

class CPravonCameraRawLoad final : public IPravonLoad {
public:
    static constexpr LONG kComponent = FourCC("KvCR");
    // Files above this size are refused before anything is read.
    static constexpr ULONGLONG kMaxFileBytes = ULONGLONG{1} << 30;
    static constexpr LONG kMosaic = 0x10020401;
    static constexpr WORD kMaxSample = 4095;
    // The camera-model code given to every camera file: the standard group of the cameras the library's
    // tables do not know.
    static constexpr WORD kStandardCameraModel = 258;
    // Tags given besides the source size.
    static constexpr ULONG kCfaPatternTag = 0xA302;
    static constexpr ULONG kCameraInfoTag = 0x8000C;
    static constexpr ULONG kSensitivityTag = 0x80002;
    static constexpr ULONG kExposureTimeTag = 0x829A;
    static constexpr ULONG kFNumberTag = 0x829D;
    static constexpr ULONG kModelTag = 0x110;
    // The camera's white-balance setting, given as automatic (two words, both 0): the file's as-shot gains
    // are what the camera chose.
    static constexpr ULONG kWhiteBalanceTag = 0x80005;

    CPravonCameraRawLoad() = default;

    // Unpacks the whole file: a file LibRaw cannot open, or one that holds no 2 x 2 colour-filter mosaic
    // of red, green and blue, is refused with kind 1004 and the tag control stays as it was.
    IPravonError* Open(IPravonFileStream* stream, IPravonTagControl* tags) override;
    IPravonError* Begin(IPravonImage* image) override;
    IPravonError* Step() override;
    bool IsComplete() const override { return m_image && m_nextRow >= m_height; }

    ULONG AddRef() override;
    ULONG Release() override;

    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    const std::vector<WORD>& GetSamples() const { return m_samples; }

private:
    ~CPravonCameraRawLoad() override;

    std::atomic<ULONG> m_references{1};
    std::vector<WORD> m_samples; // the mosaic, row after row
    LONG m_width = 0;
    LONG m_height = 0;
    IPravonTagControl* m_tags = nullptr; // referenced
    IPravonImage* m_image = nullptr;     // referenced
    LONG m_tileSize = 0;
    LONG m_nextRow = 0;
};
