#include "CPravonFilterIntermediateCache.h"

CPravonFilterBase::CIntermediateCache::CIntermediateCache(CPravonFilterBase* filter, CProcessInfo* info)
    : m_filter(filter), m_info(info) {}

CPravonFilterBase::CIntermediateCache::~CIntermediateCache() = default;

ULONG CPravonFilterBase::CIntermediateCache::AddRef() {
    return ++m_references;
}

ULONG CPravonFilterBase::CIntermediateCache::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

IPravonError* CPravonFilterBase::CIntermediateCache::Image(IPravonImage** image) const {
    if (!m_image)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the intermediate image has not been made");
    *image = m_image.get();
    return nullptr;
}

IPravonError* CPravonFilterBase::CIntermediateCache::CreateImage() {
    if (m_image)
        return nullptr;
    IPravonManager* manager = m_filter ? m_filter->GetManager() : nullptr;
    if (!manager)
        return PravonFail(kComponent, PravonKind::kInvalidState, "no manager to make the intermediate image");
    IPravonImage* image = nullptr;
    if (IPravonError* e = manager->CreateImage(1, &image))
        return e;
    if (!image)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "the manager made no intermediate image");
    m_image.reset(image);
    return m_image->SetGeneratorWritesInvalidArea(WritesWholeInvalidArea());
}

IPravonError* CPravonFilterBase::CIntermediateCache::Invalidate() {
    IPravonImage* image = nullptr;
    if (IPravonError* e = Image(&image))
        return e;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = image->GetSize(&width, &height))
        return e;
    return InvalidateRect(CPravonRect(0, 0, width, height));
}

IPravonError* CPravonFilterBase::CIntermediateCache::InvalidateRect(const PravonRect& rect) {
    IPravonImage* image = nullptr;
    if (IPravonError* e = Image(&image))
        return e;
    return InvalidateTiles(image, rect);
}

IPravonError* CPravonFilterBase::CIntermediateCache::LockAndGenerate(void** data, IPravonTile* tile,
                                                                     BITMAPINFOHEADER** header) {
    if (!tile)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no tile");
    if (m_filter)
        if (IPravonError* e = m_filter->CheckCache())
            return e;
    IPravonImage* image = nullptr;
    if (IPravonError* e = Image(&image))
        return e;
    const bool whollyInvalid = tile->IsWhollyInvalid();
    const IPravonTileID id = tile->GetID();
    if (IPravonError* e = image->LockTile(id, data, header))
        return e;
    if (!whollyInvalid && !tile->IsInvalid(nullptr))
        return nullptr;
    if (m_filter)
        m_filter->m_generatedTiles.fetch_add(1, std::memory_order_relaxed);
    if (IPravonError* e = GenerateTile(tile, m_info))
        return IPravonError::Chain(e, image->UnlockTile(id));
    tile->SetValid();
    return nullptr;
}

IPravonError* CPravonFilterBase::CIntermediateCache::LockTile(IPravonTileGrid* grid, LONG column, LONG row,
                                                              void** data, PravonRect* tileRect,
                                                              PravonRect* clippedRect, LONG* rowBytes) {
    IPravonImage* image = nullptr;
    if (IPravonError* e = Image(&image))
        return e;
    if (!grid || grid->GetSource() != image)
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the grid was not made by this intermediate image");
    IPravonTile* tile = nullptr;
    PravonRect clip;
    if (IPravonError* e = grid->GetTile(column, row, &tile))
        return e;
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

IPravonError* CPravonFilterBase::CIntermediateCache::LockTile(const IPravonTileID& id, void** data,
                                                              BITMAPINFOHEADER** header) {
    IPravonImage* image = nullptr;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = Image(&image))
        return e;
    if (IPravonError* e = image->GetTile(id, &tile))
        return e;
    return LockAndGenerate(data, tile, header);
}

