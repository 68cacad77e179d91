// The loader of raw sample files (CKvRawSampleFile): a 16-bit mosaic image (colour space 0x10020401) and
// its tags, including the camera-model code, which only the library's own tag control can take.
#pragma once

#include "CKvRawSampleFile.h"
#include "IPravonLoad.h"

#include <atomic>
#include <vector>

class CKvRawSampleLoad final : public IPravonLoad {
public:
    static constexpr LONG kComponent = FourCC("KvRL");

    CKvRawSampleLoad() = default;

    // Opens, loads and closes the file in one go: a new image of the manager's and a new tag control,
    // each holding one reference for the caller. On failure both stay null.
    static IPravonError* LoadFile(IPravonManager* manager, const PravonFile& file, IPravonImage** image,
                                  IPravonTagControl** tags);

    IPravonError* Open(IPravonFileStream* stream, IPravonTagControl* tags) override;
    IPravonError* Begin(IPravonImage* image) override;
    IPravonError* Step() override;
    bool IsComplete() const override { return m_image && m_nextRow >= m_file.GetHeight(); }

    ULONG AddRef() override;
    ULONG Release() override;

    const CKvRawSampleFile& GetFile() const { return m_file; }

private:
    ~CKvRawSampleLoad() override;

    std::atomic<ULONG> m_references{1};
    CKvRawSampleFile m_file;
    IPravonTagControl* m_tags = nullptr; // referenced
    IPravonImage* m_image = nullptr;     // referenced
    LONG m_tileSize = 0;
    LONG m_nextRow = 0;
    std::vector<WORD> m_band;
};
