// Turns grey or RGB images of 8 or 16 bits per sample into 8-bit pixels in the platform's native
// blue-green-red order, each output tile with a device-independent bitmap header of top-down rows, ready
// for display at the end of a chain.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CBGRizeFilter : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("BGRz");
    // The resolution every tile's header gives, in pixels per metre.
    static constexpr LONG kPixelsPerMetre = 3880;

    explicit CBGRizeFilter(IPravonManager* manager);
    ~CBGRizeFilter() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override {
        return "Filter to convert images to Windows native BGR format";
    }

    // 8-bit BGR for a grey or RGB source of 8 or 16 bits; any other source gives "Bad source data color
    // space" (PravonKind::kUnsupportedColorSpace), which every geometry and tile call of the enabled filter
    // then reports.
    IPravonError* GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                        LONG* colorSpace) override;

    // Fills a tile's bitmap header as the display reads it: 40 bytes, the tile size as width and minus the
    // tile size as height (rows top-down), one plane, 24 bits, uncompressed, row bytes times the tile size
    // as image size, kPixelsPerMetre both ways, no colour table.
    static void FillBitmapHeader(BITMAPINFOHEADER* header, LONG tileSize, LONG rowBytes);

protected:
    // The output stays 8-bit BGR whatever the source's new colour space, so an enabled filter with a source
    // announces the change as new pixels over the whole image instead; a disabled one, whose geometry is
    // its source's, passes the change on.
    IPravonError* FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) override;
    // Grey v gives v, v, v; RGB gives B, G, R; 16-bit samples give their high bytes.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }
};
