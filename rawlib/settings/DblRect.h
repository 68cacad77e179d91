// The double-precision geometry of the crop and size settings, and a value with a unit code:
// DblPoint, DblRect (left, top, right, bottom; width = right - left) and UnitValue.
#pragma once

#include "platform/win/wintypes.h"

struct DblPoint {
    double x = 0.0;
    double y = 0.0;

    bool operator==(const DblPoint& other) const = default;
};

// Every operation works in place. Mirrors and quarter turns map the rectangle as a set of points, so
// left <= right and top <= bottom hold afterwards whenever they held before.
struct DblRect {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;

    constexpr DblRect() = default;
    constexpr DblRect(double l, double t, double r, double b) : left(l), top(t), right(r), bottom(b) {}
    // right = origin.x + size.x, bottom = origin.y + size.y.
    static DblRect FromOriginSize(const DblPoint& origin, const DblPoint& size);

    double Width() const { return right - left; }
    double Height() const { return bottom - top; }

    void Set(double l, double t, double r, double b);
    void Clear() { *this = DblRect(); }
    void SetWidth(double w) { right = left + w; }
    void SetHeight(double h) { bottom = top + h; }
    // Size kept.
    void MoveTo(double x, double y);
    // About the vertical line x = c, and the horizontal line y = c.
    void MirrorX(double c);
    void MirrorY(double c);
    // Quarter turns; with a = b = c a point (x, y) goes to (2c - y, x) clockwise and to (y, 2c - x)
    // counter-clockwise.
    void RotateCW(double a, double b);
    void RotateCCW(double a, double b);
    // All four coordinates multiplied by `factor`.
    void Scale(double factor);
    // Width and height brought to [1, w] and [1, h], then the rectangle moved left and up as far as needed
    // to end within (w, h).
    void FitInto(double w, double h);

    // Exact comparison of all four coordinates.
    bool operator==(const DblRect& other) const = default;
};

// A value with the unit code it was given in. The size settings keep print sizes in inches (code 0) and
// scales and resolutions in pixels per inch (code 1); other codes are carried, never interpreted, except
// by SetResolution.
struct UnitValue {
    static constexpr LONG kInches = 0;
    static constexpr LONG kPixelsPerInch = 1;
    // Resolution unit codes that SetResolution converts from.
    static constexpr LONG kPixelsPerCentimetre = 2;
    static constexpr LONG kPixelsPerMillimetre = 3;
    static constexpr LONG kPixelsPerPica = 4;
    static constexpr LONG kPixelsPerPoint = 5;

    double value = 0.0;
    LONG unit = 0;

    constexpr UnitValue() = default;
    constexpr UnitValue(double v, LONG u) : value(v), unit(u) {}
    static constexpr UnitValue Inches(double v) { return {v, kInches}; }
    static constexpr UnitValue PerInch(double v) { return {v, kPixelsPerInch}; }

    // Stores a resolution given in `unitCode` as pixels per inch (code 1); an unknown code keeps the value.
    void SetResolution(double v, LONG unitCode);

    bool operator==(const UnitValue& other) const = default;
};
