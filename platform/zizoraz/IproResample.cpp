#include "IproResample.h"

#include <algorithm>
#include <cmath>

namespace {

// Weights are in 1/256 steps, so a pixel mixes four neighbours in 16 fractional bits.
constexpr std::uint32_t kWeightOne = 256;

struct Tap {
    LONG first;
    LONG second;
    std::uint32_t weight; // of the second, in 1/256
};

std::vector<Tap> Taps(LONG sourceSize, LONG size) {
    std::vector<Tap> taps(static_cast<std::size_t>(size));
    const double ratio = static_cast<double>(sourceSize) / size;
    for (LONG i = 0; i < size; ++i) {
        const double at = std::clamp((i + 0.5) * ratio - 0.5, 0.0, static_cast<double>(sourceSize - 1));
        const LONG first = static_cast<LONG>(at);
        taps[i].first = first;
        taps[i].second = std::min(first + 1, sourceSize - 1);
        taps[i].weight = static_cast<std::uint32_t>(std::lround((at - first) * kWeightOne));
    }
    return taps;
}

std::uint32_t Mix(std::uint32_t p00, std::uint32_t p01, std::uint32_t p10, std::uint32_t p11,
                  std::uint32_t wx, std::uint32_t wy) {
    const std::uint32_t w00 = (kWeightOne - wx) * (kWeightOne - wy);
    const std::uint32_t w01 = wx * (kWeightOne - wy);
    const std::uint32_t w10 = (kWeightOne - wx) * wy;
    const std::uint32_t w11 = wx * wy;
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t sum = (p00 >> shift & 0xFF) * w00 + (p01 >> shift & 0xFF) * w01 +
                                  (p10 >> shift & 0xFF) * w10 + (p11 >> shift & 0xFF) * w11;
        out |= ((sum + (kWeightOne * kWeightOne / 2)) >> 16) << shift;
    }
    return out;
}

} // namespace

bool IproResample::Resize(const IproPixels& source, LONG width, LONG height, IproPixels& out) {
    IproPixels result;
    if (source.width < 1 || source.height < 1 || !IproLimits::MakePixels(width, height, result))
        return false;
    if (width <= source.width && height <= source.height)
        return Reduce(source, width, height, out);
    const std::vector<Tap> columns = Taps(source.width, width);
    const std::vector<Tap> rows = Taps(source.height, height);
    for (LONG y = 0; y < height; ++y) {
        const Tap& row = rows[y];
        for (LONG x = 0; x < width; ++x) {
            const Tap& column = columns[x];
            result.At(x, y) = Mix(source.At(column.first, row.first), source.At(column.second, row.first),
                                  source.At(column.first, row.second), source.At(column.second, row.second),
                                  column.weight, row.weight);
        }
    }
    out = std::move(result);
    return true;
}

bool IproResample::RotateFlip(const IproPixels& source, LONG code, IproPixels& out) {
    if (code < 0 || code > 7)
        return false;
    const LONG turns = code & 3;
    const bool mirrored = (code & 4) != 0;
    const LONG w = source.width;
    const LONG h = source.height;
    IproPixels result;
    if (!IproLimits::MakePixels(turns % 2 ? h : w, turns % 2 ? w : h, result))
        return false;
    for (LONG y = 0; y < result.height; ++y) {
        for (LONG x = 0; x < result.width; ++x) {
            // Undo the mirror, then the turn, to find the source pixel.
            const LONG tx = mirrored ? result.width - 1 - x : x;
            LONG sx = tx, sy = y;
            switch (turns) {
            case 1:
                sx = y;
                sy = h - 1 - tx;
                break;
            case 2:
                sx = w - 1 - tx;
                sy = h - 1 - y;
                break;
            case 3:
                sx = w - 1 - y;
                sy = tx;
                break;
            }
            result.At(x, y) = source.At(sx, sy);
        }
    }
    out = std::move(result);
    return true;
}
