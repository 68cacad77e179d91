// The LCh editor: applies the LCh curves of the development settings to an LCh image (lightness, chroma
// and hue in three 8- or 16-bit samples): a lightness curve, a hue curve and a chroma adjustment in percent
// by hue. The chroma adjustment is damped for dark pixels and, where it boosts, held back for pixels whose
// chroma does not exceed the calibration value of their hue. The chroma booster shares its formula.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

#include <vector>

class CFltLch : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("LCH ");
    // The LCh filters' errors carry no component code.
    static constexpr LONG kComponent = 0;
    // The curve tables in the order SetCurves takes them: lightness by lightness, hue by hue, and the
    // chroma adjustment by hue (half range = no change, 0 = -100 %, the top = almost +100 %).
    static constexpr LONG kLightnessCurve = 0;
    static constexpr LONG kHueCurve = 1;
    static constexpr LONG kChromaCurve = 2;
    static constexpr LONG kCurveCount = 3;
    // Tables have 2^1 to 2^16 entries of 1 to 16 bits.
    static constexpr LONG kMaxBits = 16;
    // The chroma adjustment in percent, and the steps of the chroma formula, lie within +-kMaxPercent.
    static constexpr LONG kMaxPercent = 100;

    // The tables a tile is edited with. A null curve leaves its sample as it is; without a percent table
    // every pixel takes `percent`.
    struct CEdit {
        const WORD* lightness = nullptr;
        const WORD* hue = nullptr;
        const WORD* percentByHue = nullptr;
        LONG percent = 0;
    };

    explicit CFltLch(IPravonManager* manager);
    ~CFltLch() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "LCH editor filter"; }

    // tableCount tables of 2^indexBits entries whose values have valueBits bits; a null table is the
    // identity ramp, entry k = k x 2^valueBits / 2^indexBits. A fourth table is the calibration table (as
    // SetCalibrationTable with the same bits). No tables (or a count of 0) set the neutral curves: identity
    // lightness and hue, no chroma change. Curves equal to the stored ones change nothing. Bits outside
    // 1..16 or a count outside 0..4 give PravonKind::kOutOfRange and change nothing. With notify an
    // effective change is announced downstream over the whole output.
    IPravonError* SetCurves(const WORD* const* tables, LONG indexBits, LONG valueBits, LONG tableCount,
                            bool notify);
    // The table of calibration values by hue (null: the identity ramp), 1.0 at half range.
    IPravonError* SetCalibrationTable(const WORD* table, LONG indexBits, LONG valueBits);
    // Reads "KvLchCal.nlc" of the profile folder into the calibration table. A file that is missing, of
    // the wrong length or of another version leaves the filter as it was and gives
    // KvLchCalibrationKind::kUnreadable or kWrongLength.
    virtual IPravonError* LoadCalibration();
    bool IsCalibrationLoaded() const { return m_calibrationLoaded; }

    // source (2^indexBits entries of valueBits bits; values beyond them count as the largest) resampled to
    // 2^depth entries of depth bits: values rescaled by bit replication or by the integer ratio of the
    // ranges, entries interpolated linearly when the source has fewer.
    static IPravonError* ResampleTable(LONG depth, const WORD* source, LONG indexBits, LONG valueBits,
                                       std::vector<WORD>* target);
    // Resamples the curves to depth: the chroma curve becomes percent (-100..100) by hue; the calibration
    // table, when it changed or reallocate is asked, becomes chroma values by hue at depth.
    IPravonError* PrepareTables(LONG depth, bool reallocate);

    // The chroma formula for one pixel at 8 or 16 bits, with the prepared calibration of that depth (none:
    // nothing is held back) and the percent read as a signed 16-bit value, limited to +-100.
    LONG AdjustChroma8(BYTE lightness, BYTE chroma, BYTE hue, LONG percent) const;
    LONG AdjustChroma16(WORD lightness, WORD chroma, WORD hue, LONG percent) const;

    // How much of the chroma adjustment a lightness takes, 0..1: 256 weights for 8-bit LCh, 65,536 for
    // every other space. Built once per process.
    static const double* GetLightnessWeights(LONG colorSpace);
    // The chroma factor of a step floor(percent x weight) in -100..100: 1/4 at -100, 1 at 0, 4 at 100.
    static const double* GetChromaFactors();

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

    // The invalid part of out from the source's pixels: lightness and hue through the curves, chroma by the
    // chroma formula with the prepared calibration when it is made for depth.
    IPravonError* EditTile(const COutputTile& out, IPravonDataSource* source, LONG depth,
                           const CEdit& edit) const;
    // The depth (8 or 16) of an LCh source, or PravonKind::kUnsupportedColorSpace.
    static IPravonError* GetLchDepth(IPravonDataSource* source, LONG* depth);
    // What LoadCalibration does with the named file of the profile folder.
    IPravonError* LoadCalibrationFile(const char* fileName);

    bool HasCalibrationTable() const { return !m_calibration.empty(); }
    bool CalibrationNeedsPreparing() const { return m_calibrationNeedsPreparing; }
    LONG GetPreparedDepth() const { return m_preparedDepth; }
    // The prepared calibration leaves the filter (into aside) and comes back.
    void TakePreparedCalibration(std::vector<WORD>* aside) { aside->swap(m_preparedCalibration); }
    void RestorePreparedCalibration(std::vector<WORD>* aside) { m_preparedCalibration.swap(*aside); }

private:
    bool m_calibrationLoaded = false;
    std::vector<WORD> m_calibration; // empty: none
    LONG m_calibrationIndexBits = 0;
    LONG m_calibrationValueBits = 0;
    std::vector<WORD> m_preparedCalibration; // empty: none
    bool m_calibrationNeedsPreparing = true;
    LONG m_preparedDepth = 0;
    std::vector<WORD> m_curves[kCurveCount]; // the first m_curveCount exist
    LONG m_curveCount = 0;
    std::vector<WORD> m_prepared[kCurveCount];
    bool m_curvesChanged = true;
    LONG m_indexBits = 0;
    LONG m_valueBits = 0;
};
