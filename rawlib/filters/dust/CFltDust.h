// Applies a finished dust map to the image flowing through it: a pixel the map marks as shaded by dust is
// brightened by the inverse of the fraction of light that reached it; every other pixel passes unchanged.
#pragma once

#include "CDustMap.h"

#include "filters/engine/CPravonFilterBase.h"

#include <array>
#include <memory>
#include <vector>

class CFltDust : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("dust");

    // multiplier / 2^shift = 128 / value - 1 for the map values 1..127, with the largest shift that keeps
    // the multiplier below 65536; value 0 saturates every sample that is not 0.
    struct Gain {
        BYTE shift;
        WORD multiplier;
    };
    // Map values from here on mean no dust.
    static constexpr BYTE kNoDust = 128;
    static const std::array<Gain, kNoDust>& GainTable();

    explicit CFltDust(IPravonManager* manager);
    ~CFltDust() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Dezaz Urud Uvo"; }

    // Attaches a map (or none), shared with the settings record that built it, so a map the record drops
    // stays alive for the tiles still being made from it. A map that is not complete counts as none. A
    // complete map whose stored form equals the last one attached changes nothing downstream.
    IPravonError* SetDustMap(std::shared_ptr<const CDustMap> map, bool notify);
    const std::shared_ptr<const CDustMap>& GetDustMap() const { return m_map; }
    // Direct gain multiplies the samples themselves; otherwise the gain works in the map's linear light,
    // through its tone tables.
    IPravonError* SetDirectGain(bool direct, bool notify);
    bool IsDirectGain() const { return m_directGain; }

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    bool HasCorrection() const;
    IPravonError* Changed(bool notify);

    std::shared_ptr<const CDustMap> m_map;
    bool m_directGain = false;
    // The stored form of the map last attached; empty for none or an incomplete one.
    std::vector<BYTE> m_lastBlob;
};
