// Integer point of the raw library's crop and size work. Every operation is virtual and the composite ones
// go through the basic accessors, so a subclass that overrides GetX or SetX changes Offset, Scale and the
// rest.
//
// Coordinates are 32-bit. Sums and differences wrap modulo 2^32, as they did on the 32-bit machine the
// formats were written for, so an offset and its negation always cancel. Scale and Divide saturate to the
// LONG range instead, and leave the point unchanged for a factor that is not finite (a division by 0).
#pragma once

#include "platform/win/wintypes.h"

struct KvBigPoint {
    LONG x;
    LONG y;
};
static_assert(sizeof(KvBigPoint) == 8, "KvBigPoint is two 32-bit coordinates");

class CKvRect;

class CKvPoint : public KvBigPoint {
public:
    CKvPoint(LONG x, LONG y) : KvBigPoint{x, y} {}
    CKvPoint(const CKvPoint& other) = default;
    CKvPoint& operator=(const CKvPoint& other) = default;

    virtual LONG GetX() const;
    virtual LONG GetY() const;
    // x / y; a zero y gives the IEEE quotient (an infinity, or NaN for 0 / 0).
    virtual double GetRatio() const;
    virtual void SetX(LONG x);
    virtual void SetY(LONG y);
    virtual void Offset(LONG dx, LONG dy);
    virtual void Offset(const CKvPoint& by);
    // left <= x < right and top <= y < bottom.
    virtual bool IsInside(const CKvRect& rect) const;
    virtual CKvPoint& operator+=(const CKvPoint& by);
    virtual CKvPoint& operator-=(const CKvPoint& by);
    virtual void Set(const KvBigPoint& from);
    virtual void Get(KvBigPoint& to) const;
    virtual bool IsEqual(const CKvPoint& other) const;
    virtual bool IsNotEqual(const CKvPoint& other) const;
    // x = trunc(x * f), y = trunc(y * f).
    virtual void Scale(double f);
    // Scale(1 / f).
    virtual void Divide(double f);
    virtual ~CKvPoint() = default;
};

// The first point offset by the second.
CKvPoint operator+(const CKvPoint& a, const CKvPoint& b);

namespace Kv {

// Two's-complement 32-bit sum and difference, defined for every pair of operands.
constexpr LONG WrapAdd(LONG a, LONG b) {
    return static_cast<LONG>(static_cast<ULONG>(a) + static_cast<ULONG>(b));
}
constexpr LONG WrapSub(LONG a, LONG b) {
    return static_cast<LONG>(static_cast<ULONG>(a) - static_cast<ULONG>(b));
}

// a / b with the IEEE result for b == 0, spelt out because C++ leaves that division undefined.
double Ratio(double a, double b);

} // namespace Kv
