// Sharpens its single source: each selected plane is blurred with a kernel of one of six shapes, the
// difference between a value and its blur is the detail, a threshold drops (or, with noise affected,
// smooths) small details, a tonal or hue window weighs the rest, and the power scales what is added back.
// Works in 16-bit units on 8- and 16-bit grey, RGB, Lab and lightness-chroma-hue, 16-bit YCbCr and 8-bit
// CMYK.
#pragma once

#include "filters/CUnsharpMaskKernel.h"
#include "filters/CUnsharpMaskRange.h"
#include "filters/TThreadDataMgr.h"
#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

#include <vector>

class CUnsharpMaskFilter : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("usm ");
    // A power this close to 0 adds nothing: the filter passes its source through.
    static constexpr double kNoPower = 1e-10;

    explicit CUnsharpMaskFilter(IPravonManager* manager);
    ~CUnsharpMaskFilter() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Unsharp Mask"; }

    // Each setter returns at once when the value is the stored one. Otherwise it stores it, marks the cache
    // for a full check and, with notify on an enabled filter with a source, announces a data change over
    // the whole source. Values that are not finite, and the others each setter names, give
    // PravonKind::kOutOfRange and change nothing.

    // Bit i selects plane i; 0 sharpens nothing and passes the source through.
    IPravonError* SetPlaneMask(LONG mask, bool notify);
    LONG GetPlaneMask() const { return m_planeMask; }
    // A Gaussian reaches three radii, and no kernel reaches beyond CUnsharpMaskKernel::kMaxHalfSize.
    static constexpr double kMaxGaussianRadius = CUnsharpMaskKernel::kMaxHalfSize / 3.0;

    // Kernel radii in pixels (the Gaussian's standard deviations); negative radii are refused. Radii above
    // kMaxGaussianRadius (other shapes: above kMaxHalfSize) fail each tile with PravonKind::kOutOfRange.
    IPravonError* SetRadius(double radius, bool notify) { return SetRadii(radius, radius, notify); }
    IPravonError* SetRadii(double x, double y, bool notify);
    double GetRadius() const { return (m_radiusX + m_radiusY) / 2; }
    double GetXRadius() const { return m_radiusX; }
    double GetYRadius() const { return m_radiusY; }
    void GetRadii(double* x, double* y) const;
    // The amount of detail added back; a power within kNoPower of 0 passes the source through. Smoothed
    // noise is added back with min(power, 1).
    IPravonError* SetPower(double power, bool notify);
    double GetPower() const { return m_power; }
    // In 8-bit levels; details up to it are dropped or smoothed, larger ones lose it.
    IPravonError* SetThreshold(double threshold, bool notify);
    double GetThreshold() const { return m_threshold; }
    // Whether details below the threshold are smoothed rather than left alone.
    IPravonError* SetAffectNoise(bool affect, bool notify);
    bool GetAffectNoise() const { return m_affectNoise; }
    // The kernel shape (CUnsharpMaskKernel's methods); any other value is a flat disc.
    IPravonError* SetMaskMethod(LONG method, bool notify);
    LONG GetMaskMethod() const { return m_maskMethod; }
    // The exponent of the parabolic shape, above 0. It is kept whatever the method; only under the
    // parabolic shape does a change mark the cache and notify.
    IPravonError* SetParabolicPower(double power, bool notify);
    double GetParabolicPower() const { return m_parabolicPower; }
    // The tonal or hue window, each bound in [0, 1]; (0, 0, 1, 0) is everything.
    IPravonError* SetRange(double low, double lowSoftness, double high, double highSoftness, bool notify);
    // Any pointer may be null.
    void GetRange(double* low, double* lowSoftness, double* high, double* highSoftness) const;

protected:
    // The kernel's weight at offset (dx, dy) for the current shape and radii.
    double GetValue(double dx, double dy) const;
    // Builds the kernel for the current parameters (see CUnsharpMaskKernel::Generate).
    IPravonError* GenerateKernel();

    // An output pixel reads the source window of the kernel's reach around it.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    // The widened change, cut to the source's area.
    IPravonError* MapChangedArea(IPravonDataSource* source, const PravonRect& rect,
                                 PravonRect* area) override;
    bool WritesWholeInvalidArea() const override { return true; }
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

    const CUnsharpMaskKernel& GetKernel() const { return m_kernel; }

private:
    struct CFormat;
    class CTileWork;
    // The memory one tile works in, kept for the next tile.
    struct CBuffers {
        std::vector<WORD> samples;
        std::vector<double> blur;
        std::vector<WORD> sharpened;
        std::vector<double> scratch;
        std::vector<float> lines;
        std::vector<const WORD*> rows;
    };

    // After an effective change: the cache is checked in full, and the change announced when asked.
    IPravonError* Changed(bool notify);
    void UpdatePassThrough();
    void MarkKernel() { m_kernelCurrent = false; }

    LONG m_planeMask = -1;
    double m_radiusX = 1;
    double m_radiusY = 1;
    double m_power = 1;
    double m_noisePower = 1;
    double m_threshold = 0;
    double m_threshold16 = 0; // the threshold in 16-bit units: times 257
    bool m_affectNoise = true;
    LONG m_maskMethod = CUnsharpMaskKernel::kGaussian;
    double m_parabolicPower = 2;
    double m_range[4] = {0, 0, 1, 0};
    CUnsharpMaskRange m_window;
    CUnsharpMaskKernel m_kernel;
    bool m_kernelCurrent = false;
    TThreadDataMgr<CBuffers> m_buffers;
};
