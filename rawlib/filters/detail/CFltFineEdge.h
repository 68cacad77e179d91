// The fine edge filter: splits every pixel of an 8-bit or 16-bit RGB image into green and the colour
// differences red - green and blue - green, smooths the differences near strong green detail, sharpens
// green within the range of its neighbours, and rebuilds every pixel by averaging along the directions of
// least green activity. It has no settings: the pipeline only enables or disables it.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "filters/engine/CSourceTileCursor.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/detail/KvRowWindow.h"

#include <vector>

class CFltFineEdge : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("fedg");

    explicit CFltFineEdge(IPravonManager* manager);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Fine Edge"; }

protected:
    // Reads an RGB8 or RGB16 source ("Bad source data color space" with
    // PravonKind::kUnsupportedColorSpace otherwise) through a cursor that clamps to the edges, and computes
    // the tile's invalid area in the source's colour space.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // Three pixels on every side: the rebuild reads the sharpened green two pixels away and the smoothed
    // differences one away, and each of those reads one and two pixels further.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    IPravonError* PrepareRows(LONG width);
    // Moves the windows down to source row y.
    IPravonError* RowStep(CSourceTileCursor& cursor, LONG firstColumn, LONG y, bool wide);
    void OutputRow(LONG width, bool wide, BYTE* out);

    // Per tile: the source row read; green and the two differences as read; sharpened green; smoothed
    // differences; the rebuilt row.
    std::vector<BYTE> m_readRow;
    TRowWindow<LONG> m_green;
    TRowWindow<LONG> m_red;
    TRowWindow<LONG> m_blue;
    TRowWindow<LONG> m_sharpened;
    TRowWindow<LONG> m_smoothRed;
    TRowWindow<LONG> m_smoothBlue;
    std::vector<LONG> m_outRows[3];
};
