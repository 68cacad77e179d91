// 16-bit RGB to RGB through the grid the library's own 16-bit conversion interpolates: kNodes per side,
// each node the library's conversion of its codes in double precision rounded to 16 bits, as the library
// samples its grid, and the cell's tetrahedron interpolated between them on our side in the library's own
// integer arithmetic (16-bit fractions of a cell, 32-bit sums, its rounding). For profile pairs the
// matrix-shaper conversion cannot take (a table-based camera profile, say): their conversion stays the
// library's to within a level, several times faster.
#pragma once

#include "platform/win/wintypes.h"

#include <lcms2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CZovRgbGrid {
public:
    // The library's grid for three-channel input.
    static constexpr int kNodes = 33;

    // Null when either profile is not RGB, the library makes no conversion between them, or the grid does
    // not come within a level of the library's own 16-bit conversion on a sweep of probes (when the library
    // takes another road for the pair). The input is 16 bits; outBits is 8 or 16.
    static std::unique_ptr<const CZovRgbGrid> Make(cmsHPROFILE input, cmsHPROFILE output,
                                                   cmsUInt32Number intent, LONG outBits);

    // Converts width x height interleaved pixels; rows are rowBytes apart. Each pixel is read whole before
    // it is written, so source and destination may be the same memory when the two pixel sizes are equal.
    void Convert(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                 std::size_t sourceRowBytes, std::size_t destinationRowBytes) const;

    // The same, each source sample first replaced by its entry in its channel's table (65536 entries
    // each). The samples of a stretch of a row are looked up into a scratch small enough to stay in the
    // processor's nearest cache and converted from there, each channel's apart, rather than whole mapped
    // rows written and read back. A stretch is read whole before any of it is written, so source and
    // destination may be the same memory when the two pixel sizes are equal.
    void ConvertThroughTables(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                              std::size_t sourceRowBytes, std::size_t destinationRowBytes,
                              const USHORT* const tables[3]) const;

    // Pixels of a stretch looked up at a time.
    static constexpr std::size_t kStretch = 256;

private:
    CZovRgbGrid() = default;
    // Fills the node pairs from the nodes.
    void PairNodes();
    void ConvertRow(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const;
    // A stretch of a row through the tables.
    void ConvertStretch(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                        const USHORT* const tables[3], bool avx512, bool avx2) const;
    // With Planar, the samples come from three planes of kStretch looked-up samples (planes, 32-byte
    // aligned) rather than interleaved from in; count is then at most kStretch.
    template <int OutBits, bool Planar = false>
    __attribute__((target("avx2"))) void ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out,
                                                        std::size_t count,
                                                        const USHORT* planes = nullptr) const;
    template <int OutBits, bool Planar = false>
    __attribute__((target("avx512f,avx512bw,avx2"))) void
    ConvertRowAvx512(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                     const USHORT* planes = nullptr) const;

    LONG m_outBits = 16;
    // A node: the three output samples and a zero spare, read at once as 32-bit lanes, so that no pixel
    // widens its corners' samples.
    struct alignas(16) Node {
        std::int32_t sample[4];
    };
    // The nodes with the first input channel varying slowest, then zero nodes: a sample at the top of its
    // range sits on the last node with a fraction of 0, and the corners one step beyond it, weighted 0, are
    // read from them.
    std::vector<Node> m_values;
    // Two nodes side by side, read at once as one 256-bit load.
    struct alignas(32) NodePair {
        std::int32_t sample[8];
    };
    // For the SIMD roads, a pixel's four corners in two loads. Per node n: n and the node one step
    // along every axis beyond it, the cell's far corner.
    std::vector<NodePair> m_farPairs;
    // Per node m and axis a, at 3 m + a: m and the node one step along a beyond it. A tetrahedron's
    // second corner is its first one step along the middle fraction's axis.
    std::vector<NodePair> m_axisPairs;
};
