// Raises the chroma of every pixel of an LCh image by one level for all hues with the LCh editor's chroma
// formula: damped for dark pixels and held back for pixels whose chroma does not exceed the calibration
// value of their hue ("KvCBoost.nlc"). Switching the booster off drops only the hold-back.
#pragma once

#include "rawlib/filters/CFltLch.h"

#include <vector>

class CFltChromaBooster : public CFltLch {
public:
    static constexpr LONG kCode = FourCC("ChrB");
    // The level LoadCalibration makes the default, and the level that stands for it.
    static constexpr LONG kDefaultLevel = 25;
    static constexpr LONG kUseDefaultLevel = 1000;
    // Levels are percent of the largest boost.
    static constexpr LONG kMaxLevel = 100;

    explicit CFltChromaBooster(IPravonManager* manager);
    ~CFltChromaBooster() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Chroma Booster filter"; }

    // The boost in percent, 0..100 (more is taken as 100; kUseDefaultLevel is the default level). Ignored
    // before a calibration is loaded, and for a negative level. With notify a change is announced
    // downstream over the whole output.
    IPravonError* SetLevel(LONG level, bool notify);
    LONG GetLevel() const { return m_level; }
    // On: the calibration holds the boost back; off: every chroma is boosted. Ignored before a calibration
    // is loaded.
    IPravonError* SetEnabled(bool on, bool notify);
    bool IsBoosterEnabled() const { return m_on; }

    // Makes kDefaultLevel the default and reads "KvCBoost.nlc" as the LCh editor reads its file.
    IPravonError* LoadCalibration() override;

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    bool m_on = false;
    LONG m_level = 0;
    LONG m_defaultLevel = 0;
    // The prepared calibration while the booster is off.
    std::vector<WORD> m_aside;
};
