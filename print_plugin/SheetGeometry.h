// The geometry of a layout sheet from the configuration and the user's options: the caption line and
// block heights, and the item size, grid and spacing of the chosen print mode on a printable area. A
// sheet that cannot be laid out (a size not finite or not above 0, a grid below one cell) is refused
// instead of being handed on.
#pragma once

#include "TConfigSettings.h"
#include "TUserOptions.h"

#include "plugin_framework/GraphTypes.h"

struct SheetItemLayout {
    graphtypes::TSize_T<double> itemSize;
    graphtypes::TSize_T<double> spacing;
    graphtypes::TSize_T<LONG> grid{0, 0}; // columns, rows
};

class SheetGeometry {
public:
    // The easy index print's column slider range.
    static constexpr LONG kMinColumns = 5;
    static constexpr LONG kMaxColumns = 10;
    // Fixed caption sizes below this (in points) are raised to it; -1 means automatic.
    static constexpr LONG kMinCaptionPoints = 4;
    static constexpr LONG kAutomaticCaptionSize = -1;
    // No grid has more cells than this along one side, and no fit loop takes more passes.
    static constexpr LONG kMaxGridCount = 10000;
    static constexpr LONG kMaxFitPasses = 100000;

    // Both stay the caller's and must outlive the geometry.
    SheetGeometry(const TConfigSettings& config, const TUserOptions& options)
        : m_config(config), m_options(options) {}

    // The caption font's size in points for an item of the width (pixels at the vertical resolution).
    LONG CaptionPoints(LONG verticalDpi, double itemWidth) const;
    // One caption line in the unit, whether captions are shown or not.
    double CaptionLineHeight(LONG unit, LONG verticalDpi, double itemWidth) const;
    // The lines of the chosen caption blocks (basic one, additional and detailed two each); 0 when
    // captions are off.
    double CaptionBlockHeight(LONG unit, LONG verticalDpi, double itemWidth) const;

    // The layout of the current print mode on a printable area of the size (in the unit, pixels for the
    // sheet); false when the sheet cannot be laid out.
    bool ComputeItemLayout(LONG unit, const graphtypes::TSize_T<double>& printable,
                           const graphtypes::TSize_T<LONG>& resolution, SheetItemLayout& layout) const;

    // Whether the standard layout may be offered on a printable area of the size (pixels at the
    // resolution): counts of at least one, sizes above 0 that fit inside the area, and, with captions, a
    // count rule that gives at least one column and one row.
    bool LayoutFits(const LayoutRecord& layout, const graphtypes::TSize_T<double>& printable,
                    const graphtypes::TSize_T<LONG>& resolution) const;

private:
    // The printable area W x H in the unit, and what the caption heights are computed with.
    struct Area {
        LONG unit;
        LONG verticalDpi;
        double width;
        double height;
    };

    // The caption block of an item whose width is truncated to whole pixels first.
    double BlockAt(const Area& area, double itemWidth) const;
    bool CountRule(const Area& area, double itemWidth, double itemHeight, SheetItemLayout& layout) const;
    bool FitToColumns(const Area& area, LONG columns, SheetItemLayout& layout) const;
    bool FixedGrid(const Area& area, double first, double second, SheetItemLayout& layout) const;
    // The configuration's unit, an unknown one counted as inch.
    LONG ConfigUnit() const;

    const TConfigSettings& m_config;
    const TUserOptions& m_options;
};
