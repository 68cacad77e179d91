#include "DblRect.h"

#include <algorithm>

DblRect DblRect::FromOriginSize(const DblPoint& origin, const DblPoint& size) {
    return {origin.x, origin.y, origin.x + size.x, origin.y + size.y};
}

void DblRect::Set(double l, double t, double r, double b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
}

void DblRect::MoveTo(double x, double y) {
    const double w = Width();
    const double h = Height();
    left = x;
    top = y;
    right = x + w;
    bottom = y + h;
}

void DblRect::MirrorX(double c) {
    const double l = left;
    left = 2 * c - right;
    right = 2 * c - l;
}

void DblRect::MirrorY(double c) {
    const double t = top;
    top = 2 * c - bottom;
    bottom = 2 * c - t;
}

void DblRect::RotateCW(double a, double b) {
    const DblRect o = *this;
    left = a + b - o.bottom;
    top = b + o.left - a;
    right = a + b - o.top;
    bottom = b + o.right - a;
}

void DblRect::RotateCCW(double a, double b) {
    const DblRect o = *this;
    left = a + o.top - b;
    top = a + b - o.right;
    right = a + o.bottom - b;
    bottom = a + b - o.left;
}

void DblRect::Scale(double factor) {
    left *= factor;
    top *= factor;
    right *= factor;
    bottom *= factor;
}

void DblRect::FitInto(double w, double h) {
    const double width = std::min(std::max(Width(), 1.0), w);
    const double height = std::min(std::max(Height(), 1.0), h);
    left = std::min(left, w - width);
    top = std::min(top, h - height);
    right = left + width;
    bottom = top + height;
}

void UnitValue::SetResolution(double v, LONG unitCode) {
    switch (unitCode) {
    case kPixelsPerCentimetre:
        v *= 2.54;
        break;
    case kPixelsPerMillimetre:
        v *= 25.4;
        break;
    case kPixelsPerPica:
        v *= 6.0;
        break;
    case kPixelsPerPoint:
        v *= 72.0;
        break;
    default:
        break;
    }
    value = v;
    unit = kPixelsPerInch;
}
