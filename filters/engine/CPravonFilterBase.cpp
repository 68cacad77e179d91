#include "CPravonFilterBase.h"

#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

namespace {

std::atomic<LONG> g_nextFilterID{1};

} // namespace

CPravonFilterBase::CPravonFilterBase(IPravonManager* manager, LONG cacheUsage)
    : m_filterID(g_nextFilterID++), m_manager(manager), m_cacheUsage(cacheUsage) {}

CPravonFilterBase::~CPravonFilterBase() {
    // Every registration goes, on both sides, however often a watcher registered. The others are not
    // told: the filter handed to their callbacks would be half destroyed by now.
    for (auto& [watcher, count] : m_watchers)
        watcher->m_filters.erase(this);
    m_watchers.clear();
    m_processes.clear();
    m_cache.reset();
}

void CPravonFilterBase::GetSources(IPravonDataSource* const** sources, LONG* count) const {
    if (sources)
        *sources = m_sources.data();
    if (count)
        *count = static_cast<LONG>(m_sources.size());
}

IPravonError* CPravonFilterBase::ReadSources() {
    const LONG count = PravonGetDataSourceCount(this);
    try {
        m_sources.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the source list");
    }
    PravonGetDataSources(this, m_sources.data(), count);
    return nullptr;
}

IPravonError* CPravonFilterBase::ReadDestinations() {
    const LONG count = PravonGetDataDestinationCount(this);
    try {
        m_destinations.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the destination list");
    }
    PravonGetDataDestinations(this, m_destinations.data(), count);
    return nullptr;
}

IPravonError* CPravonFilterBase::PravonAddedDataDestination(IPravonDataDestination*) {
    return ReadDestinations();
}

IPravonError* CPravonFilterBase::PravonRemovedDataDestination(IPravonDataDestination*) {
    return ReadDestinations();
}

IPravonError* CPravonFilterBase::PravonAddedDataSource(IPravonDataSource*) {
    IPravonError* err = ReadSources();
    m_checkCache = true;
    return err;
}

IPravonError* CPravonFilterBase::PravonRemovedDataSource(IPravonDataSource*) {
    IPravonError* err = ReadSources();
    m_checkCache = true;
    return err;
}

IPravonError* CPravonFilterBase::FirstOf(IPravonDataSource* const* sources, LONG count,
                                         IPravonDataSource** source) const {
    if (!sources || count <= 0 || !sources[0])
        return PravonFail(kComponent, PravonKind::kNoSource, "the filter has no source");
    *source = sources[0];
    return nullptr;
}

IPravonError* CPravonFilterBase::OwnFirstSource(IPravonDataSource** source) const {
    return FirstOf(m_sources.data(), static_cast<LONG>(m_sources.size()), source);
}

IPravonError* CPravonFilterBase::GetFirstSource(const CProcessInfo* info, IPravonDataSource** source) const {
    if (!source)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no out pointer");
    if (info)
        return FirstOf(info->sources.data(), static_cast<LONG>(info->sources.size()), source);
    return OwnFirstSource(source);
}

void CPravonFilterBase::GetProcessSources(const CProcessInfo* info, IPravonDataSource* const** sources,
                                          LONG* count) const {
    if (info) {
        *sources = info->sources.data();
        *count = static_cast<LONG>(info->sources.size());
    } else {
        GetSources(sources, count);
    }
}

IPravonError* CPravonFilterBase::AnsweringNode(IPravonDataSource** node) {
    if (ForwardsToSource())
        return OwnFirstSource(node);
    if (IPravonError* e = CheckCache())
        return e;
    if (!m_cache)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the filter has no cache image");
    *node = m_cache.get();
    return nullptr;
}

template <class Call>
IPravonError* CPravonFilterBase::Answer(Call&& call) {
    IPravonDataSource* node = nullptr;
    if (IPravonError* e = AnsweringNode(&node))
        return e;
    return call(node);
}

IPravonError* CPravonFilterBase::GetWidth(LONG* width) {
    return Answer([&](IPravonDataSource* node) { return node->GetWidth(width); });
}

IPravonError* CPravonFilterBase::GetHeight(LONG* height) {
    return Answer([&](IPravonDataSource* node) { return node->GetHeight(height); });
}

IPravonError* CPravonFilterBase::GetColorSpace(LONG* colorSpace) {
    return Answer([&](IPravonDataSource* node) { return node->GetColorSpace(colorSpace); });
}

IPravonError* CPravonFilterBase::GetResolution(double* resolution) {
    return Answer([&](IPravonDataSource* node) { return node->GetResolution(resolution); });
}

