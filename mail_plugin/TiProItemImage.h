// The picture of a host item as a canvas-library image, loaded through a codec table by the item's id and
// saved to a file with codec parameters; the mail plug-in's saver and the design module use it.
#pragma once

#include "plugin_framework/TString.h"
#include "plugin_framework/TiProCodecParameters.h"
#include "plugin_framework/TiProObjects.h"

class TSyncObject;

class TiProItemImage : public TiProImage {
public:
    // A new image that the caller owns, or null when the library does not answer 1. The item id is decimal
    // text; while the abort object is signalled, a load waiting on the host ends without an image.
    static TiProItemImage* CreateFromNUID(const TString& itemId, const IproCodecTable* codec,
                                          TSyncObject* abort);
    // The same, fitted inside the box (never enlarged) as it is read, so that the codec can decode a
    // large picture at a fraction of its size; a box with a side not above 0 reads the full size.
    static TiProItemImage* CreateFromNUID(const TString& itemId, const IproCodecTable* codec,
                                          TSyncObject* abort, const graphtypes::TSize_T<LONG>& fitInside);

    // The library's answer (1 for success); the parameters may be null or empty.
    LONG Save(const TString& path, LONG flags, TiProCodecParameters* parameters) const;
    // Gives a held handle back: the library's answer, and the wrapper is empty once that was 1; 0 when
    // nothing was held.
    LONG ReleaseHandle();

private:
    explicit TiProItemImage(IproHandle handle) : TiProImage(handle) {}
};
