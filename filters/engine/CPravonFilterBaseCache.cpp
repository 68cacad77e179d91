// The output cache of CPravonFilterBase, tile generation on demand and processing passes.
#include "CPravonFilterBase.h"

#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

namespace {

// A filter's tile code runs inside our consumers' calls; an exception must not travel out through them.
template <class F>
IPravonError* WithoutExceptions(F&& call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return PravonFail(CPravonFilterBase::kComponent, PravonKind::kOutOfMemory,
                          "out of memory while making a tile");
    } catch (const std::exception& e) {
        return PravonFail(CPravonFilterBase::kComponent, PravonKind::kInvalidState, e.what());
    } catch (...) {
        return PravonFail(CPravonFilterBase::kComponent, PravonKind::kInvalidState,
                          "unexpected exception while making a tile");
    }
}

void CopyBits(BYTE* dst, std::int64_t dstBit, const BYTE* src, std::int64_t srcBit, std::int64_t bits) {
    for (std::int64_t i = 0; i < bits; ++i) {
        const std::int64_t s = srcBit + i;
        const std::int64_t d = dstBit + i;
        const BYTE mask = static_cast<BYTE>(0x80u >> (d & 7));
        if ((src[s >> 3] >> (7 - (s & 7))) & 1u)
            dst[d >> 3] |= mask;
        else
            dst[d >> 3] &= static_cast<BYTE>(~mask);
    }
}

} // namespace

CPravonFilterBase::CProcessInfo::CProcessInfo(IPravonDataSource* const* sourceList, LONG count,
                                              IPravonImage* destination)
    : image(destination) {
    if (sourceList && count > 0)
        sources.assign(sourceList, sourceList + count);
}

CPravonFilterBase::CProcessInfo::~CProcessInfo() {
    if (grid)
        grid->Release();
}

IPravonError* CPravonFilterBase::CheckCache() {
    if (!m_checkCache)
        return nullptr;
    if (!m_cache) {
        if (!m_manager)
            return PravonFail(kComponent, PravonKind::kInvalidState, "the filter has no manager");
        IPravonImage* image = nullptr;
        if (IPravonError* e = m_manager->CreateImage(m_cacheUsage, &image))
            return e;
        if (!image)
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "the manager made no cache image");
        m_cache.reset(image);
        if (IPravonError* e = m_cache->SetGeneratorWritesInvalidArea(WritesWholeInvalidArea()))
            return e;
        if (IPravonError* e = m_cache->SetKeptTileLines(m_keptTileLines))
            return e;
    }

    // Read for a copy of the list, which a notification during the reads may change.
    const std::vector<IPravonDataSource*> sources = m_sources;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = SetOutputGeometry(sources.data(), static_cast<LONG>(sources.size()), m_cache.get(),
                                            false, &width, &height))
        return e;

    LONG tileSize = 0;
    if (IPravonError* e = m_cache->GetTileSize(&tileSize))
        return e;
    if (tileSize > 0) {
        const LONG rows = static_cast<LONG>(Int32Math::CeilDiv(height, tileSize));
        const LONG columns = static_cast<LONG>(Int32Math::CeilDiv(width, tileSize));
        for (LONG row = rows - 1; row >= 0; --row) {
            for (LONG column = columns - 1; column >= 0; --column) {
                bool exists = false;
                if (IPravonError* e = m_cache->TileExists(column, row, &exists))
                    return e;
                if (!exists)
                    continue;
                IPravonTile* tile = nullptr;
                if (IPravonError* e = m_cache->GetTile(column, row, &tile))
                    return e;
                tile->Invalidate();
            }
        }
    }
    for (Generation* g : m_generating)
        g->whole = true;
    m_checkCache = false;
    return nullptr;
}

