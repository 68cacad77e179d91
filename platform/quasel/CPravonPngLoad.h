// The loader of PNG files, over libpng. Grey and RGB keep their 8 or 16 bits a sample (16-bit samples in
// this machine's order); palettes and grey of fewer bits become 8-bit; an alpha channel (or a transparency
// chunk) becomes a fourth channel stored first, as the host's four-channel pictures hold it, grey with
// alpha becoming RGB with alpha. Sizes beyond the limits are refused before any pixel memory is taken, and
// a file that ends early or does not decode fails the step that meets it.
#pragma once

#include "IPravonLoad.h"

#include "platform/win/FourCC.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

class CPravonPngLoad final : public IPravonLoad {
public:
    static constexpr LONG kComponent = FourCC("KvPL");
    // Four channels, alpha first, of 8 or 16 bits.
    static constexpr LONG kAlphaRgb8 = 0x08080201;
    static constexpr LONG kAlphaRgb16 = 0x10080201;
    // No side above this, and no more pixels than this in one file.
    static constexpr ULONG kMaxSide = 65535;
    static constexpr ULONGLONG kMaxPixels = ULONGLONG{64} << 20;

    // The eight bytes every PNG file starts with.
    static bool HasSignature(const BYTE* data, std::size_t size);

    CPravonPngLoad();

    IPravonError* Open(IPravonFileStream* stream, IPravonTagControl* tags) override;
    IPravonError* Begin(IPravonImage* image) override;
    IPravonError* Step() override;
    bool IsComplete() const override { return m_image && m_decoder && m_nextRow >= m_height; }

    ULONG AddRef() override;
    ULONG Release() override;

    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    LONG GetColorSpace() const { return m_colorSpace; }

private:
    struct Decoder;

    ~CPravonPngLoad() override;
    void Reset();

    std::atomic<ULONG> m_references{1};
    std::unique_ptr<Decoder> m_decoder;
    IPravonFileStream* m_stream = nullptr; // referenced
    IPravonTagControl* m_tags = nullptr;   // referenced
    IPravonImage* m_image = nullptr;       // referenced
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_colorSpace = 0;
    std::size_t m_rowBytes = 0;
    LONG m_tileSize = 0;
    LONG m_nextRow = 0;
    std::vector<BYTE> m_band;
};
