// The dust map of one image: the 8-bit correction map (the fraction of light that reached each pixel, in
// 1/128, or 128 and above for no dust), the texture mask of the analysis and the tone tables the correction
// works through, kept with their compressed streams and stored as a "DstL" blob.
#pragma once

#include "CDustBlockList.h"
#include "KvDustMapFormat.h"

#include "platform/pravon/IPravonImage.h"

#include <memory>
#include <vector>

class CDustAnalyzer;
class CDustMapBuild;

class CDustMap {
public:
    // The map's states: idle until built or read, complete afterwards (the building steps lie between).
    static constexpr LONG kIdle = 0;
    static constexpr LONG kComplete = 14;

    // Results of LoadDustMap.
    static constexpr LONG kLoaded = 0;
    static constexpr LONG kLoadBadArgument = 2;
    static constexpr LONG kLoadOutOfMemory = 3;
    static constexpr LONG kLoadUnreadable = 7;

    explicit CDustMap(IPravonManager* manager);
    ~CDustMap();
    CDustMap(const CDustMap&) = delete;
    CDustMap& operator=(const CDustMap&) = delete;

    // Starts building the map of `source` from a complete analysis, which must stay alive and unchanged
    // until the map completes. `linearSamples`: the samples are linear light already; `rawMode`: a 16-bit
    // image in the demosaicing's square-root domain (always so for a mosaic, which is demosaiced first).
    // Kind 1014 without analyzer or source, 1003 for an incomplete analysis or images below 100 x 100, 1007
    // while a build runs, 1013 for colour spaces other than RGB and the mosaic or a mosaic without a 2 x 2
    // colour-filter layout. What the map held before is dropped; a failure leaves it idle.
    IPravonError* Begin(CDustAnalyzer* analyzer, IPravonDataSource* source, bool linearSamples, bool rawMode);
    // One tile of the current phase, then the progress: every phase counts the tile count once. Idle: 0 of
    // 0 and kind 1007; complete: the total of the total. Any error leaves the map idle with nothing built.
    IPravonError* Step(LONG* position, LONG* total);
    // Stops a running build and drops what it made; a complete map stays complete.
    void Abort();

    // Reads a "DstL" blob. Only when every part was read does the map take over the images, tables and
    // streams and become complete; on any failure it keeps what it held before.
    IPravonError* ReadData(ULONG size, const BYTE* data);
    // The blob's size, 40 + T + M1 + M2; 0 for a map that is not complete (or too large for a blob).
    ULONG GetDataSize() const;
    // Writes the blob: kind 1003 for a map that is not complete, 1004 when `capacity` is too small.
    IPravonError* WriteData(ULONG capacity, BYTE* buffer) const;

    // Replaces `*map` with a new map read from stored bytes. The current map is dropped first; a map that
    // cannot be read is discarded, so afterwards `*map` is either the complete new map or null.
    static LONG LoadDustMap(IPravonManager* manager, const BYTE* data, ULONG size,
                            std::shared_ptr<CDustMap>* map);

    IPravonManager* GetManager() const { return m_manager; }
    LONG GetState() const { return m_state; }
    bool IsComplete() const { return m_state == kComplete; }
    LONG GetWidth() const { return static_cast<LONG>(m_header.width); }
    LONG GetHeight() const { return static_cast<LONG>(m_header.height); }
    ULONG GetOrientationWord() const { return m_header.orientation; }
    // Null when the analysis found no dust.
    IPravonImage* GetCorrectionMap() const { return m_correction.get(); }
    // Null when the map has no texture mask.
    IPravonImage* GetSecondMap() const { return m_second.get(); }
    // N entries: the forward part (256 or 65536 entries) and the 65536 inverse entries.
    const std::vector<WORD>& GetToneTable() const { return m_toneTable; }
    const std::vector<BYTE>& GetCompressedToneTable() const { return m_compressedTone; }
    const CDustBlockList& GetCorrectionBlocks() const { return m_correctionBlocks; }
    const CDustBlockList& GetSecondBlocks() const { return m_secondBlocks; }

private:
    void Clear();
    // The map's state from its build: the phase it is in, or complete with what it made.
    void FollowBuild();
    void TakeResult();

    IPravonManager* m_manager;
    LONG m_state = kIdle;
    std::unique_ptr<CDustMapBuild> m_build;
    LONG m_lastTotal = 1;
    DustMapHeader m_header;
    std::vector<WORD> m_toneTable;
    std::vector<BYTE> m_compressedTone;
    PravonImagePtr m_correction;
    PravonImagePtr m_second;
    CDustBlockList m_correctionBlocks;
    CDustBlockList m_secondBlocks;
};