IPravonError* CPravonFilterBase::SetOutputGeometry(IPravonDataSource* const* sources, LONG count,
                                                   IPravonImage* image, bool alwaysColorSpace, LONG* width,
                                                   LONG* height) {
    LONG colorSpace = 0;
    double resolution = 0;
    bool flip = false;
    double angle = 0;
    PravonPalette palette;
    if (IPravonError* e = GetFilteredSize(sources, count, width, height))
        return e;
    if (IPravonError* e = GetFilteredColorSpace(sources, count, &colorSpace))
        return e;
    if (IPravonError* e = GetFilteredResolution(sources, count, &resolution))
        return e;
    if (IPravonError* e = GetFilteredTransform(sources, count, &flip, &angle))
        return e;
    if (IPravonError* e = GetFilteredPalette(sources, count, &palette))
        return e;
    if (IPravonError* e = image->SetSize(*width, *height))
        return e;
    if (alwaysColorSpace || colorSpace != 0)
        if (IPravonError* e = image->SetColorSpace(colorSpace))
            return e;
    if (IPravonError* e = image->SetResolution(resolution))
        return e;
    if (IPravonError* e = image->SetTransform(flip, angle, false))
        return e;
    return image->SetPalette(palette);
}

IPravonError* CPravonFilterBase::InvalidateCache(const PravonRect& rect) {
    if (!m_cache)
        return nullptr;
    if (m_enabled)
        if (IPravonError* e = CheckCache())
            return e;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = m_cache->GetSize(&width, &height))
        return e;
    if (width == 0 || height == 0)
        return nullptr;

    // A changed rectangle always covers at least one pixel of the image: even one of zero width at the
    // right edge still reaches the last column.
    CPravonRect r;
    r.left = std::clamp(rect.left, LONG{0}, width - 1);
    r.top = std::clamp(rect.top, LONG{0}, height - 1);
    r.right = rect.right <= r.left ? r.left + 1 : std::min(rect.right, width);
    r.bottom = rect.bottom <= r.top ? r.top + 1 : std::min(rect.bottom, height);

    for (Generation* g : m_generating)
        g->invalidated = g->invalidated.Union(g->rect.Intersect(r));

    return InvalidateTiles(m_cache.get(), r);
}

IPravonError* CPravonFilterBase::InvalidateTiles(IPravonImage* image, const PravonRect& rect) {
    IPravonTileGrid* rawGrid = nullptr;
    if (IPravonError* e = image->MapRect(rect, &rawGrid))
        return e;
    const PravonTileGridPtr grid(rawGrid);
    for (LONG row = 0; row < grid->GetRowCount(); ++row) {
        for (LONG column = 0; column < grid->GetColumnCount(); ++column) {
            bool exists = false;
            if (IPravonError* e = grid->TileExists(column, row, &exists))
                return e;
            if (!exists)
                continue;
            IPravonTile* tile = nullptr;
            PravonRect whole;
            PravonRect part;
            if (IPravonError* e = grid->GetTile(column, row, &tile))
                return e;
            if (IPravonError* e = grid->GetTileRect(column, row, &whole))
                return e;
            if (IPravonError* e = grid->GetClippedRect(column, row, &part))
                return e;
            if (part == whole)
                tile->Invalidate();
            else
                tile->Invalidate(part);
        }
    }
    return nullptr;
}

IPravonError* CPravonFilterBase::LockAndGenerate(void** data, IPravonTile* tile, BITMAPINFOHEADER** header) {
    if (!tile)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no tile");
    if (IPravonError* e = CheckCache())
        return e;
    if (!m_cache)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the filter has no cache image");
    const bool whollyInvalid = tile->IsWhollyInvalid();
    const IPravonTileID id = tile->GetID();
    if (IPravonError* e = m_cache->LockTile(id, data, header))
        return e;
    if (!whollyInvalid && !tile->IsInvalid(nullptr))
        return nullptr;

    // Generation may reach back into this filter (a source's notification during ProcessTile); what it
    // invalidates in this tile meanwhile must survive the tile being set valid at the end.
    Generation generation;
    generation.tile = tile;
    generation.rect = tile->GetRect();
    try {
        m_generating.push_back(&generation);
    } catch (const std::bad_alloc&) {
        return IPravonError::Chain(
            PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to generate a tile"),
            m_cache->UnlockTile(id));
    }
    m_generatedTiles.fetch_add(1, std::memory_order_relaxed);
    IPravonError* err = WithoutExceptions([&] { return GenerateTile(tile, nullptr, 0); });
    std::erase(m_generating, &generation);
    if (err)
        return IPravonError::Chain(err, m_cache->UnlockTile(id));
    if (generation.whole)
        tile->Invalidate();
    else if (!generation.invalidated.Empty())
        tile->Invalidate(generation.invalidated);
    return nullptr;
}

