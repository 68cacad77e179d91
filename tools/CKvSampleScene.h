// The synthetic scene behind the raw sample: linear 12-bit RGB with colour patches (top left), smooth
// gradients (top right), fine lines (bottom left) and a zone plate (bottom right), and the mosaic a sensor
// with a given colour filter and white-balance gains would record of it. Deterministic for a given size.
#pragma once

#include "platform/pravon/PravonTypes.h"

#include <string>
#include <vector>

class CKvSampleScene {
public:
    static constexpr WORD kMaxValue = 4095;

    CKvSampleScene(LONG width, LONG height);

    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }

    // The linear 12-bit value of a channel (0 red, 1 green, 2 blue) at a pixel.
    WORD At(LONG x, LONG y, int channel) const;
    // Every pixel, row by row, red, green and blue interleaved.
    std::vector<WORD> Render() const;

    PravonRect GetPatchArea() const { return {0, 0, m_width / 2, m_height / 2}; }
    PravonRect GetGradientArea() const { return {m_width / 2, 0, m_width, m_height / 2}; }
    PravonRect GetLineArea() const { return {0, m_height / 2, m_width / 2, m_height}; }
    PravonRect GetZonePlateArea() const { return {m_width / 2, m_height / 2, m_width, m_height}; }

    // What the sensor records: at each site the channel the colour filter passes there (cells as tag
    // 0xA302 lists them, row by row), divided by that channel's white-balance gain (green has none),
    // rounded and kept within 12 bits.
    static std::vector<WORD> Mosaic(const std::vector<WORD>& rgb, LONG width, LONG height,
                                    const BYTE cells[4], double redGain, double blueGain);

    // The four cells of a Bayer layout named "RGGB", "GRBG", "GBRG" or "BGGR"; false for another name.
    static bool CellsFromName(const std::string& name, BYTE cells[4]);

private:
    void Patch(LONG x, LONG y, double rgb[3]) const;
    void Gradient(LONG x, LONG y, double rgb[3]) const;
    void Lines(LONG x, LONG y, double rgb[3]) const;
    void ZonePlate(LONG x, LONG y, double rgb[3]) const;

    LONG m_width;
    LONG m_height;
};
