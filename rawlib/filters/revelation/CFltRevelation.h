// The Revelation filter: its output rests on statistics of the whole source, so the first tile asked for
// runs the library's statistics pass over the whole source and then its output pass, which writes the
// whole result into the filter's cache image (or a processing pass's image); later tiles come from there.
// The passes run again only when their inputs changed. A failed or cancelled run disables the filter, which
// then answers from its source.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "rawlib/filters/revelation/CREVProcess.h"

#include <memory>

class CFltRevelation : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("rev ");
    // Watcher notification type of the passes' progress records.
    static constexpr LONG kProgressNotification = 1;
    // Codes of the two passes in their progress records.
    static constexpr LONG kStatisticsCode = FourCC("Norm");
    static constexpr LONG kOutputCode = 0x00526576; // "Rev"
    static constexpr LONG kDefaultP1 = 127;
    static constexpr LONG kDefaultP2 = 190;
    static constexpr LONG kDefaultP3 = 127;
    static constexpr LONG kDefaultKind = 11;
    static constexpr LONG kDefaultDepth = 16;

    // What a pass tells its watchers as it goes; a watcher that clears continueRun cancels the pass.
    struct CProgress {
        LONG code = 0;
        LONG progress = 0;
        LONG total = 1;
        LONG steps = 1; // always 1
        bool continueRun = true;
    };

    // A processing pass's own state: which passes it still needs and its own session.
    class CRevProcInfo : public CProcessInfo {
    public:
        CRevProcInfo(IPravonDataSource* const* sources, LONG count, IPravonImage* image)
            : CProcessInfo(sources, count, image) {}
        bool statisticsNeeded = true;
        bool outputNeeded = true;
        std::unique_ptr<CREVProcess> session;
    };

    explicit CFltRevelation(IPravonManager* manager);
    ~CFltRevelation() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Revelation"; }

    // The session kind (2..11), sample depth (8, 10, 12, 14, 16) and flag of both passes. A change makes
    // both passes run again; with notify, an enabled filter with a source announces its whole output.
    IPravonError* SetParameters(LONG kind, LONG depth, BYTE flag, bool notify);
    // The output pass's three values; a change makes only the output pass run again.
    IPravonError* SetParameters2(LONG p1, LONG p2, LONG p3, bool notify);
    bool IsDirty() const { return m_statisticsDirty || m_outputDirty; }
    bool IsStatisticsDirty() const { return m_statisticsDirty; }
    bool IsOutputDirty() const { return m_outputDirty; }

    LONG GetKind() const { return m_kind; }
    LONG GetDepth() const { return m_depth; }
    bool GetFlag() const { return m_flagByte != 0; }
    LONG GetP1() const { return m_p1; }
    LONG GetP2() const { return m_p2; }
    LONG GetP3() const { return m_p3; }

    // Marks which passes a source's change calls for: a change of the pixels, the size, the colour space,
    // the palette or the source itself both, a resolution change the output pass, a transform change
    // neither. Pixel and resolution changes reach downstream as a change of the whole output, since every
    // output pixel rests on the whole source; the other changes go on as they came.
    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override;

protected:
    IPravonError* CheckCache() override;
    CProcessInfo* AllocateProcessInfo(LONG id, IPravonDataSource* const* sources, LONG count,
                                      IPravonImage* image) override;
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    // The statistics pass when the pass (info, or the filter's cache when null) needs it.
    IPravonError* RunStatistics(IPravonDataSource* source, CRevProcInfo* info);
    // The statistics pass, then the output pass when it is needed, into the info's image or the cache.
    IPravonError* RunProcess(IPravonDataSource* source, CRevProcInfo* info);
    // Begins a pass on the session and drives it to its end, telling the watchers how far it got. After an
    // error or a cancel, a run still under way is aborted and the filter disables itself; needed is cleared
    // when the pass is through.
    IPravonError* RunPass(CRevProcInfo* info, LONG code, bool& needed,
                          TFunctionRef<IPravonError*(CREVProcess& session)> begin);
    // The session of the pass (info), or the filter's own; made on first use.
    IPravonError* Session(CRevProcInfo* info, CREVProcess** session);
    // What a disabled filter shows: the source's pixels under the tile's invalid part.
    IPravonError* CopySource(IPravonDataSource* source, LONG colorSpace, const COutputTile& out);
    IPravonError* AnnounceWholeOutput();

    LONG m_p1 = kDefaultP1;
    LONG m_p2 = kDefaultP2;
    LONG m_p3 = kDefaultP3;
    LONG m_kind = kDefaultKind;
    LONG m_depth = kDefaultDepth;
    BYTE m_flagByte = 0;
    bool m_statisticsDirty = true;
    bool m_outputDirty = true;
    std::unique_ptr<CREVProcess> m_session;
};
