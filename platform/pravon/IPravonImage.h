// Images with storage, and the manager that makes them.
#pragma once

#include "IPravonDataSource.h"

// A data source that keeps its pixels in tiles. Setting a value equal to the current one does nothing;
// a size or colour-space change drops every tile (a locked tile keeps its memory until its last unlock).
// The image does not notify its destinations itself: whoever changes it sends the notifications.
class IPravonImage : public IPravonDataSource {
public:
    // A negative size, or one whose tile layout cannot be held, gives PravonKind::kOutOfRange and changes
    // nothing.
    virtual IPravonError* SetSize(LONG width, LONG height) = 0;
    // A code with no bits per sample or no channels gives PravonKind::kUnsupportedColorSpace and changes
    // nothing.
    virtual IPravonError* SetColorSpace(LONG colorSpace) = 0;
    virtual IPravonError* SetResolution(double resolution) = 0;
    // relative = false stores (flip, angle); relative = true applies them on top of the stored state.
    virtual IPravonError* SetTransform(bool flip, double angle, bool relative) = 0;
    virtual IPravonError* SetPalette(const PravonPalette& palette) = 0;
    // The usage hint is kept and reported; it changes nothing about how tiles are kept.
    virtual IPravonError* SetUsage(LONG usage) = 0;
    virtual IPravonError* GetUsage(LONG* usage) = 0;
    // Whether whoever generates the image's tiles writes every pixel of a tile's invalid area before it
    // validates the tile. When it does, the memory of a tile first locked while wholly invalid need not
    // start zero-filled: until the tile is validated its pixels are the generator's to write, and no one
    // else reads them. Images that always zero their memory keep the default, which ignores the setting.
    virtual IPravonError* SetGeneratorWritesInvalidArea(bool) { return nullptr; }
    virtual bool GetGeneratorWritesInvalidArea() const { return false; }
    // How many lines of tiles (rows, or columns where the image has more rows than columns) keep their
    // memory once they are unlocked; 0 keeps every tile. A tile beyond that, the least recently locked
    // first, gives its memory back and is wholly invalid again, so that whoever generates the image makes
    // it anew when it is next wanted. For an image that is read once, band after band: its memory stays a
    // few bands deep instead of growing to the whole picture. Images that keep every tile ignore it.
    virtual IPravonError* SetKeptTileLines(LONG) { return nullptr; }

    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IPravonImage() override = default;
};

struct PravonImageReleaser {
    void operator()(IPravonImage* image) const {
        if (image)
            image->Release();
    }
};
using PravonImagePtr = std::unique_ptr<IPravonImage, PravonImageReleaser>;

class IPravonFilterChain;

class IPravonManager {
public:
    virtual ~IPravonManager() = default;
    // The new image holds one reference for the caller.
    virtual IPravonError* CreateImage(LONG usage, IPravonImage** image) = 0;
    // An empty filter chain holding one reference for the caller.
    virtual IPravonError* CreateFilterChain(IPravonFilterChain** chain);
};
