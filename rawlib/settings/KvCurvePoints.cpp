#include "KvCurvePoints.h"

#include <cmath>

namespace {

double Finite(double v) {
    return std::isfinite(v) ? v : 0.0;
}

double Position(double v) {
    return std::clamp(Finite(v), 0.0, 1.0);
}

} // namespace

double KvRaisedCosine(const std::vector<KvHuePoint>& points, double x) {
    if (points.empty())
        return 0;
    // The left point is the last one at or before x; before the first point the last one stands in, one
    // turn earlier, and after the last one the first, one turn later.
    const auto right = std::upper_bound(points.begin(), points.end(), x,
                                        [](double v, const KvHuePoint& p) { return v < p.x; });
    KvHuePoint l, r;
    if (right == points.begin()) {
        l = points.back();
        l.x -= 1;
        r = points.front();
    } else if (right == points.end()) {
        l = points.back();
        r = points.front();
        r.x += 1;
    } else {
        l = *(right - 1);
        r = *right;
    }
    const double d = x - l.x;
    const double e = r.x - x;
    const bool inLeft = d < l.z;
    const bool inRight = e < r.z;
    double bump = 0;
    if (inLeft && !inRight) {
        bump = l.y / 2 * (1 - std::cos(kKvCurvePi / l.z * (l.z - d)));
    } else if (inLeft && inRight) {
        const double m = std::min(r.x, l.x + l.z);
        const double o = std::max(l.x, r.x - r.z);
        const double k = 1 / (m - o);
        const double a = ((l.z - (o - l.x)) / l.z) * k * kKvCurvePi;
        const double b = ((r.z - (r.x - m)) / r.z) * k * kKvCurvePi;
        bump = l.y / 2 * (1 - std::cos(a * (m - x))) + r.y / 2 * (1 - std::cos(b * (x - o)));
    } else if (inRight) {
        bump = r.y / 2 * (1 - std::cos(kKvCurvePi / r.z * (r.z - e)));
    }
    return std::isfinite(bump) ? bump : 0;
}

void KvSanitizePoints(std::vector<KvHuePoint>& points) {
    for (KvHuePoint& p : points) {
        p.x = Position(p.x);
        p.y = Finite(p.y);
        p.z = Finite(p.z);
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const KvHuePoint& a, const KvHuePoint& b) { return a.x < b.x; });
}

void KvSanitizePoints(std::vector<KvTonePoint>& points) {
    for (KvTonePoint& p : points) {
        p.x = Position(p.x);
        p.y = Finite(p.y);
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const KvTonePoint& a, const KvTonePoint& b) { return a.x < b.x; });
}
