// The high-quality demosaicing filter: a 2 x 2 Bayer mosaic to RGB in the square-root domain through ten
// row stages (directional activities, an edge-direction class per site, colour differences steered by it,
// chroma edge strength, a second classification near strong colour edges, a luminance interpolated along
// the class's direction, and RGB from luminance and colour differences), each over sliding row buffers so
// that every source row passes every stage once per tile. Its strength comes from a tuning record chosen
// by the image's sensitivity.
#pragma once

#include "rawlib/filters/CDeBayerBase.h"
#include "rawlib/filters/HQ4Tuning.h"

#include <memory>

class CDeBayerSingleHQ4Filter : public CDeBayerBase {
public:
    static constexpr LONG kCode = FourCC("db1g");
    // A row step for index E loads source row E + kLoadLead and completes the RGB row E + 2.
    static constexpr LONG kLoadLead = 13;

    explicit CDeBayerSingleHQ4Filter(IPravonManager* manager);
    ~CDeBayerSingleHQ4Filter() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override {
        return "De-Bayer single resolution high quality interpolation filter V4";
    }
    // Accepts the four Bayer layouts RGGB, GRBG, GBRG and BGGR (PravonKind::kInvalidState otherwise).
    IPravonError* CheckCFAPattern() override;

    // Copies the record and drops the cached output; nothing is announced, since the development sets the
    // tuning before the setters that announce.
    IPravonError* SetTuning(const HQ4Tuning& tuning);
    const HQ4Tuning& GetTuning() const { return m_tuning; }

    LONG GetGreenPhase() const { return m_greenPhase; }
    LONG GetRedRowPhase() const { return m_redRowPhase; }

    class CRowStages; // CDeBayerHQ4RowStages.h

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // What the stages read around a square output pixel: twelve source columns to the left, eleven to
    // the right and eleven rows up and down (the luminance of a green site takes the class of the site to
    // its left). The non-square resampling also reads the next column, the row above and the two below.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    // Every pixel of the tile rectangle is written from the stages.
    bool WritesWholeInvalidArea() const override { return true; }

private:
    // Reads source row y, columns x0 .. x0 + count - 1, through the cursor into out as square-root-domain
    // values, each sample limited to 12 bits and looked up in its site's channel LUT.
    IPravonError* LoadRow(CSourceTileCursor& cursor, LONG x0, LONG count, LONG y, LONG* out) const;

    HQ4Tuning m_tuning;
    LONG m_greenPhase = 0;
    LONG m_redRowPhase = 0;
    std::unique_ptr<CRowStages> m_stages;
};