IPravonError* CPravonFilterBase::CIntermediateCache::LockTile(LONG column, LONG row, void** data,
                                                              BITMAPINFOHEADER** header) {
    IPravonImage* image = nullptr;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = Image(&image))
        return e;
    if (IPravonError* e = image->GetTile(column, row, &tile))
        return e;
    return LockAndGenerate(data, tile, header);
}

// The plain forwards: each asks the intermediate image.
template <class Call>
IPravonError* CPravonFilterBase::CIntermediateCache::Forward(Call&& call) const {
    IPravonImage* image = nullptr;
    if (IPravonError* e = Image(&image))
        return e;
    return call(image);
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetWidth(LONG* width) {
    return Forward([&](IPravonImage* image) { return image->GetWidth(width); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetHeight(LONG* height) {
    return Forward([&](IPravonImage* image) { return image->GetHeight(height); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetColorSpace(LONG* colorSpace) {
    return Forward([&](IPravonImage* image) { return image->GetColorSpace(colorSpace); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetResolution(double* resolution) {
    return Forward([&](IPravonImage* image) { return image->GetResolution(resolution); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetFlip(bool* flip) {
    return Forward([&](IPravonImage* image) { return image->GetFlip(flip); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetRotation(double* rotation) {
    return Forward([&](IPravonImage* image) { return image->GetRotation(rotation); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetTileSize(LONG* tileSize) {
    return Forward([&](IPravonImage* image) { return image->GetTileSize(tileSize); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetPalette(PravonPalette* palette) {
    return Forward([&](IPravonImage* image) { return image->GetPalette(palette); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::TileExists(const IPravonTileID& id, bool* exists) {
    return Forward([&](IPravonImage* image) { return image->TileExists(id, exists); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::TileExists(LONG column, LONG row, bool* exists) {
    return Forward([&](IPravonImage* image) { return image->TileExists(column, row, exists); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetTile(const IPravonTileID& id, IPravonTile** tile) {
    return Forward([&](IPravonImage* image) { return image->GetTile(id, tile); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetTile(LONG column, LONG row, IPravonTile** tile) {
    return Forward([&](IPravonImage* image) { return image->GetTile(column, row, tile); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::UnlockTile(IPravonTileGrid* grid, LONG column,
                                                                LONG row) {
    return Forward([&](IPravonImage* image) { return image->UnlockTile(grid, column, row); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::UnlockTile(const IPravonTileID& id) {
    return Forward([&](IPravonImage* image) { return image->UnlockTile(id); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::UnlockTile(LONG column, LONG row) {
    return Forward([&](IPravonImage* image) { return image->UnlockTile(column, row); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::MapRect(const PravonRect& rect, IPravonTileGrid** grid) {
    return Forward([&](IPravonImage* image) { return image->MapRect(rect, grid); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::SetSize(LONG width, LONG height) {
    return Forward([&](IPravonImage* image) { return image->SetSize(width, height); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::SetColorSpace(LONG colorSpace) {
    return Forward([&](IPravonImage* image) { return image->SetColorSpace(colorSpace); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::SetResolution(double resolution) {
    return Forward([&](IPravonImage* image) { return image->SetResolution(resolution); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::SetTransform(bool flip, double angle, bool relative) {
    return Forward([&](IPravonImage* image) { return image->SetTransform(flip, angle, relative); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::SetPalette(const PravonPalette& palette) {
    return Forward([&](IPravonImage* image) { return image->SetPalette(palette); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::SetUsage(LONG usage) {
    return Forward([&](IPravonImage* image) { return image->SetUsage(usage); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::GetUsage(LONG* usage) {
    return Forward([&](IPravonImage* image) { return image->GetUsage(usage); });
}

IPravonError* CPravonFilterBase::CIntermediateCache::SetGeneratorWritesInvalidArea(bool writes) {
    return Forward([&](IPravonImage* image) { return image->SetGeneratorWritesInvalidArea(writes); });
}

bool CPravonFilterBase::CIntermediateCache::GetGeneratorWritesInvalidArea() const {
    return m_image && m_image->GetGeneratorWritesInvalidArea();
}
