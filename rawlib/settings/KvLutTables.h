// What every curve table shares: storing an entry in a table of 1-, 2-, 4- or 8-byte elements, reading a
// table of doubles with linear interpolation, and the conversions that keep out-of-range or non-finite
// values from ever reaching an integer conversion.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// 1, 2 and 4 hold unsigned integers of that width, 8 a double.
bool KvIsTableElementSize(int elementSize);

// Truncation toward zero that saturates at the int64 range; NaN gives 0.
std::int64_t KvTruncate(double value);
// Rounding half away from zero, saturating like KvTruncate.
std::int64_t KvRound(double value);
// The value held to 0..1; NaN gives 0.
double KvClamp01(double value);
// The value when it is finite, else `fallback`.
double KvFinite(double value, double fallback);

// Stores an integer entry: its low bytes for sizes 1, 2 and 4 (wrapping, as a narrowing store of a 32-bit
// value would), the value itself as a double for size 8. The table need not be aligned.
void KvStoreEntry(void* table, int elementSize, std::size_t index, std::int64_t value);
void KvStoreEntry(void* table, std::size_t index, double value);

// The table at position p, interpolated between floor(p) and floor(p) + 1; the last entry and an exact
// hit are taken as they are. Positions outside the table are held to it; an empty table gives p.
double KvInterpolate(const std::vector<double>& table, double p);

// ln 2 and ln 0.5, computed once per process.
double KvLn2();
double KvLnHalf();
// 2 to the power x, as exp(x ln 2).
double KvPow2(double x);
