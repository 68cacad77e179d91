// One session with the Revelation processing library: it keeps one library handle (the library is loaded
// while any session holds one), describes the images to the library, and runs its two passes over them:
// the statistics pass over a whole source into the session's statistics image, and the output pass,
// strip by strip, into a destination image. Each run holds "DORARevWholeThing" (see CDRAGRunLock.h), so
// the runs of all sessions follow one another.
//
// The thread that begins a run drives it to its end: Process and Abort from another thread while a run
// holds the lock are refused with PravonKind::kInvalidState, and a session is closed on that thread.
#pragma once

#include "filters/engine/CTalvoChrono.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/revelation/CDRAGImage.h"
#include "rawlib/filters/revelation/CDRAGRunLock.h"

#include <cstdint>

class CDRAGBase {
public:
    static constexpr LONG kComponent = FourCC("DRAG");
    // The library gave no session for a kind.
    static constexpr LONG kNoSession = -5;
    // A region that does not lie inside the source.
    static constexpr LONG kRegionOutside = 1012;
    // Samples of the source one output strip covers at most, in bytes: 32 MiB.
    static constexpr std::uint64_t kStripBytes = std::uint64_t{1} << 25;
    // The limit of the library's working memory that the limit callback applies.
    static constexpr std::int32_t kWorkLimit = 1 << 25;

    // option 1 (the Revelation filter's) runs the output pass in strips and allows regions of 16 x 16
    // pixels; otherwise one strip, and regions of 512 x 512 (statistics) or 24 x 24 (output).
    CDRAGBase(IPravonManager* manager, BYTE option);
    CDRAGBase(const CDRAGBase&) = delete;
    CDRAGBase& operator=(const CDRAGBase&) = delete;
    // Fills the allocation, release and limit callbacks of a parameter block.
    virtual void FillCallbacks(DragParams& params);
    // Ends the session as Close does; errors on the way are dropped.
    virtual ~CDRAGBase();

    // Holds a library handle of this kind: an existing one of the kind stays, one of another kind is
    // replaced, and the first handle of the process loads the library. Under "DORARevLocal".
    IPravonError* Open(LONG kind);

    // Starts the statistics pass over region (null: the whole source) of source, measuring secondSource
    // instead (grey, of the source's size and depth; may be null).
    IPravonError* BeginWhole(IPravonDataSource* source, IPravonDataSource* secondSource, BYTE flagByte,
                             LONG depth, LONG kind, const PravonRect* region);
    // Starts the output pass of region (null: the whole source) into destination, which takes the source's
    // size and layout with fitDestination, else the region's size.
    IPravonError* BeginTiled(IPravonDataSource* source, LONG p1, LONG p2, LONG p3, IPravonImage* destination,
                             BYTE flagByte, LONG depth, LONG kind, bool fitDestination,
                             const PravonRect* region);
    // Works on the run for amount rows, or prepares the next strip; progress (may be null) receives 0..100
    // over the whole pass. Kind 1001 when no run is under way.
    IPravonError* Process(LONG* progress, LONG amount);
    bool IsIdle() const { return !m_active; }
    // Ends the run; the session is idle afterwards whatever the library answered. Kind 1001 when no run is
    // under way.
    IPravonError* Abort();
    // Aborts a run under way and gives the handle back; the library goes with the process's last handle.
    IPravonError* Close();

    LONG GetHandle() const { return static_cast<LONG>(m_handle); }
    LONG GetKind() const { return m_kind; }
    BYTE GetOption() const { return m_option; }
    bool IsWholeImageMode() const { return m_wholeImage; }
    LONG GetStripIndex() const { return m_stripIndex; }
    LONG GetStripCount() const { return m_stripCount; }
    LONG GetRowsPerStrip() const { return m_rowsPerStrip; }
    IPravonImage* GetStatisticsImage() const { return m_statistics.get(); }

    // Strips for a region of width x height at a depth (3 bytes a pixel at 8 bits, 6 above): as many as
    // the samples need at stripBytes each, and never more than there are rows to share.
    static LONG StripCount(LONG depth, LONG width, LONG height, std::uint64_t stripBytes = kStripBytes);
    // Sessions that hold a handle now.
    static LONG GetLibraryUseCount();
    // For tests: the bytes of a strip (0 restores kStripBytes).
    static void SetStripBytesForTesting(std::uint64_t bytes);

private:
    IPravonError* CheckStart(IPravonDataSource* source, LONG kind, LONG depth, LONG* colorSpace) const;
    IPravonError* CheckRegion(const PravonRect* region, LONG minimum, PravonRect* area) const;
    IPravonError* CreateImage(PravonImagePtr* image) const;
    void FillCommon(BYTE flagByte, ULONG pass, ULONG inputCount);
    // Takes the run lock, initialises and begins the library's run; on failure the lock is free again.
    IPravonError* StartRun(bool statistics);
    IPravonError* PrepareStrip(const PravonRect& strip);
    IPravonError* LibraryError(std::int32_t result, const DragError& error, const char* call) const;
    // Ends the library's run after a failure (returned, with what else went wrong), so that the handle can
    // start again; a handle whose run the library will not end is given back.
    IPravonError* ResetLibraryRun(IPravonError* failure);
    // Lets go of the images' tiles and marks the session idle.
    void EndRun();
    // Gives the handle back under "DORARevLocal"; the library goes with the last one.
    void DeleteHandle();

    IPravonManager* m_manager;
    BYTE m_option;
    LONG m_kind = 0;
    std::uint32_t m_handle = 0;
    PravonImagePtr m_statistics;
    PravonImagePtr m_stripBuffer;
    bool m_active = false;
    bool m_wholeImage = false;
    bool m_stripPrepared = false;
    LONG m_stripIndex = 0;
    LONG m_stripCount = 0;
    LONG m_rowsPerStrip = 0;
    BYTE m_p1 = 0;
    BYTE m_p2 = 0;
    BYTE m_p3 = 0;
    // The two further values of the output pass: 0 as the callers give them, -1 whenever option is set.
    LONG m_further1 = 0;
    LONG m_further2 = 0;
    BYTE m_flagByte = 0;
    PravonRect m_region{};
    // The destination's offset from source coordinates: the region's corner unless it was fitted.
    LONG m_destinationLeft = 0;
    LONG m_destinationTop = 0;
    double m_resolution = 0;
    CDRAGImage m_source;
    CDRAGImage m_buffer;
    CDRAGImage m_statisticsImage;
    CDRAGImage m_destination;
    DragParams m_params{};
    CDRAGRunLock m_runLock;
    CTalvoChrono m_chrono{"CDRAGBase"};
};
