#include "CFisheyeGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// A left or top edge: below 0 (or no number) 0, beyond the picture its size, else cut down.
double LowEdge(double v, LONG size) {
    if (!(v >= 0))
        return 0;
    return v > size ? size : std::floor(v);
}

// A right or bottom edge: below 0 it is 0, at or beyond the picture (or no number) its size, else cut down
// and one added.
double HighEdge(double v, LONG size) {
    if (v < 0)
        return 0;
    return !(v < size) ? size : std::floor(v) + 1;
}

} // namespace

CFisheyeGeometry::CFisheyeGeometry(const double* table, LONG width, LONG height)
    : m_table(table), m_width(width), m_height(height), m_centreX(width / 2), m_centreY(height / 2) {
    // Integer arithmetic under the root, in 64 bits so that no picture size overflows it.
    const std::int64_t w = width, h = height;
    m_radius = std::max(1.0, std::sqrt(static_cast<double>(h * h / 4 + w * w / 4)));
}

void CFisheyeGeometry::MapHeld(double& x, double& y) const {
    Map(x, y);
    x = std::isnan(x) ? 0 : std::clamp(x, 0.0, static_cast<double>(m_width));
    y = std::isnan(y) ? 0 : std::clamp(y, 0.0, static_cast<double>(m_height));
}

PravonDblRect CFisheyeGeometry::MapRect(const PravonDblRect& rect) const {
    auto mapped = [this](double x, double y) {
        Map(x, y);
        return std::pair{x, y};
    };
    const auto [ltx, lty] = mapped(rect.left, rect.top);
    const auto [rtx, rty] = mapped(rect.right, rect.top);
    const auto [lbx, lby] = mapped(rect.left, rect.bottom);
    const auto [rbx, rby] = mapped(rect.right, rect.bottom);
    // fmin and fmax pass over a corner that landed nowhere; if both did, the edge check below takes over.
    double left = std::fmin(ltx, lbx);
    double top = std::fmin(lty, rty);
    double right = std::fmax(rtx, rbx);
    double bottom = std::fmax(lby, rby);
    if (rect.left < m_centreX && m_centreX < rect.right) {
        top = std::fmin(top, mapped(m_centreX, rect.top).second);
        bottom = std::fmax(bottom, mapped(m_centreX, rect.bottom).second);
    }
    if (rect.top < m_centreY && m_centreY < rect.bottom) {
        left = std::fmin(left, mapped(rect.left, m_centreY).first);
        right = std::fmax(right, mapped(rect.right, m_centreY).first);
    }
    return {LowEdge(left, m_width), LowEdge(top, m_height), HighEdge(right, m_width),
            HighEdge(bottom, m_height)};
}
