#include "KvLutTables.h"

#include <cmath>
#include <cstring>

bool KvIsTableElementSize(int elementSize) {
    return elementSize == 1 || elementSize == 2 || elementSize == 4 || elementSize == 8;
}

std::int64_t KvTruncate(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= 9.2e18)
        return INT64_MAX;
    if (value <= -9.2e18)
        return INT64_MIN;
    return static_cast<std::int64_t>(value);
}

std::int64_t KvRound(double value) {
    return KvTruncate(value < 0 ? value - 0.5 : value + 0.5);
}

double KvClamp01(double value) {
    if (!(value > 0))
        return 0;
    return value < 1 ? value : 1;
}

double KvFinite(double value, double fallback) {
    return std::isfinite(value) ? value : fallback;
}

void KvStoreEntry(void* table, int elementSize, std::size_t index, std::int64_t value) {
    BYTE* at = static_cast<BYTE*>(table) + index * static_cast<std::size_t>(elementSize);
    switch (elementSize) {
    case 1:
        at[0] = static_cast<BYTE>(value);
        break;
    case 2: {
        const WORD v = static_cast<WORD>(value);
        std::memcpy(at, &v, sizeof v);
        break;
    }
    case 4: {
        const DWORD v = static_cast<DWORD>(value);
        std::memcpy(at, &v, sizeof v);
        break;
    }
    case 8:
        KvStoreEntry(table, index, static_cast<double>(value));
        break;
    default:
        break;
    }
}

void KvStoreEntry(void* table, std::size_t index, double value) {
    std::memcpy(static_cast<BYTE*>(table) + index * sizeof value, &value, sizeof value);
}

double KvInterpolate(const std::vector<double>& table, double p) {
    if (table.empty())
        return p;
    const double last = static_cast<double>(table.size() - 1);
    if (!(p > 0))
        return table.front();
    if (p >= last)
        return table.back();
    const double floorP = std::floor(p);
    const std::size_t i = static_cast<std::size_t>(floorP);
    const double f = p - floorP;
    if (f == 0)
        return table[i];
    return (1 - f) * table[i] + f * table[i + 1];
}

double KvLn2() {
    static const double value = std::log(2.0);
    return value;
}

double KvLnHalf() {
    static const double value = std::log(0.5);
    return value;
}

double KvPow2(double x) {
    return std::exp(x * KvLn2());
}
