// Full-resolution interpolation of the two mosaics the library takes, one output row at a time, into
// white-balanced, exposed linear red, green and blue. Deterministic integer arithmetic; samples above
// 12 bits count as white.
#pragma once

#include <cstdint>
#include <vector>

class CVerDemosaic {
public:
    // The interpolated values are linear light in kUnit-ths of a 12-bit sample. They may lie below 0 or
    // above white (a bright colour, a strong gain, an overshoot at an edge); the caller clamps.
    static constexpr std::int32_t kUnit = 16;
    // Mosaic sites the interpolation reads on each side of an output site.
    static constexpr std::int64_t kReach = 3;
    // Channel multipliers count in 2^-kMultiplierShift.
    static constexpr int kMultiplierShift = 16;

    // The multiplier of one channel: its white-balance gain (gainUnit, a divisor of 2^kMultiplierShift,
    // means 1.0) times exposureFactor / 256. 0 for a negative product; one that would whiten any value but
    // 0 is held at the smallest that does, so that no product overflows.
    static std::int64_t ChannelMultiplier(std::int32_t gain, std::int32_t gainUnit,
                                          std::int32_t exposureFactor);

    // Output (x, y) is mosaic site (x + left, y + top); the caller keeps kReach sites of mosaic around
    // every output site. pattern is VER_PATTERN_BGGR or VER_PATTERN_YCGM, whose first cell starts at
    // mosaic (0, 0). multipliers are red, green and blue's.
    CVerDemosaic(const std::uint16_t* mosaic, std::int64_t width, std::int32_t pattern, std::int64_t left,
                 std::int64_t top, const std::int64_t multipliers[3]);

    // Output row y, count pixels, as interleaved red, green and blue.
    void Row(std::int64_t y, std::int64_t count, std::int32_t* rgb);

private:
    static constexpr std::int64_t kWindow = 2 * kReach + 1;
    // Green rows kept: the output row's and one on each side.
    static constexpr std::int64_t kGreenRows = 3;

    // Mosaic row r from a ring of the last kWindow rows read: white-balanced and exposed for the Bayer
    // mosaic, only clamped to 12 bits and widened to kUnit for the complementary one.
    const std::int32_t* Line(std::int64_t r);
    // The green of every site of mosaic row r that the output's red and blue read.
    const std::int32_t* GreenLine(std::int64_t r, std::int64_t count);
    void BayerRow(std::int64_t r, std::int64_t count, std::int32_t* rgb);
    void ComplementaryRow(std::int64_t r, std::int64_t count, std::int32_t* rgb);

    const std::uint16_t* m_mosaic;
    std::int64_t m_width;
    bool m_bayer;
    std::int64_t m_left;
    std::int64_t m_top;
    std::int64_t m_multipliers[3];
    std::vector<std::int32_t> m_ring;
    std::int64_t m_ringRows[kWindow];
    std::vector<std::int32_t> m_green;
    std::int64_t m_greenRows[kGreenRows];
};
