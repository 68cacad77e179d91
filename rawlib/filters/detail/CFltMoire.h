// The moire filter: reduces false colour in 16-bit RGB by walking from each pixel through the surrounding
// region of similar luminance in eight directions, collecting points whose colour differs from the pixel's
// in a balanced way, and replacing the pixel's colour differences by their mean when enough are found,
// keeping its luminance R + 2G + B.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "filters/engine/CSourceTileCursor.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/detail/CMoireRows.h"
#include "rawlib/filters/detail/KvRowWindow.h"

#include <vector>

class CFltMoire : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("moir");
    static constexpr LONG kDefaultLevel = 50;

    explicit CFltMoire(IPravonManager* manager);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Moire"; }

    // Any level is taken (the pipeline uses 15, 25 and 75); higher levels admit larger luminance and colour
    // changes. An effective change is announced over the whole output with notify.
    IPravonError* SetLevel(LONG level, bool notify);
    LONG GetLevel() const { return m_level; }

protected:
    // Reads an RGB16 source ("Bad source data color space" with PravonKind::kUnsupportedColorSpace
    // otherwise) through a cursor that clamps to the edges, and computes the tile's invalid area.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // The walks' sixteen steps and the smoothing's one more.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    IPravonError* PrepareRows(LONG width);
    // Moves the windows down to source row y.
    IPravonError* RowStep(CSourceTileCursor& cursor, LONG firstColumn, LONG y);
    void OutputRow(LONG width, BYTE* out);

    LONG m_level = kDefaultLevel;
    // The tile width the row buffers are laid out for, -1 before the first tile.
    LONG m_preparedWidth = -1;

    // Per tile: the source row read and the output row made; luminance and differences over the walks' rows
    // and one more on either side (the pixels' own values); their smoothed values over the walks' rows;
    // thresholds and new differences of a row.
    std::vector<BYTE> m_readRow;
    std::vector<BYTE> m_writeRow;
    TRowWindow<LONG> m_luma;
    TRowWindow<LONG> m_red;
    TRowWindow<LONG> m_blue;
    TRowWindow<LONG> m_smoothLuma;
    TRowWindow<LONG> m_smoothRed;
    TRowWindow<LONG> m_smoothBlue;
    // The walks' block bounds along each axis, kBoundsLag rows behind the smoothed rows.
    TRowWindow<LONG> m_least[MoireRows::kAxes];
    TRowWindow<LONG> m_greatest[MoireRows::kAxes];
    std::vector<LONG> m_thresholds[3];
    std::vector<LONG> m_outRed;
    std::vector<LONG> m_outBlue;
    std::vector<LONG> m_outGreen;
};