IPravonError* CPravonFilterBase::GetFlip(bool* flip) {
    return Answer([&](IPravonDataSource* node) { return node->GetFlip(flip); });
}

IPravonError* CPravonFilterBase::GetRotation(double* rotation) {
    return Answer([&](IPravonDataSource* node) { return node->GetRotation(rotation); });
}

IPravonError* CPravonFilterBase::GetTileSize(LONG* tileSize) {
    return Answer([&](IPravonDataSource* node) { return node->GetTileSize(tileSize); });
}

IPravonError* CPravonFilterBase::GetPalette(PravonPalette* palette) {
    return Answer([&](IPravonDataSource* node) { return node->GetPalette(palette); });
}

IPravonError* CPravonFilterBase::TileExists(const IPravonTileID& id, bool* exists) {
    return Answer([&](IPravonDataSource* node) { return node->TileExists(id, exists); });
}

IPravonError* CPravonFilterBase::TileExists(LONG column, LONG row, bool* exists) {
    return Answer([&](IPravonDataSource* node) { return node->TileExists(column, row, exists); });
}

IPravonError* CPravonFilterBase::GetTile(const IPravonTileID& id, IPravonTile** tile) {
    return Answer([&](IPravonDataSource* node) { return node->GetTile(id, tile); });
}

IPravonError* CPravonFilterBase::GetTile(LONG column, LONG row, IPravonTile** tile) {
    return Answer([&](IPravonDataSource* node) { return node->GetTile(column, row, tile); });
}

IPravonError* CPravonFilterBase::MapRect(const PravonRect& rect, IPravonTileGrid** grid) {
    return Answer([&](IPravonDataSource* node) { return node->MapRect(rect, grid); });
}

IPravonError* CPravonFilterBase::CacheTileForGrid(IPravonTileGrid* grid, LONG column, LONG row,
                                                  IPravonTile** tile) {
    if (!grid || grid->GetSource() != m_cache.get())
        return PravonFail(kComponent, PravonKind::kBadArgument, "the grid was not made by this filter");
    return grid->GetTile(column, row, tile);
}

template <class Call>
IPravonError* CPravonFilterBase::Forward(Call&& call) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = OwnFirstSource(&source))
        return e;
    return call(source);
}

IPravonError* CPravonFilterBase::NoteForwardedLock(const ForwardedLock& lock, IPravonError* locked,
                                                   TFunctionRef<IPravonError*()> unlock) {
    if (locked)
        return locked;
    try {
        m_forwardedLocks.push_back(lock);
    } catch (const std::bad_alloc&) {
        return IPravonError::Chain(
            PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to note a lock"), unlock());
    }
    return nullptr;
}

IPravonError* CPravonFilterBase::UnlockCached(TFunctionRef<IPravonError*(IPravonImage* cache)> unlock) {
    if (!m_cache)
        return PravonFail(kComponent, PravonKind::kBadArgument, "unlocking a tile that is not locked");
    if (IPravonError* e = unlock(m_cache.get()))
        return e;
    return CheckCache();
}

IPravonError* CPravonFilterBase::LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data,
                                          PravonRect* tileRect, PravonRect* clippedRect, LONG* rowBytes) {
    // A forwarded lock is taken on a grid of the source, which tells the unlock where to go.
    if (ForwardsToSource())
        return Forward([&](IPravonDataSource* source) {
            return source->LockTile(grid, column, row, data, tileRect, clippedRect, rowBytes);
        });
    if (IPravonError* e = CheckCache())
        return e;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = CacheTileForGrid(grid, column, row, &tile))
        return e;
    PravonRect clip;
    if (IPravonError* e = grid->GetClippedRect(column, row, &clip))
        return e;
    if (IPravonError* e = LockAndGenerate(data, tile, nullptr))
        return e;
    if (tileRect)
        *tileRect = tile->GetRect();
    if (clippedRect)
        *clippedRect = clip;
    if (rowBytes)
        *rowBytes = tile->GetRowBytes();
    return nullptr;
}

IPravonError* CPravonFilterBase::LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) {
    if (ForwardsToSource())
        return Forward([&](IPravonDataSource* source) {
            return NoteForwardedLock(ForwardedLock{true, id}, source->LockTile(id, data, header),
                                     [&] { return source->UnlockTile(id); });
        });
    IPravonDataSource* cache = nullptr;
    if (IPravonError* e = AnsweringNode(&cache))
        return e;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = cache->GetTile(id, &tile))
        return e;
    return LockAndGenerate(data, tile, header);
}

