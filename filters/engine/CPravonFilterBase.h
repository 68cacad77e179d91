// The base of every image filter: a node of the imaging framework's graph whose output tiles are made
// from its sources on demand, kept in a cache image and dropped in part or whole when a source announces
// a change. It also runs whole processing passes into an image of the caller's, tile by tile.
//
// A derived filter supplies GetFilterCode, GetFilterDescription and ProcessTile, which computes the tile
// that FillOutputTile hands it from the source rectangle that ForEachSourcePart (or a source tile cursor)
// delivers. It overrides the GetFiltered... geometry, the Filter.../Defilter... mappings and the Filter...
// notification hooks only where its output differs from its first source.
#pragma once

#include "filters/engine/CPixelPtr.h"
#include "filters/engine/CPravonFilterWatcher.h"
#include "filters/engine/CTalvoChrono.h"
#include "filters/engine/TFunctionRef.h"
#include "platform/pravon/IPravonImage.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class CPravonFilterBase : public IPravonFilter {
public:
    // Component code of the errors the base raises itself.
    static constexpr LONG kComponent = 32;

    // Cursors over the pixels of a locked tile, for formats of a byte and more and for every depth.
    using CPixelPtr = PravonPixelCursors::CPixelPtr;
    using CPixelBitPtr = PravonPixelCursors::CPixelBitPtr;

    // One processing pass: its sources, the image it renders into, the grid of that image's tiles and
    // the cell it has reached. Filters that keep more per pass derive from it (see AllocateProcessInfo).
    class CProcessInfo {
    public:
        CProcessInfo() = default;
        // Copies the source pointers; may throw std::bad_alloc.
        CProcessInfo(IPravonDataSource* const* sources, LONG count, IPravonImage* image);
        CProcessInfo(const CProcessInfo&) = delete;
        CProcessInfo& operator=(const CProcessInfo&) = delete;
        // Releases the grid.
        virtual ~CProcessInfo();
        virtual void Destroy() { delete this; }

        std::vector<IPravonDataSource*> sources;
        IPravonImage* image = nullptr;   // not owned
        IPravonTileGrid* grid = nullptr; // owned; null once the pass has walked every tile
        LONG column = 0;
        LONG row = 0;
    };

    class CIntermediateCache; // filters/engine/CPravonFilterIntermediateCache.h

    CPravonFilterBase(IPravonManager* manager, LONG cacheUsage);
    ~CPravonFilterBase() override;

    // The current sources, first source first; valid until the next connection change.
    void GetSources(IPravonDataSource* const** sources, LONG* count) const;

    // Re-read the framework's lists of this node's connections.
    IPravonError* PravonAddedDataDestination(IPravonDataDestination* destination) override;
    IPravonError* PravonRemovedDataDestination(IPravonDataDestination* destination) override;

    // Geometry and tiles. A disabled or pass-through filter answers from its first source
    // (PravonKind::kNoSource without one); otherwise the cache is brought up to date and answers, and a
    // locked tile is generated first when any part of it is invalid.
    IPravonError* GetWidth(LONG* width) override;
    IPravonError* GetHeight(LONG* height) override;
    IPravonError* GetColorSpace(LONG* colorSpace) override;
    IPravonError* GetResolution(double* resolution) override;
    IPravonError* GetFlip(bool* flip) override;
    IPravonError* GetRotation(double* rotation) override;
    IPravonError* GetTileSize(LONG* tileSize) override;
    IPravonError* GetPalette(PravonPalette* palette) override;
    IPravonError* TileExists(const IPravonTileID& id, bool* exists) override;
    IPravonError* TileExists(LONG column, LONG row, bool* exists) override;
    IPravonError* GetTile(const IPravonTileID& id, IPravonTile** tile) override;
    IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) override;
    IPravonError* LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data, PravonRect* tileRect,
                           PravonRect* clippedRect, LONG* rowBytes) override;
    IPravonError* LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) override;
    IPravonError* UnlockTile(const IPravonTileID& id) override;
    IPravonError* UnlockTile(LONG column, LONG row) override;
    IPravonError* MapRect(const PravonRect& rect, IPravonTileGrid** grid) override;

    // An effective change marks the cache for a full re-check; with notify it sends kUpdateAll downstream.
    virtual IPravonError* Enable(bool enable, bool notify);
    virtual bool IsEnabled() const { return m_enabled; }
    virtual IPravonManager* GetManager() const { return m_manager; }
    virtual LONG GetFilterID() const { return m_filterID; }

    virtual LONG GetFilterCode() const = 0;
    virtual const char* GetFilterDescription() const = 0;

    // Source coordinates to output coordinates (Filter...) and back (Defilter...), in place, for the
    // given sources. The base leaves the values as they are.
    virtual IPravonError* FilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count);
    virtual IPravonError* FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count);
    virtual IPravonError* FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count);
    virtual IPravonError* FilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count);
    virtual IPravonError* DefilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count);
    virtual IPravonError* DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count);
    virtual IPravonError* DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count);
    virtual IPravonError* DefilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count);

    // Processing passes render the output for the given sources into image, tile by tile. Process runs
    // a whole pass; BeginProcess opens one and names it, each ExecuteProcess renders one tile and reports
    // done out of total (both 0 once the pass is through), EndProcess closes it. Several passes may be
    // open at once; an id that is not open gives PravonKind::kNoSuchPass.
    virtual IPravonError* Process(IPravonDataSource* const* sources, LONG count, IPravonImage* image);
    virtual IPravonError* BeginProcess(LONG* id, IPravonDataSource* const* sources, LONG count,
                                       IPravonImage* image);
    virtual IPravonError* ExecuteProcess(LONG id, LONG* done, LONG* total);
    virtual IPravonError* GetProcessInfo(LONG id, IPravonDataSource* const** sources, LONG* count,
                                         IPravonImage** image);
    virtual IPravonError* EndProcess(LONG id);

    // The cache keeps the memory of at most this many lines of tiles (IPravonImage::SetKeptTileLines), for
    // an output that is read once, band by band; 0, as made, keeps every tile.
    IPravonError* SetKeptTileLines(LONG lines);
    LONG GetKeptTileLines() const { return m_keptTileLines; }

    virtual LONG GetCacheUsage() const { return m_cacheUsage; }
    virtual IPravonError* SetCacheUsage(LONG usage);

    // AddWatcher and RemoveWatcher change the counts on both sides; the Do... forms only this filter's.
    // A watcher that joins or leaves for good is announced to the others with
    // CPravonFilterWatcher::kWatcherChange.
    virtual IPravonError* AddWatcher(CPravonFilterWatcher* watcher);
    virtual IPravonError* RemoveWatcher(CPravonFilterWatcher* watcher);
    virtual IPravonError* DoAddWatcher(CPravonFilterWatcher* watcher);
    virtual IPravonError* DoRemoveWatcher(CPravonFilterWatcher* watcher);
    // Calls every watcher in map order; stops at the first error and returns it.
    virtual IPravonError* NotifyWatchers(LONG type, void* data);
    // How often the watcher is registered on this filter (0 when it is not).
    LONG GetWatcherCount(const CPravonFilterWatcher* watcher) const;

    // The output geometry for the given sources; the base gives the first source's (PravonKind::kNoSource
    // without).
    virtual IPravonError* GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                          LONG* height);
    virtual IPravonError* GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                                LONG* colorSpace);
    virtual IPravonError* GetFilteredResolution(IPravonDataSource* const* sources, LONG count,
                                                double* resolution);
    virtual IPravonError* GetFilteredTransform(IPravonDataSource* const* sources, LONG count, bool* flip,
                                               double* angle);
    virtual IPravonError* GetFilteredPalette(IPravonDataSource* const* sources, LONG count,
                                             PravonPalette* palette);

    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override;
    IPravonError* PravonAddedDataSource(IPravonDataSource* source) override;
    IPravonError* PravonRemovedDataSource(IPravonDataSource* source) override;

    bool IsPassThrough() const { return m_passThrough; }
    // How many cache tiles this filter has computed since it was made or the count was last reset: what a
    // change of its parameters or sources made it do again.
    std::uint64_t GetGeneratedTileCount() const { return m_generatedTiles.load(std::memory_order_relaxed); }
    void ResetGeneratedTileCount() { m_generatedTiles.store(0, std::memory_order_relaxed); }

