#include "KorvelEnhance.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

namespace {

// Bit counts beyond 31 wrap, as the shifts they feed did.
constexpr unsigned kBitMask = 31;

// The curve's largest entry: the top of the output scale when that fits in a 16-bit entry (the scale's
// top itself, 2^outputBits, would be stored as 0 at 16 bits), else the largest 16-bit value.
std::uint64_t TopEntry(unsigned outputBits) {
    return std::min<std::uint64_t>((std::uint64_t{1} << outputBits) - 1, 0xFFFF);
}

} // namespace

bool KorvelEnhance(ULONG percent, const ULONG* histogram, ULONG histogramBits, WORD* curve, LONG curveBits,
                   LONG outputBits, ULONG* workX, ULONG* workY) {
    const unsigned hb = histogramBits & kBitMask;
    const unsigned cb = static_cast<ULONG>(curveBits) & kBitMask;
    const unsigned ob = static_cast<ULONG>(outputBits) & kBitMask;
    const std::uint64_t bins = std::uint64_t{1} << hb;
    const std::uint64_t entries = std::uint64_t{1} << cb;
    const std::uint64_t top = TopEntry(ob);

    // A crossing can come at every bin, so the caller's arrays of one entry a bin hold them all; the last
    // point, at the end of the histogram, is kept apart.
    std::unique_ptr<ULONG[]> ownX;
    std::unique_ptr<ULONG[]> ownY;
    if (!workX) {
        ownX.reset(new (std::nothrow) ULONG[bins]);
        if (!ownX)
            return true;
        workX = ownX.get();
    }
    if (!workY) {
        ownY.reset(new (std::nothrow) ULONG[bins]);
        if (!ownY)
            return true;
        workY = ownY.get();
    }

    // Counted in 64 bits: a peak above 2^32 / 100 times the percentage would wrap in 32.
    const std::uint64_t peak = *std::max_element(histogram, histogram + bins);
    const std::uint64_t threshold = peak * percent / 100;
    std::uint64_t sum = 0;
    std::uint64_t units = 0;
    bool above = false;
    std::uint64_t points = 0;
    for (std::uint64_t j = 0; j < bins; ++j) {
        sum += histogram[j];
        if (sum > threshold) {
            ++units;
            sum = 0;
        }
        if (above ? histogram[j] < threshold : histogram[j] > threshold) {
            workX[points] = static_cast<ULONG>(j);
            workY[points] = static_cast<ULONG>(units);
            ++points;
            above = !above;
        }
    }

    // Nothing ever passed the clip level: no distribution to follow, so the curve is the straight ramp.
    if (units == 0) {
        for (std::uint64_t k = 0; k < entries; ++k)
            curve[k] = static_cast<WORD>(std::min(((k << ob) >> cb), top));
        return false;
    }

    const auto pointX = [&](std::uint64_t i) -> std::uint64_t {
        return ((i < points ? workX[i] : bins) << cb) >> hb;
    };
    const auto pointY = [&](std::uint64_t i) -> std::uint64_t {
        return ((i < points ? workY[i] : units) << ob) / units;
    };
    // From (0, 0) to the first point, then from point to point; the last point lies at the curve's end.
    std::uint64_t fromX = 0;
    std::uint64_t fromY = 0;
    std::uint64_t next = 0;
    std::uint64_t toX = pointX(0);
    std::uint64_t toY = pointY(0);
    for (std::uint64_t k = 0; k < entries; ++k) {
        while (k >= toX && next < points) {
            fromX = toX;
            fromY = toY;
            ++next;
            toX = pointX(next);
            toY = pointY(next);
        }
        const std::uint64_t value = fromY + (toY - fromY) * (k - fromX) / (toX - fromX);
        curve[k] = static_cast<WORD>(std::min(value, top));
    }
    return false;
}
