// What the mail tests read back from a written JPEG file with libjpeg itself: its size, its pixels, its mean
// colour and its quantisation tables, and the tables libjpeg makes for a quality, to compare with; and
// pictures written as JPEG bytes by libjpeg, for the host to serve.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace mailtest {

using QuantTable = std::array<unsigned, 64>;

struct SavedJpeg {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb; // red, green, blue a pixel, rows packed
    std::array<double, 3> meanRgb{};
    QuantTable luma{};
    QuantTable chroma{};
};

// Nothing for a file that is missing or does not decode whole.
std::optional<SavedJpeg> ReadSavedJpeg(const std::string& path);
// The same from bytes in memory, decoded at full size.
std::optional<SavedJpeg> DecodeJpeg(const std::vector<unsigned char>& bytes);
// Red, green, blue pixels (rows packed) as a baseline JPEG file of the quality, 4:2:0 as libjpeg's defaults
// make it.
std::vector<unsigned char> EncodeJpeg(int width, int height, const std::vector<unsigned char>& rgb,
                                      int quality);
// The luminance and chrominance tables of a baseline file of the quality.
std::array<QuantTable, 2> ReferenceTables(int quality);

} // namespace mailtest
