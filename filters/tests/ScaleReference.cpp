#include "ScaleReference.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace kvtest {
namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

std::uint64_t Recip(std::int64_t v) {
    return (std::uint64_t{1} << 32) / static_cast<std::uint64_t>(v) +
           ((std::uint64_t{1} << 32) % static_cast<std::uint64_t>(v) != 0);
}

std::uint64_t Q(std::uint64_t sum, std::uint64_t r) {
    return (sum * r) >> 32;
}

// The reduced ratio: lowest terms, both doubled when either is 1.
void Reduce(std::int64_t source, std::int64_t output, std::int64_t* S, std::int64_t* D) {
    const std::int64_t g = std::gcd(source, output);
    *S = source / g;
    *D = output / g;
    if (*S == 1 || *D == 1) {
        *S *= 2;
        *D *= 2;
    }
}

std::int32_t CubicWeight(double t, int k) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double w[4] = {-0.5 * t3 + t2 - 0.5 * t, 1.5 * t3 - 2.5 * t2 + 1, -1.5 * t3 + 2 * t2 + 0.5 * t,
                         0.5 * t3 - 0.5 * t2};
    return static_cast<std::int32_t>(std::nearbyint(static_cast<float>(w[k] * 16384.0)));
}

// Resamples one line of n samples (read through at(i), clamped to the line) to m samples.
template <class At>
std::vector<std::uint32_t> ResampleLine(At at, std::int64_t n, std::int64_t m, LONG method,
                                        std::uint32_t max) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(m));
    auto p = [&](std::int64_t i) -> std::uint64_t { return at(std::clamp<std::int64_t>(i, 0, n - 1)); };
    std::int64_t S = 0, D = 0;
    Reduce(n, m, &S, &D);
    for (std::int64_t x = 0; x < m; ++x) {
        std::uint64_t v = 0;
        if (method == 0) {
            v = p(-FloorDiv(-(2 * x + 1) * S, 2 * D) - 1);
        } else if (n == m) {
            v = p(x);
        } else if (n < m) {
            const std::int64_t c = (S + D + 2 * S * x) % (2 * D);
            const std::int64_t left = FloorDiv((2 * x + 1) * S - D, 2 * D);
            if (method == 1) {
                const std::uint64_t sum = static_cast<std::uint64_t>(2 * D - c) * p(left) + c * p(left + 1);
                v = std::min<std::uint64_t>(Q(sum, Recip(D) >> 1), max);
            } else {
                const double t = static_cast<double>(c) / static_cast<double>(2 * D);
                std::int64_t sum = 0;
                for (int k = 0; k < 4; ++k)
                    sum += CubicWeight(t, k) * static_cast<std::int64_t>(p(left - 1 + k));
                v = sum < 0 ? 0 : std::min<std::uint64_t>(static_cast<std::uint64_t>(sum / 16384), max);
            }
        } else {
            // The span [S x, S (x + 1)) in units of 1/D source pixel.
            const std::int64_t firstPixel = S * x / D;
            const std::int64_t lastPixel = S * (x + 1) / D;
            const std::uint64_t firstWeight = D - S * x % D;
            const std::uint64_t lastWeight = S * (x + 1) % D;
            std::uint64_t sum = firstWeight * p(firstPixel) + lastWeight * p(lastPixel);
            for (std::int64_t i = firstPixel + 1; i < lastPixel; ++i)
                sum += static_cast<std::uint64_t>(D) * p(i);
            v = std::min<std::uint64_t>(Q(sum, Recip(S)), max);
        }
        out[static_cast<std::size_t>(x)] = static_cast<std::uint32_t>(v);
    }
    return out;
}

} // namespace

TestPlane ReferenceScale(const TestPlane& source, LONG outputWidth, LONG outputHeight, LONG method) {
    TestPlane out(outputWidth, outputHeight, source.colorSpace);
    const LONG channels = source.Channels();
    const std::uint32_t max = source.BitsPerSample() == 16 ? 0xFFFF : 0xFF;
    if (source.width == 0 || source.height == 0)
        return out;
    for (LONG c = 0; c < channels; ++c) {
        // Rows first, as the filter does: every source row is resampled to the output width, then every
        // column of the result to the output height.
        std::vector<std::vector<std::uint32_t>> rows(static_cast<std::size_t>(source.height));
        for (LONG y = 0; y < source.height; ++y)
            rows[static_cast<std::size_t>(y)] =
                ResampleLine([&](std::int64_t i) { return source.Sample(static_cast<LONG>(i), y, c); },
                             source.width, outputWidth, method, max);
        for (LONG x = 0; x < outputWidth; ++x) {
            const auto column = ResampleLine(
                [&](std::int64_t i) {
                    return rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(x)];
                },
                source.height, outputHeight, method, max);
            for (LONG y = 0; y < outputHeight; ++y)
                out.SetSample(x, y, c, column[static_cast<std::size_t>(y)]);
        }
    }
    return out;
}

} // namespace kvtest
