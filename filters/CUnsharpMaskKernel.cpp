#include "CUnsharpMaskKernel.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace {

// (d / r)^2, with the centre of an axis of radius 0 at 0 rather than 0 / 0.
double AxisTerm(double d, double r) {
    if (d == 0)
        return 0;
    const double q = d / r;
    return q * q;
}

// The Gaussian's factor along one axis, offsets 0 to reach, normalised over -reach .. reach.
std::vector<float> GaussianAxis(double radius, LONG reach) {
    std::vector<double> g(static_cast<std::size_t>(reach) + 1);
    double sum = 0;
    for (LONG d = 0; d <= reach; ++d) {
        g[d] = std::exp(-AxisTerm(d, radius) / 2);
        sum += d == 0 ? g[d] : 2 * g[d];
    }
    std::vector<float> axis(g.size());
    for (std::size_t d = 0; d < g.size(); ++d)
        axis[d] = static_cast<float>(g[d] / sum);
    return axis;
}

} // namespace

double CUnsharpMaskKernel::Weight(LONG method, double rx, double ry, double parabolicPower, double dx,
                                  double dy) {
    if (method == kBox)
        return 1;
    if (method == kGaussian) {
        // The radius is the standard deviation.
        const double r = std::sqrt(AxisTerm(dx, rx) + AxisTerm(dy, ry));
        return std::exp(-r * r / 2);
    }
    const double r = std::sqrt(AxisTerm(dx, rx + 1) + AxisTerm(dy, ry + 1));
    if (r > 1)
        return 0;
    switch (method) {
    case kCone:
        return 1 - r;
    case kRaisedCosine:
        return (std::cos(std::numbers::pi * r) + 1) / 2;
    case kSine:
        return std::sin((r + 1) * std::numbers::pi / 2);
    case kParabolic:
        return 1 - std::pow(r, parabolicPower);
    default:
        return 1;
    }
}

LONG CUnsharpMaskKernel::HalfSizeFor(LONG method, double rx, double ry) {
    const double reach = method == kGaussian ? 3 : 1;
    const double n = std::max(std::ceil(reach * rx), std::ceil(reach * ry));
    return n > kMaxHalfSize ? kMaxHalfSize + 1 : static_cast<LONG>(n);
}

IPravonError* CUnsharpMaskKernel::Generate(LONG component, LONG method, double rx, double ry,
                                           double parabolicPower) {
    if (!std::isfinite(rx) || !std::isfinite(ry) || rx < 0 || ry < 0)
        return PravonFail(component, PravonKind::kOutOfRange, "the radii must be finite and not negative");
    if (method == kParabolic && !(std::isfinite(parabolicPower) && parabolicPower > 0))
        return PravonFail(component, PravonKind::kOutOfRange,
                          "the parabolic power must be finite and above 0");
    const LONG n = HalfSizeFor(method, rx, ry);
    if (n > kMaxHalfSize)
        return PravonFail(component, PravonKind::kOutOfRange, "the radius is too large for the kernel");
    const LONG side = 2 * n + 1;
    if (method == kBox) {
        m_box = true;
        m_diagonal = false;
        m_halfSize = m_reachX = m_reachY = n;
        m_weights.clear();
        m_halfRows.clear();
        m_rowReach.clear();
        m_total = 0;
        m_divisor = static_cast<double>(side) * side;
        m_axisX.clear();
        m_axisY.clear();
        return nullptr;
    }

    // The scale puts the centre row's weights just below 16 bits, in steps of 8. Weights are at most 1, so
    // within kMaxHalfSize the centre row sums to at most 2049 and the scale is at least 24.
    double centreRow = 0;
    for (LONG dx = -n; dx <= n; ++dx)
        centreRow += Weight(method, rx, ry, parabolicPower, dx, 0);
    const LONG scale = static_cast<LONG>(std::floor(65535 / std::max(centreRow, 1.0))) & ~7;

    try {
        // The shapes depend on the squares of the offsets alone: one quadrant holds every weight.
        const std::size_t q = static_cast<std::size_t>(n) + 1;
        std::vector<WORD> quadrant(q * q);
        LONG reachX = 0;
        LONG reachY = 0;
        for (LONG dy = 0; dy <= n; ++dy)
            for (LONG dx = 0; dx <= n; ++dx) {
                const double w = Weight(method, rx, ry, parabolicPower, dx, dy) * scale;
                const WORD stored = static_cast<WORD>(std::trunc(w));
                quadrant[dy * q + dx] = stored;
                if (stored) {
                    reachX = std::max(reachX, dx);
                    reachY = std::max(reachY, dy);
                }
            }
        const std::size_t width = 2 * static_cast<std::size_t>(reachX) + 1;
        std::vector<WORD> weights(width * (2 * static_cast<std::size_t>(reachY) + 1));
        std::vector<double> halfRows((static_cast<std::size_t>(reachX) + 1) * (reachY + 1));
        std::vector<LONG> rowReach(static_cast<std::size_t>(reachY) + 1, -1);
        std::uint64_t total = 0;
        for (LONG dy = -reachY; dy <= reachY; ++dy)
            for (LONG dx = -reachX; dx <= reachX; ++dx) {
                const WORD w = quadrant[std::abs(dy) * q + std::abs(dx)];
                weights[(dy + reachY) * width + (dx + reachX)] = w;
                total += w;
            }
        for (LONG dy = 0; dy <= reachY; ++dy)
            for (LONG dx = 0; dx <= reachX; ++dx) {
                const WORD w = quadrant[dy * q + dx];
                halfRows[dy * (reachX + 1) + dx] = w;
                if (w)
                    rowReach[dy] = dx;
            }
        bool diagonal = reachX == reachY;
        for (LONG dy = 0; diagonal && dy <= reachY; ++dy)
            for (LONG dx = 0; dx < dy; ++dx)
                diagonal = diagonal && quadrant[dy * q + dx] == quadrant[dx * q + dy];
        std::vector<float> axisX;
        std::vector<float> axisY;
        if (method == kGaussian) {
            axisX = GaussianAxis(rx, reachX);
            axisY = GaussianAxis(ry, reachY);
        }
        m_axisX.swap(axisX);
        m_axisY.swap(axisY);
        m_weights.swap(weights);
        m_halfRows.swap(halfRows);
        m_rowReach.swap(rowReach);
        m_reachX = reachX;
        m_reachY = reachY;
        m_total = total;
        m_diagonal = diagonal;
    } catch (const std::bad_alloc&) {
        return PravonFail(component, PravonKind::kOutOfMemory, "no memory for the kernel");
    }
    m_box = false;
    m_halfSize = n;
    m_divisor = static_cast<double>(m_total);
    return nullptr;
}
