// Red-eye correction settings: the mode and the corrected regions, each region kept as the bytes the
// red-eye library saved for it, in two lists: regions found by automatic detection and regions added by
// clicks. The record never looks inside a region's bytes.
#pragma once

#include "CKvRegionBuffer.h"
#include "IKvState.h"

#include <cstddef>
#include <vector>

class CKvFnRedEye : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    static constexpr LONG kModeOff = 0;
    static constexpr LONG kModeAutomatic = 1;
    static constexpr LONG kModeManual = 2;
    // The record counts each list in 16 bits; a longer list is stored up to this many regions.
    static constexpr std::size_t kMaxStoredRegions = 0xFFFF;

    using RegionList = std::vector<CKvRegionBuffer>;

    CKvFnRedEye() = default;
    CKvFnRedEye(const CKvFnRedEye& other);
    // Copies the mode, the keep-automatic flag and both lists; the two flags that are not stored stay.
    CKvFnRedEye& operator=(const CKvFnRedEye& other);

    void Reset();
    // Over what the record stores.
    bool operator==(const CKvFnRedEye& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    LONG GetMode() const { return m_mode; }
    void SetMode(LONG mode) { m_mode = mode; }
    bool IsOff() const { return m_mode == kModeOff; }
    // In manual mode the automatic regions stay applied too. The byte is kept as stored.
    BYTE GetKeepAutomatic() const { return m_keepAutomatic; }
    void SetKeepAutomatic(BYTE keep) { m_keepAutomatic = keep; }

    // Not stored: automatic detection has run for the picture.
    bool GetAutomaticDone() const { return m_automaticDone != 0; }
    void SetAutomaticDone(bool done) { m_automaticDone = done ? 1 : 0; }
    // Not stored: the manual regions are to be cleared. Setting it empties the manual list at once.
    bool GetClearManualRequest() const { return m_clearManual != 0; }
    void SetClearManualRequest(bool clear);

    RegionList& GetAutomaticRegions() { return m_automatic; }
    const RegionList& GetAutomaticRegions() const { return m_automatic; }
    RegionList& GetManualRegions() { return m_manual; }
    const RegionList& GetManualRegions() const { return m_manual; }

private:
    LONG m_mode = kModeOff;
    BYTE m_keepAutomatic = 0;
    RegionList m_automatic;
    RegionList m_manual;
    BYTE m_automaticDone = 0;
    BYTE m_clearManual = 0;
};
