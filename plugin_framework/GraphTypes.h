// Sizes, points and rectangles of the framework, in window and pixel coordinates (LONG) and in page and
// document coordinates (double). The double forms compare with a fixed tolerance, except that two double
// rectangles are equal only when every coordinate is, while they differ only when some coordinate differs
// by the tolerance or more. Rectangles are not normalised: widths and heights may be negative.
#pragma once

#include "platform/win/wintypes.h"

#include <cmath>
#include <concepts>
#include <cstdint>
#include <type_traits>

namespace graphtypes {

inline bool DoubleEquals(double a, double b) {
    return std::fabs(a - b) < 0.0001;
}

// Half away from zero, then truncated. NaN gives 0, and values beyond the 32-bit range the nearest end of
// it, since the conversion of such values has no defined result.
inline LONG RoundToLong(double value) {
    if (std::isnan(value))
        return 0;
    const double rounded = std::trunc(value > 0 ? value + 0.5 : value - 0.5);
    if (rounded >= 2147483647.0)
        return 2147483647;
    if (rounded <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<LONG>(rounded);
}

template <class T>
concept Coordinate = std::same_as<T, LONG> || std::same_as<T, double>;

template <Coordinate T>
class TSize_T {
public:
    TSize_T() = default;
    TSize_T(T width, T height) : cx(width), cy(height) {}
    // A double size from a LONG one (exact); a LONG size from a double one (RoundToLong on each).
    template <Coordinate U>
    requires(!std::same_as<T, U>) explicit(std::same_as<T, LONG>) TSize_T(const TSize_T<U>& other)
        : cx(Convert(other.cx)), cy(Convert(other.cy)) {}

    bool operator==(const TSize_T& other) const { return Same(cx, other.cx) && Same(cy, other.cy); }
    bool operator!=(const TSize_T& other) const { return !(*this == other); }

    T cx = 0;
    T cy = 0;

private:
    template <class U>
    static T Convert(U value) {
        if constexpr (std::same_as<T, LONG>)
            return RoundToLong(value);
        else
            return static_cast<T>(value);
    }
    static bool Same(T a, T b) {
        if constexpr (std::same_as<T, double>)
            return DoubleEquals(a, b);
        else
            return a == b;
    }
};

template <Coordinate T>
class TPoint_T {
public:
    TPoint_T() = default;
    TPoint_T(T px, T py) : x(px), y(py) {}
    // A double point from a LONG one (a template, so that it is never taken for the copy constructor).
    template <std::same_as<LONG> U>
    requires std::same_as<T, double> TPoint_T(const TPoint_T<U>& other) : x(other.x), y(other.y) {}

    bool operator==(const TPoint_T& other) const { return Same(x, other.x) && Same(y, other.y); }
    bool operator!=(const TPoint_T& other) const { return !(*this == other); }

    TPoint_T& operator+=(const TPoint_T& other) requires std::same_as<T, double> {
        x += other.x;
        y += other.y;
        return *this;
    }
    TPoint_T& operator+=(const TSize_T<T>& size) requires std::same_as<T, double> {
        x += size.cx;
        y += size.cy;
        return *this;
    }
    TPoint_T operator-() const requires std::same_as<T, LONG> { return TPoint_T(-x, -y); }

    T x = 0;
    T y = 0;

private:
    static bool Same(T a, T b) {
        if constexpr (std::same_as<T, double>)
            return DoubleEquals(a, b);
        else
            return a == b;
    }
};

template <Coordinate T>
class TRect_T {
public:
    TRect_T() = default;
    TRect_T(T l, T t, T r, T b) : left(l), top(t), right(r), bottom(b) {}
    TRect_T(const TPoint_T<T>& topLeft, const TSize_T<T>& size)
        : left(topLeft.x), top(topLeft.y), right(topLeft.x + size.cx), bottom(topLeft.y + size.cy) {}
    TRect_T(const TPoint_T<T>& topLeft, const TPoint_T<T>& bottomRight) requires std::same_as<T, double>
        : left(topLeft.x), top(topLeft.y), right(bottomRight.x), bottom(bottomRight.y) {}
    template <std::same_as<LONG> U>
    requires std::same_as<T, double> TRect_T(const TRect_T<U>& other)
        : left(other.left), top(other.top), right(other.right), bottom(other.bottom) {}

    T Width() const { return right - left; }
    T Height() const { return bottom - top; }
    TSize_T<T> Size() const { return TSize_T<T>(Width(), Height()); }

    bool IsEmpty() const {
        if constexpr (std::same_as<T, double>)
            return DoubleEquals(right, left) || DoubleEquals(bottom, top);
        else
            return right == left || bottom == top;
    }
    bool IsNull() const {
        if constexpr (std::same_as<T, double>)
            return DoubleEquals(left, 0) && DoubleEquals(top, 0) && DoubleEquals(right, 0) &&
                   DoubleEquals(bottom, 0);
        else
            return left == 0 && top == 0 && right == 0 && bottom == 0;
    }

    // Exact for both forms.
    bool operator==(const TRect_T& other) const {
        return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
    }
    // Tolerant for the double form: it tells whether the rectangles differ noticeably.
    bool operator!=(const TRect_T& other) const {
        if constexpr (std::same_as<T, double>)
            return !DoubleEquals(left, other.left) || !DoubleEquals(top, other.top) ||
                   !DoubleEquals(right, other.right) || !DoubleEquals(bottom, other.bottom);
        else
            return !(*this == other);
    }

    void Offset(T dx, T dy) requires std::same_as<T, LONG> {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    void Set(const TPoint_T<T>& topLeft, const TPoint_T<T>& bottomRight) requires std::same_as<T, double> {
        left = topLeft.x;
        top = topLeft.y;
        right = bottomRight.x;
        bottom = bottomRight.y;
    }
    void Inflate(T l, T t, T r, T b) requires std::same_as<T, double> {
        left -= l;
        top -= t;
        right += r;
        bottom += b;
    }
    // This rectangle becomes the intersection of a and b; true when that is not empty. An empty
    // intersection leaves all four coordinates 0.
    bool Intersect(const TRect_T& a, const TRect_T& b) requires std::same_as<T, LONG> {
        const T l = a.left > b.left ? a.left : b.left;
        const T r = a.right < b.right ? a.right : b.right;
        if (l < r) {
            const T t = a.top > b.top ? a.top : b.top;
            const T bt = a.bottom < b.bottom ? a.bottom : b.bottom;
            if (t < bt) {
                *this = TRect_T(l, t, r, bt);
                return true;
            }
        }
        *this = TRect_T();
        return false;
    }

    T left = 0;
    T top = 0;
    T right = 0;
    T bottom = 0;
};

} // namespace graphtypes
