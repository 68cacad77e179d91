// The dust map of one image: the 8-bit correction map (the fraction of light that reached each pixel, in
// 1/128, or 128 and above for no dust), the texture mask of the analysis and the tone tables the correction
// works through, kept with their compressed streams and stored as a "DstL" blob.
#pragma once

#include "CDustBlockList.h"
#include "KvDustMapFormat.h"

#include "platform/pravon/IPravonImage.h"

#include <memory>
#include <vector>

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
    CDustMap(const CDustMap&) = delete;
    CDustMap& operator=(const CDustMap&) = delete;

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
    IPravonManager* m_manager;
    LONG m_state = kIdle;
    DustMapHeader m_header;
    std::vector<WORD> m_toneTable;
    std::vector<BYTE> m_compressedTone;
    PravonImagePtr m_correction;
    PravonImagePtr m_second;
    CDustBlockList m_correctionBlocks;
    CDustBlockList m_secondBlocks;
};
