#include "SheetGeometry.h"

#include "plugin_framework/LengthUnits.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLineSpacing = 1.2;

bool Positive(double value) {
    return std::isfinite(value) && value > 0.0;
}

// A grid count: the value truncated, when it is finite and from 1 to the largest count.
bool GridCount(double value, LONG& count) {
    if (!std::isfinite(value) || value < 1.0 || value > SheetGeometry::kMaxGridCount)
        return false;
    count = static_cast<LONG>(std::trunc(value));
    return true;
}

} // namespace

LONG SheetGeometry::ConfigUnit() const {
    const LONG unit = m_config.GetUnit();
    return unit == LengthUnit::kNone ? LengthUnit::kInch : unit;
}

LONG SheetGeometry::CaptionPoints(LONG verticalDpi, double itemWidth) const {
    const LONG size = m_options.metadata.captionFont.size;
    if (size != kAutomaticCaptionSize)
        return std::max(kMinCaptionPoints, std::min(size, m_config.GetCaptionMaxSize()));
    const double points = m_config.GetCaptionAutoSizeRatio() *
                          ConvertUnits(LengthUnit::kPixel, LengthUnit::kPoint, itemWidth, &verticalDpi);
    // A picture so large or so small that its automatic size is no number of points gets none.
    if (!std::isfinite(points) || points < 0.0 || points > kMaxGridCount)
        return 0;
    return static_cast<LONG>(std::trunc(points));
}

double SheetGeometry::CaptionLineHeight(LONG unit, LONG verticalDpi, double itemWidth) const {
    const double line = std::trunc(CaptionPoints(verticalDpi, itemWidth) * kLineSpacing);
    return ConvertUnits(LengthUnit::kPoint, unit, line, &verticalDpi);
}

double SheetGeometry::CaptionBlockHeight(LONG unit, LONG verticalDpi, double itemWidth) const {
    if (!m_options.IsMetadataEnabled())
        return 0.0;
    const LONG flags = m_options.metadata.captionFlags;
    const double line = CaptionLineHeight(unit, verticalDpi, itemWidth);
    double lines = 0;
    if (flags & TMetadataSettings::kBasic)
        lines += 1;
    if (flags & TMetadataSettings::kAdditional)
        lines += 2;
    if (flags & TMetadataSettings::kDetailed)
        lines += 2;
    return line * lines;
}

double SheetGeometry::BlockAt(const Area& area, double itemWidth) const {
    return CaptionBlockHeight(area.unit, area.verticalDpi, std::trunc(itemWidth));
}

bool SheetGeometry::CountRule(const Area& area, double itemWidth, double itemHeight,
                              SheetItemLayout& layout) const {
    if (!Positive(itemWidth) || !Positive(itemHeight))
        return false;
    const graphtypes::TSize_T<double> s = m_config.GetImageSpacing();
    LONG columns = 0, rows = 0;
    if (!GridCount((area.width + s.cx * itemWidth) / ((1 + s.cx) * itemWidth), columns))
        return false;
    const double cell = std::trunc(BlockAt(area, itemWidth)) + itemHeight;
    if (!GridCount((area.height / cell + s.cy) / (1 + s.cy), rows) && !GridCount(area.height / cell, rows))
        return false;
    layout.itemSize = graphtypes::TSize_T<double>(itemWidth, itemHeight);
    layout.grid = graphtypes::TSize_T<LONG>(columns, rows);
    return true;
}

bool SheetGeometry::FitToColumns(const Area& area, LONG columns, SheetItemLayout& layout) const {
    const graphtypes::TSize_T<double> s = m_config.GetImageSpacing();
    const double aspect = m_config.GetItemAspectRatio();
    if (!Positive(aspect))
        return false;
    LONG rows = -1;
    double budget = area.width;
    double iw = 0, ih = 0, t = 0;
    for (LONG pass = 0;; ++pass) {
        // Once the budget is spent no row will ever fit.
        if (pass == kMaxFitPasses || !Positive(budget))
            return false;
        iw = budget / (columns * (1 + s.cx) - s.cx);
        t = BlockAt(area, iw);
        ih = iw / aspect - t;
        if (ih + t < area.height)
            break;
        budget = area.height * aspect - pass;
        rows = 1;
    }
    if (!Positive(iw) || !Positive(ih))
        return false;
    if (rows != 1 && !GridCount((area.height / (ih + t) + s.cy) / (1 + s.cy), rows))
        return false;
    layout.itemSize = graphtypes::TSize_T<double>(iw, ih);
    layout.grid = graphtypes::TSize_T<LONG>(columns, rows);
    return true;
}

