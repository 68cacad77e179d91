#include "rawlib/foundation/CKvPoint.h"

#include "rawlib/foundation/CKvRect.h"

#include <cmath>
#include <limits>

namespace Kv {

double Ratio(double a, double b) {
    if (b != 0)
        return a / b;
    if (a == 0 || std::isnan(a))
        return std::numeric_limits<double>::quiet_NaN();
    return std::copysign(std::numeric_limits<double>::infinity(), a) * std::copysign(1.0, b);
}

} // namespace Kv

namespace {

// trunc(v * f) held within the LONG range; the caller has checked that f is finite.
LONG ScaledCoordinate(LONG v, double f) {
    const double p = std::trunc(static_cast<double>(v) * f);
    if (p >= static_cast<double>(std::numeric_limits<LONG>::max()))
        return std::numeric_limits<LONG>::max();
    if (p <= static_cast<double>(std::numeric_limits<LONG>::min()))
        return std::numeric_limits<LONG>::min();
    return static_cast<LONG>(p);
}

} // namespace

LONG CKvPoint::GetX() const {
    return x;
}
LONG CKvPoint::GetY() const {
    return y;
}
double CKvPoint::GetRatio() const {
    return Kv::Ratio(GetX(), GetY());
}
void CKvPoint::SetX(LONG value) {
    x = value;
}
void CKvPoint::SetY(LONG value) {
    y = value;
}

void CKvPoint::Offset(LONG dx, LONG dy) {
    SetX(Kv::WrapAdd(GetX(), dx));
    SetY(Kv::WrapAdd(GetY(), dy));
}

void CKvPoint::Offset(const CKvPoint& by) {
    Offset(by.GetX(), by.GetY());
}

bool CKvPoint::IsInside(const CKvRect& rect) const {
    const LONG px = GetX();
    const LONG py = GetY();
    return rect.GetLeft() <= px && px < rect.GetRight() && rect.GetTop() <= py && py < rect.GetBottom();
}

CKvPoint& CKvPoint::operator+=(const CKvPoint& by) {
    Offset(by);
    return *this;
}

CKvPoint& CKvPoint::operator-=(const CKvPoint& by) {
    Offset(Kv::WrapSub(0, by.GetX()), Kv::WrapSub(0, by.GetY()));
    return *this;
}

void CKvPoint::Set(const KvBigPoint& from) {
    SetX(from.x);
    SetY(from.y);
}

void CKvPoint::Get(KvBigPoint& to) const {
    to.x = GetX();
    to.y = GetY();
}

bool CKvPoint::IsEqual(const CKvPoint& other) const {
    return GetX() == other.GetX() && GetY() == other.GetY();
}

bool CKvPoint::IsNotEqual(const CKvPoint& other) const {
    return !IsEqual(other);
}

void CKvPoint::Scale(double f) {
    // An infinite or NaN factor has no integer result; the point stays where it is.
    if (!std::isfinite(f))
        return;
    SetX(ScaledCoordinate(GetX(), f));
    SetY(ScaledCoordinate(GetY(), f));
}

void CKvPoint::Divide(double f) {
    if (f == 0)
        return;
    Scale(1.0 / f);
}

CKvPoint operator+(const CKvPoint& a, const CKvPoint& b) {
    CKvPoint sum(a);
    sum.Offset(b);
    return sum;
}