IPravonError* CPravonFilterBase::GenerateTile(IPravonTile* tile, IPravonDataSource* const* sources,
                                              LONG count) {
    if (!tile)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no tile");
    if (!sources || count <= 0)
        return ProcessTile(tile, nullptr);
    std::unique_ptr<CProcessInfo> info;
    try {
        info = std::make_unique<CProcessInfo>(sources, count, tile->GetImage());
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a process info");
    }
    return ProcessTile(tile, info.get());
}

IPravonError* CPravonFilterBase::FillOutputTile(IPravonTile* tile,
                                                TFunctionRef<IPravonError*(const COutputTile& out)> fill) {
    if (!tile)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no tile");
    COutputTile out;
    PravonRect invalid;
    if (!tile->IsInvalid(&invalid))
        return nullptr;
    out.invalid = invalid;
    if (IPravonImage* image = tile->GetImage())
        if (IPravonError* e = image->GetColorSpace(&out.colorSpace))
            return e;
    void* data = nullptr;
    if (IPravonError* e = tile->Lock(&data, &out.header))
        return e;
    // Unlocks the tile when fill throws; the exception goes on to the caller's guard.
    struct Locked {
        IPravonTile* tile;
        ~Locked() {
            if (tile)
                PravonErrorPtr(tile->Unlock());
        }
    } locked{tile};
    out.data = static_cast<BYTE*>(data);
    out.rect = tile->GetRect();
    out.rowBytes = tile->GetRowBytes();
    IPravonError* err = fill(out);
    locked.tile = nullptr;
    err = IPravonError::Chain(err, tile->Unlock());
    // A tile whose computation failed stays invalid, so that the next use tries again and reports.
    if (!err)
        tile->Validate();
    return err;
}

