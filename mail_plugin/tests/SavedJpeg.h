// What the mail tests read back from a written JPEG file with libjpeg itself: its size, its mean colour and
// its quantisation tables, and the tables libjpeg makes for a quality, to compare with.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace mailtest {

using QuantTable = std::array<unsigned, 64>;

struct SavedJpeg {
    int width = 0;
    int height = 0;
    std::array<double, 3> meanRgb{};
    QuantTable luma{};
    QuantTable chroma{};
};

// Nothing for a file that is missing or does not decode whole.
std::optional<SavedJpeg> ReadSavedJpeg(const std::string& path);
// The luminance and chrominance tables of a baseline file of the quality.
std::array<QuantTable, 2> ReferenceTables(int quality);

} // namespace mailtest
