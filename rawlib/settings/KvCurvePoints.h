// The control points of the curve channels and the rules they share: the hue and chroma curves' raised-
// cosine bumps on the hue circle, how a point moves past its neighbours, and how points read from stored
// records are made safe to render.
#pragma once

#include <algorithm>
#include <vector>

// A bump on the hue circle: position x in [0, 1], amount y, width z (half the bump's base).
struct KvHuePoint {
    double x = 0;
    double y = 0;
    double z = 0;
    bool operator==(const KvHuePoint&) const = default;
};

// A tone curve point (x relative to the black..white range) with the spline's working values.
struct KvTonePoint {
    double x = 0;
    double y = 0;
    double sub = 0;   // sub-diagonal
    double super = 0; // super-diagonal
    double rhs = 0;   // right-hand side
    double slope = 0;
};

// The smallest distance between two neighbouring points that leaves room for a point between them, and
// the distance a moved point keeps from a neighbour.
constexpr double kKvPointGap = 0.02;
constexpr double kKvPointClearance = 0.01;
// Pi as the curve formulas have always written it.
constexpr double kKvCurvePi = 3.14159265359;

// The sum of the bumps at x in [0, 1): each point raises a raised cosine of its amount and width; before
// the first point stands the last shifted by -1, after the last the first shifted by +1. Points must be in
// order of x. No points, or a result that is not finite, give 0.
double KvRaisedCosine(const std::vector<KvHuePoint>& points, double x);

// Points from a record made fit to render: coordinates that are not finite read as 0, positions are held
// to 0..1, and the points are put in order of x (equal positions keep their order).
void KvSanitizePoints(std::vector<KvHuePoint>& points);
void KvSanitizePoints(std::vector<KvTonePoint>& points);

// Moves points[index] to `x` under the neighbour rules and returns its new index. Moving left (right
// mirrors it): x is held at 0; when it comes closer than 0.01 to the left neighbour the point hops over
// the run of neighbours lying closer than 0.02 to each other, taking the place just before the run at the
// run's far end - 0.01, provided that far end lies at 0.01 or more; otherwise it stops at the neighbour +
// 0.01. The point keeps its other values.
template <class Point>
int KvMovePoint(std::vector<Point>& points, int index, double x) {
    const int n = static_cast<int>(points.size());
    if (index < 0 || index >= n || x == points[index].x)
        return index;
    if (x < points[index].x) {
        x = std::max(x, 0.0);
        if (index == 0 || x >= points[index - 1].x + kKvPointClearance) {
            points[index].x = x;
            return index;
        }
        int far = index - 1;
        while (far > 0 && points[far].x - points[far - 1].x < kKvPointGap)
            --far;
        if (points[far].x >= kKvPointClearance) {
            const double hopTo = points[far].x - kKvPointClearance;
            std::rotate(points.begin() + far, points.begin() + index, points.begin() + index + 1);
            points[far].x = hopTo;
            return far;
        }
        points[index].x = points[index - 1].x + kKvPointClearance;
        return index;
    }
    x = std::min(x, 1.0);
    if (index == n - 1 || x <= points[index + 1].x - kKvPointClearance) {
        points[index].x = x;
        return index;
    }
    int far = index + 1;
    while (far < n - 1 && points[far + 1].x - points[far].x < kKvPointGap)
        ++far;
    if (points[far].x <= 1 - kKvPointClearance) {
        const double hopTo = points[far].x + kKvPointClearance;
        std::rotate(points.begin() + index, points.begin() + index + 1, points.begin() + far + 1);
        points[far].x = hopTo;
        return far;
    }
    points[index].x = points[index + 1].x - kKvPointClearance;
    return index;
}