IPravonError* CPravonFilterBase::LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) {
    if (ForwardsToSource())
        return Forward([&](IPravonDataSource* source) {
            return NoteForwardedLock(ForwardedLock{false, IPravonTileID{nullptr, column, row, 0}},
                                     source->LockTile(column, row, data, header),
                                     [&] { return source->UnlockTile(column, row); });
        });
    IPravonDataSource* cache = nullptr;
    if (IPravonError* e = AnsweringNode(&cache))
        return e;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = cache->GetTile(column, row, &tile))
        return e;
    return LockAndGenerate(data, tile, header);
}

// A tile is unlocked the way it was locked, even when the filter was enabled, disabled or set to pass its
// source through in between: a grid tells whose tile it is, a forwarded lock was noted, and a locked
// tile of the cache was locked through the cache. Anything else goes where a lock would go now.
IPravonError* CPravonFilterBase::UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) {
    const bool cached = grid ? m_cache && grid->GetSource() == m_cache.get() : !ForwardsToSource();
    if (cached)
        return UnlockCached([&](IPravonImage* cache) { return cache->UnlockTile(grid, column, row); });
    return Forward([&](IPravonDataSource* source) { return source->UnlockTile(grid, column, row); });
}

IPravonError* CPravonFilterBase::UnlockTile(const IPravonTileID& id) {
    const auto find = [&](IPravonImage* cache, IPravonTile** tile) { return cache->GetTile(id, tile); };
    if (UnlocksAtSource(ForwardedLock{true, id}, find))
        return Forward([&](IPravonDataSource* source) { return source->UnlockTile(id); });
    return UnlockCached([&](IPravonImage* cache) { return cache->UnlockTile(id); });
}

IPravonError* CPravonFilterBase::UnlockTile(LONG column, LONG row) {
    const auto find = [&](IPravonImage* cache, IPravonTile** tile) {
        bool exists = false;
        IPravonError* e = cache->TileExists(column, row, &exists);
        return e || !exists ? e : cache->GetTile(column, row, tile);
    };
    if (UnlocksAtSource(ForwardedLock{false, IPravonTileID{nullptr, column, row, 0}}, find))
        return Forward([&](IPravonDataSource* source) { return source->UnlockTile(column, row); });
    return UnlockCached([&](IPravonImage* cache) { return cache->UnlockTile(column, row); });
}

bool CPravonFilterBase::UnlocksAtSource(
    const ForwardedLock& lock, TFunctionRef<IPravonError*(IPravonImage* cache, IPravonTile** tile)> find) {
    const auto noted = std::find(m_forwardedLocks.begin(), m_forwardedLocks.end(), lock);
    if (noted != m_forwardedLocks.end()) {
        m_forwardedLocks.erase(noted);
        return true;
    }
    IPravonTile* tile = nullptr;
    const bool lockedHere =
        m_cache && !PravonErrorPtr(find(m_cache.get(), &tile)) && tile && tile->GetLockCount() > 0;
    return !lockedHere && ForwardsToSource();
}

IPravonError* CPravonFilterBase::Enable(bool enable, bool notify) {
    if (enable == m_enabled)
        return nullptr;
    m_enabled = enable;
    // While the filter was off its cache heard changes at source coordinates and kept the old geometry.
    m_checkCache = true;
    if (notify)
        return PravonSendDataNotification(this, PravonNotification::kUpdateAll, nullptr);
    return nullptr;
}

IPravonError* CPravonFilterBase::SetCacheUsage(LONG usage) {
    if (usage == m_cacheUsage)
        return nullptr;
    m_cacheUsage = usage;
    m_checkCache = true;
    if (m_cache)
        return m_cache->SetUsage(usage);
    return nullptr;
}

IPravonError* CPravonFilterBase::SetKeptTileLines(LONG lines) {
    if (lines < 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "a negative number of tile lines");
    m_keptTileLines = lines;
    if (m_cache)
        return m_cache->SetKeptTileLines(lines);
    return nullptr;
}

IPravonError* CPravonFilterBase::FilterPoint(double*, double*, IPravonDataSource* const*, LONG) {
    return nullptr;
}
IPravonError* CPravonFilterBase::FilterPoint(LONG*, LONG*, IPravonDataSource* const*, LONG) {
    return nullptr;
}
IPravonError* CPravonFilterBase::FilterRect(PravonDblRect*, IPravonDataSource* const*, LONG) {
    return nullptr;
}
IPravonError* CPravonFilterBase::FilterRect(PravonRect*, IPravonDataSource* const*, LONG) {
    return nullptr;
}
IPravonError* CPravonFilterBase::DefilterPoint(double*, double*, IPravonDataSource* const*, LONG) {
    return nullptr;
}
IPravonError* CPravonFilterBase::DefilterPoint(LONG*, LONG*, IPravonDataSource* const*, LONG) {
    return nullptr;
}
IPravonError* CPravonFilterBase::DefilterRect(PravonDblRect*, IPravonDataSource* const*, LONG) {
    return nullptr;
}
IPravonError* CPravonFilterBase::DefilterRect(PravonRect*, IPravonDataSource* const*, LONG) {
    return nullptr;
}