protected:
    // A filter's output tile, locked for it: its pixels, the part of it to compute and how its rows lie.
    struct COutputTile {
        BYTE* data = nullptr; // the pixel at the tile's top-left corner
        CPravonRect rect;     // the tile, in output coordinates
        CPravonRect invalid;  // what is to be computed, inside rect
        LONG rowBytes = 0;
        LONG colorSpace = 0;                // of the image the tile belongs to; 0 for a tile of no image
        BITMAPINFOHEADER* header = nullptr; // the tile's own bitmap header, for a filter that fills it

        // The first byte of row y (output coordinates).
        BYTE* Row(LONG y) const { return data + static_cast<std::ptrdiff_t>(y - rect.top) * rowBytes; }
    };

    // Computes the invalid part of tile from the info's sources, or from the filter's own when info is
    // null; a filter does it through FillOutputTile.
    virtual IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) = 0;
    // The one place where a filter's output tile is locked and made valid: when any part of tile is
    // invalid, fill gets the tile locked, with its invalid part; the tile is unlocked afterwards (also when
    // fill throws) and validated when fill succeeded, so that a failed tile is made again on its next use.
    // A tile with nothing invalid is left alone.
    IPravonError* FillOutputTile(IPravonTile* tile, TFunctionRef<IPravonError*(const COutputTile& out)> fill);

    // How far the window an output pixel is computed from reaches beyond the source pixel the pixel maps
    // back to (DefilterPoint), on each side, in source pixels. A windowed filter declares it here once and
    // fetches its sources by it; FilterData widens a changed source rectangle by it, so that the output
    // pixels whose windows reach into the change are made again while the rest of the cache stays.
    struct CHalo {
        LONG left = 0;
        LONG top = 0;
        LONG right = 0;
        LONG bottom = 0;
    };
    // The halo for the given sources; none unless a filter declares one.
    virtual CHalo GetHalo(IPravonDataSource* const* sources, LONG count);
    // Whether ProcessTile writes every pixel of the invalid area it is handed. A filter that does lets its
    // fresh cache tiles skip the zero-fill: a tile is not read before it is valid, and a failed generation
    // leaves it invalid. A filter that leaves pixels alone (outside its source, say) keeps the default.
    virtual bool WritesWholeInvalidArea() const { return false; }
    // The output area that a change of rect in source makes invalid: rect widened by the halo, mapped by
    // FilterRect and rounded outward. A filter whose pixels are computed on another geometry than its
    // mapping's answers for itself.
    virtual IPravonError* MapChangedArea(IPravonDataSource* source, const PravonRect& rect, PravonRect* area);

    // Generates one cache tile: ProcessTile with the given sources (none: the filter's own).
    virtual IPravonError* GenerateTile(IPravonTile* tile, IPravonDataSource* const* sources, LONG count);
    // Locks a cache tile for the caller, generating it first when any part is invalid. On error the tile
    // is not left locked.
    virtual IPravonError* LockAndGenerate(void** data, IPravonTile* tile, BITMAPINFOHEADER** header);
    // Makes the cache image when there is none and, while the cache-check flag is set, gives it the
    // output geometry and invalidates every tile; clears the flag on success.
    virtual IPravonError* CheckCache();
    // Invalidates the cached tiles under rect (output coordinates, cut to the cache image).
    virtual IPravonError* InvalidateCache(const PravonRect& rect);

    // Notification hooks, one per type, called by PravonNotify. FilterData invalidates what MapChangedArea
    // gives and passes it on.
    virtual IPravonError* FilterUser(IPravonDataSource* source, LONG type, void* data);
    virtual IPravonError* FilterData(IPravonDataSource* source, PravonRect* rect);
    virtual IPravonError* FilterSize(IPravonDataSource* source, ChangeSize* change);
    virtual IPravonError* FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change);
    virtual IPravonError* FilterResolution(IPravonDataSource* source, ChangeResolution* change);
    virtual IPravonError* FilterTransform(IPravonDataSource* source, ChangeTransform* change);
    virtual IPravonError* FilterPalette(IPravonDataSource* source, ChangePalette* change);
    virtual IPravonError* FilterDestroy(IPravonDataSource* source);
    virtual IPravonError* FilterUpdateAll(IPravonDataSource* source);

    // Makes the record of a pass; null when memory runs out.
    virtual CProcessInfo* AllocateProcessInfo(LONG id, IPravonDataSource* const* sources, LONG count,
                                              IPravonImage* image);

    // Set while the output equals the first source unchanged.
    void SetPassThrough(bool passThrough) { m_passThrough = passThrough; }
    // Marks the output geometry as possibly changed: the next use re-reads it and drops every tile.
    void SetCacheCheck() { m_checkCache = true; }
    bool IsCacheCheckSet() const { return m_checkCache; }
    IPravonImage* GetCacheImage() const { return m_cache.get(); }
    CTalvoChrono& GetChrono() { return m_chrono; }

    // The source ProcessTile reads: the info's first source when an info is given, else the filter's
    // first source; PravonKind::kNoSource when there is none.
    IPravonError* GetFirstSource(const CProcessInfo* info, IPravonDataSource** source) const;
    // The sources ProcessTile reads, chosen the same way.
    void GetProcessSources(const CProcessInfo* info, IPravonDataSource* const** sources, LONG* count) const;

