// Reduces the chroma of an LCh image in its shadows and highlights by a gain that depends on lightness,
// shaped by a compensation level: level 0 leaves the image alone, level 9 takes most chroma out of the
// darkest and the brightest pixels.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

#include <array>

class CFltSatComp : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("stcp");
    static constexpr LONG kOff = 0;
    static constexpr LONG kMaxLevel = 9;
    // A gain of kUnitGain keeps the chroma; gains are applied as (C x gain) >> kGainShift.
    static constexpr LONG kUnitGain = 128;
    static constexpr LONG kGainShift = 7;

    explicit CFltSatComp(IPravonManager* manager);
    ~CFltSatComp() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Saturation Compensation Filter"; }

    // The compensation level, 0 (off: the source passes through) to kMaxLevel. The level may come from a
    // camera's tag byte, so a level outside that range is taken as 0 rather than refused, which would stop
    // the image from developing. An effective change drops the output and, with notify, is announced
    // downstream as kUpdateAll, switching the compensation off as well as on.
    IPravonError* SetCompensation(LONG level, bool notify);
    LONG GetCompensation() const { return m_level; }

    // The gain by 8-bit lightness for the current level; ProcessTile builds it when the level changed.
    void BuildGainTable();
    const std::array<LONG, 256>& GetGainTable() const { return m_gain; }

protected:
    // Lightness and hue are copied; the chroma C of a pixel of lightness L becomes (C x gain[L]) >> 7, with
    // the high byte of L for 16-bit samples. Sources other than 8- or 16-bit LCh are refused with
    // "Bad source data color space".
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    LONG m_level = 1;
    bool m_tableNeedsBuilding = true;
    std::array<LONG, 256> m_gain{};
};