IPravonError* CPravonFilterBase::GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                                 LONG* height) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = FirstOf(sources, count, &source))
        return e;
    return source->GetSize(width, height);
}

IPravonError* CPravonFilterBase::GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                                       LONG* colorSpace) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = FirstOf(sources, count, &source))
        return e;
    return source->GetColorSpace(colorSpace);
}

IPravonError* CPravonFilterBase::GetFilteredResolution(IPravonDataSource* const* sources, LONG count,
                                                       double* resolution) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = FirstOf(sources, count, &source))
        return e;
    return source->GetResolution(resolution);
}

IPravonError* CPravonFilterBase::GetFilteredTransform(IPravonDataSource* const* sources, LONG count,
                                                      bool* flip, double* angle) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = FirstOf(sources, count, &source))
        return e;
    return source->GetTransform(flip, angle);
}

IPravonError* CPravonFilterBase::GetFilteredPalette(IPravonDataSource* const* sources, LONG count,
                                                    PravonPalette* palette) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = FirstOf(sources, count, &source))
        return e;
    return source->GetPalette(palette);
}

IPravonError* CPravonFilterBase::PravonNotify(IPravonDataSource* source, LONG type, void* data) {
    using namespace PravonNotification;
    if (type < 0)
        return FilterUser(source, type, data);
    switch (type) {
    case kData:
        return FilterData(source, static_cast<PravonRect*>(data));
    case kSize:
        return FilterSize(source, static_cast<ChangeSize*>(data));
    case kColorSpace:
        return FilterColorSpace(source, static_cast<ChangeColorSpace*>(data));
    case kResolution:
        return FilterResolution(source, static_cast<ChangeResolution*>(data));
    case kTransform:
        return FilterTransform(source, static_cast<ChangeTransform*>(data));
    case kPalette:
        return FilterPalette(source, static_cast<ChangePalette*>(data));
    case kDestroyed:
        return FilterDestroy(source);
    case kUpdateAll:
        return FilterUpdateAll(source);
    default:
        return nullptr;
    }
}

IPravonError* CPravonFilterBase::FilterUser(IPravonDataSource*, LONG type, void* data) {
    return PravonSendDataNotification(this, type, data);
}

IPravonError* CPravonFilterBase::FilterData(IPravonDataSource* source, PravonRect* rect) {
    if (!rect)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a data notification without its rectangle");
    PravonRect changed;
    if (IPravonError* e = MapChangedArea(source, *rect, &changed))
        return e;
    // Downstream hears of the change even when the own cache could not be updated.
    IPravonError* err = InvalidateCache(changed);
    return IPravonError::Chain(err, PravonSendDataNotification(this, PravonNotification::kData, &changed));
}

IPravonError* CPravonFilterBase::MapChangedArea(IPravonDataSource* source, const PravonRect& rect,
                                                PravonRect* area) {
    IPravonDataSource* const notifying[1] = {source};
    // A changed source pixel reaches every output pixel whose window holds it, so the area grows by the
    // halo's opposite sides: an output pixel that reads to its right sees a change on its right.
    const CHalo halo = ForwardsToSource() ? CHalo{} : GetHalo(notifying, 1);
    PravonDblRect grown{
        static_cast<double>(rect.left) - halo.right, static_cast<double>(rect.top) - halo.bottom,
        static_cast<double>(rect.right) + halo.left, static_cast<double>(rect.bottom) + halo.top};
    if (IPravonError* e = FilterRect(&grown, notifying, 1))
        return e;
    // Every output pixel the mapped area touches, held in 32 bits.
    *area = PravonRect{Int32Math::SaturatedTrunc(std::floor(grown.left)),
                       Int32Math::SaturatedTrunc(std::floor(grown.top)),
                       Int32Math::SaturatedTrunc(std::ceil(grown.right)),
                       Int32Math::SaturatedTrunc(std::ceil(grown.bottom))};
    return nullptr;
}

CPravonFilterBase::CHalo CPravonFilterBase::GetHalo(IPravonDataSource* const*, LONG) {
    return CHalo{};
}

IPravonError* CPravonFilterBase::FilterSize(IPravonDataSource*, ChangeSize* change) {
    m_checkCache = true;
    return PravonSendDataNotification(this, PravonNotification::kSize, change);
}

