// Maps every sample of its single source through a lookup table per channel. Up to four tables are given
// at any input and output depth from 1 to 16 bits; they are resampled once to the source's depth and
// applied tile by tile. Lookup-table stages that feed one another are composed into one table (CRun): the
// last of them reads the first one's source, and those before it make no tiles.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

#include <cstdint>
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

    // Whether a stage after this one that maps pixels (a further lookup-table stage, a colour conversion)
    // may read this stage's source and apply its tables itself, so that this stage makes no tiles. On at
    // first; off, the stage makes its own tiles as any filter does (the road the composition is measured
    // against). The pixels are the same either way.
    void SetReadThrough(bool allowed) { m_readThrough = allowed; }
    bool GetReadThrough() const { return m_readThrough; }

    // The lookup-table stages that feed a consumer, composed into one table per channel: a consumer that maps
    // pixels reads the run's source and maps it through the composed tables itself, and the stages of the run
    // make no tiles. Disabled and pass-through stages between them pass their source on and are looked
    // through. Each table maps a sample to a sample of the same depth, so the composition is exact.
    class CRun {
    public:
        // The run of stages that ends at source, then last (the consumer's own tables) when given. A stage
        // that does not let consumers read through it, or whose tables cannot map the colour space, ends the
        // run above it: it is read as before and reports its own errors. The tables are composed again only
        // when a stage of the run or one of their tables changed.
        IPravonError* Find(IPravonDataSource* source, LONG colorSpace, CPravonFilterLut* last);
        // What the first stage of the run reads; source itself when the run holds no stage above last.
        IPravonDataSource* GetSource() const { return m_source; }
        // Whether the run holds any stage (last included).
        bool Maps() const { return !m_links.empty(); }
        // count pixels of the colour space through the composed tables; from and to may be the same.
        void MapRow(const BYTE* from, BYTE* to, LONG count) const;
        // The composed tables of the colour space's channels (2^bits entries each, bits those of its
        // samples), for a consumer that looks its samples up itself; null past the channels.
        void GetTables(const WORD* tables[kMaxTables]) const;

    private:
        struct Link {
            CPravonFilterLut* stage = nullptr;
            std::uint64_t version = 0;
            bool operator==(const Link&) const = default;
        };
        std::vector<Link> m_links; // the stage that reads the run's source first
        IPravonDataSource* m_source = nullptr;
        LONG m_bits = 0;
        LONG m_channels = 0;
        std::vector<WORD> m_tables[kMaxTables];
    };

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
    // Moves on with every change of the installed tables, to a number no other stage's tables had.
    std::uint64_t m_version = 0;
    bool m_readThrough = true;
    std::vector<WORD> m_working[kMaxTables];
    bool m_rebuild = true;
    LONG m_inputBits = 0;
    LONG m_outputBits = 0;
    LONG m_sourceBits = 0;
    CRun m_run;
};