CPravonFilterBase::CProcessInfo* CPravonFilterBase::AllocateProcessInfo(LONG,
                                                                        IPravonDataSource* const* sources,
                                                                        LONG count, IPravonImage* image) {
    try {
        return new CProcessInfo(sources, count, image);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

IPravonError* CPravonFilterBase::Process(IPravonDataSource* const* sources, LONG count, IPravonImage* image) {
    LONG id = 0;
    if (IPravonError* e = BeginProcess(&id, sources, count, image))
        return e;
    LONG done = 0;
    LONG total = 1;
    IPravonError* err = nullptr;
    while (!err && done < total)
        err = ExecuteProcess(id, &done, &total);
    return IPravonError::Chain(err, EndProcess(id));
}

IPravonError* CPravonFilterBase::BeginProcess(LONG* id, IPravonDataSource* const* sources, LONG count,
                                              IPravonImage* image) {
    if (!id || !image)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a pass needs an id pointer and an image");
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = SetOutputGeometry(sources, count, image, true, &width, &height))
        return e;

    IPravonTileGrid* rawGrid = nullptr;
    if (IPravonError* e = image->MapRect(CPravonRect(0, 0, width, height), &rawGrid))
        return e;
    PravonTileGridPtr grid(rawGrid);
    CProcessInfo* info = AllocateProcessInfo(m_nextProcessID, sources, count, image);
    if (!info)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a process info");
    info->grid = grid.release();
    try {
        m_processes.emplace(m_nextProcessID, ProcessInfoPtr(info));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory to open a pass");
    }
    *id = m_nextProcessID++;
    return nullptr;
}

IPravonError* CPravonFilterBase::ExecuteProcess(LONG id, LONG* done, LONG* total) {
    auto report = [&](LONG d, LONG t) {
        if (done)
            *done = d;
        if (total)
            *total = t;
    };
    auto it = m_processes.find(id);
    if (it == m_processes.end())
        return PravonFail(kComponent, PravonKind::kNoSuchPass, "no such processing pass");
    CProcessInfo* info = it->second.get();
    if (!info->grid) {
        report(0, 0);
        return nullptr;
    }
    const LONG columns = info->grid->GetColumnCount();
    const LONG rows = info->grid->GetRowCount();
    if (info->column >= columns) {
        info->column = 0;
        ++info->row;
    }
    // An empty output has no cell to visit: the pass is through at once.
    if (columns == 0 || info->row >= rows) {
        info->grid->Release();
        info->grid = nullptr;
        report(0, 0);
        return nullptr;
    }
    IPravonTile* tile = nullptr;
    if (IPravonError* e = info->grid->GetTile(info->column, info->row, &tile))
        return e;
    IPravonError* err =
        m_passThrough ? CopyThrough(tile, info) : WithoutExceptions([&] { return ProcessTile(tile, info); });
    if (err)
        return err;
    ++info->column;
    report(columns * info->row + info->column, rows * columns);
    return nullptr;
}

IPravonError* CPravonFilterBase::CopyThrough(IPravonTile* tile, CProcessInfo* info) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = GetFirstSource(info, &source))
        return e;
    LONG sourceSpace = 0;
    if (IPravonError* e = source->GetColorSpace(&sourceSpace))
        return e;
    const LONG bpp = GetBitsPerPixel(sourceSpace);
    // The pass copies the whole tile, whatever of it was valid before.
    tile->Invalidate();
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        if (bpp <= 0 || GetBitsPerPixel(out.colorSpace) != bpp)
            return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                              "the pass-through copy needs the source's pixel size in the image");
        // The source's tiles are read last row first and, in each row, last tile first.
        CSourceWalk walk;
        walk.backward = true;
        return ForEachSourcePart(
            source, out.rect,
            [&](const CSourcePart& piece) -> IPravonError* {
                const CPravonRect& clip = piece.part;
                for (LONG y = clip.top; y < clip.bottom; ++y) {
                    BYTE* to = out.Row(y);
                    const BYTE* from = piece.Row(y);
                    if (bpp % 8 == 0) {
                        const std::size_t pixel = static_cast<std::size_t>(bpp / 8);
                        std::memcpy(to + static_cast<std::size_t>(clip.left - out.rect.left) * pixel,
                                    from + static_cast<std::size_t>(clip.left - piece.tileRect.left) * pixel,
                                    static_cast<std::size_t>(clip.right - clip.left) * pixel);
                    } else {
                        CopyBits(to, static_cast<std::int64_t>(clip.left - out.rect.left) * bpp, from,
                                 static_cast<std::int64_t>(clip.left - piece.tileRect.left) * bpp,
                                 static_cast<std::int64_t>(clip.right - clip.left) * bpp);
                    }
                }
                return nullptr;
            },
            walk);
    });
}

IPravonError* CPravonFilterBase::GetProcessInfo(LONG id, IPravonDataSource* const** sources, LONG* count,
                                                IPravonImage** image) {
    auto it = m_processes.find(id);
    if (it == m_processes.end())
        return PravonFail(kComponent, PravonKind::kNoSuchPass, "no such processing pass");
    const CProcessInfo* info = it->second.get();
    if (sources)
        *sources = info->sources.data();
    if (count)
        *count = static_cast<LONG>(info->sources.size());
    if (image)
        *image = info->image;
    return nullptr;
}

IPravonError* CPravonFilterBase::EndProcess(LONG id) {
    auto it = m_processes.find(id);
    if (it == m_processes.end())
        return PravonFail(kComponent, PravonKind::kNoSuchPass, "no such processing pass");
    m_processes.erase(it);
    return nullptr;
}
