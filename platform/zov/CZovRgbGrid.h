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

private:
    CZovRgbGrid() = default;
    void ConvertRow(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const;
    template <int OutBits>
    __attribute__((target("avx2"))) void ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out,
                                                        std::size_t count) const;
    template <int OutBits>
    __attribute__((target("avx512f,avx512bw,avx2"))) void ConvertRowAvx512(const std::uint8_t* in,
                                                                          std::uint8_t* out,
                                                                          std::size_t count) const;

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
};
