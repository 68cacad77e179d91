// Draws a measuring grid over its single source for display: major lines an interval apart, in a physical
// unit at an assumed print size of the image, centred on the image, with minor lines between them. The
// output is always 8-bit RGB.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

#include <cstdint>

class CPravonFilterGrid : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("grid");
    // Units of the interval.
    static constexpr LONG kPixels = 0;
    static constexpr LONG kInches = 1; // also for codes the filter does not know
    static constexpr LONG kCentimetres = 2;
    static constexpr LONG kMillimetres = 3;
    static constexpr LONG kPicas = 4;
    static constexpr LONG kPoints = 5;
    // Major lines closer than this are spaced at twice, four times, ... the interval.
    static constexpr double kMinSpacing = 5;

    explicit CPravonFilterGrid(IPravonManager* manager);
    ~CPravonFilterGrid() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Show Grid"; }

    // Each changes nothing when all of its values are as stored; otherwise the output is dropped and, with
    // notify on an enabled filter with a source, announced as changed over the whole image.
    IPravonError* SetGridColor(BYTE red, BYTE green, BYTE blue, bool notify);
    // divisions: how many parts minor lines split an interval into.
    IPravonError* SetGridInterval(double interval, LONG unit, LONG divisions, bool notify);
    // The print size the interval is measured on: width and height in pixels at resolution pixels per inch.
    IPravonError* SetAssumedImageSize(LONG width, LONG height, double resolution, bool notify);
    void GetGridColor(BYTE* red, BYTE* green, BYTE* blue) const;
    void GetGridInterval(double* interval, LONG* unit, LONG* divisions) const;
    // Each pointer may be null.
    void GetAssumedImageSize(LONG* width, LONG* height, double* resolution) const;

    // The interval in pixels at resolution pixels per inch.
    double GetGridIntervalInPixels(double resolution) const;

    // How the lines of an image of this width lie: major lines `spacing` pixels apart from the centre (the
    // interval at the assumed size, doubled until it is at least kMinSpacing), each interval split into
    // `divisions` parts by minor lines at least ten pixels apart. Nothing is drawn unless the spacing is a
    // finite positive length: without an assumed width, resolution or interval there is none.
    struct CSpacing {
        bool draws = false;
        double spacing = 0;
        LONG divisions = 1;
    };
    CSpacing GetSpacing(LONG width) const;

    // Always 8-bit RGB.
    IPravonError* GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                        LONG* colorSpace) override;

protected:
    // The output stays 8-bit RGB: an enabled filter with a source announces a colour-space change of its
    // source as new pixels over the whole image; a disabled one passes the change on.
    IPravonError* FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) override;
    // Copies grey or RGB of 8 or 16 bits as 8-bit RGB (grey repeated, 16-bit samples by their high byte)
    // and draws the lines over it: the vertical centre line solid and the other vertical major lines dashed
    // (a gap every fourth row), minor lines dotted (every fourth row); horizontal lines alike by columns,
    // their centre line dashed too.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    IPravonError* Changed(bool notify);

    BYTE m_color[3] = {0, 0, 0};
    double m_interval = 1.0;
    LONG m_unit = kInches;
    LONG m_divisions = 3;
    LONG m_assumedWidth = 0;
    LONG m_assumedHeight = 0;
    double m_assumedResolution = 0;
};
