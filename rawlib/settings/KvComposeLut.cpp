#include "KvComposeLut.h"

#include "KvLutTables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

double Entry(const void* table, int elementSize, LONG index) {
    const BYTE* bytes = static_cast<const BYTE*>(table);
    if (elementSize == 1)
        return bytes[index];
    WORD value;
    std::memcpy(&value, bytes + 2 * static_cast<std::size_t>(index), sizeof value);
    return value;
}

// The table at position p in 0..count-1 with linear interpolation. At the last entry the neighbour beyond
// is extrapolated (its weight is 0 there); a one-entry table is constant.
double Lookup(const void* table, int elementSize, LONG count, double p) {
    const double floorP = std::floor(p);
    const LONG i = static_cast<LONG>(floorP);
    const double f = p - floorP;
    const double a = Entry(table, elementSize, i);
    if (f == 0)
        return a;
    const double b = i + 1 < count ? Entry(table, elementSize, i + 1)
                     : i >= 1      ? 2 * a - Entry(table, elementSize, i - 1)
                                   : a;
    return (1 - f) * a + f * b;
}

} // namespace

int KvComposeLut(const void* first, int firstSize, LONG firstCount, LONG firstRange, const void* second,
                 int secondSize, LONG secondCount, LONG secondRange, void* out, int outSize, LONG outCount,
                 LONG outRange) {
    if (!first || !second || !out || firstCount < 1 || secondCount < 1 || outCount < 1)
        return 0;
    const double outMax =
        std::min<double>(outRange > 1 ? outRange - 1.0 : 0.0, outSize == 1 ? 255.0 : 65535.0);
    for (LONG i = 0; i < outCount; ++i) {
        const double p = outCount > 1 ? static_cast<double>(firstCount - 1) * i / (outCount - 1) : 0.0;
        const double a = Lookup(first, firstSize, firstCount, p);
        double v = firstRange > 1 ? (secondCount - 1) * a / (firstRange - 1.0) : 0.0;
        v = std::clamp(v, 0.0, static_cast<double>(secondCount - 1));
        const double w = Lookup(second, secondSize, secondCount, v);
        const double result = secondRange > 1 ? std::floor((outRange - 1.0) * w / (secondRange - 1.0)) : 0.0;
        const std::int64_t stored = KvTruncate(std::clamp(result, 0.0, outMax));
        KvStoreEntry(out, outSize == 1 ? 1 : 2, static_cast<std::size_t>(i), stored);
    }
    return outCount;
}
