#include "plugin_framework/LengthUnits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using graphtypes::TPoint_T;
using graphtypes::TRect_T;
using graphtypes::TSize_T;

// Millimetres per unit, worked by hand: an inch is 25.4 mm, a point 1/72 inch, a pixel 1/dpi inch.
double MillimetresPer(LONG unit, double dpi) {
    switch (unit) {
    case LengthUnit::kPixel:
        return 25.4 / dpi;
    case LengthUnit::kMillimetre:
        return 1;
    case LengthUnit::kCentimetre:
        return 10;
    case LengthUnit::kInch:
        return 25.4;
    default:
        return 25.4 / 72;
    }
}

TEST(LengthUnits, TwentyFiveAndAHalfMillimetresIsOneInchSeventyTwoPointsAndThreeHundredPixels) {
    const LONG dpi = 300;
    EXPECT_DOUBLE_EQ(ConvertUnits(LengthUnit::kMillimetre, LengthUnit::kInch, 25.4, nullptr), 1.0);
    EXPECT_DOUBLE_EQ(ConvertUnits(LengthUnit::kMillimetre, LengthUnit::kPoint, 25.4, nullptr), 72.0);
    EXPECT_DOUBLE_EQ(ConvertUnits(LengthUnit::kMillimetre, LengthUnit::kPixel, 25.4, &dpi), 300.0);
    EXPECT_DOUBLE_EQ(ConvertUnits(LengthUnit::kMillimetre, LengthUnit::kPixel, 25.4, nullptr), 300.0)
        << "300 dpi without a resolution";
}

TEST(LengthUnits, EveryPairAtSeveralResolutionsMatchesHandWorkedMillimetres) {
    for (LONG dpi : {72, 96, 300, 600}) {
        for (LONG from = LengthUnit::kPixel; from <= LengthUnit::kPoint; ++from) {
            for (LONG to = LengthUnit::kPixel; to <= LengthUnit::kPoint; ++to) {
                const double expected = 3.5 * MillimetresPer(from, dpi) / MillimetresPer(to, dpi);
                EXPECT_NEAR(ConvertUnits(from, to, 3.5, &dpi), expected, 1e-9 * std::fabs(expected))
                    << from << " -> " << to << " at " << dpi;
            }
        }
    }
}

TEST(LengthUnits, AResolutionOfZeroOrLessIsThreeHundred) {
    for (LONG dpi : {0, -1, -600}) {
        const double pixels = ConvertUnits(LengthUnit::kInch, LengthUnit::kPixel, 2.0, &dpi);
        EXPECT_TRUE(std::isfinite(pixels)) << dpi;
        EXPECT_DOUBLE_EQ(pixels, 600.0) << dpi;
    }
    EXPECT_DOUBLE_EQ(UnitFactor(LengthUnit::kPixel, nullptr), 25400000.0 / 300);
    EXPECT_EQ(UnitFactor(5, nullptr), 0.0);
    EXPECT_EQ(UnitFactor(-1, nullptr), 0.0);
}

TEST(LengthUnits, OneCallUsesOneResolutionForBothPixelSides) {
    const LONG dpi = 150;
    EXPECT_DOUBLE_EQ(ConvertUnits(LengthUnit::kPixel, LengthUnit::kPixel, 123.0, &dpi), 123.0);
    const LONG printer = 600;
    const double inches = ConvertUnits(LengthUnit::kPixel, LengthUnit::kInch, 300.0, &dpi);
    EXPECT_DOUBLE_EQ(ConvertUnits(LengthUnit::kInch, LengthUnit::kPixel, inches, &printer), 1200.0);
}

TEST(LengthUnits, PointsSizesAndRectanglesUseTheResolutionOfTheirAxis) {
    const TSize_T<LONG> resolution(300, 150);
    const TPoint_T<double> point =
        ConvertPoint(LengthUnit::kInch, LengthUnit::kPixel, TPoint_T<double>(1.0, 2.0), &resolution);
    EXPECT_DOUBLE_EQ(point.x, 300.0);
    EXPECT_DOUBLE_EQ(point.y, 300.0);
    const TSize_T<double> size =
        ConvertSize(LengthUnit::kPixel, LengthUnit::kInch, TSize_T<double>(600.0, 600.0), &resolution);
    EXPECT_DOUBLE_EQ(size.cx, 2.0);
    EXPECT_DOUBLE_EQ(size.cy, 4.0);
    const TRect_T<double> rect =
        ConvertRect(LengthUnit::kInch, LengthUnit::kPixel, TRect_T<double>(1.0, 1.0, 3.0, 2.0), &resolution);
    EXPECT_DOUBLE_EQ(rect.left, 300.0);
    EXPECT_DOUBLE_EQ(rect.top, 150.0);
    EXPECT_DOUBLE_EQ(rect.right, 900.0);
    EXPECT_DOUBLE_EQ(rect.bottom, 300.0);
    const TPoint_T<double> fallback =
        ConvertPoint(LengthUnit::kInch, LengthUnit::kPixel, TPoint_T<double>(1.0, 1.0), nullptr);
    EXPECT_DOUBLE_EQ(fallback.x, 300.0);
    EXPECT_DOUBLE_EQ(fallback.y, 300.0);
}

TEST(LengthUnits, NamesAndCodes) {
    const struct {
        LONG unit;
        const wchar_t* name;
    } names[] = {{0, L"pixel"}, {1, L"mm"}, {2, L"cm"}, {3, L"inch"}, {4, L""}, {7, L""}, {-1, L""}};
    for (const auto& entry : names)
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(UnitName(entry.unit))), entry.name) << entry.unit;
    const struct {
        const wchar_t* name;
        LONG unit;
    } codes[] = {{L"inch", 3}, {L"mm", 1},  {L"cm", 2},   {L"pixel", 0}, {L"Inch", -1},
                 {L"", -1},    {L"pt", -1}, {L"mm ", -1}, {L"MM", -1}};
    for (const auto& entry : codes)
        EXPECT_EQ(UnitFromName(TString(entry.name)), entry.unit) << static_cast<int>(entry.unit);
}

} // namespace
