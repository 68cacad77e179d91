// Passes its single source through unchanged and counts the source's samples into one histogram per
// channel, at the source's own depth, a tile at a time: whenever anyone locks a tile through it, in slices
// of time (SpendTime) or all at once (ForceCompletion). Each counted tile is announced to the watchers and
// downstream, so that a display can draw the histogram as it grows.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

#include <cstdint>
#include <memory>
#include <vector>

class CPravonFilterHistogram : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("hsto");
    // Watcher notifications (no data) after a tile was counted, and after the last one was.
    static constexpr LONG kTileCounted = kCode;
    static constexpr LONG kCompleted = kCode + 1;
    // User notifications sent downstream after a tile was counted, with the filter as data.
    static constexpr LONG kHistogramGrew = -2100;
    static constexpr LONG kHistogramComplete = -2099;
    // The one processing pass the filter runs at a time.
    static constexpr LONG kPassID = 1;

    explicit CPravonFilterHistogram(IPravonManager* manager);
    ~CPravonFilterHistogram() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Histogram Filter"; }

    // Every geometry and tile call goes to the single source (PravonKind::kNoSource unless there is
    // exactly one), whether the filter is enabled or not; a tile locked through it is counted first.
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

    // Only stores the state: while disabled, locked tiles are not counted. Nothing is sent.
    IPravonError* Enable(bool enable, bool notify) override;
    bool IsEnabled() const override { return m_counting; }

    // The part of the source to count, in source coordinates; all zero counts the whole image. A new
    // rectangle starts the histogram again.
    IPravonError* SetCrop(const PravonRect& crop);
    const PravonRect& GetCrop() const { return m_crop; }

    // Counts uncounted tiles, lowest index first, until the milliseconds are spent or every tile is
    // counted; a slice that the set-up of the histogram used up counts nothing.
    IPravonError* SpendTime(ULONG milliseconds);
    // Counts every tile not counted yet, the last one first.
    IPravonError* ForceCompletion();
    // Whether the source is known, the histogram has tiles and every one is counted.
    bool IsComplete() const;

    // Copies channel's histogram at bits (cut to the native bits) into bins, 2^bits entries; at fewer bits
    // than the native ones each entry sums the native entries it covers. Returns the bits delivered: 0 when
    // nothing is counted yet, the channel does not exist or bits is below 1.
    LONG GetHistogram(LONG channel, ULONG* bins, LONG bits) const;
    // The channel's 2^native-bits entries, or null.
    const ULONG* ReadHistogram(LONG channel) const;
    // 8 or 16 by the source's colour space; 0 until the histogram was first set up for a source.
    LONG GetNativeBits() const { return m_nativeBits; }
    // The channels that exist are FirstChannel() .. FirstChannel() + ChannelCount() - 1.
    LONG GetChannelCount() const { return m_channels; }
    LONG GetFirstChannel() const { return m_firstChannel; }

    // Changes of the source's pixels or layout start the histogram again (data, size, colour space,
    // transform, destruction, update all); resolution and palette changes do not. Every notification
    // then goes downstream unchanged.
    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override;
    // A new connection starts the histogram again.
    IPravonError* PravonAddedDataSource(IPravonDataSource* source) override;
    IPravonError* PravonRemovedDataSource(IPravonDataSource* source) override;

    // One pass at a time, always kPassID: it counts the given first source's whole image, tile by tile,
    // and copies each tile into the image when one is given (the image must have the source's tile
    // layout). A second pass gives PravonKind::kPassOpen, another id PravonKind::kNoSuchPass.
    IPravonError* BeginProcess(LONG* id, IPravonDataSource* const* sources, LONG count,
                               IPravonImage* image) override;
    IPravonError* ExecuteProcess(LONG id, LONG* done, LONG* total) override;
    IPravonError* GetProcessInfo(LONG id, IPravonDataSource* const** sources, LONG* count,
                                 IPravonImage** image) override;
    IPravonError* EndProcess(LONG id) override;

protected:
    // Storage of the bins; a derived class may keep them elsewhere. False when memory runs out.
    virtual bool AllocateHistogram(ULONG entries);
    virtual void FreeHistogram();

    // The filter keeps no output of its own.
    IPravonError* GenerateTile(IPravonTile* tile, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    // How a pixel of the source's colour space is counted.
    enum class Layout { kNothing, kSingle, kRGB, kThree, kCMYK };

    struct Pass {
        bool open = false;
        IPravonDataSource* source = nullptr;
        IPravonImage* image = nullptr;
        PravonTileGridPtr grid;
        LONG column = 0;
        LONG row = 0;
    };

    // Takes the single source when none is held; a source other than the one counted clears the layout.
    IPravonError* FindSource();
    void ForgetSource() { m_source = nullptr; }
    // No tile counted; the next use sets the histogram up again.
    void Reset();
    IPravonError* Initialise();
    IPravonError* InitialiseIfNeeded() { return m_initialised ? nullptr : Initialise(); }
    // Counts a tile locked from the source (its data, rectangle and row bytes) unless it is counted.
    IPravonError* CountTile(const BYTE* data, const PravonRect& tileRect, LONG rowBytes);
    // Locks and unlocks the tile of the index through the filter, which counts it.
    IPravonError* CountIndex(std::size_t index);
    void CountPixels(const BYTE* data, const CPravonRect& tileRect, LONG rowBytes, const CPravonRect& part);
    // Announces the counted tile to the watchers and downstream.
    IPravonError* AnnounceTile();
    bool IsCounted(std::size_t index) const { return (m_done[index / 64] >> (index % 64)) & 1u; }
    // The pass's copy of a locked source tile into the image's tile of the same cell.
    IPravonError* CopyIntoImage(IPravonImage* image, LONG column, LONG row, const BYTE* data,
                                const PravonRect& tileRect, LONG rowBytes);
    // call(source) with the single source.
    template <class Call>
    IPravonError* Forward(Call&& call);
    // Counts a tile just locked; on error the tile is unlocked again.
    template <class Unlock>
    IPravonError* CountLocked(const void* data, const PravonRect& tileRect, LONG rowBytes, Unlock&& unlock);
    // The lock forms by id and by column and row: lock(source, &data), then find(source, &tile) tells the
    // tile's rectangle and row bytes for the count; unlock(source) undoes the lock on error.
    template <class Lock, class Find, class Unlock>
    IPravonError* LockAndCount(void** data, Lock&& lock, Find&& find, Unlock&& unlock);

    IPravonDataSource* m_source = nullptr;
    // The source whose pixels the bins hold; null after a reset.
    IPravonDataSource* m_countedFrom = nullptr;
    std::unique_ptr<ULONG[]> m_bins;
    ULONG m_entries = 0;
    CPravonRect m_crop;
    CPravonRect m_effective;
    bool m_initialised = false;
    std::vector<std::uint64_t> m_done;
    std::size_t m_tileCount = 0;
    std::size_t m_countedTiles = 0;
    std::size_t m_lowestUncounted = 0;
    LONG m_tileColumns = 1;
    LONG m_tileSize = 0;
    LONG m_colorSpace = 0;
    LONG m_nativeBits = 0;
    LONG m_channels = 0;
    LONG m_firstChannel = 0;
    Layout m_layout = Layout::kNothing;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_firstColumn = 0;
    LONG m_firstRow = 0;
    bool m_counting = true;
    Pass m_pass;
};