private:
    friend class CPravonFilterWatcher;

    struct ProcessInfoDestroyer {
        void operator()(CProcessInfo* info) const {
            if (info)
                info->Destroy();
        }
    };
    using ProcessInfoPtr = std::unique_ptr<CProcessInfo, ProcessInfoDestroyer>;

    // A tile being generated; invalidations that reach it meanwhile are kept and put back afterwards.
    struct Generation {
        IPravonTile* tile = nullptr;
        CPravonRect rect;
        CPravonRect invalidated;
        bool whole = false;
    };

    bool ForwardsToSource() const { return !m_enabled || m_passThrough; }
    IPravonError* OwnFirstSource(IPravonDataSource** source) const;
    IPravonError* FirstOf(IPravonDataSource* const* sources, LONG count, IPravonDataSource** source) const;
    IPravonError* ReadSources();
    IPravonError* ReadDestinations();
    // The node that answers geometry and tile calls: the first source when the filter forwards to it,
    // else the cache image, brought up to date.
    IPravonError* AnsweringNode(IPravonDataSource** node);
    // call(node) with the answering node.
    template <class Call>
    IPravonError* Answer(Call&& call);
    // call(source) with the first source (PravonKind::kNoSource without one).
    template <class Call>
    IPravonError* Forward(Call&& call);

    // A lock by id or by column and row that went to the first source; grid locks are told apart by
    // their grid.
    struct ForwardedLock {
        bool byId = false;
        IPravonTileID id; // column and row alone when not by id
        bool operator==(const ForwardedLock&) const = default;
    };
    // Notes a forwarded lock that succeeded; when it cannot be noted, it is undone and reported.
    IPravonError* NoteForwardedLock(const ForwardedLock& lock, IPravonError* locked,
                                    TFunctionRef<IPravonError*()> unlock);
    // Whether an unlock goes to the source: the lock was noted as forwarded (the note goes), or the cache
    // tile that find gives is not locked and the filter forwards now.
    bool UnlocksAtSource(const ForwardedLock& lock,
                         TFunctionRef<IPravonError*(IPravonImage* cache, IPravonTile** tile)> find);
    IPravonError* UnlockCached(TFunctionRef<IPravonError*(IPravonImage* cache)> unlock);
    IPravonError* CacheTileForGrid(IPravonTileGrid* grid, LONG column, LONG row, IPravonTile** tile);
    // Gives image the output geometry for the given sources and reads back its size; a colour space of 0
    // is set only when asked (a pass), the cache keeps its last one.
    IPravonError* SetOutputGeometry(IPravonDataSource* const* sources, LONG count, IPravonImage* image,
                                    bool alwaysColorSpace, LONG* width, LONG* height);
    // Invalidates the tiles of image under rect: whole where rect covers them, else the part it covers.
    static IPravonError* InvalidateTiles(IPravonImage* image, const PravonRect& rect);
    // A pass-through pass: the whole tile, copied from the first source.
    IPravonError* CopyThrough(IPravonTile* tile, CProcessInfo* info);
    IPravonError* SendWatcherChange(bool added, CPravonFilterWatcher* watcher);
    // Drops every registration of the watcher on this filter; announces it to the others if asked.
    void ForgetWatcher(CPravonFilterWatcher* watcher, bool announce);

    LONG m_filterID;
    IPravonManager* m_manager;
    PravonImagePtr m_cache;
    bool m_checkCache = true;
    LONG m_cacheUsage;
    LONG m_keptTileLines = 0;
    bool m_passThrough = false;
    std::vector<IPravonDataSource*> m_sources;
    std::vector<IPravonDataDestination*> m_destinations;
    bool m_enabled = true;
    std::map<LONG, ProcessInfoPtr> m_processes;
    LONG m_nextProcessID = 1;
    std::map<CPravonFilterWatcher*, LONG> m_watchers;
    CTalvoChrono m_chrono;
    std::vector<Generation*> m_generating;
    std::vector<ForwardedLock> m_forwardedLocks;
    std::atomic<std::uint64_t> m_generatedTiles{0};
};
