// Maps every sample of its single source through a lookup table per channel. Up to four tables are given
// at any input and output depth from 1 to 16 bits; they are resampled once to the source's depth and
// applied tile by tile.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

#include <vector>

class CPravonFilterLut : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("Lut ");
    static constexpr LONG kMaxTables = 4;
    static constexpr LONG kMaxBits = 16;

    explicit CPravonFilterLut(IPravonManager* manager);
    ~CPravonFilterLut() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Filter to apply LUTs"; }

    // Installs count tables of 2^inputBits entries with values of outputBits; a null entry stands for the
    // linear ramp k * 2^outputBits / 2^inputBits. No table array or a count of 0 installs four identity
    // tables (0, 1) of 1 bit, whatever the depths say. Otherwise a count outside 1..4 or a depth outside
    // 1..16 gives PravonKind::kOutOfRange and changes nothing. Setting the installed tables again changes
    // nothing; any other change marks the cache for a full check and, with notify on an enabled filter
    // with a source, announces a data change over the whole source.
    IPravonError* SetLUT(const WORD* const* tables, LONG inputBits, LONG outputBits, LONG count, bool notify);
    // Each pointer may be null. The count is 0 while nothing was installed.
    void GetLUTInfo(LONG* inputBits, LONG* outputBits, LONG* count) const;
    // Copies the first 2^inputBits entries of each of the first count installed tables into tables[i].
    // Asking for more tables than are installed, or for more input or output bits than they have, gives
    // PravonKind::kOutOfRange; a null array or entry PravonKind::kBadArgument.
    IPravonError* GetLUT(WORD* const* tables, LONG inputBits, LONG outputBits, LONG count) const;

protected:
    bool WritesWholeInvalidArea() const override { return true; }
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    LONG InstalledCount() const;
    // Resamples the installed tables to sourceBits when they were changed or made for another depth.
    IPravonError* PrepareWorkingTables(LONG sourceBits);
    void Rebuild(const std::vector<WORD>& stored, LONG sourceBits, std::vector<WORD>* working) const;

    // Each installed table holds 2^input bits entries and one spare, a copy of the last.
    std::vector<WORD> m_stored[kMaxTables];
    std::vector<WORD> m_working[kMaxTables];
    bool m_rebuild = true;
    LONG m_inputBits = 0;
    LONG m_outputBits = 0;
    LONG m_sourceBits = 0;
};
