// The colour noise reduction filter: smooths a 16-bit Lab image with an edge-preserving weighted mean, in
// which every neighbour of a square window counts with a weight that falls off as a Gaussian of its
// difference from the centre, channel by channel; at high strength the two chrominance channels are first
// replaced by their 15 x 15 box mean.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "filters/engine/CSourceTileCursor.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/detail/CColorNoiseRows.h"
#include "rawlib/filters/detail/KvRowWindow.h"

#include <memory>
#include <vector>

class CFltColorNoise : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("clnr");
    static constexpr double kDefaultStrength = 0.5;
    // The weight of a difference of 0.
    static constexpr WORD kCentreWeight = 1337;

    explicit CFltColorNoise(IPravonManager* manager);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Color Noise Reduction"; }

    // Any value is taken as it is; an effective change makes the weights again and, with notify, is
    // announced over the whole output.
    IPravonError* SetStrength(double strength, bool notify);
    double GetStrength() const { return m_strength; }

    // What a strength means: the Gaussian's sigma (in units of 16 sample steps), the window radius, and
    // whether the chrominance is box-averaged first.
    static double Sigma(double strength);
    static LONG Radius(double strength);
    static bool UsesBoxMean(double strength);
    // The 4096 weights of a strength: entry i = trunc(1337 x exp(-i^2 / (256 sigma^2)) + 0.5); entry 0 is
    // 1337 also where sigma is 0.
    static void FillWeightTable(double strength, WORD* table);

protected:
    // Reads a Lab16 source ("Bad source data color space" with PravonKind::kUnsupportedColorSpace
    // otherwise) through a cursor that clamps to the edges, and computes the tile's invalid area.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // The window radius, and the box mean's reach beyond it when the box mean is used.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    IPravonError* PrepareWeights();
    IPravonError* PrepareRows(LONG width, LONG radius, bool box);
    // Moves the windows down to source row y.
    IPravonError* RowStep(CSourceTileCursor& cursor, LONG firstColumn, LONG y, bool box);
    void OutputRow(LONG width, LONG radius, BYTE* out);

    double m_strength = kDefaultStrength;
    std::unique_ptr<WORD[]> m_weights;
    bool m_weightsStale = true;

    // Per tile: the source row read, the source rows and the rows the weighted mean reads (the same
    // rows without the box mean), per channel, the chrominance column sums and the output row.
    std::vector<BYTE> m_readRow;
    TRowWindow<WORD> m_source[3];
    TRowWindow<WORD> m_boxed[2];
    std::vector<LONG> m_columnSums[2];
    std::vector<WORD> m_outRows[3];
};
