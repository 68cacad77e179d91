#include "IproResample.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kChannels = 4;
constexpr double kLobes = 3.0;

// The first source index of each block of a whole factor, and one past the last: every block has the
// factor's pixels but the last, which also takes what is left over.
std::vector<LONG> BlockEdges(LONG sourceSize, LONG factor) {
    const LONG blocks = sourceSize / factor;
    std::vector<LONG> edges(static_cast<std::size_t>(blocks) + 1);
    for (LONG i = 0; i < blocks; ++i)
        edges[i] = i * factor;
    edges[blocks] = sourceSize;
    return edges;
}

// The mean of every block, rounded half up.
bool BoxShrink(const IproPixels& source, LONG factorX, LONG factorY, IproPixels& out) {
    const std::vector<LONG> columns = BlockEdges(source.width, factorX);
    const std::vector<LONG> rows = BlockEdges(source.height, factorY);
    IproPixels result;
    if (!IproLimits::MakePixels(static_cast<LONG>(columns.size()) - 1, static_cast<LONG>(rows.size()) - 1,
                                result))
        return false;
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(result.width) * kChannels);
    for (LONG by = 0; by < result.height; ++by) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (LONG y = rows[by]; y < rows[by + 1]; ++y) {
            const std::uint32_t* row = &source.argb[static_cast<std::size_t>(y) * source.width];
            for (LONG bx = 0; bx < result.width; ++bx) {
                std::uint32_t* sum = &sums[static_cast<std::size_t>(bx) * kChannels];
                for (LONG x = columns[bx]; x < columns[bx + 1]; ++x) {
                    const std::uint32_t pixel = row[x];
                    sum[0] += pixel & 0xFF;
                    sum[1] += pixel >> 8 & 0xFF;
                    sum[2] += pixel >> 16 & 0xFF;
                    sum[3] += pixel >> 24;
                }
            }
        }
        for (LONG bx = 0; bx < result.width; ++bx) {
            const std::uint32_t count =
                static_cast<std::uint32_t>((columns[bx + 1] - columns[bx]) * (rows[by + 1] - rows[by]));
            const std::uint32_t* sum = &sums[static_cast<std::size_t>(bx) * kChannels];
            std::uint32_t pixel = 0;
            for (int c = 0; c < kChannels; ++c)
                pixel |= ((sum[c] + count / 2) / count) << (8 * c);
            result.At(bx, by) = pixel;
        }
    }
    out = std::move(result);
    return true;
}

