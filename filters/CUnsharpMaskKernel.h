// The blur kernel of the unsharp mask: one of six shapes sampled on a square grid of half-size n around the
// pixel, quantised to 16-bit weights, with the factors that turn a weighted sum back into a 16-bit value.
// Rows and columns whose weights all quantise to 0 are dropped, so the kernel's reach on each axis is the
// farthest offset that still has a weight; sums over the kept taps equal those over the whole grid. The
// Gaussian also keeps its two axes apart, unquantised, for a blur done one axis after the other.
#pragma once

#include "platform/pravon/IPravonError.h"

#include <cstdint>
#include <vector>

class CUnsharpMaskKernel {
public:
    // Kernel shapes (mask methods). Any other value is a flat disc.
    static constexpr LONG kGaussian = 0;
    static constexpr LONG kBox = 1;
    static constexpr LONG kCone = 2;
    static constexpr LONG kRaisedCosine = 3;
    static constexpr LONG kSine = 4;
    static constexpr LONG kParabolic = 5;
    // The largest half-size made: beyond it neither the kernel nor a tile's window is worth holding, and
    // the weighted shapes quantise to nothing long before.
    static constexpr LONG kMaxHalfSize = 1024;

    // The weight of the pixel at offset (dx, dy) for radii rx, ry (finite, not negative) and the parabolic
    // power (finite, above 0; method 5 only). A Gaussian axis of radius 0 keeps only its centre.
    static double Weight(LONG method, double rx, double ry, double parabolicPower, double dx, double dy);
    // The half-size the shape's grid has for the radii: ceil(3 r) for the Gaussian, ceil(r) otherwise, of
    // the radius that gives more; a half-size beyond kMaxHalfSize gives kMaxHalfSize + 1.
    static LONG HalfSizeFor(LONG method, double rx, double ry);

    // Samples and quantises the shape. Errors, under component: PravonKind::kOutOfRange for radii or a
    // parabolic power outside what Weight takes, or a half-size beyond kMaxHalfSize;
    // PravonKind::kOutOfMemory. On error the kernel is left as it was.
    IPravonError* Generate(LONG component, LONG method, double rx, double ry, double parabolicPower);

    bool IsBox() const { return m_box; }
    LONG GetHalfSize() const { return m_halfSize; }
    LONG GetReachX() const { return m_reachX; }
    LONG GetReachY() const { return m_reachY; }
    // Row dy (-reachY..reachY): 2 reachX + 1 weights, dx = -reachX first. Empty for the box.
    const WORD* Row(LONG dy) const {
        return m_weights.data() + static_cast<std::size_t>(dy + m_reachY) * (2 * m_reachX + 1);
    }
    // Weight at (dx, dy) for dx, dy from 0 to the reach, as doubles, row dy first; the farthest dx of row
    // dy that has a weight.
    const double* HalfRow(LONG dy) const {
        return m_halfRows.data() + static_cast<std::size_t>(dy) * (m_reachX + 1);
    }
    LONG RowReach(LONG dy) const { return m_rowReach[static_cast<std::size_t>(dy)]; }
    // Whether the weight at (dx, dy) is the one at (dy, dx) everywhere (equal radii; the reaches then
    // agree), so that the two may be summed under one weight. False for the box.
    bool IsDiagonal() const { return m_diagonal; }

    // Whether the shape is the product of a function of dx and one of dy (the Gaussian): then AxisX and
    // AxisY hold its factors over the same reach, centre first (reach + 1 weights), each normalised so
    // that its whole axis (both sides) sums to 1.
    bool IsSeparable() const { return !m_axisX.empty(); }
    const float* AxisX() const { return m_axisX.data(); }
    const float* AxisY() const { return m_axisY.data(); }

    // What a window's sum is divided by: the sum of all weights, or the box's area. A weighted sum acc blurs
    // to trunc(acc * 2^15 / divisor) / 2^15, a box sum to sum / divisor, so that a window of one value
    // blurs to that value exactly.
    double GetDivisor() const { return m_divisor; }
    // The sum of all weights (0 for the box).
    std::uint64_t GetTotal() const { return m_total; }

private:
    bool m_box = true;
    bool m_diagonal = false;
    LONG m_halfSize = 0;
    LONG m_reachX = 0;
    LONG m_reachY = 0;
    std::vector<WORD> m_weights;
    std::vector<double> m_halfRows;
    std::vector<LONG> m_rowReach;
    std::vector<float> m_axisX;
    std::vector<float> m_axisY;
    std::uint64_t m_total = 0;
    double m_divisor = 1;
};
