#include "testing/UnsharpMaskReference.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace kvtest {

double UsmShapeWeight(const UsmSettings& s, double dx, double dy) {
    if (s.method == 1)
        return 1;
    if (s.method == 0) {
        // A radius of 0 keeps only the centre of its axis.
        if ((s.radiusX == 0 && dx != 0) || (s.radiusY == 0 && dy != 0))
            return 0;
        const double ex = s.radiusX == 0 ? 0 : dx * dx / (s.radiusX * s.radiusX);
        const double ey = s.radiusY == 0 ? 0 : dy * dy / (s.radiusY * s.radiusY);
        return std::exp(-(ex + ey) / 2);
    }
    const double ax = dx / (s.radiusX + 1);
    const double ay = dy / (s.radiusY + 1);
    const double r = std::hypot(ax, ay);
    if (r > 1)
        return 0;
    switch (s.method) {
    case 2:
        return 1 - r;
    case 3:
        return 0.5 + 0.5 * std::cos(std::numbers::pi * r);
    case 4:
        return std::cos(std::numbers::pi * r / 2);
    case 5:
        return 1 - std::pow(r, s.parabolicPower);
    default:
        return 1;
    }
}

TestPlane UnsharpMaskReference(const TestPlane& source, const UsmSettings& s) {
    const double reach = s.method == 0 ? 3 : 1;
    const LONG n = static_cast<LONG>(std::max(std::ceil(reach * s.radiusX), std::ceil(reach * s.radiusY)));
    std::vector<double> weights;
    double sum = 0;
    for (LONG dy = -n; dy <= n; ++dy)
        for (LONG dx = -n; dx <= n; ++dx) {
            weights.push_back(UsmShapeWeight(s, dx, dy));
            sum += weights.back();
        }
    const bool eight = source.BitsPerSample() == 8;
    const double t = s.threshold * 257;
    TestPlane out = source;
    const LONG planes = source.Channels();
    for (LONG c = 0; c < planes; ++c) {
        if (!(s.planeMask & (1 << c)))
            continue;
        const auto value = [&](LONG x, LONG y) {
            const ULONG v = source.Sample(std::clamp<LONG>(x, 0, source.width - 1),
                                          std::clamp<LONG>(y, 0, source.height - 1), c);
            return eight ? v * 257.0 : double(v);
        };
        for (LONG y = 0; y < source.height; ++y)
            for (LONG x = 0; x < source.width; ++x) {
                double blur = 0;
                std::size_t i = 0;
                for (LONG dy = -n; dy <= n; ++dy)
                    for (LONG dx = -n; dx <= n; ++dx)
                        blur += weights[i++] * value(x + dx, y + dy);
                blur /= sum;
                const double u = value(x, y);
                double detail = u - blur;
                double power = s.power;
                // Details within the threshold are dropped, or smoothed by at most half of it.
                if (t > 0 && std::abs(detail) < t) {
                    if (s.affectNoise) {
                        power = std::min(s.power, 1.0);
                        const double towards = t - std::abs(detail);
                        detail = detail < 0 ? std::min(towards, -detail) : -std::min(towards, detail);
                    } else {
                        detail = 0;
                    }
                } else if (t > 0) {
                    detail = detail < 0 ? detail + t : detail - t;
                }
                const double result = std::floor(std::clamp(u + power * detail, 0.0, 65535.0));
                out.SetSample(x, y, c, eight ? ULONG(result) >> 8 : ULONG(result));
            }
    }
    return out;
}

} // namespace kvtest