bool SheetGeometry::FixedGrid(const Area& area, double first, double second, SheetItemLayout& layout) const {
    LONG g1 = 0, g2 = 0;
    if (!GridCount(first, g1) || !GridCount(second, g2) || !Positive(area.width) || !Positive(area.height))
        return false;
    const graphtypes::TSize_T<double> s = m_config.GetImageSpacing();
    const bool portrait = area.width < area.height;
    // Across the narrow side go g2 cells on a portrait page, g1 on a landscape one.
    const LONG across = portrait ? g2 : g1;
    const LONG down = portrait ? g1 : g2;
    const double aspect = (area.width / across) / (area.height / down);
    double budget = area.width;
    double iw = 0, ih = 0;
    for (LONG pass = 0;; ++pass) {
        if (pass == kMaxFitPasses || !Positive(budget))
            return false;
        iw = budget / (across * (1 + s.cx) - s.cx);
        const double t = BlockAt(area, iw);
        // On a portrait page the caption comes out of the cell's height, on a landscape one it adds to it.
        ih = portrait ? iw / aspect - t : iw / aspect;
        if ((ih + t) * (down * (1 + s.cy) - s.cy) < area.height)
            break;
        budget -= across;
    }
    if (!Positive(iw) || !Positive(ih))
        return false;
    layout.itemSize = graphtypes::TSize_T<double>(iw, ih);
    layout.grid = graphtypes::TSize_T<LONG>(across, down);
    return true;
}

bool SheetGeometry::LayoutFits(const LayoutRecord& layout, const graphtypes::TSize_T<double>& printable,
                               const graphtypes::TSize_T<LONG>& resolution) const {
    if (layout.byRowsCols)
        return layout.size.cx >= 1 && layout.size.cy >= 1;
    const graphtypes::TSize_T<double> size =
        ConvertSize(ConfigUnit(), LengthUnit::kPixel, layout.size, &resolution);
    if (!Positive(size.cx) || !Positive(size.cy) || size.cx > printable.cx || size.cy > printable.cy)
        return false;
    if (!m_options.IsMetadataEnabled())
        return true;
    SheetItemLayout counted;
    const Area area{LengthUnit::kPixel, resolution.cy, printable.cx, printable.cy};
    return CountRule(area, size.cx, size.cy, counted);
}

bool SheetGeometry::ComputeItemLayout(LONG unit, const graphtypes::TSize_T<double>& printable,
                                      const graphtypes::TSize_T<LONG>& resolution,
                                      SheetItemLayout& layout) const {
    const Area area{unit, resolution.cy, printable.cx, printable.cy};
    if (!Positive(area.width) || !Positive(area.height))
        return false;
    SheetItemLayout result;
    bool laidOut = false;
    if (m_options.GetPrintAs() == TUserOptions::kIndexPrint) {
        if (m_options.indexPrintType != TUserOptions::kAdvancedIndexPrint) {
            const LONG columns = std::clamp(m_options.columns, kMinColumns, kMaxColumns);
            laidOut = FitToColumns(area, columns, result);
        } else {
            const graphtypes::TSize_T<double> size =
                ConvertSize(ConfigUnit(), unit, m_options.itemSize, &resolution);
            laidOut = CountRule(area, size.cx, size.cy, result);
        }
    } else {
        const std::vector<LayoutRecord>& layouts = m_config.GetStandardLayouts();
        if (layouts.empty())
            return false;
        const LONG index = m_options.GetLayoutIndex();
        const LayoutRecord& chosen =
            index >= 0 && static_cast<std::size_t>(index) < layouts.size() ? layouts[index] : layouts[0];
        if (chosen.byRowsCols) {
            laidOut = FixedGrid(area, chosen.size.cx, chosen.size.cy, result);
        } else {
            const graphtypes::TSize_T<double> size =
                ConvertSize(ConfigUnit(), unit, chosen.size, &resolution);
            laidOut = CountRule(area, size.cx, size.cy, result);
        }
    }
    if (!laidOut)
        return false;
    const graphtypes::TSize_T<double> s = m_config.GetImageSpacing();
    result.spacing = graphtypes::TSize_T<double>(s.cx * result.itemSize.cx, s.cy * result.itemSize.cy);
    if (!std::isfinite(result.spacing.cx) || !std::isfinite(result.spacing.cy))
        return false;
    layout = result;
    return true;
}
