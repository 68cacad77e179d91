#include "CVignetteLensModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr CVignetteLensModel::Stop kStandardStops[3] = {{38.0, 0}, {47.6, 23.8}, {28.4, 14.2}};
constexpr double kDescriptorDistance = 2000;
// The f-number and radius bytes count in 24ths of a power of 2; radii from an offset of 48.
constexpr double kStepsPerPower = 24;
constexpr double kRadiusOffset = 48;

// The area of the disc left of the vertical line at t: a circular segment (angle - sin angle) R^2 / 2,
// growing from nothing at the disc's left edge to the whole disc at its right edge.
double AreaLeftOf(const CVignetteLensModel::Disc& disc, double t) {
    const double u = std::clamp((disc.centre - t) / disc.radius, -1.0, 1.0);
    const double angle = 2 * std::acos(u);
    return (angle - std::sin(angle)) * disc.radius * disc.radius / 2;
}

// The half height of the disc at abscissa x (its squared form, negative outside).
double SquaredHalfHeight(const CVignetteLensModel::Disc& disc, double x) {
    const double d = x - disc.centre;
    return disc.radius * disc.radius - d * d;
}

} // namespace

CVignetteLensModel::CVignetteLensModel(const Descriptor* descriptor, double fNumber) {
    std::copy(std::begin(kStandardStops), std::end(kStandardStops), m_stops.begin());
    bool usable = descriptor != nullptr;
    for (std::size_t k = 0; usable && k < 3; ++k)
        usable = (*descriptor)[2 * k] != 0;
    if (usable) {
        m_standard = false;
        for (std::size_t k = 0; k < 3; ++k) {
            const double c = static_cast<signed char>((*descriptor)[2 * k]);
            const double d = (*descriptor)[2 * k + 1];
            m_stops[k].distance = kDescriptorDistance / c;
            if (k == 0)
                m_lensFNumber = std::pow(2.0, d / kStepsPerPower);
            else
                m_stops[k].radius =
                    std::abs(m_stops[k].distance / std::pow(2.0, (d - kRadiusOffset) / kStepsPerPower));
        }
    }
    const double n = std::max(m_lensFNumber, fNumber);
    m_stops[0].radius = std::abs(m_stops[0].distance / n / 2);
}

std::array<CVignetteLensModel::Disc, 3> CVignetteLensModel::DiscsAt(double radius) const {
    const double d0 = m_stops[0].distance;
    std::array<Disc, 3> discs;
    discs[0] = Disc{0, m_stops[0].radius};
    for (std::size_t k = 1; k < 3; ++k) {
        const Stop& stop = m_stops[k];
        discs[k] =
            Disc{radius * (stop.distance - d0) / stop.distance, std::abs(stop.radius * d0 / stop.distance)};
    }
    return discs;
}

double CVignetteLensModel::Illumination(double radius) const {
    const double d0 = m_stops[0].distance;
    const double falloff = d0 * d0 / (d0 * d0 + radius * radius);
    return CommonArea(DiscsAt(radius)) * falloff * falloff;
}

double CVignetteLensModel::CommonArea(const std::array<Disc, 3>& discs) {
    double lo = discs[0].centre - discs[0].radius;
    double hi = discs[0].centre + discs[0].radius;
    for (const Disc& disc : discs) {
        lo = std::max(lo, disc.centre - disc.radius);
        hi = std::min(hi, disc.centre + disc.radius);
    }
    // Disjoint or touching discs, and values that are not numbers, have nothing in common.
    if (!(hi > lo))
        return 0;
    // Which disc bounds the common part changes only where two circles cross.
    double cuts[5] = {lo, hi};
    int count = 2;
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j) {
            const Disc& a = discs[static_cast<std::size_t>(i)];
            const Disc& b = discs[static_cast<std::size_t>(j)];
            if (a.centre == b.centre)
                continue;
            const double x =
                (a.radius * a.radius - b.radius * b.radius + b.centre * b.centre - a.centre * a.centre) /
                (2 * (b.centre - a.centre));
            if (x > lo && x < hi)
                cuts[count++] = x;
        }
    // At most five cuts: put them in order in place.
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && cuts[j] < cuts[j - 1]; --j)
            std::swap(cuts[j], cuts[j - 1]);
    double area = 0;
    for (int k = 0; k + 1 < count; ++k) {
        const double a = cuts[k];
        const double b = cuts[k + 1];
        if (!(b > a))
            continue;
        const double middle = (a + b) / 2;
        std::size_t lowest = 0;
        for (std::size_t i = 1; i < 3; ++i)
            if (SquaredHalfHeight(discs[i], middle) < SquaredHalfHeight(discs[lowest], middle))
                lowest = i;
        area += AreaLeftOf(discs[lowest], b) - AreaLeftOf(discs[lowest], a);
    }
    return area;
}
