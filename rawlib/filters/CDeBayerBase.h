// The common base of the demosaicing filters: turns the camera's 16-bit mosaic (12 significant bits) into
// 16-bit RGB in the square-root domain. It owns what every demosaicing filter shares: the frame of 6 source
// pixels consumed on each side, the output scales, the crop, the per-channel input curves and the lookup
// tables built from them, the colour-filter descriptor, and the process-wide square-root and square tables.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/CMosaicRowReader.h"

#include <memory>
#include <vector>

// The 4096-entry square-root table: a 12-bit linear sample to an 18-bit square-root-domain value
// (0..0x3FFFF). Built on first use, together with the square table; lives until the process ends.
const LONG* GetSqrtTable();
// The 65536-entry square table: a 16-bit square-root-domain value back to a 16-bit linear one.
const WORD* GetSquareTable();

class CDeBayerBase : public CPravonFilterBase {
public:
    static constexpr LONG kComponent = FourCC("DBbs");
    // Source pixels consumed across each axis, half of them on each side.
    static constexpr LONG kBorder = 12;
    static constexpr LONG kFrame = kBorder / 2;
    static constexpr LONG kLutSize = 4096;
    static constexpr LONG kMaxSample = kLutSize - 1;
    static constexpr LONG kMaxRoot = 0x3FFFF;

    enum Channel { kRed = 0, kGreen = 1, kBlue = 2 };
    // How a channel's LUT stands: the shared square-root table, an own table that is current, or an own
    // table that must be rebuilt from a changed curve.
    enum LutState { kLutShared = 0, kLutCurrent = 1, kLutStale = 2 };

    explicit CDeBayerBase(IPravonManager* manager);
    ~CDeBayerBase() override;

    // Stores the crop in output coordinates, fitted inside the output of the extent (the given rectangle's
    // size, else the first source's size; PravonKind::kNoSource with neither). An empty crop selects the
    // whole output.
    IPravonError* SetCropRect(const PravonRect& crop, const PravonRect* extent, bool notify);
    // Installs the channel curves: each given curve has 2^inputShift entries of values
    // 0..2^outputShift - 1. Shifts outside 0..16, or curves with a shift of 0, give PravonKind::kOutOfRange
    // and change nothing. Without any curve every channel returns to the shared square-root table.
    IPravonError* SetParameters(LONG inputShift, LONG outputShift, const WORD* red, const WORD* green,
                                const WORD* blue, bool notify);
    // Sensors with pixels twice as tall as wide; the crop is reset to the whole output.
    IPravonError* SetNonSquareMode(bool on, const PravonRect* extent, bool notify);
    // The colour-filter descriptor as tag 0xA302 holds it: big-endian 16-bit column and row counts, then
    // one byte per cell, row by row (0 red, 1 green, 2 blue). A descriptor the filter cannot use is kept
    // and its error returned; the phases found last stay in force.
    IPravonError* SetCFAPattern(const BYTE* descriptor, ULONG size, bool notify);

    virtual double GetHorizontalScale() const { return m_nonSquare ? 0.75 : 1.0; }
    virtual double GetVerticalScale() const { return m_nonSquare ? 1.5 : 1.0; }
    virtual LONG GetSourceColorSpace() const { return PravonColorSpace::kRawMosaic16; }
    // Validates the stored descriptor for the filter's interpolation and takes its phases.
    virtual IPravonError* CheckCFAPattern() = 0;

    PravonRect GetCropRect() const { return m_crop; }
    bool IsNonSquare() const { return m_nonSquare; }
    const std::vector<BYTE>& GetCFAPattern() const { return m_cfa; }
    LONG GetInputShift() const { return m_inputShift; }
    LONG GetOutputShift() const { return m_outputShift; }
    bool HasCurve(Channel channel) const { return m_curves[channel] != nullptr; }
    LutState GetLutState(Channel channel) const { return m_lutState[channel]; }
    // The table a 12-bit sample of the channel is looked up in: the shared square-root table or its own.
    const LONG* GetChannelLut(Channel channel) const { return m_lut[channel]; }

    // Rebuilds the LUTs of changed curves and drops those of removed ones; called at the start of a tile.
    IPravonError* BuildChannelLuts();

    IPravonError* FilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;

    IPravonError* GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                  LONG* height) override;
    IPravonError* GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                        LONG* colorSpace) override;

    IPravonError* FilterSize(IPravonDataSource* source, ChangeSize* change) override;
    IPravonError* FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) override;

protected:
    // One output pixel: red, green and blue in the square-root domain.
    struct Rgb16 {
        WORD r;
        WORD g;
        WORD b;
    };

    // Checks the stored descriptor for a 2 x 2 Bayer layout (RGGB, GRBG, GBRG, BGGR) and gives its phases:
    // site (x, y) is green when x + y + greenPhase is odd, row y holds red when y + redRowPhase is odd.
    // Anything else is PravonKind::kInvalidState under the given component, and the phases are left alone.
    IPravonError* CheckBayerPattern(LONG component, LONG* greenPhase, LONG* redRowPhase) const;

    // The crop origin when the crop is valid, else (0, 0).
    LONG CropLeft() const;
    LONG CropTop() const;
    bool IsCropValid() const;

    // What every tile starts with once its buffers are ready: the LUTs of changed curves rebuilt, and the
    // source checked to hold GetSourceColorSpace() (PravonKind::kUnsupportedColorSpace otherwise). Errors
    // carry the given component.
    IPravonError* PrepareMosaicSource(IPravonDataSource* source, LONG component);

    // The channel LUTs and mosaic phases a mosaic row reader looks the sites up with.
    CMosaicRowReader::Sites MosaicSites(LONG greenPhase, LONG redRowPhase) const;

    // Writes one output row of width pixels from the four newest RGB rows (rows[1] is the row at the
    // output row's source position). Square pixels copy rows[1]; the non-square mode resamples by 0.75
    // across (starting at column phase columnPhase) and by 1.5 down (rowPhase 0, 1 or 2).
    void WriteOutputRow(const Rgb16* const rows[4], LONG width, LONG columnPhase, LONG rowPhase,
                        Rgb16* out) const;

    // Output size for the filter's own sources (0 x 0 without one).
    void OwnOutputSize(LONG* width, LONG* height);
    // With notify, enabled and exactly one source: whether a setter announces its change downstream.
    bool ShouldNotify(bool notify) const;
    IPravonError* NotifyWholeOutput();

private:
    // Maps a point into output coordinates (toOutput) or back, while the filter is enabled.
    template <class T>
    IPravonError* Map(T* x, T* y, bool toOutput) const;
    template <class R>
    IPravonError* MapCorners(R* rect, bool toOutput) const;
    // Output extent of a source of w x h before the crop, never negative.
    void ScaledSize(LONG w, LONG h, LONG* width, LONG* height) const;
    IPravonError* FitCrop(const PravonRect& crop, const PravonRect* extent, PravonRect* fitted);

    PravonRect m_crop{};
    bool m_nonSquare = false;
    std::vector<BYTE> m_cfa;
    LONG m_inputShift = 0;
    LONG m_outputShift = 0;
    std::unique_ptr<WORD[]> m_curves[3];
    LutState m_lutState[3] = {kLutShared, kLutShared, kLutShared};
    const LONG* m_lut[3] = {};
    std::unique_ptr<LONG[]> m_ownLut[3];
};
