// Lengths in pixels, millimetres, centimetres, inches and points, converted through one internal unit of
// 1/1,000,000 mm: a value is multiplied by its unit's factor and divided by the target unit's. Pixels
// depend on a resolution in dots per inch; without one, and for one of 0 or less, it is 300 dpi.
#pragma once

#include "GraphTypes.h"
#include "TString.h"

namespace LengthUnit {
constexpr LONG kPixel = 0;
constexpr LONG kMillimetre = 1;
constexpr LONG kCentimetre = 2;
constexpr LONG kInch = 3;
constexpr LONG kPoint = 4;
// What UnitFromName gives for a name it does not know.
constexpr LONG kNone = -1;
constexpr LONG kDefaultResolution = 300;
} // namespace LengthUnit

// Internal units per unit; 0 for a code outside 0 to 4 (a conversion into one is meaningless).
double UnitFactor(LONG unit, const LONG* resolution);
// The same resolution serves both units.
double ConvertUnits(LONG from, LONG to, double value, const LONG* resolution);
// x with the horizontal resolution (cx), y with the vertical one (cy).
graphtypes::TPoint_T<double> ConvertPoint(LONG from, LONG to, const graphtypes::TPoint_T<double>& point,
                                          const graphtypes::TSize_T<LONG>* resolution);
graphtypes::TSize_T<double> ConvertSize(LONG from, LONG to, const graphtypes::TSize_T<double>& size,
                                        const graphtypes::TSize_T<LONG>* resolution);
// The top-left corner converted as a point, the width and height as a size.
graphtypes::TRect_T<double> ConvertRect(LONG from, LONG to, const graphtypes::TRect_T<double>& rect,
                                        const graphtypes::TSize_T<LONG>* resolution);
// "pixel", "mm", "cm", "inch"; empty for the point and for any other code.
TString UnitName(LONG unit);
// The code of an exact name of UnitName; kNone for any other text ("Inch" included).
LONG UnitFromName(const TString& name);