IPravonError* CPravonFilterBase::FilterColorSpace(IPravonDataSource*, ChangeColorSpace* change) {
    m_checkCache = true;
    return PravonSendDataNotification(this, PravonNotification::kColorSpace, change);
}

IPravonError* CPravonFilterBase::FilterResolution(IPravonDataSource*, ChangeResolution* change) {
    m_checkCache = true;
    return PravonSendDataNotification(this, PravonNotification::kResolution, change);
}

IPravonError* CPravonFilterBase::FilterTransform(IPravonDataSource*, ChangeTransform* change) {
    m_checkCache = true;
    return PravonSendDataNotification(this, PravonNotification::kTransform, change);
}

IPravonError* CPravonFilterBase::FilterPalette(IPravonDataSource*, ChangePalette* change) {
    m_checkCache = true;
    return PravonSendDataNotification(this, PravonNotification::kPalette, change);
}

IPravonError* CPravonFilterBase::FilterDestroy(IPravonDataSource*) {
    m_checkCache = true;
    return nullptr;
}

IPravonError* CPravonFilterBase::FilterUpdateAll(IPravonDataSource*) {
    m_checkCache = true;
    return PravonSendDataNotification(this, PravonNotification::kUpdateAll, nullptr);
}

LONG CPravonFilterBase::GetWatcherCount(const CPravonFilterWatcher* watcher) const {
    auto it = m_watchers.find(const_cast<CPravonFilterWatcher*>(watcher));
    return it == m_watchers.end() ? 0 : it->second;
}

IPravonError* CPravonFilterBase::AddWatcher(CPravonFilterWatcher* watcher) {
    if (!watcher)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no watcher");
    try {
        watcher->PravonFilterDoStartWatching(this);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to register the watcher");
    }
    return DoAddWatcher(watcher);
}

IPravonError* CPravonFilterBase::RemoveWatcher(CPravonFilterWatcher* watcher) {
    if (!watcher)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no watcher");
    const LONG before = GetWatcherCount(watcher);
    IPravonError* err = DoRemoveWatcher(watcher);
    // A registration this filter gave up is given up on the watcher's side too, even when telling the
    // other watchers failed; only a removal that changed nothing leaves the watcher's count alone.
    if (err && GetWatcherCount(watcher) == before)
        return err;
    watcher->PravonFilterDoStopWatching(this);
    return err;
}

IPravonError* CPravonFilterBase::DoAddWatcher(CPravonFilterWatcher* watcher) {
    if (!watcher)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no watcher");
    try {
        if (++m_watchers[watcher] > 1)
            return nullptr;
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to register the watcher");
    }
    return SendWatcherChange(true, watcher);
}

IPravonError* CPravonFilterBase::DoRemoveWatcher(CPravonFilterWatcher* watcher) {
    auto it = m_watchers.find(watcher);
    if (it == m_watchers.end())
        return nullptr;
    if (--it->second > 0)
        return nullptr;
    m_watchers.erase(it);
    if (m_watchers.empty())
        return nullptr;
    return SendWatcherChange(false, watcher);
}

void CPravonFilterBase::ForgetWatcher(CPravonFilterWatcher* watcher, bool announce) {
    if (m_watchers.erase(watcher) == 0 || !announce || m_watchers.empty())
        return;
    PravonErrorPtr(SendWatcherChange(false, watcher));
}

IPravonError* CPravonFilterBase::SendWatcherChange(bool added, CPravonFilterWatcher* watcher) {
    std::vector<CPravonFilterWatcher*> list;
    try {
        list.reserve(m_watchers.size());
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the watcher list");
    }
    for (const auto& entry : m_watchers)
        list.push_back(entry.first);
    CPravonFilterWatcher::WatcherChange change;
    change.added = added;
    change.watcher = watcher;
    change.count = static_cast<LONG>(list.size());
    change.watchers = list.data();
    return NotifyWatchers(CPravonFilterWatcher::kWatcherChange, &change);
}

IPravonError* CPravonFilterBase::NotifyWatchers(LONG type, void* data) {
    // A callback may add or remove watchers: walk a copy, and skip the ones gone meanwhile.
    std::vector<CPravonFilterWatcher*> list;
    try {
        list.reserve(m_watchers.size());
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the watcher list");
    }
    for (const auto& entry : m_watchers)
        list.push_back(entry.first);
    for (CPravonFilterWatcher* watcher : list) {
        if (m_watchers.find(watcher) == m_watchers.end())
            continue;
        if (IPravonError* e = watcher->PravonFilterNotify(this, type, data))
            return e;
    }
    return nullptr;
}
