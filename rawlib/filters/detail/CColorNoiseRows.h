// The row routines of the colour noise reduction: the edge-preserving weighted mean of one channel over a
// square window, and the 15 x 15 box mean of a chrominance channel from running column sums. The weighted
// mean exists as a plain routine (SSE2, which every x86-64 processor has) and as an AVX2 routine that gives
// the same values; Choose picks one by the processor's features.
#pragma once

#include "platform/win/wintypes.h"

namespace ColorNoiseRows {

// Entries of the weight table, indexed by a difference of two samples shifted right by 4; the table
// handed to the routines has one entry more, 0, so that a wide read of the last entry stays inside it.
constexpr LONG kWeightCount = 4096;
constexpr LONG kWeightTableSize = kWeightCount + 1;
// The box mean's side and the rows and columns it reaches on each side of its centre.
constexpr LONG kBoxSide = 15;
constexpr LONG kBoxReach = kBoxSide / 2;
// The largest window radius, and the largest weight: the weights of a whole window add up below 2^16.
constexpr LONG kMaxRadius = 3;
constexpr LONG kMaxWeight = 1337;
static_assert((2 * kMaxRadius + 1) * (2 * kMaxRadius + 1) * kMaxWeight < 65536);

// One channel's output row: out[x] (x = 0 .. count - 1) is the weighted mean of the window of rows[0 ..
// 2 radius] and columns x .. x + 2 radius, whose centre is rows[radius][x + radius]: every value v counts
// with weights[|c - v| >> 4], c the centre value, and the mean is the sum of weight x value divided by
// the sum of the weights, truncated.
struct WeightedRow {
    const WORD* rows[2 * kMaxRadius + 1];
    LONG radius;
    LONG count;
    const WORD* weights; // kWeightTableSize entries, none above kMaxWeight
    WORD* out;
};
using Weighted = void (*)(const WeightedRow& row);

struct Kernels {
    Weighted weighted;
};

const Kernels& Plain();
const Kernels& Simd();
// The AVX2 set when the processor has AVX2, else the plain set.
const Kernels& Choose();

// columnSums[i] += row[i], and -= row[i], for i < count.
void AddToColumnSums(LONG* columnSums, const WORD* row, LONG count);
void SubtractFromColumnSums(LONG* columnSums, const WORD* row, LONG count);
// out[i] = (columnSums[i] + ... + columnSums[i + kBoxSide - 1]) / (kBoxSide x kBoxSide), for i < count.
void BoxMeanRow(const LONG* columnSums, LONG count, WORD* out);

} // namespace ColorNoiseRows
