// The library's earlier scale filter: the geometry, setters and mappings of CPravonFilterScale, computed
// by an engine of its own that splits source pixels into one 16-bit plane per channel, resamples the
// planes and packs them back, with working buffers from a pool of per-thread buffer sets.
#pragma once

#include "filters/CFltScaleRoutines.h"
#include "filters/CPravonFilterScale.h"
#include "filters/TThreadDataMgr.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class CFltScale : public CPravonFilterScale {
public:
    static constexpr LONG kCode = FourCC("scl2");

    // 16-bit samples, 16-byte aligned; the buffer only grows and keeps its capacity between uses.
    class CSampleBuffer {
    public:
        // Room for count samples, zero where it is new; false when no memory is left for it.
        bool Reserve(std::size_t count);
        std::uint16_t* Data() const { return m_data.get(); }
        std::size_t Capacity() const { return m_capacity; }

    private:
        struct Free {
            void operator()(std::uint16_t* p) const;
        };
        std::unique_ptr<std::uint16_t, Free> m_data;
        std::size_t m_capacity = 0;
    };

    // The working memory of one tile being computed.
    struct BufSet {
        LONG tileWidth = 0;
        LONG paddedWidth = 0; // tileWidth rounded up to a multiple of 8
        LONG ringRows = 0;
        LONG horizontalPosition = 0; // the tile's left column in the horizontal table
        CScaleTableEntry verticalEntry;
        CSampleBuffer span;   // the gathered source run of one row, a plane per channel
        CSampleBuffer ring;   // ringRows rows, each a plane of paddedWidth per channel
        CSampleBuffer output; // one output row, a plane per channel
        std::vector<std::int32_t> index;
    };

    CFltScale(IPravonManager* manager, LONG method);
    ~CFltScale() override;

    LONG GetFilterCode() const override { return kCode; }

    // For tests: the pool and the source rows the last separable tile fetched.
    const TThreadDataMgr<BufSet>& GetPool() const { return m_pool; }
    std::int64_t GetLastFetchedRows() const { return m_lastFetched; }

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    struct Geometry;

    // The set-up for the given source and output, shared by the tiles computed with it.
    IPravonError* Prepare(LONG sourceWidth, LONG sourceHeight, LONG outputWidth, LONG outputHeight,
                          LONG colorSpace, std::shared_ptr<const Geometry>* geometry);
    IPravonError* RunNearest(const Geometry& g, IPravonDataSource* source, const COutputTile& out,
                             const PravonRect& rect);
    IPravonError* RunSeparable(const Geometry& g, IPravonDataSource* source, const COutputTile& out,
                               const PravonRect& rect, BufSet* set);

    TThreadDataMgr<BufSet> m_pool;
    std::mutex m_setupLock;
    std::shared_ptr<const Geometry> m_geometry;
    std::atomic<std::int64_t> m_lastFetched{0};
};
