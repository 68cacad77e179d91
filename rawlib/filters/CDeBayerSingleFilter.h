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
    // The windows of one tile. Row pointers rotate; the rows themselves stay where they are. Mosaic,
    // green and difference rows are split by the parity of their positions (DeBayerRows).
    struct Window {
        LONG first = 0;   // B: the first source column of the tile
        LONG columns = 0; // c: source columns the tile's output covers
        LONG* mosaic[5] = {};
        LONG* green[3] = {};
        LONG* difference[3] = {}; // mosaic minus green, beside the green rows
        Rgb16* rgb[4] = {};
    };

    IPravonError* PrepareWindow(LONG tileWidth, LONG firstColumn, Window* w);
    // Moves every window up one row: loads source row E + 5, computes green on row E + 3 and red and blue
    // on row E + 2.
    IPravonError* RowStep(CSourceTileCursor& cursor, Window& w, LONG e);
    void InterpolateGreen(const Window& w, LONG y, LONG* out, LONG* difference) const;
    void InterpolateRedBlue(const Window& w, LONG y, Rgb16* out) const;

    LONG m_greenPhase = 0;
    LONG m_redRowPhase = 0;
    std::vector<LONG> m_mosaicRows;
    std::vector<LONG> m_greenRows;
    std::vector<LONG> m_differenceRows;
    std::vector<Rgb16> m_rgbRows;
};
