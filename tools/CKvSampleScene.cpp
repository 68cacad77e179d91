#include "CKvSampleScene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Linear reflectances of the patch chart, row by row: a grey ramp, primaries and secondaries, everyday
// colours, pale and dark tints.
constexpr double kPatches[4][6][3] = {
    {{0.03, 0.03, 0.03},
     {0.09, 0.09, 0.09},
     {0.18, 0.18, 0.18},
     {0.36, 0.36, 0.36},
     {0.6, 0.6, 0.6},
     {0.9, 0.9, 0.9}},
    {{0.6, 0.05, 0.05},
     {0.05, 0.5, 0.05},
     {0.05, 0.05, 0.6},
     {0.05, 0.45, 0.55},
     {0.55, 0.05, 0.5},
     {0.7, 0.6, 0.05}},
    {{0.45, 0.3, 0.22},
     {0.2, 0.3, 0.5},
     {0.12, 0.18, 0.06},
     {0.7, 0.3, 0.04},
     {0.15, 0.08, 0.35},
     {0.04, 0.3, 0.3}},
    {{0.8, 0.7, 0.7}, {0.7, 0.8, 0.7}, {0.7, 0.7, 0.8}, {0.3, 0.25, 0.1}, {0.1, 0.25, 0.3}, {0.9, 0.85, 0.6}},
};
constexpr double kBackground = 0.18;
constexpr double kPaper = 0.8;
constexpr double kInk = 0.02;

void Fill(double rgb[3], double r, double g, double b) {
    rgb[0] = r;
    rgb[1] = g;
    rgb[2] = b;
}

} // namespace

CKvSampleScene::CKvSampleScene(LONG width, LONG height)
    : m_width(std::max<LONG>(width, 2)), m_height(std::max<LONG>(height, 2)) {}

void CKvSampleScene::Patch(LONG x, LONG y, double rgb[3]) const {
    const PravonRect a = GetPatchArea();
    const double cellW = (a.right - a.left) / 6.0;
    const double cellH = (a.bottom - a.top) / 4.0;
    const int column = std::min(5, static_cast<int>((x - a.left) / cellW));
    const int row = std::min(3, static_cast<int>((y - a.top) / cellH));
    const double u = (x - a.left) / cellW - column;
    const double v = (y - a.top) / cellH - row;
    if (u < 0.1 || u > 0.9 || v < 0.1 || v > 0.9) {
        Fill(rgb, kBackground, kBackground, kBackground);
        return;
    }
    Fill(rgb, kPatches[row][column][0], kPatches[row][column][1], kPatches[row][column][2]);
}

void CKvSampleScene::Gradient(LONG x, LONG y, double rgb[3]) const {
    const PravonRect a = GetGradientArea();
    const double u = static_cast<double>(x - a.left) / std::max<LONG>(1, a.right - a.left);
    const double v = static_cast<double>(y - a.top) / std::max<LONG>(1, a.bottom - a.top);
    // Hue turns once across, light falls from top to bottom; every channel is smooth everywhere.
    const double light = 0.05 + 0.9 * (1.0 - v);
    const double turn = 2.0 * std::numbers::pi * u;
    for (int c = 0; c < 3; ++c)
        rgb[c] = light * (0.5 + 0.4 * std::cos(turn - c * 2.0 * std::numbers::pi / 3.0));
}

void CKvSampleScene::Lines(LONG x, LONG y, double rgb[3]) const {
    const PravonRect a = GetLineArea();
    const LONG stripHeight = std::max<LONG>(1, (a.bottom - a.top) / 4);
    const LONG strip = std::min<LONG>(3, (y - a.top) / stripHeight);
    const LONG groupWidth = std::max<LONG>(1, (a.right - a.left) / 4);
    const LONG group = std::min<LONG>(3, (x - a.left) / groupWidth);
    const LONG width = group + 1; // lines of 1, 2, 3 and 4 pixels, as far apart as they are wide
    const LONG along = (x - a.left) - group * groupWidth;
    const LONG down = (y - a.top) - strip * stripHeight;
    bool ink = false;
    switch (strip) {
    case 0: // vertical lines
        ink = (along / width) % 2 == 0;
        break;
    case 1: // horizontal lines
        ink = (down / width) % 2 == 0;
        break;
    case 2: // diagonal lines
        ink = ((along + down) / width) % 2 == 0;
        break;
    default: { // vertical lines of red, green and blue on black
        if ((along / width) % 2 != 0) {
            Fill(rgb, kInk, kInk, kInk);
            return;
        }
        const LONG channel = (along / (2 * width)) % 3;
        Fill(rgb, kInk, kInk, kInk);
        rgb[channel] = kPaper;
        return;
    }
    }
    const double level = ink ? kInk : kPaper;
    Fill(rgb, level, level, level);
}

void CKvSampleScene::ZonePlate(LONG x, LONG y, double rgb[3]) const {
    const PravonRect a = GetZonePlateArea();
    const double cx = (a.left + a.right - 1) / 2.0;
    const double cy = (a.top + a.bottom - 1) / 2.0;
    const double dx = x - cx;
    const double dy = y - cy;
    // The local frequency k r / pi reaches half a cycle per pixel at the area's corners.
    const double corner = std::hypot((a.right - a.left) / 2.0, (a.bottom - a.top) / 2.0);
    const double k = std::numbers::pi / (2.0 * std::max(corner, 1.0));
    const double level = 0.45 + 0.4 * std::cos(k * (dx * dx + dy * dy));
    Fill(rgb, level, level, level);
}

WORD CKvSampleScene::At(LONG x, LONG y, int channel) const {
    double rgb[3];
    const bool right = x >= m_width / 2;
    const bool bottom = y >= m_height / 2;
    if (!bottom)
        right ? Gradient(x, y, rgb) : Patch(x, y, rgb);
    else
        right ? ZonePlate(x, y, rgb) : Lines(x, y, rgb);
    return static_cast<WORD>(std::lround(std::clamp(rgb[channel], 0.0, 1.0) * kMaxValue));
}

std::vector<WORD> CKvSampleScene::Render() const {
    std::vector<WORD> rgb(static_cast<std::size_t>(m_width) * m_height * 3);
    std::size_t i = 0;
    for (LONG y = 0; y < m_height; ++y)
        for (LONG x = 0; x < m_width; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[i++] = At(x, y, c);
    return rgb;
}

std::vector<WORD> CKvSampleScene::Mosaic(const std::vector<WORD>& rgb, LONG width, LONG height,
                                         const BYTE cells[4], double redGain, double blueGain) {
    std::vector<WORD> mosaic(static_cast<std::size_t>(width) * height);
    const double gain[3] = {redGain, 1.0, blueGain};
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const int channel = std::min<int>(cells[(y & 1) * 2 + (x & 1)], 2);
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            const double v = rgb[3 * i + channel] / gain[channel];
            mosaic[i] = static_cast<WORD>(std::lround(std::clamp(v, 0.0, static_cast<double>(kMaxValue))));
        }
    }
    return mosaic;
}

bool CKvSampleScene::CellsFromName(const std::string& name, BYTE cells[4]) {
    if (name != "RGGB" && name != "GRBG" && name != "GBRG" && name != "BGGR")
        return false;
    for (int i = 0; i < 4; ++i)
        cells[i] = name[i] == 'R' ? 0 : name[i] == 'G' ? 1 : 2;
    return true;
}