double Lanczos(double x) {
    x = std::abs(x);
    if (x < 1e-9)
        return 1.0;
    if (x >= kLobes)
        return 0.0;
    const double px = std::numbers::pi * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// For each new position on an axis, the first source index and the normalised weights from there.
struct Filter {
    LONG first;
    std::vector<float> weights;
};

std::vector<Filter> Filters(LONG sourceSize, LONG size) {
    const double scale = static_cast<double>(sourceSize) / size;
    const double support = kLobes * scale;
    std::vector<Filter> filters(static_cast<std::size_t>(size));
    for (LONG o = 0; o < size; ++o) {
        const double centre = (o + 0.5) * scale - 0.5;
        const LONG first = static_cast<LONG>(std::floor(centre - support)) + 1;
        const LONG last = static_cast<LONG>(std::floor(centre + support));
        Filter& filter = filters[static_cast<std::size_t>(o)];
        double total = 0;
        std::vector<double> weights;
        for (LONG i = first; i <= last; ++i) {
            weights.push_back(Lanczos((i - centre) / scale));
            total += weights.back();
        }
        // Taps beyond an edge fall on the edge pixel: fold them onto it.
        filter.first = std::clamp<LONG>(first, 0, sourceSize - 1);
        const LONG end = std::clamp<LONG>(last, 0, sourceSize - 1);
        filter.weights.assign(static_cast<std::size_t>(end - filter.first + 1), 0.0f);
        for (LONG i = first; i <= last; ++i) {
            const LONG at = std::clamp<LONG>(i, 0, sourceSize - 1) - filter.first;
            filter.weights[static_cast<std::size_t>(at)] += static_cast<float>(weights[i - first] / total);
        }
    }
    return filters;
}

std::uint32_t Pack(const float* value) {
    std::uint32_t channels[kChannels];
    for (int c = 0; c < kChannels; ++c)
        channels[c] = static_cast<std::uint32_t>(std::clamp(std::lround(value[c]), 0L, 255L));
    // Premultiplied colours never exceed their alpha, which the ringing of the filter could make them do.
    for (int c = 0; c < 3; ++c)
        channels[c] = std::min(channels[c], channels[3]);
    return channels[0] | channels[1] << 8 | channels[2] << 16 | channels[3] << 24;
}

bool LanczosStep(const IproPixels& source, LONG width, LONG height, IproPixels& out) {
    IproPixels result;
    if (!IproLimits::MakePixels(width, height, result))
        return false;
    const std::vector<Filter> across = Filters(source.width, width);
    const std::vector<Filter> down = Filters(source.height, height);
    // Across first, into floats of the new width and the old height.
    std::vector<float> rows(static_cast<std::size_t>(width) * source.height * kChannels);
    for (LONG y = 0; y < source.height; ++y) {
        const std::uint32_t* row = &source.argb[static_cast<std::size_t>(y) * source.width];
        for (LONG x = 0; x < width; ++x) {
            const Filter& filter = across[static_cast<std::size_t>(x)];
            float* value = &rows[(static_cast<std::size_t>(y) * width + x) * kChannels];
            for (std::size_t t = 0; t < filter.weights.size(); ++t) {
                const std::uint32_t pixel = row[filter.first + static_cast<LONG>(t)];
                const float weight = filter.weights[t];
                for (int c = 0; c < kChannels; ++c)
                    value[c] += weight * static_cast<float>(pixel >> (8 * c) & 0xFF);
            }
        }
    }
    std::vector<float> value(static_cast<std::size_t>(width) * kChannels);
    for (LONG y = 0; y < height; ++y) {
        const Filter& filter = down[static_cast<std::size_t>(y)];
        std::fill(value.begin(), value.end(), 0.0f);
        for (std::size_t t = 0; t < filter.weights.size(); ++t) {
            const float* row =
                &rows[static_cast<std::size_t>(filter.first + static_cast<LONG>(t)) * width * kChannels];
            const float weight = filter.weights[t];
            for (std::size_t i = 0; i < value.size(); ++i)
                value[i] += weight * row[i];
        }
        for (LONG x = 0; x < width; ++x)
            result.At(x, y) = Pack(&value[static_cast<std::size_t>(x) * kChannels]);
    }
    out = std::move(result);
    return true;
}

// A side that divides by the wanted one is all averaged; any other is averaged by the whole factor that
// leaves between two and four times the wanted size, so that the filter of the last step, wide enough
// for that, also removes what the averaging leaves of detail finer than its blocks.
LONG BoxFactor(LONG sourceSize, LONG size) {
    if (sourceSize % size == 0)
        return sourceSize / size;
    return std::max<LONG>(1, sourceSize / size / 2);
}

} // namespace

bool IproResample::Reduce(const IproPixels& source, LONG width, LONG height, IproPixels& out) {
    if (width < 1 || height < 1 || width > source.width || height > source.height)
        return false;
    const LONG factorX = BoxFactor(source.width, width);
    const LONG factorY = BoxFactor(source.height, height);
    IproPixels shrunk;
    const IproPixels* from = &source;
    if (factorX > 1 || factorY > 1) {
        if (!BoxShrink(source, factorX, factorY, shrunk))
            return false;
        from = &shrunk;
    }
    if (from->width == width && from->height == height) {
        out = from == &source ? source : std::move(shrunk);
        return true;
    }
    return LanczosStep(*from, width, height, out);
}
