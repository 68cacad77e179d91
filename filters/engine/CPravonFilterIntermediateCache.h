// An intermediate image of a filter's own, for filters whose output is made in two steps: tiles of the
// intermediate image are generated on demand by the derived class, like a filter's output tiles, and are
// set valid only when their generation succeeded.
#pragma once

#include "filters/engine/CPravonFilterBase.h"

class CPravonFilterBase::CIntermediateCache : public IPravonImage {
public:
    // info (may be null) is handed to every generation; neither it nor filter is owned.
    CIntermediateCache(CPravonFilterBase* filter, CProcessInfo* info);
    CIntermediateCache(const CIntermediateCache&) = delete;
    CIntermediateCache& operator=(const CIntermediateCache&) = delete;

    // Makes the intermediate image through the filter's manager, unless it exists.
    IPravonError* CreateImage();
    // Invalidates every tile of the intermediate image.
    IPravonError* Invalidate();
    // Invalidates the tiles under rect, whole where rect covers them.
    IPravonError* InvalidateRect(const PravonRect& rect);

    // Fills the invalid part of one tile of the intermediate image.
    virtual IPravonError* GenerateTile(IPravonTile* tile, CProcessInfo* info) = 0;
    // Whether GenerateTile writes every pixel of the invalid part it is handed, so that fresh tiles of the
    // intermediate image need not start zeroed (see CPravonFilterBase::WritesWholeInvalidArea).
    virtual bool WritesWholeInvalidArea() const { return false; }
    // Locks a tile for the caller, generating it first when any part is invalid; on error it stays
    // invalid and unlocked.
    virtual IPravonError* LockAndGenerate(void** data, IPravonTile* tile, BITMAPINFOHEADER** header);

    IPravonImage* GetIntermediateImage() const { return m_image.get(); }

    // Every call below goes to the intermediate image (PravonKind::kInvalidState before CreateImage); the
    // lock forms generate.
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
    IPravonError* SetSize(LONG width, LONG height) override;
    IPravonError* SetColorSpace(LONG colorSpace) override;
    IPravonError* SetResolution(double resolution) override;
    IPravonError* SetTransform(bool flip, double angle, bool relative) override;
    IPravonError* SetPalette(const PravonPalette& palette) override;
    IPravonError* SetUsage(LONG usage) override;
    IPravonError* SetGeneratorWritesInvalidArea(bool writes) override;
    bool GetGeneratorWritesInvalidArea() const override;
    IPravonError* GetUsage(LONG* usage) override;

    // Counted references; the object starts with one and is deleted at the last Release.
    ULONG AddRef() override;
    ULONG Release() override;

protected:
    ~CIntermediateCache() override;

    CPravonFilterBase* m_filter;
    CProcessInfo* m_info;
    PravonImagePtr m_image;

private:
    IPravonError* Image(IPravonImage** image) const;
    // call(image) with the intermediate image.
    template <class Call>
    IPravonError* Forward(Call&& call) const;
    ULONG m_references = 1;
};
