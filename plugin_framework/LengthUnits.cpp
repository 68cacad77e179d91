#include "LengthUnits.h"

namespace {

constexpr double kPerMillimetre = 1000000.0;
constexpr double kPerInch = 25.4 * kPerMillimetre;
constexpr double kPointsPerInch = 72.0;

const struct {
    LONG unit;
    const wchar_t* name;
} kNames[] = {
    {LengthUnit::kInch, L"inch"},
    {LengthUnit::kMillimetre, L"mm"},
    {LengthUnit::kCentimetre, L"cm"},
    {LengthUnit::kPixel, L"pixel"},
};

} // namespace

double UnitFactor(LONG unit, const LONG* resolution) {
    switch (unit) {
    case LengthUnit::kPixel: {
        const LONG dpi = resolution && *resolution > 0 ? *resolution : LengthUnit::kDefaultResolution;
        return kPerInch / dpi;
    }
    case LengthUnit::kMillimetre:
        return kPerMillimetre;
    case LengthUnit::kCentimetre:
        return 10.0 * kPerMillimetre;
    case LengthUnit::kInch:
        return kPerInch;
    case LengthUnit::kPoint:
        return kPerInch / kPointsPerInch;
    default:
        return 0.0;
    }
}

double ConvertUnits(LONG from, LONG to, double value, const LONG* resolution) {
    return value * UnitFactor(from, resolution) / UnitFactor(to, resolution);
}

graphtypes::TPoint_T<double> ConvertPoint(LONG from, LONG to, const graphtypes::TPoint_T<double>& point,
                                          const graphtypes::TSize_T<LONG>* resolution) {
    return graphtypes::TPoint_T<double>(
        ConvertUnits(from, to, point.x, resolution ? &resolution->cx : nullptr),
        ConvertUnits(from, to, point.y, resolution ? &resolution->cy : nullptr));
}

graphtypes::TSize_T<double> ConvertSize(LONG from, LONG to, const graphtypes::TSize_T<double>& size,
                                        const graphtypes::TSize_T<LONG>* resolution) {
    return graphtypes::TSize_T<double>(
        ConvertUnits(from, to, size.cx, resolution ? &resolution->cx : nullptr),
        ConvertUnits(from, to, size.cy, resolution ? &resolution->cy : nullptr));
}

graphtypes::TRect_T<double> ConvertRect(LONG from, LONG to, const graphtypes::TRect_T<double>& rect,
                                        const graphtypes::TSize_T<LONG>* resolution) {
    const graphtypes::TPoint_T<double> origin =
        ConvertPoint(from, to, graphtypes::TPoint_T<double>(rect.left, rect.top), resolution);
    const graphtypes::TSize_T<double> size = ConvertSize(from, to, rect.Size(), resolution);
    return graphtypes::TRect_T<double>(origin, size);
}

TString UnitName(LONG unit) {
    for (const auto& entry : kNames) {
        if (entry.unit == unit)
            return TString(entry.name);
    }
    return TString();
}

LONG UnitFromName(const TString& name) {
    for (const auto& entry : kNames) {
        if (name == entry.name)
            return entry.unit;
    }
    return LengthUnit::kNone;
}
