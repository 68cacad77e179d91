// The library's arithmetic: how a pixel's brightness is measured, how the statistics image is read back
// as a smooth local mean, and how one band of rows is mapped. All integer, so that a picture gives the
// same result whether it is mapped in one strip or many.
//
// The mapping moves every channel of a pixel by the same amount:
//     delta = ((lift - 127) * (target - local mean) + (contrast - 127) * detail) / 128, rounded down,
// where the local mean comes from the statistics, target is the statistics' mean scaled by target / 190,
// and detail is the pixel's brightness less the mean brightness of the (2 radius + 1)-pixel square
// around it. The result is clamped to the lowest and highest values allowed.
#pragma once

#include <cstdint>
#include <vector>

namespace dragkvl1 {

constexpr std::uint32_t kNeutral = 127;
constexpr std::uint32_t kOwnMean = 190;

// Weighted lightness (77 R + 150 G + 29 B) / 256, rounded, or the brightest of the three channels.
inline std::uint32_t Brightness(std::uint32_t r, std::uint32_t g, std::uint32_t b, bool brightest) {
    if (brightest)
        return r > g ? (r > b ? r : b) : (g > b ? g : b);
    return (77 * r + 150 * g + 29 * b + 128) >> 8;
}

// The radius of the detail square for a session kind (2..11): kind - 1, so at most 10 pixels.
inline std::int32_t DetailRadius(std::int32_t kind) {
    return kind - 1;
}

// Interpolation taps along one axis: the two statistics samples around a position and the weight
// (0..256) of the second.
struct Tap {
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    std::uint32_t weight = 0;
};

// The statistics image read back: block means, spread over the source so that block centres fall on the
// centres of the blocks they measured, and interpolated between.
class CStatisticsField {
public:
    // samples: width x height block means, rows packed. The taps cover source columns [left, right) and
    // rows [top, bottom) of a source of sourceWidth x sourceHeight.
    void Assign(const std::uint16_t* samples, std::uint32_t width, std::uint32_t height,
                std::uint32_t sourceWidth, std::uint32_t sourceHeight, std::int32_t left, std::int32_t top,
                std::int32_t right, std::int32_t bottom);

    // The mean of all block means, rounded.
    std::uint32_t Mean() const { return m_mean; }
    // The interpolated local mean at source position (x, y), within the rectangle given to Assign.
    std::uint32_t LocalMean(std::int32_t x, std::int32_t y) const;

    // The taps of one axis: position p of an axis of size n over m samples.
    static Tap AxisTap(std::int64_t p, std::uint32_t n, std::uint32_t m);

private:
    std::vector<std::uint16_t> m_samples;
    std::uint32_t m_width = 0;
    std::uint32_t m_mean = 0;
    std::int32_t m_left = 0;
    std::int32_t m_top = 0;
    std::vector<Tap> m_columns;
    std::vector<Tap> m_rows;
};

struct ToneMapping {
    std::int32_t lift = kNeutral;
    std::int32_t target = 0; // the brightness the local means are pulled towards
    std::int32_t contrast = kNeutral;
    std::int32_t radius = 0;
    std::int32_t lowest = 0;
    std::int32_t highest = 65535;
};

// Maps a band: in holds three planes of inWidth x inHeight samples whose centre part, radius pixels in on
// every side, is mapped into out (three planes of (inWidth - 2 radius) x (inHeight - 2 radius)). The
// output's first pixel lies at source position (x0, y0). brightness is scratch space of inWidth x inHeight
// entries, columns of inWidth.
void MapBand(const std::uint16_t* in, std::uint32_t inWidth, std::uint32_t inHeight, std::int32_t x0,
             std::int32_t y0, bool brightest, const CStatisticsField& statistics, const ToneMapping& mapping,
             std::uint32_t* brightness, std::uint32_t* columns, std::uint16_t* out);

} // namespace dragkvl1
