// The standard-quality demosaicing filter: a 2 x 2 Bayer mosaic to RGB by a gradient-directed green
// interpolation followed by colour-difference interpolation of red and blue, in the square-root domain,
// with three sliding row buffers so that each source row is read and interpolated once per tile.
#pragma once

#include "rawlib/filters/CDeBayerBase.h"
#include "rawlib/filters/CDeBayerRows.h"

#include <vector>

class CDeBayerSingleFilter : public CDeBayerBase {
public:
    static constexpr LONG kCode = FourCC("db1s");
    // Green is interpolated along the quieter direction only when the two activities differ by more
    // than this: ((sqrt-table[4095] x 10) / 256) x 3.
    static constexpr LONG kDirectionThreshold = DeBayerRows::kDirectionThreshold;

    explicit CDeBayerSingleFilter(IPravonManager* manager);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override {
        return "De-Bayer single resolution standard quality interpolation filter";
    }
    // Accepts the four Bayer layouts RGGB, GRBG, GBRG and BGGR (PravonKind::kInvalidState otherwise).
    IPravonError* CheckCFAPattern() override;

    LONG GetGreenPhase() const { return m_greenPhase; }
    LONG GetRedRowPhase() const { return m_redRowPhase; }

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // Green reads two sites on each side of a site and red and blue one more: three source pixels around a
    // square output pixel. The non-square resampling also reads the next column, the row above and the
    // two rows below.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    // Every pixel of the tile rectangle is written from the window.
    bool WritesWholeInvalidArea() const override { return true; }

private:
    // Rows each ring of the windows holds: a step loads a mosaic row, makes green three rows above it and
    // red and blue two rows above that, so that each pass reads only rows that were written a whole step
    // before (rows just written are still on their way to the cache, and reading them waits).
    static constexpr LONG kMosaicRing = 6;
    static constexpr LONG kGreenRing = 4;
    static constexpr LONG kRgbRing = 4;

    // The windows of one tile: mosaic, green and colour-difference rows split by the parity of their
    // positions (DeBayerRows), each ring indexed by source row. Square pixels write red and blue straight
    // into the output tile; the non-square resampling keeps them in a ring of its own.
    struct Window {
        LONG first = 0;     // B: the first source column of the tile
        LONG positions = 0; // red and blue are computed for columns B .. B + positions - 1
        const DeBayerRows::Kernels* kernels = nullptr;
        LONG* mosaic[kMosaicRing] = {};
        LONG* green[kGreenRing] = {};
        LONG* difference[kGreenRing] = {}; // mosaic minus green, beside the green rows
        Rgb16* rgb[kRgbRing] = {};
        const COutputTile* tile = nullptr; // square pixels: the tile, its first row from source row row0
        LONG row0 = 0;
        LONG firstRow = 0; // the red and blue rows wanted
        LONG lastRow = 0;
        LONG next = 0; // the mosaic row the next step loads
    };

    IPravonError* PrepareWindow(LONG positions, LONG firstColumn, Window* w);
    // One step down the tile (see kMosaicRing).
    IPravonError* Step(CMosaicRowReader& reader, Window& w);
    // Steps until red and blue of source row r are made.
    IPravonError* MakeThrough(CMosaicRowReader& reader, Window& w, LONG r);
    // Non-square pixels: the four red and blue rows around each output row's source row are resampled.
    IPravonError* ResampledRows(CMosaicRowReader& reader, Window& w, const COutputTile& out);
    void InterpolateGreen(const Window& w, LONG y) const;
    void InterpolateRedBlue(const Window& w, LONG y, Rgb16* out) const;

    LONG m_greenPhase = 0;
    LONG m_redRowPhase = 0;
    std::vector<LONG> m_rows; // mosaic, green and difference rows
    std::vector<Rgb16> m_rgbRows;
};
